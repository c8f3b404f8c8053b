// File objects on devices, as the I/O manager makes them for a create request: a file object
// names a device (FILE_OBJECT.DeviceObject, the device its name resolved to), its requests go to
// the top of that device's stack, and the driver sees IRP_MJ_CREATE when it is opened,
// IRP_MJ_CLEANUP when its last handle closes and IRP_MJ_CLOSE when its last reference goes, each
// in the thread that caused it.
#pragma once

#include <wdm.h>

#include <string>

namespace host {

class IoManager;

// The device an object name leads to through its symbolic links, referenced, and the rest of
// the name after the device's own; STATUS_OBJECT_NAME_NOT_FOUND, or STATUS_ACCESS_DENIED for an
// exclusive device that already has an open file.
NTSTATUS ReferenceDeviceByName(IoManager &io, const std::u16string &name, PDEVICE_OBJECT *device,
                               std::u16string *rest);

// Opens `device` (for a relative open: the related file's device) with the remaining name, which
// reaches the driver in FILE_OBJECT.FileName byte for byte (it may hold binary create parameters
// of any length, as a KS pin create does). On success *file holds one reference.
NTSTATUS OpenFileObject(PDEVICE_OBJECT device, PFILE_OBJECT related, const void *name,
                        USHORT nameBytes, ACCESS_MASK access, KPROCESSOR_MODE mode,
                        PFILE_OBJECT *file);

} // namespace host

// What the port class device knows of a port registered as one of its subdevices, and of the
// KS objects (filters and pins) open on it: the device's dispatch routines hand each request on
// to the object its file names (FILE_OBJECT.FsContext).
#pragma once

#include <portcls.h>

#include <vector>

namespace host {

class KsObject {
public:
    virtual ~KsObject() = default;
    // IRP_MJ_DEVICE_CONTROL: completes the request (or queues it) and returns its status.
    virtual NTSTATUS DeviceControl(PIRP irp) = 0;
    // A pin create request relative to this object (only a filter has pins).
    virtual NTSTATUS CreateChild(PIRP, PFILE_OBJECT, KsObject **)
    {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    // IRP_MJ_CLEANUP: the file's last handle closed; requests it has pending are cancelled.
    virtual void Cleanup() {}
    // IRP_MJ_CLOSE: the object goes away with its file.
    virtual void Close() = 0;
};

// A port's side of subdevice registration and of the device's power changes.
class PortSubdevice {
public:
    virtual ~PortSubdevice() = default;
    // Balanced with the reference PcRegisterSubdevice took through the port's IUnknown.
    virtual PUNKNOWN PortUnknown() = 0;
    // The device interface classes the subdevice is registered under.
    virtual std::vector<GUID> InterfaceClasses() = 0;
    // A new filter instance for an opened file.
    virtual NTSTATUS NewFilter(PFILE_OBJECT file, KsObject **filter) = 0;
    // The device is about to leave D0 (pause running streams, then tell the miniport), or has
    // returned to D0 (tell the miniport, then resume them).
    virtual void PowerDown(POWER_STATE state) = 0;
    virtual void PowerUp(POWER_STATE state) = 0;
    // The subdevice is being removed (or its device stopped before it was registered): the
    // port releases its miniport, once no filter is open on it.
    virtual void Unregister() = 0;
    // The device object the port was initialised on is gone.
    virtual void DeviceGone() = 0;
};

// The emulation's own interface id of PortSubdevice (not a Windows interface): a port returns
// its PortSubdevice pointer, with a reference on the port, for it.
DEFINE_GUID(IID_HostPortSubdevice, 0x7b4c2e90, 0x41a3, 0x4d5e, 0x8f, 0x12, 0x6a, 0x9d, 0x30, 0xe4,
            0x57, 0x2c);

} // namespace host

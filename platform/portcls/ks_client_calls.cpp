// The ks.sys calls a kernel-mode client of KS objects makes: KsCreatePin (a create request
// relative to the filter's handle, naming the pin object type and carrying the connection and
// its format) and KsSynchronousIoControlDevice.
#include "pin_create_name.h"

#include "kernel/machine.h"
#include "kernel/passive_level.h"

#include <wdm.h>
#include <ks.h>

#include <vector>

extern "C" {

NTSTATUS KsCreatePin(HANDLE FilterHandle, PKSPIN_CONNECT Connect, ACCESS_MASK DesiredAccess,
                     PHANDLE ConnectionHandle)
{
    host::Machine &machine = host::EnterPassiveLevelCall("KsCreatePin");
    if (Connect == nullptr || ConnectionHandle == nullptr)
        return host::ReportBadPointer(machine, "KsCreatePin", "argument");
    std::vector<WCHAR> name;
    UNICODE_STRING objectName;
    NTSTATUS status = host::PinCreateName(Connect, &name, &objectName.Length);
    if (!NT_SUCCESS(status))
        return status;
    objectName.Buffer = name.data();
    objectName.MaximumLength = USHORT(name.size() * sizeof(WCHAR));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_KERNEL_HANDLE, FilterHandle, nullptr);
    IO_STATUS_BLOCK outcome;
    return ZwCreateFile(ConnectionHandle, DesiredAccess, &attributes, &outcome, nullptr,
                        FILE_ATTRIBUTE_NORMAL, 0, FILE_OPEN, 0, nullptr, 0);
}

NTSTATUS KsSynchronousIoControlDevice(PFILE_OBJECT FileObject, KPROCESSOR_MODE RequestorMode,
                                      ULONG IoControl, PVOID InBuffer, ULONG InSize,
                                      PVOID OutBuffer, ULONG OutSize, PULONG BytesReturned)
{
    host::Machine &machine = host::EnterPassiveLevelCall("KsSynchronousIoControlDevice");
    if (FileObject == nullptr || BytesReturned == nullptr)
        return host::ReportBadPointer(machine, "KsSynchronousIoControlDevice", "argument");
    *BytesReturned = 0;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status = {};
    PIRP irp =
        IoBuildDeviceIoControlRequest(IoControl, IoGetRelatedDeviceObject(FileObject), InBuffer,
                                      InSize, OutBuffer, OutSize, FALSE, &done, &status);
    if (irp == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    irp->RequestorMode = RequestorMode;
    IoGetNextIrpStackLocation(irp)->FileObject = FileObject;
    NTSTATUS result = IoCallDriver(IoGetRelatedDeviceObject(FileObject), irp);
    if (result == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        result = status.Status;
    } else {
        result = status.Status;
    }
    *BytesReturned = ULONG(status.Information);
    return result;
}

} // extern "C"

// Names that lead to devices: symbolic links (IoCreateSymbolicLink, as device interfaces and
// DOS names make them), the device a name leads to, and ZwCreateFile, which follows a name through
// its links to a named device, or opens relative to an open file (RootDirectory), and hands back a
// handle.
#include "io_file.h"
#include "io_manager.h"
#include "machine.h"
#include "passive_level.h"
#include "wide_string.h"

NTSTATUS host::ReferenceDeviceByName(IoManager &io, const std::u16string &name,
                                     PDEVICE_OBJECT *device, std::u16string *rest)
{
    std::lock_guard<std::mutex> guard(io.DeviceTreeLock());
    *device = io.DeviceByPathLocked(io.ResolveLinksLocked(name), rest);
    if (*device == nullptr)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    // An exclusive device admits one open file at a time.
    if (((*device)->Flags & DO_EXCLUSIVE) && io.OpenFiles(*device) != 0) {
        *device = nullptr;
        return STATUS_ACCESS_DENIED;
    }
    ObReferenceObject(*device);
    return STATUS_SUCCESS;
}

extern "C" {

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName)
{
    host::Machine &machine = host::EnterPassiveLevelCall("IoCreateSymbolicLink");
    if (SymbolicLinkName == nullptr || DeviceName == nullptr)
        return host::ReportBadPointer(machine, "IoCreateSymbolicLink", "a name");
    host::IoManager &io = machine.Io();
    std::lock_guard<std::mutex> guard(io.DeviceTreeLock());
    return io.AddSymbolicLinkLocked(host::ToU16(*SymbolicLinkName), host::ToU16(*DeviceName))
               ? STATUS_SUCCESS
               : STATUS_OBJECT_NAME_COLLISION;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName)
{
    host::Machine &machine = host::EnterPassiveLevelCall("IoDeleteSymbolicLink");
    if (SymbolicLinkName == nullptr)
        return host::ReportBadPointer(machine, "IoDeleteSymbolicLink", "SymbolicLinkName");
    host::IoManager &io = machine.Io();
    std::lock_guard<std::mutex> guard(io.DeviceTreeLock());
    return io.RemoveSymbolicLinkLocked(host::ToU16(*SymbolicLinkName))
               ? STATUS_SUCCESS
               : STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS ZwCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                      POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                      PLARGE_INTEGER, ULONG, ULONG, ULONG CreateDisposition, ULONG, PVOID EaBuffer,
                      ULONG EaLength)
{
    const char *entry = "ZwCreateFile";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    if (FileHandle == nullptr || ObjectAttributes == nullptr || IoStatusBlock == nullptr ||
        ObjectAttributes->ObjectName == nullptr)
        return host::ReportBadPointer(machine, entry, "a required argument");
    *FileHandle = nullptr;
    if (EaBuffer != nullptr || EaLength != 0) {
        machine.Checks().Report(host::VerifierCheck::Usage,
                                "ZwCreateFile: extended attributes are not emulated");
        return STATUS_NOT_SUPPORTED;
    }
    if (CreateDisposition != FILE_OPEN && CreateDisposition != FILE_OPEN_IF)
        return STATUS_INVALID_PARAMETER; // devices are opened, never created
    host::IoManager &io = machine.Io();
    PFILE_OBJECT related = nullptr;
    PDEVICE_OBJECT device = nullptr;
    std::u16string rest;
    if (ObjectAttributes->RootDirectory != nullptr) {
        NTSTATUS status =
            ObReferenceObjectByHandle(ObjectAttributes->RootDirectory, 0, *IoFileObjectType,
                                      KernelMode, reinterpret_cast<PVOID *>(&related), nullptr);
        if (!NT_SUCCESS(status))
            return status;
        device = related->DeviceObject;
        ObReferenceObject(device);
    } else {
        NTSTATUS status = host::ReferenceDeviceByName(
            io, host::ToU16(*ObjectAttributes->ObjectName), &device, &rest);
        if (!NT_SUCCESS(status))
            return status;
    }

    PFILE_OBJECT file = nullptr;
    NTSTATUS status;
    if (related != nullptr) // a relative name reaches the driver as it is, binary parts too
        status = host::OpenFileObject(device, related, ObjectAttributes->ObjectName->Buffer,
                                      ObjectAttributes->ObjectName->Length, DesiredAccess,
                                      KernelMode, &file);
    else
        status =
            host::OpenFileObject(device, nullptr, rest.data(), USHORT(rest.size() * sizeof(WCHAR)),
                                 DesiredAccess, KernelMode, &file);
    ObDereferenceObject(device);
    if (related != nullptr)
        ObDereferenceObject(related);
    IoStatusBlock->Status = status;
    IoStatusBlock->Information = 0;
    if (!NT_SUCCESS(status))
        return status;
    PKTHREAD thread = KeGetCurrentThread();
    PKPROCESS owner = (ObjectAttributes->Attributes & OBJ_KERNEL_HANDLE) != 0
                          ? machine.SystemProcess()
                          : thread->process;
    *FileHandle = owner->handles.Insert(file, DesiredAccess);
    ObDereferenceObject(file); // the handle holds the file now
    IoStatusBlock->Information = FILE_OPEN;
    return status;
}

} // extern "C"

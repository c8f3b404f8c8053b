// ksuser: KsCreatePin for user mode: a create request relative to the filter's handle, named
// after the pin object type and carrying the connection and its format. Unlike ks.sys's call of
// the same name it answers with a Win32 error.
#include "ks_create_pin.h"

#include "caller.h"
#include "status_errors.h"

#include "kernel/io_file.h"
#include "portcls/pin_create_name.h"

#include <winerror.h>

namespace host::win32 {

DWORD WINAPI UserKsCreatePin(HANDLE FilterHandle, PKSPIN_CONNECT Connect,
                             ACCESS_MASK DesiredAccess, PHANDLE ConnectionHandle)
{
    Caller caller = CallerOf("KsCreatePin");
    if (Connect == nullptr || ConnectionHandle == nullptr)
        return ERROR_INVALID_PARAMETER;
    HandleReference filter;
    NTSTATUS status = filter.Reference(FilterHandle, 0, *IoFileObjectType);
    std::vector<WCHAR> name;
    USHORT bytes = 0;
    if (NT_SUCCESS(status))
        status = PinCreateName(Connect, &name, &bytes);
    PFILE_OBJECT pin = nullptr;
    if (NT_SUCCESS(status))
        status = OpenFileObject(filter.As<FILE_OBJECT>()->DeviceObject, filter.As<FILE_OBJECT>(),
                                name.data(), bytes, DesiredAccess | SYNCHRONIZE, UserMode, &pin);
    if (!NT_SUCCESS(status))
        return ErrorFromStatus(status);
    // A pin's handle is for overlapped requests, as the filter's that it was made on.
    *ConnectionHandle =
        caller.process.Process()->handles.Insert(pin, DesiredAccess | SYNCHRONIZE);
    ObDereferenceObject(pin);
    return ERROR_SUCCESS;
}

} // namespace host::win32

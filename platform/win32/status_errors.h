// The Win32 error an NTSTATUS becomes on its way back to a user-mode caller, as ntdll's
// RtlNtStatusToDosError translates it, and the thread's last-error value.
#pragma once

#include <ntdef.h>

namespace host::win32 {

// ERROR_MR_MID_NOT_FOUND for a status without a Win32 equivalent.
ULONG ErrorFromStatus(NTSTATUS status);

// The calling thread's last error (GetLastError, SetLastError).
ULONG LastError();
void SetError(ULONG error);
// SetError(ErrorFromStatus(status)); returns the error.
ULONG SetLastErrorFromStatus(NTSTATUS status);

} // namespace host::win32

// kernel32: the thread's last error and CloseHandle.
#include "caller.h"
#include "status_errors.h"

#include "kernel/object_manager.h"

#include <winbase.h>

#include <cstdio>

using namespace host::win32;

extern "C" {

DWORD WINAPI GetLastError(void) { return LastError(); }

void WINAPI SetLastError(DWORD dwErrCode) { SetError(dwErrCode); }

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    // Closing a pseudo-handle does nothing and succeeds.
    if (hObject == GetCurrentProcess() || hObject == GetCurrentThread())
        return TRUE;
    Caller caller = CallerOf("CloseHandle");
    NTSTATUS status = host::IsKernelHandle(hObject)
                          ? STATUS_INVALID_HANDLE
                          : caller.process.Process()->handles.Close(hObject);
    if (!NT_SUCCESS(status)) {
        // A close of a handle that is not open (a double close) is the application's bug, the
        // kind Application Verifier stops on.
        char text[128];
        std::snprintf(text, sizeof text, "CloseHandle(%p): not an open handle of process '%s'",
                      hObject, caller.process.Process()->name.c_str());
        caller.machine.Checks().Report(host::VerifierCheck::Usage, text);
        SetLastErrorFromStatus(status);
        return FALSE;
    }
    return TRUE;
}

} // extern "C"

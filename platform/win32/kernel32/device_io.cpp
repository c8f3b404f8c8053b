// kernel32: I/O controls sent to devices through file handles, synchronous or overlapped, their
// outcome (GetOverlappedResult) and their cancellation (CancelIo, CancelIoEx).
#include "caller.h"
#include "status_errors.h"
#include "user_requests.h"
#include "user_threads.h"

#include <wdm.h>
#include <winbase.h>

using namespace host::win32;

namespace {

// The access a control code requires of the handle.
ACCESS_MASK AccessFor(DWORD controlCode)
{
    ULONG access = (controlCode >> 14) & 3;
    return ((access & FILE_READ_ACCESS) ? FILE_READ_DATA : 0) |
           ((access & FILE_WRITE_ACCESS) ? FILE_WRITE_DATA : 0);
}

NTSTATUS OverlappedStatus(const OVERLAPPED *overlapped)
{
    return NTSTATUS(
        __atomic_load_n(reinterpret_cast<const ULONG *>(&overlapped->Internal), __ATOMIC_ACQUIRE));
}

// Waits for a request on a synchronous path; a thread told to end has its requests drained.
NTSTATUS WaitForRequest(PKEVENT event)
{
    NTSTATUS status = KeWaitForSingleObject(event, UserRequest, UserMode, FALSE, nullptr);
    if (status == STATUS_THREAD_IS_TERMINATING)
        ThreadTerminating();
    return status;
}

BOOL Fail(NTSTATUS status)
{
    SetLastErrorFromStatus(status);
    return FALSE;
}

} // namespace

extern "C" {

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped)
{
    Caller caller = CallerOf("DeviceIoControl");
    HandleReference file;
    if (!file.ReferenceOrSetError(hDevice, AccessFor(dwIoControlCode), *IoFileObjectType))
        return FALSE;
    PFILE_OBJECT fileObject = file.As<FILE_OBJECT>();
    bool synchronous = (fileObject->Flags & FO_SYNCHRONOUS_IO) != 0;
    UserRequests::Parameters request = {fileObject,    dwIoControlCode, lpInBuffer,
                                        nInBufferSize, lpOutBuffer,     nOutBufferSize,
                                        nullptr,       nullptr,         false};
    HandleReference event;
    IO_STATUS_BLOCK local = {};
    KEVENT done;
    if (lpOverlapped != nullptr) {
        // The outcome goes to the OVERLAPPED; its event, or else the file's, is set.
        lpOverlapped->Internal = STATUS_PENDING;
        lpOverlapped->InternalHigh = 0;
        request.statusBlock = reinterpret_cast<PIO_STATUS_BLOCK>(lpOverlapped);
        if (lpOverlapped->hEvent != nullptr) {
            if (!event.ReferenceOrSetError(lpOverlapped->hEvent, EVENT_MODIFY_STATE,
                                           *ExEventObjectType))
                return FALSE;
            request.event = event.As<KEVENT>();
            request.eventIsObject = true;
        } else {
            request.event = &fileObject->Event;
        }
    } else {
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        request.statusBlock = &local;
        request.event = &done;
    }
    NTSTATUS status = caller.process.Requests().Send(request);
    // A synchronous file, or a call without OVERLAPPED, waits for the request to finish.
    if (status == STATUS_PENDING && (synchronous || lpOverlapped == nullptr)) {
        WaitForRequest(request.event);
        status = lpOverlapped != nullptr ? OverlappedStatus(lpOverlapped) : local.Status;
    }
    if (status == STATUS_PENDING)
        return Fail(status); // ERROR_IO_PENDING
    if (lpBytesReturned != nullptr)
        *lpBytesReturned = NT_ERROR(status) ? 0 : DWORD(request.statusBlock->Information);
    return NT_SUCCESS(status) ? TRUE : Fail(status);
}

BOOL WINAPI GetOverlappedResultEx(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                                  LPDWORD lpNumberOfBytesTransferred, DWORD dwMilliseconds,
                                  BOOL bAlertable)
{
    CallerOf("GetOverlappedResult");
    if (OverlappedStatus(lpOverlapped) == STATUS_PENDING) {
        if (dwMilliseconds == 0) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        // Without an event of its own, a request sets the file's.
        HANDLE wait = lpOverlapped->hEvent != nullptr ? lpOverlapped->hEvent : hFile;
        DWORD result = WaitForSingleObjectEx(wait, dwMilliseconds, bAlertable);
        if (result == WAIT_TIMEOUT) {
            SetLastError(WAIT_TIMEOUT);
            return FALSE;
        }
        // A failed wait (the thread is ending) still reports a request that has finished.
        if (result != WAIT_OBJECT_0 && OverlappedStatus(lpOverlapped) == STATUS_PENDING)
            return FALSE;
    }
    NTSTATUS status = OverlappedStatus(lpOverlapped);
    *lpNumberOfBytesTransferred = DWORD(lpOverlapped->InternalHigh);
    return NT_SUCCESS(status) ? TRUE : Fail(status);
}

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                                LPDWORD lpNumberOfBytesTransferred, BOOL bWait)
{
    return GetOverlappedResultEx(hFile, lpOverlapped, lpNumberOfBytesTransferred,
                                 bWait ? INFINITE : 0, FALSE);
}

BOOL WINAPI CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped)
{
    Caller caller = CallerOf("CancelIoEx");
    HandleReference file;
    if (!file.ReferenceOrSetError(hFile, 0, *IoFileObjectType))
        return FALSE;
    if (!caller.process.Requests().Cancel(
            file.As<FILE_OBJECT>(), reinterpret_cast<PIO_STATUS_BLOCK>(lpOverlapped), false)) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CancelIo(HANDLE hFile)
{
    Caller caller = CallerOf("CancelIo");
    HandleReference file;
    if (!file.ReferenceOrSetError(hFile, 0, *IoFileObjectType))
        return FALSE;
    caller.process.Requests().Cancel(file.As<FILE_OBJECT>(), nullptr, true);
    return TRUE;
}

} // extern "C"

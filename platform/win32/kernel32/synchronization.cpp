// kernel32: events and mutexes (unnamed, or named in the session's namespace), the waits on them
// and on threads, processes and files, and Sleep. Every wait is the kernel's wait from user mode,
// on the machine's virtual clock, so a thread whose process ends leaves it at once.
#include "caller.h"
#include "code_pages.h"
#include "named_objects.h"
#include "status_errors.h"
#include "user_threads.h"

#include "kernel/object_manager.h"
#include "kernel/wide_string.h"

#include <wdm/io.h>
#include <winbase.h>

using namespace host::win32;

namespace {

// A relative kernel time-out for a Win32 one (null for INFINITE).
PLARGE_INTEGER Timeout(DWORD milliseconds, LARGE_INTEGER *storage)
{
    if (milliseconds == INFINITE)
        return nullptr;
    storage->QuadPart = -LONGLONG(milliseconds) * 10000;
    return storage;
}

// A handle to the object for the caller, with the access asked for.
std::function<NTSTATUS(PVOID)> OpenInto(Caller &caller, ACCESS_MASK access, HANDLE *handle)
{
    return [&caller, access, handle](PVOID body) {
        *handle = caller.process.Process()->handles.Insert(body, access);
        return *handle != nullptr ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
    };
}

// Creates an unnamed object, or makes or opens a named one; the last error says which.
HANDLE CreateSynchronizationObject(Caller &caller, LPCWSTR name, POBJECT_TYPE type,
                                   ACCESS_MASK access, const std::function<PVOID()> &make,
                                   bool *created)
{
    HANDLE handle = nullptr;
    std::u16string text = name != nullptr ? host::ToU16(name) : std::u16string();
    if (text.size() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    NTSTATUS status;
    if (text.empty()) {
        PVOID body = make();
        status = OpenInto(caller, access, &handle)(body);
        ObfDereferenceObject(body);
    } else {
        status =
            caller.win32.Names().CreateOrOpen(text, type, make, OpenInto(caller, access, &handle));
    }
    if (!NT_SUCCESS(status)) {
        SetLastErrorFromStatus(status);
        return nullptr;
    }
    *created = status != STATUS_OBJECT_NAME_EXISTS;
    SetLastError(*created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
}

HANDLE OpenNamedObject(const char *entryPoint, LPCWSTR name, POBJECT_TYPE type, ACCESS_MASK access)
{
    Caller caller = CallerOf(entryPoint);
    if (name == nullptr || *name == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HANDLE handle = nullptr;
    NTSTATUS status =
        caller.win32.Names().Open(host::ToU16(name), type, OpenInto(caller, access, &handle));
    if (!NT_SUCCESS(status)) {
        SetLastErrorFromStatus(status);
        return nullptr;
    }
    return handle;
}

// The dispatcher object a wait on this object waits for: the object itself, for a file its
// event (set when a request on it completes), and for any other object one that is always
// signalled (Windows's default object).
PVOID WaitableObjectOf(Caller &caller, const HandleReference &object)
{
    POBJECT_TYPE type = object.Type();
    if (type == *ExEventObjectType || type == *ExSemaphoreObjectType || type == host::TypeMutant ||
        type == *PsThreadType || type == *PsProcessType)
        return object.Body();
    if (type == *IoFileObjectType)
        return &object.As<FILE_OBJECT>()->Event;
    return caller.win32.AlwaysSignalled();
}

DWORD WaitResult(NTSTATUS status)
{
    if (status >= STATUS_WAIT_0 && status <= STATUS_WAIT_63)
        return WAIT_OBJECT_0 + DWORD(status - STATUS_WAIT_0);
    if (status >= STATUS_ABANDONED_WAIT_0 && status <= STATUS_ABANDONED_WAIT_63)
        return WAIT_ABANDONED_0 + DWORD(status - STATUS_ABANDONED_WAIT_0);
    if (status == STATUS_TIMEOUT)
        return WAIT_TIMEOUT;
    if (status == STATUS_THREAD_IS_TERMINATING)
        ThreadTerminating();
    SetLastErrorFromStatus(status);
    return WAIT_FAILED;
}

} // namespace

extern "C" {

HANDLE WINAPI CreateEventExW(LPSECURITY_ATTRIBUTES, LPCWSTR lpName, DWORD dwFlags,
                             DWORD dwDesiredAccess)
{
    Caller caller = CallerOf("CreateEventExW");
    EVENT_TYPE type =
        (dwFlags & CREATE_EVENT_MANUAL_RESET) ? NotificationEvent : SynchronizationEvent;
    BOOLEAN initial = (dwFlags & CREATE_EVENT_INITIAL_SET) ? TRUE : FALSE;
    std::string label = lpName != nullptr ? host::ToUtf8(host::ToU16(lpName)) : std::string();
    bool created;
    return CreateSynchronizationObject(
        caller, lpName, *ExEventObjectType, dwDesiredAccess,
        [&] {
            auto event = host::CreateObject<KEVENT>(caller.machine, *ExEventObjectType, label);
            KeInitializeEvent(event, type, initial);
            return event;
        },
        &created);
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                           BOOL bInitialState, LPCWSTR lpName)
{
    DWORD flags = (bManualReset ? CREATE_EVENT_MANUAL_RESET : 0) |
                  (bInitialState ? CREATE_EVENT_INITIAL_SET : 0);
    return CreateEventExW(lpEventAttributes, lpName, flags, EVENT_ALL_ACCESS);
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                           BOOL bInitialState, LPCSTR lpName)
{
    return CreateEventW(lpEventAttributes, bManualReset, bInitialState, WideArgument(lpName).Get());
}

HANDLE WINAPI OpenEventW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName)
{
    return OpenNamedObject("OpenEventW", lpName, *ExEventObjectType, dwDesiredAccess);
}

HANDLE WINAPI OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName)
{
    return OpenEventW(dwDesiredAccess, bInheritHandle, WideArgument(lpName).Get());
}

BOOL WINAPI SetEvent(HANDLE hEvent)
{
    CallerOf("SetEvent");
    HandleReference event;
    if (!event.ReferenceOrSetError(hEvent, EVENT_MODIFY_STATE, *ExEventObjectType))
        return FALSE;
    KeSetEvent(event.As<KEVENT>(), IO_NO_INCREMENT, FALSE);
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    CallerOf("ResetEvent");
    HandleReference event;
    if (!event.ReferenceOrSetError(hEvent, EVENT_MODIFY_STATE, *ExEventObjectType))
        return FALSE;
    KeResetEvent(event.As<KEVENT>());
    return TRUE;
}

HANDLE WINAPI CreateMutexExW(LPSECURITY_ATTRIBUTES, LPCWSTR lpName, DWORD dwFlags,
                             DWORD dwDesiredAccess)
{
    Caller caller = CallerOf("CreateMutexExW");
    std::string label = lpName != nullptr ? host::ToUtf8(host::ToU16(lpName)) : std::string();
    bool created = false;
    HANDLE handle = CreateSynchronizationObject(
        caller, lpName, host::TypeMutant, dwDesiredAccess,
        [&] {
            auto mutant = host::CreateObject<KMUTANT>(caller.machine, host::TypeMutant, label);
            KeInitializeMutex(mutant, 0);
            mutant->ApcDisable = 0; // a user-mode mutant: abandoned, not fatal, at thread exit
            return mutant;
        },
        &created);
    // Only the thread that made the mutex takes the initial ownership.
    if (handle != nullptr && created && (dwFlags & CREATE_MUTEX_INITIAL_OWNER)) {
        HandleReference mutant;
        mutant.Reference(handle, SYNCHRONIZE, host::TypeMutant);
        LARGE_INTEGER now = {};
        KeWaitForSingleObject(mutant.Body(), UserRequest, UserMode, FALSE, &now);
    }
    return handle;
}

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                           LPCWSTR lpName)
{
    return CreateMutexExW(lpMutexAttributes, lpName, bInitialOwner ? CREATE_MUTEX_INITIAL_OWNER : 0,
                          MUTEX_ALL_ACCESS);
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                           LPCSTR lpName)
{
    return CreateMutexW(lpMutexAttributes, bInitialOwner, WideArgument(lpName).Get());
}

HANDLE WINAPI OpenMutexW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName)
{
    return OpenNamedObject("OpenMutexW", lpName, host::TypeMutant, dwDesiredAccess);
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex)
{
    Caller caller = CallerOf("ReleaseMutex");
    HandleReference mutant;
    NTSTATUS status = mutant.Reference(hMutex, 0, host::TypeMutant);
    if (NT_SUCCESS(status)) {
        std::lock_guard<std::mutex> guard(caller.machine.Clock().DispatcherLock());
        if (mutant.As<KMUTANT>()->OwnerThread != caller.thread)
            status = STATUS_MUTANT_NOT_OWNED;
    }
    if (!NT_SUCCESS(status)) {
        SetLastErrorFromStatus(status);
        return FALSE;
    }
    KeReleaseMutex(mutant.As<KMUTANT>(), FALSE);
    return TRUE;
}

DWORD WINAPI WaitForMultipleObjectsEx(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll,
                                      DWORD dwMilliseconds, BOOL bAlertable)
{
    Caller caller = CallerOf("WaitForMultipleObjects");
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    HandleReference references[MAXIMUM_WAIT_OBJECTS];
    PVOID objects[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < nCount; ++i) {
        if (!references[i].ReferenceOrSetError(lpHandles[i], SYNCHRONIZE, nullptr))
            return WAIT_FAILED;
        objects[i] = WaitableObjectOf(caller, references[i]);
        // Waiting for all of a set that names one object twice is refused.
        for (DWORD j = 0; bWaitAll && j < i; ++j) {
            if (objects[j] == objects[i]) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return WAIT_FAILED;
            }
        }
    }
    KWAIT_BLOCK blocks[MAXIMUM_WAIT_OBJECTS];
    LARGE_INTEGER storage;
    NTSTATUS status = KeWaitForMultipleObjects(nCount, objects, bWaitAll ? WaitAll : WaitAny,
                                               UserRequest, UserMode, bAlertable ? TRUE : FALSE,
                                               Timeout(dwMilliseconds, &storage), blocks);
    return WaitResult(status);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds)
{
    return WaitForMultipleObjectsEx(nCount, lpHandles, bWaitAll, dwMilliseconds, FALSE);
}

DWORD WINAPI WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable)
{
    return WaitForMultipleObjectsEx(1, &hHandle, FALSE, dwMilliseconds, bAlertable);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjectsEx(1, &hHandle, FALSE, dwMilliseconds, FALSE);
}

DWORD WINAPI SleepEx(DWORD dwMilliseconds, BOOL bAlertable)
{
    CallerOf("Sleep");
    NTSTATUS status;
    if (dwMilliseconds == INFINITE) {
        KEVENT never;
        KeInitializeEvent(&never, NotificationEvent, FALSE);
        status = KeWaitForSingleObject(&never, UserRequest, UserMode, bAlertable ? TRUE : FALSE,
                                       nullptr);
    } else {
        LARGE_INTEGER interval;
        interval.QuadPart = -LONGLONG(dwMilliseconds) * 10000;
        status = KeDelayExecutionThread(UserMode, bAlertable ? TRUE : FALSE, &interval);
    }
    if (status == STATUS_THREAD_IS_TERMINATING)
        ThreadTerminating();
    return 0;
}

void WINAPI Sleep(DWORD dwMilliseconds) { SleepEx(dwMilliseconds, FALSE); }

} // extern "C"

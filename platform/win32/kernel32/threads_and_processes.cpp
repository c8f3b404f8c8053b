// kernel32: threads (creation, suspension, priorities, exit codes) and processes (identity,
// exit and termination, exit codes).
#include "caller.h"
#include "status_errors.h"
#include "user_threads.h"

#include "kernel/object_manager.h"
#include "kernel/wide_string.h"

#include <winbase.h>

using namespace host::win32;

namespace {

// The priority of a thread of a normal-priority-class process at a relative priority.
KPRIORITY BasePriority(int relative)
{
    switch (relative) {
    case THREAD_PRIORITY_IDLE: return 1;
    case THREAD_PRIORITY_TIME_CRITICAL: return 15;
    default: return 8 + relative;
    }
}

bool ValidPriority(int relative)
{
    return relative == THREAD_PRIORITY_IDLE || relative == THREAD_PRIORITY_TIME_CRITICAL ||
           (relative >= THREAD_PRIORITY_LOWEST && relative <= THREAD_PRIORITY_HIGHEST);
}

bool Ended(host::Machine &machine, PDISPATCHER_HEADER object)
{
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    return object->SignalState > 0;
}

} // namespace

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    Caller caller = CallerOf("CreateThread");
    if (lpStartAddress == nullptr ||
        (dwCreationFlags & ~(CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    PKTHREAD thread =
        StartUserThread(caller.process, caller.process.Process()->name + " thread",
                        (dwCreationFlags & CREATE_SUSPENDED) != 0, false,
                        [lpStartAddress, lpParameter] { return lpStartAddress(lpParameter); });
    HANDLE handle = caller.process.Process()->handles.Insert(thread, THREAD_ALL_ACCESS);
    if (lpThreadId != nullptr)
        *lpThreadId = thread->id;
    ObfDereferenceObject(thread);
    return handle;
}

DWORD WINAPI ResumeThread(HANDLE hThread)
{
    Caller caller = CallerOf("ResumeThread");
    HandleReference thread;
    if (!thread.ReferenceOrSetError(hThread, THREAD_SUSPEND_RESUME, *PsThreadType))
        return DWORD(-1);
    PKTHREAD target = thread.As<_KTHREAD>();
    ProcessRecord &process = caller.win32.Process(target->process);
    std::lock_guard<std::mutex> guard(process.Lock());
    ThreadRecord *record = process.FindThreadLocked(target);
    if (record == nullptr || record->suspendCount == 0)
        return 0;
    DWORD previous = record->suspendCount--;
    if (record->suspendCount == 0)
        KeSetEvent(&record->resumed, IO_NO_INCREMENT, FALSE);
    return previous;
}

void WINAPI ExitThread(DWORD dwExitCode) { EndCallingThread("ExitThread", dwExitCode); }

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    Caller caller = CallerOf("GetExitCodeThread");
    HandleReference thread;
    if (!thread.ReferenceOrSetError(hThread, THREAD_QUERY_LIMITED_INFORMATION, *PsThreadType))
        return FALSE;
    PKTHREAD target = thread.As<_KTHREAD>();
    *lpExitCode = Ended(caller.machine, &target->Header) ? DWORD(target->exitStatus) : STILL_ACTIVE;
    return TRUE;
}

BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority)
{
    Caller caller = CallerOf("SetThreadPriority");
    HandleReference thread;
    if (!thread.ReferenceOrSetError(hThread, THREAD_SET_LIMITED_INFORMATION, *PsThreadType))
        return FALSE;
    if (!ValidPriority(nPriority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PKTHREAD target = thread.As<_KTHREAD>();
    ProcessRecord &process = caller.win32.Process(target->process);
    {
        std::lock_guard<std::mutex> guard(process.Lock());
        process.ThreadLocked(target).priority = nPriority;
    }
    KeSetPriorityThread(target, BasePriority(nPriority));
    return TRUE;
}

int WINAPI GetThreadPriority(HANDLE hThread)
{
    Caller caller = CallerOf("GetThreadPriority");
    HandleReference thread;
    if (!thread.ReferenceOrSetError(hThread, THREAD_QUERY_LIMITED_INFORMATION, *PsThreadType))
        return THREAD_PRIORITY_ERROR_RETURN;
    PKTHREAD target = thread.As<_KTHREAD>();
    ProcessRecord &process = caller.win32.Process(target->process);
    std::lock_guard<std::mutex> guard(process.Lock());
    ThreadRecord *record = process.FindThreadLocked(target);
    return record != nullptr ? record->priority : THREAD_PRIORITY_NORMAL;
}

HANDLE WINAPI GetCurrentThread(void) { return NtCurrentThread(); }

DWORD WINAPI GetCurrentThreadId(void) { return CallerOf("GetCurrentThreadId").thread->id; }

DWORD WINAPI GetThreadId(HANDLE Thread)
{
    CallerOf("GetThreadId");
    HandleReference thread;
    if (!thread.ReferenceOrSetError(Thread, THREAD_QUERY_LIMITED_INFORMATION, *PsThreadType))
        return 0;
    return thread.As<_KTHREAD>()->id;
}

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD dwCreationFlags, LPVOID, LPCWSTR,
                           LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation)
{
    Caller caller = CallerOf("CreateProcessW");
    if (lpApplicationName == nullptr || lpStartupInfo == nullptr ||
        lpProcessInformation == nullptr) {
        // Programs are found by their full path only: a path taken from the command line is
        // not emulated.
        if (lpApplicationName == nullptr && lpCommandLine != nullptr)
            caller.machine.Checks().Report(host::VerifierCheck::Unimplemented,
                                           "CreateProcessW without an application name");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dwCreationFlags & CREATE_SUSPENDED) {
        caller.machine.Checks().Report(host::VerifierCheck::Unimplemented,
                                       "CreateProcessW with CREATE_SUSPENDED");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::u16string path = host::ToU16(lpApplicationName);
    std::optional<std::function<DWORD()>> program = caller.win32.ProgramAt(path);
    if (!program) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::u16string file = path.substr(path.find_last_of(u"\\/") + 1);
    PKTHREAD thread = nullptr;
    PKPROCESS process =
        caller.win32.StartProcess(host::ToUtf8(file), path, std::move(*program), false, &thread);
    lpProcessInformation->hProcess =
        caller.process.Process()->handles.Insert(process, PROCESS_ALL_ACCESS);
    lpProcessInformation->hThread =
        caller.process.Process()->handles.Insert(thread, THREAD_ALL_ACCESS);
    lpProcessInformation->dwProcessId = DWORD(process->id);
    lpProcessInformation->dwThreadId = DWORD(thread->id);
    ObfDereferenceObject(thread);
    ObfDereferenceObject(process);
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) { return NtCurrentProcess(); }

DWORD WINAPI GetCurrentProcessId(void)
{
    return CallerOf("GetCurrentProcessId").process.Process()->id;
}

DWORD WINAPI GetProcessId(HANDLE Process)
{
    CallerOf("GetProcessId");
    HandleReference process;
    if (!process.ReferenceOrSetError(Process, PROCESS_QUERY_LIMITED_INFORMATION, *PsProcessType))
        return 0;
    return process.As<_KPROCESS>()->id;
}

void WINAPI ExitProcess(UINT uExitCode)
{
    Caller caller = CallerOf("ExitProcess");
    caller.process.BeginExit(uExitCode, caller.thread, true);
    EndCallingThread("ExitProcess", uExitCode);
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode)
{
    Caller caller = CallerOf("TerminateProcess");
    HandleReference process;
    if (!process.ReferenceOrSetError(hProcess, PROCESS_TERMINATE, *PsProcessType))
        return FALSE;
    PKPROCESS target = process.As<_KPROCESS>();
    if (target == caller.process.Process()) {
        caller.process.BeginExit(uExitCode, caller.thread, false);
        EndCallingThread("TerminateProcess", uExitCode);
        return TRUE;
    }
    caller.win32.Terminate(target, uExitCode);
    return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode)
{
    Caller caller = CallerOf("GetExitCodeProcess");
    HandleReference process;
    if (!process.ReferenceOrSetError(hProcess, PROCESS_QUERY_LIMITED_INFORMATION, *PsProcessType))
        return FALSE;
    PKPROCESS target = process.As<_KPROCESS>();
    *lpExitCode = Ended(caller.machine, &target->Header) ? DWORD(target->exitStatus) : STILL_ACTIVE;
    return TRUE;
}

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process)
{
    CallerOf("IsWow64Process");
    HandleReference process;
    if (!process.ReferenceOrSetError(hProcess, PROCESS_QUERY_LIMITED_INFORMATION, *PsProcessType))
        return FALSE;
    *Wow64Process = process.As<_KPROCESS>()->is32Bit ? TRUE : FALSE;
    return TRUE;
}

} // extern "C"

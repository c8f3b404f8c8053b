// Threads and processes: suspension, priorities, exit codes, and how a process ends (returning
// from main, the last thread, ExitProcess, termination from outside) with its threads and handles.
#include "win32_fixture.h"

#include "kernel/object_manager.h"

namespace {

using ThreadsAndProcesses = Win32Test;

DWORD WINAPI ReturnSeven(LPVOID) { return 7; }

TEST_F(ThreadsAndProcesses, SuspendedThreadRunsOnceResumedAndKeepsItsExitCode)
{
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ReturnSeven, nullptr, CREATE_SUSPENDED, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(GetThreadId(thread), id);
    DWORD code;
    EXPECT_EQ(WaitForSingleObject(thread, 100), DWORD(WAIT_TIMEOUT));
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(ResumeThread(thread), 0u);
    CloseHandle(thread);
}

// Host threads are reused for one emulated thread after another; nothing of a thread that ended
// reaches the next.
TEST_F(ThreadsAndProcesses, EveryThreadStartsWithoutALastError)
{
    for (int round = 0; round < 3; ++round) {
        DWORD found = ERROR_SUCCESS;
        HANDLE thread = CreateThread(
            nullptr, 0,
            [](LPVOID found) -> DWORD {
                *static_cast<DWORD *>(found) = GetLastError();
                SetLastError(ERROR_ACCESS_DENIED);
                return 0;
            },
            &found, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
        CloseHandle(thread);
        EXPECT_EQ(found, DWORD(ERROR_SUCCESS)) << "round " << round;
    }
}

TEST_F(ThreadsAndProcesses, ThreadPrioritiesAreTheDocumentedLevels)
{
    HANDLE self = GetCurrentThread();
    for (int priority : {THREAD_PRIORITY_IDLE, THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_NORMAL,
                         THREAD_PRIORITY_HIGHEST, THREAD_PRIORITY_TIME_CRITICAL}) {
        EXPECT_TRUE(SetThreadPriority(self, priority));
        EXPECT_EQ(GetThreadPriority(self), priority);
    }
    EXPECT_FALSE(SetThreadPriority(self, 3));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetThreadPriority(reinterpret_cast<HANDLE>(0x7ffc)), THREAD_PRIORITY_ERROR_RETURN);
}

TEST_F(ThreadsAndProcesses, ProcessEndsWhenItsMainThreadReturns)
{
    PKPROCESS process = Start("short", [] {
        CreateEventW(nullptr, TRUE, FALSE, L"quen.left-open");
        return DWORD(3);
    });
    EXPECT_EQ(Join(process), 3u);
    // Its handles were closed at exit: the name is free.
    EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, L"quen.left-open"), nullptr);
}

TEST_F(ThreadsAndProcesses, LastThreadToEndTakesItsProcessWithIt)
{
    PKPROCESS process = Start("threads", [] {
        CreateThread(
            nullptr, 0,
            [](LPVOID) -> DWORD {
                Sleep(50);
                return 9;
            },
            nullptr, 0, nullptr);
        ExitThread(1);
        return DWORD(0);
    });
    EXPECT_EQ(Join(process), 9u);
}

TEST_F(ThreadsAndProcesses, TerminationEndsBlockedThreadsAndClosesTheProcessHandles)
{
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"quen.ready");
    PKPROCESS process = Start("victim", [] {
        HANDLE own = CreateEventW(nullptr, TRUE, FALSE, L"quen.victim-own");
        CreateThread(
            nullptr, 0,
            [](LPVOID event) -> DWORD {
                WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
                return 0;
            },
            own, 0, nullptr);
        HANDLE signal = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"quen.ready");
        SetEvent(signal);
        Sleep(INFINITE);
        return DWORD(0);
    });
    EXPECT_EQ(WaitForSingleObject(ready, INFINITE), WAIT_OBJECT_0);
    HANDLE handle = Process()->handles.Insert(process, PROCESS_ALL_ACCESS);
    DWORD code;
    EXPECT_TRUE(GetExitCodeProcess(handle, &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
    EXPECT_TRUE(TerminateProcess(handle, 42));
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeProcess(handle, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(process->handles.Count(), 0u);
    EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, L"quen.victim-own"), nullptr);
    CloseHandle(handle);
    ObfDereferenceObject(process);
    CloseHandle(ready);
}

TEST_F(ThreadsAndProcesses, ThreadUnwindingFromTerminationSeesWaitsFail)
{
    // A thread ended by its process's end unwinds; a wait in a destructor on the way fails at
    // once instead of blocking the end of the process.
    struct WaitsOnDestruction {
        HANDLE event;
        DWORD *result;
        ~WaitsOnDestruction() { *result = WaitForSingleObject(event, INFINITE); }
    };
    static DWORD result = 0;
    PKPROCESS process = Start("unwinding", [] {
        WaitsOnDestruction guard{CreateEventW(nullptr, TRUE, FALSE, nullptr), &result};
        Sleep(INFINITE);
        return DWORD(0);
    });
    Sleep(1);
    Win32().Terminate(process, 5);
    EXPECT_EQ(Join(process), 5u);
    EXPECT_EQ(result, WAIT_FAILED);
}

} // namespace

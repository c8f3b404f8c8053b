// Events, mutexes and the waits on them, as kernel32 documents them, on the virtual clock.
#include "win32_fixture.h"

#include <mmsystem.h>

#include <functional>

namespace {

using Synchronization = Win32Test;

TEST_F(Synchronization, AutoResetEventReleasesOneWaitManualResetStaysSet)
{
    HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), DWORD(WAIT_TIMEOUT));
    CloseHandle(automatic);
    CloseHandle(manual);
}

TEST_F(Synchronization, TimeoutsAndSleepRunOnTheVirtualClock)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ULONGLONG start = NowMs();
    DWORD tick = timeGetTime();
    EXPECT_EQ(WaitForSingleObject(event, 250), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(NowMs() - start, 250u);
    Sleep(40);
    EXPECT_EQ(NowMs() - start, 290u);
    EXPECT_EQ(timeGetTime() - tick, 290u);
    EXPECT_EQ(GetTickCount(), timeGetTime());
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    EXPECT_EQ(ULONGLONG(counter.QuadPart / (frequency.QuadPart / 1000)), NowMs());
    CloseHandle(event);
}

TEST_F(Synchronization, WaitAnyReportsTheFirstSignalledObjectWaitAllNeedsEvery)
{
    HANDLE events[3] = {CreateEventW(nullptr, TRUE, FALSE, nullptr),
                        CreateEventW(nullptr, TRUE, TRUE, nullptr),
                        CreateEventW(nullptr, TRUE, TRUE, nullptr)};
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 10), DWORD(WAIT_TIMEOUT));
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_OBJECT_0);
    for (HANDLE e : events)
        CloseHandle(e);
}

TEST_F(Synchronization, AnotherThreadWakesAnInfiniteWait)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID context) -> DWORD {
            Sleep(10);
            SetEvent(static_cast<HANDLE>(context));
            return 0;
        },
        event, 0, nullptr);
    ULONGLONG start = NowMs();
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(NowMs() - start, 10u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
    CloseHandle(event);
}

TEST_F(Synchronization, WaitsRefuseWhatWindowsRefuses)
{
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, L"Local\\quen.waits");
    HANDLE modifyOnly = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Local\\quen.waits");
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
    HANDLE twice[2] = {event, event};
    HANDLE many[MAXIMUM_WAIT_OBJECTS + 1];
    for (HANDLE &h : many)
        h = event;
    const struct {
        const char *what;
        std::function<DWORD()> wait;
        DWORD error;
    } cases[] = {
        {"no objects", [&] { return WaitForMultipleObjects(0, many, FALSE, 0); },
         ERROR_INVALID_PARAMETER},
        {"65 objects", [&] { return WaitForMultipleObjects(65, many, FALSE, 0); },
         ERROR_INVALID_PARAMETER},
        {"one object twice, wait all", [&] { return WaitForMultipleObjects(2, twice, TRUE, 0); },
         ERROR_INVALID_PARAMETER},
        {"closed handle", [] { return WaitForSingleObject(reinterpret_cast<HANDLE>(0x7ffc), 0); },
         ERROR_INVALID_HANDLE},
        {"registry key without SYNCHRONIZE", [&] { return WaitForSingleObject(key, 0); },
         ERROR_ACCESS_DENIED},
        {"handle without SYNCHRONIZE", [&] { return WaitForSingleObject(modifyOnly, 0); },
         ERROR_ACCESS_DENIED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.wait(), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);
    RegCloseKey(key);
    // An object that is not a dispatcher object counts as signalled, as on Windows.
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ | SYNCHRONIZE, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(key, INFINITE), WAIT_OBJECT_0);
    RegCloseKey(key);
    CloseHandle(modifyOnly);
    CloseHandle(event);
}

TEST_F(Synchronization, MutexIsRecursiveOwnedAndAbandonedWhenItsThreadEnds)
{
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); // recursive
    HANDLE other = CreateThread(
        nullptr, 0,
        [](LPVOID context) -> DWORD {
            HANDLE mutex = static_cast<HANDLE>(context);
            BOOL released = ReleaseMutex(mutex);
            DWORD notOwner = GetLastError();
            WaitForSingleObject(mutex, INFINITE);
            return released == FALSE && notOwner == ERROR_NOT_OWNER ? 1 : 0;
        },
        mutex, 0, nullptr);
    EXPECT_TRUE(ReleaseMutex(mutex));
    Sleep(5);
    EXPECT_TRUE(ReleaseMutex(mutex));
    // The other thread took it and ended without releasing it.
    EXPECT_EQ(WaitForSingleObject(other, INFINITE), WAIT_OBJECT_0);
    DWORD code;
    GetExitCodeThread(other, &code);
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(other);
    CloseHandle(mutex);
}

TEST_F(Synchronization, NamedEventsAreSharedAcrossProcessesByExactName)
{
    HANDLE mine = CreateEventW(nullptr, TRUE, FALSE, L"quen.shared");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    PKPROCESS other = Start("other", [] {
        HANDLE again = CreateEventW(nullptr, FALSE, TRUE, L"quen.shared");
        DWORD existed = GetLastError();
        HANDLE wrongCase = OpenEventW(SYNCHRONIZE, FALSE, L"QUEN.SHARED");
        DWORD missing = GetLastError();
        HANDLE global = OpenEventW(SYNCHRONIZE, FALSE, L"Global\\quen.shared");
        SetEvent(again);
        return existed == ERROR_ALREADY_EXISTS && wrongCase == nullptr &&
                       missing == ERROR_FILE_NOT_FOUND && global == nullptr
                   ? 0
                   : 1;
    });
    EXPECT_EQ(Join(other), 0u);
    // The other process's handle is gone; ours still names the (manual-reset) event it set.
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"quen.shared");
    EXPECT_EQ(mutex, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    CloseHandle(mine);
    // With its last handle closed the name is free again.
    EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, L"quen.shared"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(Synchronization, HandlesKeepTheRightsTheyWereOpenedWith)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, L"quen.rights");
    HANDLE waitOnly = OpenEventW(SYNCHRONIZE, FALSE, L"quen.rights");
    EXPECT_FALSE(SetEvent(waitOnly));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(waitOnly, 0), WAIT_OBJECT_0);
    CloseHandle(waitOnly);
    CloseHandle(event);
}

} // namespace

// Virtual time: the clock moves only when every emulated thread waits, and then jumps to the
// earliest deadline.
#include "kernel_fixture.h"

#include <vector>

namespace {

class VirtualTimeTest : public KernelTest {};

TEST_F(VirtualTimeTest, TenMinuteWaitCompletesAtOnceAndAdvancesTheClockExactly)
{
    ULONGLONG before = Now();
    LARGE_INTEGER tenMinutes = RelativeMs(10 * 60 * 1000);
    KEVENT never;
    KeInitializeEvent(&never, NotificationEvent, FALSE);
    EXPECT_EQ(STATUS_TIMEOUT,
              KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, &tenMinutes));
    EXPECT_EQ(before + 10ull * 60 * 1000 * 10000, Now());

    EXPECT_EQ(STATUS_SUCCESS, KeDelayExecutionThread(KernelMode, FALSE, &tenMinutes));
    EXPECT_EQ(before + 2 * 10ull * 60 * 1000 * 10000, Now());
}

TEST_F(VirtualTimeTest, ClockStandsStillWhileAThreadRuns)
{
    ULONGLONG before = Now();
    volatile ULONG spin = 0;
    for (ULONG i = 0; i < 1000000; ++i)
        spin = spin + i;
    EXPECT_EQ(before, Now());
}

struct WakeLog {
    KSPIN_LOCK lock;
    std::vector<int> order;
    std::vector<ULONGLONG> times;
};

TEST_F(VirtualTimeTest, ThreadsWakeInDeadlineOrderAtTheirDeadlines)
{
    WakeLog log;
    KeInitializeSpinLock(&log.lock);
    const int delaysMs[] = {30, 10, 20, 10, 5};
    std::vector<PKTHREAD> threads;
    ULONGLONG start = Now();
    for (int i = 0; i < 5; ++i) {
        threads.push_back(M().StartThread("sleeper", M().SystemProcess(), [&log, i, &delaysMs] {
            LARGE_INTEGER delay = RelativeMs(delaysMs[i]);
            KeDelayExecutionThread(KernelMode, FALSE, &delay);
            KIRQL old;
            KeAcquireSpinLock(&log.lock, &old);
            log.order.push_back(i);
            log.times.push_back(KeQueryInterruptTime());
            KeReleaseSpinLock(&log.lock, old);
        }));
    }
    for (PKTHREAD t : threads) {
        EXPECT_EQ(STATUS_WAIT_0, KeWaitForSingleObject(t, Executive, KernelMode, FALSE, nullptr));
        ObDereferenceObject(t);
    }
    ASSERT_EQ(5u, log.order.size());
    // Equal deadlines (threads 1 and 3) may wake in either order; the times say which slot.
    EXPECT_EQ(4, log.order[0]);
    EXPECT_EQ(2, log.order[3]);
    EXPECT_EQ(0, log.order[4]);
    const ULONGLONG expectedMs[] = {5, 10, 10, 20, 30};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(start + expectedMs[i] * 10000, log.times[i]) << "wake " << i;
}

TEST_F(VirtualTimeTest, SignalledThreadIsCountedRunnableBeforeItRuns)
{
    // The waker blocks right after signalling; if the woken thread were not yet counted the
    // clock would jump to the waker's 1-hour time-out before the woken thread ran.
    KEVENT go;
    KEVENT done;
    KeInitializeEvent(&go, SynchronizationEvent, FALSE);
    KeInitializeEvent(&done, SynchronizationEvent, FALSE);
    const int rounds = 200;
    PKTHREAD worker = M().StartThread("worker", M().SystemProcess(), [&] {
        for (int i = 0; i < rounds; ++i) {
            KeWaitForSingleObject(&go, Executive, KernelMode, FALSE, nullptr);
            KeSetEvent(&done, 0, FALSE);
        }
    });
    ULONGLONG start = Now();
    for (int round = 0; round < rounds; ++round) {
        KeSetEvent(&go, 0, FALSE);
        LARGE_INTEGER hour = RelativeMs(3600 * 1000);
        ASSERT_EQ(STATUS_WAIT_0, KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &hour));
    }
    KeWaitForSingleObject(worker, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(worker);
    EXPECT_EQ(start, Now());
}

TEST_F(VirtualTimeTest, PerformanceCounterAndSystemTimeFollowTheVirtualClock)
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER c0 = KeQueryPerformanceCounter(&frequency);
    EXPECT_EQ(10000000, frequency.QuadPart);
    LARGE_INTEGER s0;
    KeQuerySystemTime(&s0);
    LARGE_INTEGER delay = RelativeMs(1500);
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
    LARGE_INTEGER c1 = KeQueryPerformanceCounter(nullptr);
    LARGE_INTEGER s1;
    KeQuerySystemTime(&s1);
    EXPECT_EQ(15000000, c1.QuadPart - c0.QuadPart);
    EXPECT_EQ(15000000, s1.QuadPart - s0.QuadPart);
}

TEST_F(VirtualTimeTest, AbsoluteDueTimeIsSystemTime)
{
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    LARGE_INTEGER due;
    due.QuadPart = now.QuadPart + 20000000; // two seconds from now, absolute
    ULONGLONG before = Now();
    KeDelayExecutionThread(KernelMode, FALSE, &due);
    EXPECT_EQ(before + 20000000, Now());
    // A due time in the past returns at once.
    due.QuadPart = now.QuadPart;
    KeDelayExecutionThread(KernelMode, FALSE, &due);
    EXPECT_EQ(before + 20000000, Now());
}

using VirtualTimeDeathTest = VirtualTimeTest;

TEST_F(VirtualTimeDeathTest, WaitingForeverWithNothingDueIsReportedAsADeadlock)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            KEVENT never;
            KeInitializeEvent(&never, NotificationEvent, FALSE);
            KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, nullptr);
        },
        "deadlock: every emulated thread waits and nothing is due.*'test'");
}

TEST(WallClockTest, ScaledWallClockRunsFasterThanRealTime)
{
    host::MachineOptions options;
    options.clock = host::ClockMode::WallClock;
    options.wallClockScale = 1000.0; // one virtual second per real millisecond
    host::Machine machine(options);
    {
        host::ThreadAttachment attach(machine, "test");
        ULONGLONG before = machine.Clock().Now();
        LARGE_INTEGER second = RelativeMs(1000);
        EXPECT_EQ(STATUS_SUCCESS, KeDelayExecutionThread(KernelMode, FALSE, &second));
        EXPECT_GE(machine.Clock().Now(), before + 10000000);
    }
    machine.PowerOff();
    EXPECT_EQ(0u, machine.Checks().Count());
}

} // namespace

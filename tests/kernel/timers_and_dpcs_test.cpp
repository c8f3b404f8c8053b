// Kernel timers and DPCs on the virtual clock.
#include "kernel_fixture.h"

namespace {

class TimerTest : public KernelTest {};

TEST_F(TimerTest, OneShotTimerExpiresAtItsDueTimeAndStaysSignalled)
{
    KTIMER timer;
    KeInitializeTimer(&timer);
    EXPECT_FALSE(KeReadStateTimer(&timer));
    ULONGLONG start = Now();
    EXPECT_FALSE(KeSetTimer(&timer, RelativeMs(40), nullptr));
    EXPECT_FALSE(KeReadStateTimer(&timer));
    EXPECT_EQ(STATUS_WAIT_0, KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, nullptr));
    EXPECT_EQ(start + 400000, Now());
    EXPECT_TRUE(KeReadStateTimer(&timer));
    // A notification timer stays signalled; a second wait returns at once.
    EXPECT_EQ(STATUS_WAIT_0, KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, nullptr));
    EXPECT_EQ(start + 400000, Now());
    EXPECT_FALSE(KeCancelTimer(&timer)); // no longer in the timer queue
}

TEST_F(TimerTest, ResettingAndCancellingReportWhetherTheTimerWasSet)
{
    KTIMER timer;
    KeInitializeTimer(&timer);
    EXPECT_FALSE(KeSetTimer(&timer, RelativeMs(100), nullptr));
    EXPECT_TRUE(KeSetTimer(&timer, RelativeMs(10), nullptr));
    EXPECT_TRUE(KeCancelTimer(&timer));
    LARGE_INTEGER t = RelativeMs(200);
    EXPECT_EQ(STATUS_TIMEOUT, KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, &t));
    EXPECT_FALSE(KeReadStateTimer(&timer));
}

TEST_F(TimerTest, UnwatchedTimerHasExpiredOnceTimeHasMovedPastIt)
{
    KTIMER timer;
    KeInitializeTimer(&timer);
    KeSetTimer(&timer, RelativeMs(5), nullptr);
    LARGE_INTEGER d = RelativeMs(6);
    KeDelayExecutionThread(KernelMode, FALSE, &d);
    EXPECT_TRUE(KeReadStateTimer(&timer));
}

TEST_F(TimerTest, SynchronizationTimerSatisfiesOneWait)
{
    KTIMER timer;
    KeInitializeTimerEx(&timer, SynchronizationTimer);
    KeSetTimer(&timer, RelativeMs(1), nullptr);
    EXPECT_EQ(STATUS_WAIT_0, KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, nullptr));
    EXPECT_FALSE(KeReadStateTimer(&timer));
}

TEST(TimerTeardownTest, TimerLeftSetAtTeardownIsReported)
{
    host::Machine machine;
    KTIMER timer;
    {
        host::ThreadAttachment attach(machine, "test");
        KeInitializeTimer(&timer);
        KeSetTimer(&timer, RelativeMs(1000), nullptr);
    }
    machine.PowerOff();
    auto reports = machine.Checks().Take(host::VerifierCheck::Usage);
    ASSERT_EQ(1u, reports.size());
    EXPECT_NE(std::string::npos, reports[0].message.find("timer"));
}

struct DpcRecord {
    LONG count = 0;
    ULONGLONG times[8] = {};
    KIRQL irql = 0;
    PVOID argument = nullptr;
    KEVENT done;
};

void RecordDpc(PKDPC, PVOID context, PVOID argument1, PVOID)
{
    auto *r = static_cast<DpcRecord *>(context);
    r->irql = KeGetCurrentIrql();
    r->argument = argument1;
    if (r->count < 8)
        r->times[r->count] = KeQueryInterruptTime();
    if (++r->count == 3)
        KeSetEvent(&r->done, 0, FALSE);
}

TEST_F(TimerTest, PeriodicTimerQueuesItsDpcEveryPeriodAtDispatchLevel)
{
    DpcRecord record;
    KeInitializeEvent(&record.done, NotificationEvent, FALSE);
    KDPC dpc;
    KeInitializeDpc(&dpc, RecordDpc, &record);
    KTIMER timer;
    KeInitializeTimer(&timer);
    ULONGLONG start = Now();
    KeSetTimerEx(&timer, RelativeMs(10), 5, &dpc);
    KeWaitForSingleObject(&record.done, Executive, KernelMode, FALSE, nullptr);
    KeCancelTimer(&timer);
    KeFlushQueuedDpcs();
    EXPECT_EQ(3, record.count);
    EXPECT_EQ(DISPATCH_LEVEL, record.irql);
    EXPECT_EQ(start + 100000, record.times[0]);
    EXPECT_EQ(start + 150000, record.times[1]);
    EXPECT_EQ(start + 200000, record.times[2]);
}

struct BusyDpc {
    volatile LONG started = 0;
    volatile LONG release = 0;
};

void SpinUntilReleased(PKDPC, PVOID context, PVOID, PVOID)
{
    auto *busy = static_cast<BusyDpc *>(context);
    busy->started = 1;
    while (!busy->release)
        YieldProcessor();
}

TEST_F(TimerTest, DpcIsQueuedOnceAndCanBeRemovedBeforeItRuns)
{
    // Keep the DPC thread busy so that the second DPC stays queued.
    BusyDpc busy;
    KDPC blocker;
    KeInitializeDpc(&blocker, SpinUntilReleased, &busy);
    KeInsertQueueDpc(&blocker, nullptr, nullptr);
    while (!busy.started)
        YieldProcessor();

    DpcRecord record;
    KeInitializeEvent(&record.done, NotificationEvent, FALSE);
    KDPC dpc;
    KeInitializeDpc(&dpc, RecordDpc, &record);
    EXPECT_TRUE(KeInsertQueueDpc(&dpc, &record, nullptr));
    EXPECT_FALSE(KeInsertQueueDpc(&dpc, nullptr, nullptr));
    EXPECT_TRUE(KeRemoveQueueDpc(&dpc));
    EXPECT_FALSE(KeRemoveQueueDpc(&dpc));
    EXPECT_TRUE(KeInsertQueueDpc(&dpc, &record, nullptr));
    busy.release = 1;
    KeFlushQueuedDpcs();
    EXPECT_EQ(1, record.count);
    EXPECT_EQ(&record, record.argument);
}

} // namespace

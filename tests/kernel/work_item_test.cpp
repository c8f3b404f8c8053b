// I/O work items: routines run later, in queue order, at PASSIVE_LEVEL on a system worker
// thread, with the device object referenced until they return; and the misuse Windows rejects.
#include "io_test_driver.h"

#include <mutex>
#include <string>

namespace {

struct Run {
    int index;
    PDEVICE_OBJECT device;
    KIRQL irql;
    PKTHREAD thread;
    LONG_PTR deviceReferences;
};

struct WorkLog {
    std::mutex lock; // routines of different queues run concurrently
    std::vector<Run> runs;
    size_t expected = 0; // `done` is set when this many routines have run
    KEVENT done;
    KEVENT gate; // with blockFirst, item 0's routine waits for it
    bool blockFirst = false;
};

struct Item {
    WorkLog *log;
    int index;
    PIO_WORKITEM item;
};

void RecordRun(PDEVICE_OBJECT DeviceObject, PVOID Context)
{
    auto *work = static_cast<Item *>(Context);
    WorkLog &log = *work->log;
    size_t count;
    {
        std::lock_guard<std::mutex> guard(log.lock);
        log.runs.push_back({work->index, DeviceObject, KeGetCurrentIrql(), KeGetCurrentThread(),
                            host::HeaderOfObject(DeviceObject)->pointerCount.load()});
        count = log.runs.size();
    }
    if (log.blockFirst && work->index == 0)
        KeWaitForSingleObject(&log.gate, Executive, KernelMode, FALSE, nullptr);
    if (count == log.expected)
        KeSetEvent(&log.done, IO_NO_INCREMENT, FALSE);
}

class WorkItemTest : public IoTest {
protected:
    WorkItemTest()
    {
        KeInitializeEvent(&log_.done, NotificationEvent, FALSE);
        KeInitializeEvent(&log_.gate, NotificationEvent, FALSE);
    }
    void TearDown() override
    {
        for (Item &item : items_)
            IoFreeWorkItem(item.item);
        IoTest::TearDown();
    }
    // Allocates the test's work items for `device`, expecting all of them to run.
    void MakeItems(PDEVICE_OBJECT device, int count)
    {
        for (int i = 0; i < count; ++i)
            items_.push_back({&log_, i, IoAllocateWorkItem(device)});
        log_.expected = items_.size();
    }
    void Queue(int index, WORK_QUEUE_TYPE type = DelayedWorkQueue)
    {
        IoQueueWorkItem(items_[index].item, RecordRun, type, &items_[index]);
    }
    void WaitForAll() { KeWaitForSingleObject(&log_.done, Executive, KernelMode, FALSE, nullptr); }
    void ExpectUsageReport(const char *what)
    {
        std::vector<host::VerifierReport> reports = Take(host::VerifierCheck::Usage);
        ASSERT_EQ(1u, reports.size());
        EXPECT_NE(std::string::npos, reports[0].message.find(what)) << reports[0].message;
    }

    WorkLog log_;
    std::vector<Item> items_;
};

TEST_F(WorkItemTest, ItemsRunInQueueOrderAtPassiveLevelOnAWorkerThread)
{
    PDEVICE_OBJECT device = AddDevice();
    MakeItems(device, 5);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old); // as from a completion routine
    for (int i = 0; i < 5; ++i)
        Queue(i);
    KeLowerIrql(old);
    WaitForAll();
    ASSERT_EQ(5u, log_.runs.size());
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(i, log_.runs[i].index);
        EXPECT_EQ(device, log_.runs[i].device);
        EXPECT_EQ(PASSIVE_LEVEL, log_.runs[i].irql);
        EXPECT_NE(KeGetCurrentThread(), log_.runs[i].thread);
        EXPECT_EQ(log_.runs[0].thread, log_.runs[i].thread);
    }
}

TEST_F(WorkItemTest, EachQueueTypeHasItsOwnWorker)
{
    PDEVICE_OBJECT device = AddDevice();
    MakeItems(device, 2);
    Queue(0, CriticalWorkQueue);
    Queue(1, DelayedWorkQueue);
    WaitForAll();
    ASSERT_EQ(2u, log_.runs.size());
    EXPECT_NE(log_.runs[0].thread, log_.runs[1].thread);
}

TEST_F(WorkItemTest, TheDeviceStaysReferencedUntilTheRoutineReturns)
{
    PDEVICE_OBJECT device = AddDevice();
    MakeItems(device, 3);
    log_.blockFirst = true; // items 1 and 2 are both queued before either runs
    for (int i = 0; i < 3; ++i)
        Queue(i);
    KeSetEvent(&log_.gate, IO_NO_INCREMENT, FALSE);
    WaitForAll();
    // Item 1 ran with the creation reference and the references of items 1 and 2: item 0's
    // was dropped when its routine returned. Item 2 no longer saw item 1's.
    EXPECT_EQ(3, log_.runs[1].deviceReferences);
    EXPECT_EQ(2, log_.runs[2].deviceReferences);
}

TEST_F(WorkItemTest, ADeletedDeviceOutlivesItsQueuedItems)
{
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              IoCreateDevice(driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device));
    MakeItems(device, 2);
    log_.blockFirst = true;
    Queue(0);
    Queue(1);
    IoDeleteDevice(device); // only the queued items keep it alive now
    KeSetEvent(&log_.gate, IO_NO_INCREMENT, FALSE);
    WaitForAll();
    EXPECT_EQ(1, log_.runs[1].deviceReferences);
}

struct SelfFreeing {
    int runs = 0;
    int requeues = 0;
    KEVENT done;
};

void RequeueThenFree(PVOID IoObject, PVOID Context, PIO_WORKITEM IoWorkItem)
{
    auto *state = static_cast<SelfFreeing *>(Context);
    ++state->runs;
    if (state->runs <= state->requeues) {
        IoQueueWorkItemEx(IoWorkItem, RequeueThenFree, DelayedWorkQueue, Context);
        return;
    }
    EXPECT_NE(nullptr, IoObject);
    IoFreeWorkItem(IoWorkItem); // as a render completion's item does
    KeSetEvent(&state->done, IO_NO_INCREMENT, FALSE);
}

TEST_F(WorkItemTest, ARoutineMayRequeueOrFreeItsOwnItem)
{
    PDEVICE_OBJECT device = AddDevice();
    SelfFreeing state;
    state.requeues = 3;
    KeInitializeEvent(&state.done, NotificationEvent, FALSE);
    IoQueueWorkItemEx(IoAllocateWorkItem(device), RequeueThenFree, DelayedWorkQueue, &state);
    KeWaitForSingleObject(&state.done, Executive, KernelMode, FALSE, nullptr);
    EXPECT_EQ(4, state.runs);
}

TEST_F(WorkItemTest, ShutdownRunsWhatIsQueuedAndRefusesNewItems)
{
    PDEVICE_OBJECT device = AddDevice();
    MakeItems(device, 4);
    for (int i = 0; i < 3; ++i)
        Queue(i);
    M().Io().Shutdown();
    EXPECT_EQ(3u, log_.runs.size());
    Queue(3);
    ExpectUsageReport("shut down");
    EXPECT_EQ(3u, log_.runs.size());
    EXPECT_EQ(1, host::HeaderOfObject(device)->pointerCount.load());
}

TEST_F(WorkItemTest, QueueingAnItemThatIsAlreadyQueuedIsReported)
{
    PDEVICE_OBJECT device = AddDevice();
    MakeItems(device, 2);
    log_.blockFirst = true;
    Queue(0);
    Queue(1);
    Queue(1); // still waiting behind item 0
    ExpectUsageReport("already queued");
    KeSetEvent(&log_.gate, IO_NO_INCREMENT, FALSE);
    WaitForAll();
    EXPECT_EQ(2u, log_.runs.size());
}

TEST_F(WorkItemTest, FreeingAQueuedItemIsReported)
{
    PDEVICE_OBJECT device = AddDevice();
    MakeItems(device, 2);
    log_.blockFirst = true;
    Queue(0);
    Queue(1);
    IoFreeWorkItem(items_[1].item);
    ExpectUsageReport("while the work item is queued");
    KeSetEvent(&log_.gate, IO_NO_INCREMENT, FALSE);
    WaitForAll();
}

TEST_F(WorkItemTest, AnUnknownQueueTypeIsReported)
{
    PDEVICE_OBJECT device = AddDevice();
    MakeItems(device, 1);
    Queue(0, MaximumWorkQueue);
    ExpectUsageReport("queue type");
    EXPECT_EQ(1, host::HeaderOfObject(device)->pointerCount.load());
}

void ReturnsAtDispatchLevel(PDEVICE_OBJECT, PVOID Context)
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    KeSetEvent(static_cast<PKEVENT>(Context), IO_NO_INCREMENT, FALSE);
}

TEST_F(WorkItemTest, ARoutineReturningAbovePassiveLevelIsReported)
{
    PDEVICE_OBJECT device = AddDevice();
    MakeItems(device, 1);
    KEVENT ran;
    KeInitializeEvent(&ran, NotificationEvent, FALSE);
    IoQueueWorkItem(items_[0].item, ReturnsAtDispatchLevel, DelayedWorkQueue, &ran);
    KeWaitForSingleObject(&ran, Executive, KernelMode, FALSE, nullptr);
    M().Io().Shutdown(); // the worker has finished with the item once it has stopped
    std::vector<host::VerifierReport> reports = Take(host::VerifierCheck::Irql);
    ASSERT_EQ(1u, reports.size());
    EXPECT_NE(std::string::npos, reports[0].message.find("WORKER_THREAD_RETURNED_AT_BAD_IRQL"))
        << reports[0].message;
}

} // namespace

// Events, semaphores, mutexes and the waits on them: wait-any/wait-all semantics and every
// return code the driver can see.
#include "kernel_fixture.h"

namespace {

class DispatcherTest : public KernelTest {
protected:
    NTSTATUS AnyOf(ULONG count, PVOID *objects, LONGLONG timeoutMs = -1)
    {
        LARGE_INTEGER timeout = RelativeMs(timeoutMs);
        return KeWaitForMultipleObjects(count, objects, WaitAny, Executive, KernelMode, FALSE,
                                        timeoutMs >= 0 ? &timeout : nullptr, nullptr);
    }
    NTSTATUS AllOf(ULONG count, PVOID *objects, LONGLONG timeoutMs = -1)
    {
        LARGE_INTEGER timeout = RelativeMs(timeoutMs);
        return KeWaitForMultipleObjects(count, objects, WaitAll, Executive, KernelMode, FALSE,
                                        timeoutMs >= 0 ? &timeout : nullptr, nullptr);
    }
    // Runs fn on a system thread after a virtual delay.
    PKTHREAD After(LONGLONG ms, std::function<void()> fn)
    {
        return M().StartThread("helper", M().SystemProcess(), [ms, fn] {
            LARGE_INTEGER delay = RelativeMs(ms);
            KeDelayExecutionThread(KernelMode, FALSE, &delay);
            fn();
        });
    }
    void Join(PKTHREAD thread)
    {
        KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(thread);
    }
};

TEST_F(DispatcherTest, NotificationEventStaysSignalledAndWakesEveryWaiter)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    LONG woken = 0;
    PKTHREAD waiters[3];
    for (auto &w : waiters)
        w = M().StartThread("waiter", M().SystemProcess(), [&] {
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
            InterlockedIncrement(&woken);
        });
    EXPECT_EQ(0, KeSetEvent(&event, IO_NO_INCREMENT, FALSE));
    for (auto w : waiters)
        Join(w);
    EXPECT_EQ(3, woken);
    EXPECT_EQ(1, KeReadStateEvent(&event));
    EXPECT_EQ(1, KeSetEvent(&event, IO_NO_INCREMENT, FALSE)); // previous state
    EXPECT_EQ(1, KeResetEvent(&event));
    EXPECT_EQ(0, KeReadStateEvent(&event));
}

TEST_F(DispatcherTest, SynchronizationEventResetsWhenOneWaitIsSatisfied)
{
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, TRUE);
    PVOID objects[] = {&event};
    EXPECT_EQ(STATUS_WAIT_0, AnyOf(1, objects, 0));
    EXPECT_EQ(0, KeReadStateEvent(&event));
    EXPECT_EQ(STATUS_TIMEOUT, AnyOf(1, objects, 0));

    // Two waiters, one signal: exactly one wakes; the other times out.
    LONG woken = 0;
    auto waiter = [&] {
        LARGE_INTEGER t = RelativeMs(50);
        if (KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &t) == STATUS_WAIT_0)
            InterlockedIncrement(&woken);
    };
    PKTHREAD a = M().StartThread("a", M().SystemProcess(), waiter);
    PKTHREAD b = M().StartThread("b", M().SystemProcess(), waiter);
    PKTHREAD setter = After(10, [&] { KeSetEvent(&event, 0, FALSE); });
    Join(a);
    Join(b);
    Join(setter);
    EXPECT_EQ(1, woken);
    EXPECT_EQ(0, KeReadStateEvent(&event));
}

TEST_F(DispatcherTest, WaitAnyReturnsTheIndexOfTheFirstSignalledObject)
{
    KEVENT e[3];
    for (auto &x : e)
        KeInitializeEvent(&x, NotificationEvent, FALSE);
    PVOID objects[] = {&e[0], &e[1], &e[2]};
    KeSetEvent(&e[2], 0, FALSE);
    KeSetEvent(&e[1], 0, FALSE);
    EXPECT_EQ(STATUS_WAIT_0 + 1, AnyOf(3, objects));
    KeClearEvent(&e[1]);
    EXPECT_EQ(STATUS_WAIT_0 + 2, AnyOf(3, objects));
    KeClearEvent(&e[2]);

    PKTHREAD setter = After(7, [&] { KeSetEvent(&e[0], 0, FALSE); });
    ULONGLONG before = Now();
    EXPECT_EQ(STATUS_WAIT_0, AnyOf(3, objects, 1000));
    EXPECT_EQ(before + 70000, Now());
    Join(setter);
}

TEST_F(DispatcherTest, WaitAllNeedsEveryObjectAndConsumesThemTogether)
{
    KEVENT notification;
    KEVENT synchronization;
    KSEMAPHORE semaphore;
    KeInitializeEvent(&notification, NotificationEvent, FALSE);
    KeInitializeEvent(&synchronization, SynchronizationEvent, TRUE);
    KeInitializeSemaphore(&semaphore, 1, 5);
    PVOID objects[] = {&notification, &synchronization, &semaphore};

    // Not all signalled: nothing is consumed, the poll times out.
    EXPECT_EQ(STATUS_TIMEOUT, AllOf(3, objects, 0));
    EXPECT_EQ(1, KeReadStateEvent(&synchronization));
    EXPECT_EQ(1, KeReadStateSemaphore(&semaphore));

    PKTHREAD setter = After(3, [&] { KeSetEvent(&notification, 0, FALSE); });
    EXPECT_EQ(STATUS_SUCCESS, AllOf(3, objects));
    Join(setter);
    EXPECT_EQ(1, KeReadStateEvent(&notification));
    EXPECT_EQ(0, KeReadStateEvent(&synchronization));
    EXPECT_EQ(0, KeReadStateSemaphore(&semaphore));
}

TEST_F(DispatcherTest, WaitAllWithTimeoutReturnsTimeoutAtTheDeadline)
{
    KEVENT a;
    KEVENT b;
    KeInitializeEvent(&a, NotificationEvent, TRUE);
    KeInitializeEvent(&b, NotificationEvent, FALSE);
    PVOID objects[] = {&a, &b};
    ULONGLONG before = Now();
    EXPECT_EQ(STATUS_TIMEOUT, AllOf(2, objects, 25));
    EXPECT_EQ(before + 250000, Now());
}

TEST_F(DispatcherTest, MoreThanThreeObjectsNeedAWaitBlockArray)
{
    KEVENT e[5];
    PVOID objects[5];
    for (int i = 0; i < 5; ++i) {
        KeInitializeEvent(&e[i], NotificationEvent, i == 4);
        objects[i] = &e[i];
    }
    EXPECT_EQ(STATUS_INVALID_PARAMETER, AnyOf(5, objects));
    EXPECT_EQ(1u, Take(host::VerifierCheck::Usage).size());

    KWAIT_BLOCK blocks[5];
    EXPECT_EQ(STATUS_WAIT_0 + 4, KeWaitForMultipleObjects(5, objects, WaitAny, Executive,
                                                          KernelMode, FALSE, nullptr, blocks));
}

TEST_F(DispatcherTest, SemaphoreCountsAndItsLimit)
{
    KSEMAPHORE semaphore;
    KeInitializeSemaphore(&semaphore, 0, 2);
    EXPECT_EQ(0, KeReleaseSemaphore(&semaphore, 0, 2, FALSE));
    EXPECT_EQ(2, KeReadStateSemaphore(&semaphore));

    // Past the limit: refused (Windows raises STATUS_SEMAPHORE_LIMIT_EXCEEDED), count unchanged.
    EXPECT_EQ(2, KeReleaseSemaphore(&semaphore, 0, 1, FALSE));
    EXPECT_EQ(2, KeReadStateSemaphore(&semaphore));
    EXPECT_EQ(1u, Take(host::VerifierCheck::Dispatcher).size());

    PVOID objects[] = {&semaphore};
    EXPECT_EQ(STATUS_WAIT_0, AnyOf(1, objects, 0));
    EXPECT_EQ(STATUS_WAIT_0, AnyOf(1, objects, 0));
    EXPECT_EQ(STATUS_TIMEOUT, AnyOf(1, objects, 0));

    // A release by two wakes two blocked waiters.
    LONG woken = 0;
    auto waiter = [&] {
        KeWaitForSingleObject(&semaphore, Executive, KernelMode, FALSE, nullptr);
        InterlockedIncrement(&woken);
    };
    PKTHREAD a = M().StartThread("a", M().SystemProcess(), waiter);
    PKTHREAD b = M().StartThread("b", M().SystemProcess(), waiter);
    PKTHREAD releaser = After(1, [&] { KeReleaseSemaphore(&semaphore, 0, 2, FALSE); });
    Join(a);
    Join(b);
    Join(releaser);
    EXPECT_EQ(2, woken);
    EXPECT_EQ(0, KeReadStateSemaphore(&semaphore));
}

// Re-initialising would drop the waiters' wait blocks on Windows; the object is kept and the
// call reported, for events and semaphores alike. Without waiters it is an ordinary reset.
TEST_F(DispatcherTest, ReinitialisingAnObjectThreadsWaitOnIsReported)
{
    KEVENT event;
    KSEMAPHORE semaphore;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    KeInitializeSemaphore(&semaphore, 0, 1);
    PKTHREAD waiter = M().StartThread("waiter", M().SystemProcess(), [&] {
        PVOID objects[] = {&event, &semaphore};
        KeWaitForMultipleObjects(2, objects, WaitAll, Executive, KernelMode, FALSE, nullptr,
                                 nullptr);
    });
    LARGE_INTEGER tick = RelativeMs(1);
    KeDelayExecutionThread(KernelMode, FALSE, &tick); // the waiter is parked now
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    KeInitializeSemaphore(&semaphore, 0, 1);
    EXPECT_EQ(2u, Take(host::VerifierCheck::Dispatcher).size());

    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    KeReleaseSemaphore(&semaphore, IO_NO_INCREMENT, 1, FALSE);
    Join(waiter); // still woken: its wait blocks survived
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    KeInitializeSemaphore(&semaphore, 1, 1);
    EXPECT_EQ(0u, Take(host::VerifierCheck::Dispatcher).size());
}

TEST_F(DispatcherTest, MutexIsRecursiveForItsOwnerAndExclusiveForOthers)
{
    KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    EXPECT_EQ(1, KeReadStateMutex(&mutex));
    EXPECT_EQ(STATUS_WAIT_0, KeWaitForMutexObject(&mutex, Executive, KernelMode, FALSE, nullptr));
    EXPECT_EQ(STATUS_WAIT_0, KeWaitForMutexObject(&mutex, Executive, KernelMode, FALSE, nullptr));
    EXPECT_EQ(-1, KeReadStateMutex(&mutex));

    NTSTATUS other = STATUS_PENDING;
    PKTHREAD contender = M().StartThread("contender", M().SystemProcess(), [&] {
        LARGE_INTEGER poll = {};
        other = KeWaitForMutexObject(&mutex, Executive, KernelMode, FALSE, &poll);
    });
    Join(contender);
    EXPECT_EQ(STATUS_TIMEOUT, other);

    EXPECT_EQ(-1, KeReleaseMutex(&mutex, FALSE));
    EXPECT_EQ(0, KeReleaseMutex(&mutex, FALSE));
    EXPECT_EQ(1, KeReadStateMutex(&mutex));
}

TEST_F(DispatcherTest, ReleasingAMutexOneDoesNotOwnIsReported)
{
    KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    KeReleaseMutex(&mutex, FALSE);
    EXPECT_EQ(1u, Take(host::VerifierCheck::Dispatcher).size());
    EXPECT_EQ(1, KeReadStateMutex(&mutex));
}

TEST_F(DispatcherTest, MutexOfATerminatedThreadIsAbandoned)
{
    KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    PKTHREAD owner = M().StartThread("owner", M().SystemProcess(), [&] {
        KeWaitForMutexObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    });
    Join(owner);
    EXPECT_EQ(1u, Take(host::VerifierCheck::Thread).size());
    EXPECT_EQ(STATUS_ABANDONED_WAIT_0,
              KeWaitForMutexObject(&mutex, Executive, KernelMode, FALSE, nullptr));
    KeReleaseMutex(&mutex, FALSE);
}

TEST_F(DispatcherTest, ThreadObjectIsSignalledWhenTheThreadEnds)
{
    HANDLE handle = nullptr;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    static LONG ran;
    ran = 0;
    ASSERT_EQ(STATUS_SUCCESS, PsCreateSystemThread(
                                  &handle, THREAD_ALL_ACCESS, &attributes, nullptr, nullptr,
                                  [](PVOID) {
                                      LARGE_INTEGER d = RelativeMs(5);
                                      KeDelayExecutionThread(KernelMode, FALSE, &d);
                                      ran = 1;
                                      PsTerminateSystemThread(STATUS_SUCCESS);
                                      ran = 2; // never reached
                                  },
                                  nullptr));
    PVOID thread = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, ObReferenceObjectByHandle(handle, SYNCHRONIZE, *PsThreadType,
                                                        KernelMode, &thread, nullptr));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(handle));
    EXPECT_EQ(STATUS_WAIT_0, KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr));
    EXPECT_EQ(1, ran);
    ObDereferenceObject(thread);
}

TEST_F(DispatcherTest, WaitingAtDispatchLevelWithATimeoutIsReported)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    LARGE_INTEGER poll = {};
    EXPECT_EQ(STATUS_WAIT_0, KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &poll));
    EXPECT_TRUE(Take(host::VerifierCheck::Irql).empty()); // a zero time-out is allowed
    EXPECT_EQ(STATUS_WAIT_0, KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr));
    KeLowerIrql(old);
    EXPECT_EQ(1u, Take(host::VerifierCheck::Irql).size());
}

} // namespace

// IRQL bookkeeping and spin locks, with the verifier's pairing and level rules.
#include "kernel_fixture.h"

namespace {

class SpinLockTest : public KernelTest {};

TEST_F(SpinLockTest, AcquireRaisesToDispatchAndReleaseRestores)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    EXPECT_EQ(PASSIVE_LEVEL, old);
    EXPECT_EQ(DISPATCH_LEVEL, KeGetCurrentIrql());
    EXPECT_FALSE(KeTestSpinLock(&lock));
    KeReleaseSpinLock(&lock, old);
    EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
    EXPECT_TRUE(KeTestSpinLock(&lock));

    KLOCK_QUEUE_HANDLE handle;
    KeAcquireInStackQueuedSpinLock(&lock, &handle);
    EXPECT_EQ(DISPATCH_LEVEL, KeGetCurrentIrql());
    KLOCK_QUEUE_HANDLE inner;
    KSPIN_LOCK second;
    KeInitializeSpinLock(&second);
    KeAcquireInStackQueuedSpinLockAtDpcLevel(&second, &inner);
    KeReleaseInStackQueuedSpinLockFromDpcLevel(&inner);
    KeReleaseInStackQueuedSpinLock(&handle);
    EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
}

TEST_F(SpinLockTest, LockExcludesAnotherThread)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    volatile LONG counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            KIRQL old;
            KeAcquireSpinLock(&lock, &old);
            counter = counter + 1; // not atomic: only the lock protects it
            KeReleaseSpinLock(&lock, old);
        }
    };
    PKTHREAD other = M().StartThread("other", M().SystemProcess(), work);
    work();
    KeWaitForSingleObject(other, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(other);
    EXPECT_EQ(40000, counter);
}

TEST_F(SpinLockTest, PairingMistakesAreReported)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KeReleaseSpinLockFromDpcLevel(&lock); // not held, and below DISPATCH_LEVEL
    EXPECT_EQ(1u, Take(host::VerifierCheck::SpinLock).size());
    EXPECT_EQ(1u, Take(host::VerifierCheck::Irql).size());

    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    KIRQL again;
    KeAcquireSpinLock(&lock, &again); // would hang on Windows
    EXPECT_EQ(1u, Take(host::VerifierCheck::SpinLock).size());
    KeLowerIrql(PASSIVE_LEVEL); // lowering while holding it
    EXPECT_EQ(1u, Take(host::VerifierCheck::SpinLock).size());
    KeRaiseIrql(DISPATCH_LEVEL, &again);
    KeReleaseSpinLock(&lock, old);
}

TEST_F(SpinLockTest, AtDpcLevelFormsNeedDispatchLevel)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KeAcquireSpinLockAtDpcLevel(&lock);
    EXPECT_EQ(1u, Take(host::VerifierCheck::Irql).size());
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    KeReleaseSpinLockFromDpcLevel(&lock);
    KeLowerIrql(old);
}

TEST_F(SpinLockTest, IrqlMovesOnlyInTheAllowedDirection)
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    KIRQL ignored;
    KeRaiseIrql(APC_LEVEL, &ignored); // a "raise" to a lower level
    EXPECT_EQ(1u, Take(host::VerifierCheck::Irql).size());
    KeLowerIrql(PASSIVE_LEVEL);
    KeLowerIrql(APC_LEVEL); // a "lower" to a higher level
    EXPECT_EQ(1u, Take(host::VerifierCheck::Irql).size());
    EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
}

void PageableRoutine() { PAGED_CODE(); }

TEST_F(SpinLockTest, PageableCodeAboveApcLevelIsReported)
{
    PageableRoutine();
    EXPECT_TRUE(Take(host::VerifierCheck::Irql).empty());
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    PageableRoutine();
    KeLowerIrql(old);
    auto reports = Take(host::VerifierCheck::Irql);
    ASSERT_EQ(1u, reports.size());
    EXPECT_NE(std::string::npos, reports[0].message.find("PageableRoutine"));
}

TEST_F(SpinLockTest, ThreadEndingWithALockHeldIsReported)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    PKTHREAD t = M().StartThread("leaker", M().SystemProcess(), [&] {
        KIRQL old;
        KeAcquireSpinLock(&lock, &old);
    });
    KeWaitForSingleObject(t, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(t);
    EXPECT_EQ(1u, Take(host::VerifierCheck::Thread).size());
}

} // namespace

// IRQL per emulated thread and spin locks. A spin lock word holds its owner thread, so the
// verifier can tell a recursive acquire (a hang on Windows) and a release by a non-owner.
#include "machine.h"

#include <algorithm>
#include <string>
#include <thread>

namespace {

void ReportIrql(PKTHREAD thread, const std::string &text)
{
    thread->machine->Checks().Report(host::VerifierCheck::Irql, text);
}

void AcquireWord(PKTHREAD thread, PKSPIN_LOCK lock, const char *entryPoint)
{
    auto owner = reinterpret_cast<ULONG_PTR>(thread);
    if (__atomic_load_n(lock, __ATOMIC_RELAXED) == owner) {
        thread->machine->Checks().Report(host::VerifierCheck::SpinLock,
                                         std::string(entryPoint) + " on a spin lock thread '" +
                                             thread->name + "' already holds (would hang)");
        return;
    }
    unsigned spins = 0;
    for (;;) {
        ULONG_PTR expected = 0;
        if (__atomic_compare_exchange_n(lock, &expected, owner, false, __ATOMIC_ACQUIRE,
                                        __ATOMIC_RELAXED))
            break;
        // Another emulated thread holds it; it counts as running, so time cannot move on.
        if (++spins < 64) {
            __builtin_ia32_pause();
        } else {
            if (thread->handedOff)
                thread->machine->Clock().Settle(thread); // a held-up holder may go on
            std::this_thread::yield();
        }
    }
    thread->spinLocksHeld.push_back(lock);
}

void ReleaseWord(PKTHREAD thread, PKSPIN_LOCK lock, const char *entryPoint)
{
    auto owner = reinterpret_cast<ULONG_PTR>(thread);
    if (__atomic_load_n(lock, __ATOMIC_RELAXED) != owner) {
        thread->machine->Checks().Report(host::VerifierCheck::SpinLock,
                                         std::string(entryPoint) + " by thread '" + thread->name +
                                             "', which does not hold the lock");
        return;
    }
    auto &held = thread->spinLocksHeld;
    held.erase(std::find(held.begin(), held.end(), lock));
    __atomic_store_n(lock, 0, __ATOMIC_RELEASE);
}

void RequireDispatchLevel(PKTHREAD thread, const char *entryPoint)
{
    if (thread->irql < DISPATCH_LEVEL)
        ReportIrql(thread, std::string(entryPoint) + " below DISPATCH_LEVEL (IRQL " +
                               std::to_string(thread->irql) + ")");
}

KIRQL RaiseToDispatch(PKTHREAD thread, const char *entryPoint)
{
    KIRQL old = thread->irql;
    if (old > DISPATCH_LEVEL)
        ReportIrql(thread, std::string(entryPoint) + " above DISPATCH_LEVEL");
    else
        thread->irql = DISPATCH_LEVEL;
    return old;
}

void LowerTo(PKTHREAD thread, KIRQL irql, const char *entryPoint)
{
    if (irql > thread->irql) {
        ReportIrql(thread, std::string(entryPoint) + " to IRQL " + std::to_string(irql) +
                               ", above the current IRQL " + std::to_string(thread->irql));
        return;
    }
    if (irql < DISPATCH_LEVEL && !thread->spinLocksHeld.empty())
        thread->machine->Checks().Report(host::VerifierCheck::SpinLock,
                                         std::string(entryPoint) +
                                             " below DISPATCH_LEVEL while holding a spin lock");
    thread->irql = irql;
}

} // namespace

extern "C" {

void HostCheckPagedCode(const char *function)
{
    PKTHREAD thread = host::CurrentThread(function);
    if (thread->irql > APC_LEVEL)
        ReportIrql(thread, std::string("pageable code (") + function + ") at IRQL " +
                               std::to_string(thread->irql));
}

KIRQL KeGetCurrentIrql(void) { return host::CurrentThread("KeGetCurrentIrql")->irql; }

void KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql)
{
    PKTHREAD thread = host::CurrentThread("KeRaiseIrql");
    *OldIrql = thread->irql;
    if (NewIrql < thread->irql) {
        ReportIrql(thread, "KeRaiseIrql to IRQL " + std::to_string(NewIrql) +
                               ", below the current IRQL " + std::to_string(thread->irql));
        return;
    }
    thread->irql = NewIrql;
}

void KeLowerIrql(KIRQL NewIrql)
{
    LowerTo(host::CurrentThread("KeLowerIrql"), NewIrql, "KeLowerIrql");
}

KIRQL KeRaiseIrqlToDpcLevel(void)
{
    return RaiseToDispatch(host::CurrentThread("KeRaiseIrqlToDpcLevel"), "KeRaiseIrqlToDpcLevel");
}

void KeInitializeSpinLock(PKSPIN_LOCK SpinLock) { *SpinLock = 0; }

BOOLEAN KeTestSpinLock(PKSPIN_LOCK SpinLock)
{
    return __atomic_load_n(SpinLock, __ATOMIC_RELAXED) == 0;
}

KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock)
{
    PKTHREAD thread = host::CurrentThread("KeAcquireSpinLock");
    KIRQL old = RaiseToDispatch(thread, "KeAcquireSpinLock");
    AcquireWord(thread, SpinLock, "KeAcquireSpinLock");
    return old;
}

void KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql)
{
    PKTHREAD thread = host::CurrentThread("KeReleaseSpinLock");
    ReleaseWord(thread, SpinLock, "KeReleaseSpinLock");
    LowerTo(thread, NewIrql, "KeReleaseSpinLock");
}

void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock)
{
    PKTHREAD thread = host::CurrentThread("KeAcquireSpinLockAtDpcLevel");
    RequireDispatchLevel(thread, "KeAcquireSpinLockAtDpcLevel");
    AcquireWord(thread, SpinLock, "KeAcquireSpinLockAtDpcLevel");
}

void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock)
{
    PKTHREAD thread = host::CurrentThread("KeReleaseSpinLockFromDpcLevel");
    RequireDispatchLevel(thread, "KeReleaseSpinLockFromDpcLevel");
    ReleaseWord(thread, SpinLock, "KeReleaseSpinLockFromDpcLevel");
}

void KeAcquireInStackQueuedSpinLock(PKSPIN_LOCK SpinLock, PKLOCK_QUEUE_HANDLE LockHandle)
{
    PKTHREAD thread = host::CurrentThread("KeAcquireInStackQueuedSpinLock");
    LockHandle->OldIrql = RaiseToDispatch(thread, "KeAcquireInStackQueuedSpinLock");
    LockHandle->LockQueue.Next = nullptr;
    LockHandle->LockQueue.Lock = SpinLock;
    AcquireWord(thread, SpinLock, "KeAcquireInStackQueuedSpinLock");
}

void KeReleaseInStackQueuedSpinLock(PKLOCK_QUEUE_HANDLE LockHandle)
{
    PKTHREAD thread = host::CurrentThread("KeReleaseInStackQueuedSpinLock");
    ReleaseWord(thread, LockHandle->LockQueue.Lock, "KeReleaseInStackQueuedSpinLock");
    LowerTo(thread, LockHandle->OldIrql, "KeReleaseInStackQueuedSpinLock");
}

void KeAcquireInStackQueuedSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock, PKLOCK_QUEUE_HANDLE LockHandle)
{
    PKTHREAD thread = host::CurrentThread("KeAcquireInStackQueuedSpinLockAtDpcLevel");
    RequireDispatchLevel(thread, "KeAcquireInStackQueuedSpinLockAtDpcLevel");
    LockHandle->OldIrql = thread->irql;
    LockHandle->LockQueue.Next = nullptr;
    LockHandle->LockQueue.Lock = SpinLock;
    AcquireWord(thread, SpinLock, "KeAcquireInStackQueuedSpinLockAtDpcLevel");
}

void KeReleaseInStackQueuedSpinLockFromDpcLevel(PKLOCK_QUEUE_HANDLE LockHandle)
{
    PKTHREAD thread = host::CurrentThread("KeReleaseInStackQueuedSpinLockFromDpcLevel");
    RequireDispatchLevel(thread, "KeReleaseInStackQueuedSpinLockFromDpcLevel");
    ReleaseWord(thread, LockHandle->LockQueue.Lock, "KeReleaseInStackQueuedSpinLockFromDpcLevel");
}

} // extern "C"

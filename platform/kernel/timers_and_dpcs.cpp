// Kernel timers (one-shot and periodic, with or without a DPC), the DPC queue and the clock
// queries, all on the machine's clock.
#include "dispatcher.h"
#include "machine.h"

#include <wdm/ex.h>

namespace {

constexpr UCHAR kDpcObject = 0x13;
constexpr ULONG kTimeIncrement = 156250; // 15.625 ms clock tick, in 100 ns units
PVOID const kDpcQueued = reinterpret_cast<PVOID>(1);

host::Machine &MachineOfCaller(const char *entryPoint)
{
    return *host::CurrentThread(entryPoint)->machine;
}

} // namespace

namespace host {

bool QueueDpcLocked(Machine &machine, PKDPC dpc, PVOID argument1, PVOID argument2)
{
    if (dpc->DpcData != nullptr)
        return false;
    dpc->DpcData = kDpcQueued;
    dpc->SystemArgument1 = argument1;
    dpc->SystemArgument2 = argument2;
    InsertTailList(&machine.DpcQueueLocked(), &dpc->DpcListEntry);
    machine.DpcIdle().Header.SignalState = 0;
    machine.DpcPending().Header.SignalState = 1;
    SatisfyWaitersLocked(&machine.DpcPending().Header);
    return true;
}

// Runs queued DPCs at DISPATCH_LEVEL, one at a time, in queue order, until the machine stops.
void RunDpcQueue(Machine &machine, const bool &stopping)
{
    PKTHREAD self = CurrentThread("DPC thread");
    for (;;) {
        KeWaitForSingleObject(&machine.DpcPending(), Executive, KernelMode, FALSE, nullptr);
        std::unique_lock<std::mutex> held(machine.Clock().DispatcherLock());
        if (stopping)
            return;
        while (!IsListEmpty(&machine.DpcQueueLocked())) {
            PKDPC dpc =
                CONTAINING_RECORD(RemoveHeadList(&machine.DpcQueueLocked()), KDPC, DpcListEntry);
            dpc->DpcData = nullptr;
            PVOID argument1 = dpc->SystemArgument1;
            PVOID argument2 = dpc->SystemArgument2;
            held.unlock();
            self->irql = DISPATCH_LEVEL;
            dpc->DeferredRoutine(dpc, dpc->DeferredContext, argument1, argument2);
            if (self->irql != DISPATCH_LEVEL || !self->spinLocksHeld.empty())
                machine.Checks().Report(VerifierCheck::Irql,
                                        "a DPC routine returned at another IRQL or holding a "
                                        "spin lock");
            self->irql = PASSIVE_LEVEL;
            held.lock();
        }
        machine.DpcIdle().Header.SignalState = 1;
        SatisfyWaitersLocked(&machine.DpcIdle().Header);
    }
}

} // namespace host

extern "C" {

void KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type)
{
    host::InitializeDispatcherHeader(&Timer->Header,
                                     Type == NotificationTimer ? TimerNotificationObject
                                                               : TimerSynchronizationObject,
                                     sizeof(KTIMER) / sizeof(LONG), 0);
    Timer->DueTime.QuadPart = 0;
    Timer->TimerListEntry.Flink = Timer->TimerListEntry.Blink = nullptr;
    Timer->Dpc = nullptr;
    Timer->Processor = 0;
    Timer->Period = 0;
}

void KeInitializeTimer(PKTIMER Timer) { KeInitializeTimerEx(Timer, NotificationTimer); }

BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc)
{
    host::Machine &machine = MachineOfCaller("KeSetTimerEx");
    if (Period < 0) {
        machine.Checks().Report(host::VerifierCheck::Usage, "KeSetTimerEx with a negative period");
        Period = 0;
    }
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    bool wasSet = machine.Clock().RemoveTimerLocked(Timer);
    ULONGLONG now = machine.Clock().NowLocked();
    Timer->Header.SignalState = 0;
    Timer->Dpc = Dpc;
    Timer->Period = Period;
    Timer->DueTime.QuadPart = host::DeadlineFromDueTime(machine, DueTime.QuadPart, now);
    machine.Clock().InsertTimerLocked(Timer);
    return wasSet;
}

BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc)
{
    return KeSetTimerEx(Timer, DueTime, 0, Dpc);
}

BOOLEAN KeCancelTimer(PKTIMER Timer)
{
    host::Machine &machine = MachineOfCaller("KeCancelTimer");
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    return machine.Clock().RemoveTimerLocked(Timer);
}

BOOLEAN KeReadStateTimer(PKTIMER Timer)
{
    host::Machine &machine = MachineOfCaller("KeReadStateTimer");
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    return Timer->Header.SignalState != 0;
}

void KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext)
{
    Dpc->Type = kDpcObject;
    Dpc->Importance = 1;
    Dpc->Number = 0;
    Dpc->DpcListEntry.Flink = Dpc->DpcListEntry.Blink = nullptr;
    Dpc->DeferredRoutine = DeferredRoutine;
    Dpc->DeferredContext = DeferredContext;
    Dpc->SystemArgument1 = Dpc->SystemArgument2 = nullptr;
    Dpc->DpcData = nullptr;
}

BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2)
{
    host::Machine &machine = MachineOfCaller("KeInsertQueueDpc");
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    return host::QueueDpcLocked(machine, Dpc, SystemArgument1, SystemArgument2);
}

BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc)
{
    host::Machine &machine = MachineOfCaller("KeRemoveQueueDpc");
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    if (Dpc->DpcData == nullptr)
        return FALSE;
    RemoveEntryList(&Dpc->DpcListEntry);
    Dpc->DpcData = nullptr;
    return TRUE;
}

void KeFlushQueuedDpcs(void)
{
    host::Machine &machine = MachineOfCaller("KeFlushQueuedDpcs");
    KeWaitForSingleObject(&machine.DpcIdle(), Executive, KernelMode, FALSE, nullptr);
}

LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER PerformanceFrequency)
{
    if (PerformanceFrequency != nullptr)
        PerformanceFrequency->QuadPart = 10000000; // 100 ns ticks, as on current Windows
    LARGE_INTEGER counter;
    counter.QuadPart = LONGLONG(MachineOfCaller("KeQueryPerformanceCounter").Clock().Now());
    return counter;
}

ULONGLONG KeQueryInterruptTime(void)
{
    return MachineOfCaller("KeQueryInterruptTime").Clock().Now();
}

void KeQuerySystemTime(PLARGE_INTEGER CurrentTime)
{
    CurrentTime->QuadPart =
        host::BootSystemTime() + LONGLONG(MachineOfCaller("KeQuerySystemTime").Clock().Now());
}

void KeQueryTickCount(PLARGE_INTEGER TickCount)
{
    TickCount->QuadPart =
        LONGLONG(MachineOfCaller("KeQueryTickCount").Clock().Now() / kTimeIncrement);
}

ULONG KeQueryTimeIncrement(void) { return kTimeIncrement; }

} // extern "C"

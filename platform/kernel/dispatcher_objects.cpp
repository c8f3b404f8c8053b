// Events, semaphores, mutexes and the waits on them, with the dispatcher-lock discipline of the
// real kernel: an object's waiters are satisfied (and their side effects applied) by the thread
// that signals it, so a woken thread never has to race for what it was given.
#include "dispatcher.h"
#include "machine.h"

#include <wdm/ex.h>

#include <cstdio>
#include <string>

namespace host {

namespace {

// 2026-01-01 00:00:00 UTC in 100 ns units since 1601: the system time at boot.
constexpr LONGLONG kBootSystemTime = 134115840000000000LL;

bool IsSignaledFor(PDISPATCHER_HEADER object, PKTHREAD thread)
{
    if (object->Type == MutantObject)
        return object->SignalState > 0 || reinterpret_cast<PKMUTANT>(object)->OwnerThread == thread;
    return object->SignalState > 0;
}

// Applies the side effect of a satisfied wait; true if it acquired an abandoned mutex.
bool Consume(PDISPATCHER_HEADER object, PKTHREAD thread)
{
    switch (object->Type) {
    case EventSynchronizationObject:
    case TimerSynchronizationObject: object->SignalState = 0; return false;
    case SemaphoreObject: --object->SignalState; return false;
    case MutantObject: {
        auto *mutant = reinterpret_cast<PKMUTANT>(object);
        if (mutant->OwnerThread != thread) {
            mutant->OwnerThread = thread;
            InsertTailList(&thread->ownedMutants, &mutant->MutantListEntry);
        }
        --object->SignalState;
        bool abandoned = mutant->Abandoned != FALSE;
        mutant->Abandoned = FALSE;
        return abandoned;
    }
    default: return false;
    }
}

// Tries to satisfy a wait on objects[0..count) at once.
bool TrySatisfy(PKTHREAD thread, PDISPATCHER_HEADER *objects, ULONG count, WAIT_TYPE type,
                NTSTATUS *status)
{
    if (type == WaitAny) {
        for (ULONG i = 0; i < count; ++i) {
            if (IsSignaledFor(objects[i], thread)) {
                bool abandoned = Consume(objects[i], thread);
                *status = (abandoned ? STATUS_ABANDONED_WAIT_0 : STATUS_WAIT_0) + NTSTATUS(i);
                return true;
            }
        }
        return false;
    }
    for (ULONG i = 0; i < count; ++i)
        if (!IsSignaledFor(objects[i], thread))
            return false;
    bool abandoned = false;
    for (ULONG i = 0; i < count; ++i)
        abandoned |= Consume(objects[i], thread);
    *status = abandoned ? STATUS_ABANDONED_WAIT_0 : STATUS_SUCCESS;
    return true;
}

// The objects a parked thread waits on, from its wait blocks.
ULONG ObjectsOfWait(PKTHREAD thread, PDISPATCHER_HEADER *objects)
{
    for (ULONG i = 0; i < thread->waitCount; ++i)
        objects[i] = static_cast<PDISPATCHER_HEADER>(thread->waitBlocks[i].Object);
    return thread->waitCount;
}

Machine &MachineOfCaller(const char *entryPoint) { return *CurrentThread(entryPoint)->machine; }

void CheckWaitIrql(PKTHREAD thread, const char *entryPoint, bool nonZeroTimeout)
{
    // Waiting with a time-out other than zero needs IRQL <= APC_LEVEL; a zero time-out is a
    // poll and may run at DISPATCH_LEVEL.
    KIRQL limit = nonZeroTimeout ? APC_LEVEL : DISPATCH_LEVEL;
    if (thread->irql > limit)
        thread->machine->Checks().Report(VerifierCheck::Irql,
                                         std::string(entryPoint) + " at IRQL " +
                                             std::to_string(thread->irql) +
                                             (nonZeroTimeout ? " with a non-zero time-out" : ""));
}

} // namespace

bool ReinitialisesWaitedObject(PDISPATCHER_HEADER header, const char *entryPoint)
{
    PKTHREAD thread = CurrentThreadOrNull();
    if (thread == nullptr)
        return false; // the machine's own objects, set up before any thread runs
    Machine &machine = *thread->machine;
    {
        std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
        if (!machine.Clock().HasWaitersLocked(header))
            return false;
    }
    // Windows would drop the waiters' wait blocks, and they would never wake; the object keeps
    // its state here so that the run can go on.
    char text[160];
    std::snprintf(text, sizeof text, "%s(%p) while threads wait on the object", entryPoint,
                  static_cast<void *>(header));
    machine.Checks().Report(VerifierCheck::Dispatcher, text);
    return true;
}

void InitializeDispatcherHeader(PDISPATCHER_HEADER header, UCHAR type, UCHAR size, LONG state)
{
    header->Lock = 0;
    header->Type = type;
    header->Size = size;
    header->SignalState = state;
    InitializeListHead(&header->WaitListHead);
}

void UnlinkWaitBlocksLocked(PKTHREAD thread)
{
    for (ULONG i = 0; i < thread->waitCount; ++i) {
        RemoveEntryList(&thread->waitBlocks[i].WaitListEntry);
        thread->machine->Clock().WaitBlockUnlinkedLocked(thread->waitBlocks[i].Object);
    }
    thread->waitCount = 0;
}

void SatisfyWaitersLocked(PDISPATCHER_HEADER object, std::vector<PKTHREAD> *woken)
{
    bool woke = true;
    while (woke && object->SignalState > 0 && !IsListEmpty(&object->WaitListHead)) {
        woke = false;
        for (PLIST_ENTRY e = object->WaitListHead.Flink; e != &object->WaitListHead; e = e->Flink) {
            auto *block = CONTAINING_RECORD(e, KWAIT_BLOCK, WaitListEntry);
            auto thread = static_cast<PKTHREAD>(block->Thread);
            PDISPATCHER_HEADER objects[MAXIMUM_WAIT_OBJECTS];
            ULONG count = ObjectsOfWait(thread, objects);
            NTSTATUS status;
            bool satisfied;
            if (thread->waitType == WaitAny) {
                satisfied = IsSignaledFor(object, thread);
                if (satisfied)
                    status = (Consume(object, thread) ? STATUS_ABANDONED_WAIT_0 : STATUS_WAIT_0) +
                             block->WaitKey;
            } else {
                satisfied = TrySatisfy(thread, objects, count, WaitAll, &status);
            }
            if (satisfied) {
                thread->machine->Clock().WakeLocked(thread, status);
                if (woken != nullptr)
                    woken->push_back(thread);
                woke = true;
                break; // the wait lists changed: start again from the head
            }
        }
    }
}

void AbandonMutantsLocked(PKTHREAD thread)
{
    while (!IsListEmpty(&thread->ownedMutants)) {
        PKMUTANT mutant =
            CONTAINING_RECORD(RemoveHeadList(&thread->ownedMutants), KMUTANT, MutantListEntry);
        // A kernel mutex (KeInitializeMutex disables APCs) held at thread exit is a bug check on
        // Windows; a user-mode mutex is simply abandoned.
        if (mutant->ApcDisable != 0)
            thread->machine->Checks().Report(VerifierCheck::Thread,
                                             "thread '" + thread->name +
                                                 "' terminated while owning a mutex");
        mutant->OwnerThread = nullptr;
        mutant->Abandoned = TRUE;
        mutant->Header.SignalState = 1;
        SatisfyWaitersLocked(&mutant->Header);
    }
}

ULONGLONG DeadlineFromDueTime(Machine &, LONGLONG dueTime, ULONGLONG now)
{
    if (dueTime < 0)
        return now + ULONGLONG(-dueTime);
    LONGLONG interrupt = dueTime - kBootSystemTime;
    return interrupt > LONGLONG(now) ? ULONGLONG(interrupt) : now;
}

LONGLONG BootSystemTime() { return kBootSystemTime; }

void RequestThreadTermination(PKTHREAD thread)
{
    Machine &machine = *thread->machine;
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    thread->terminationPending = true;
    if (thread->waiting && thread->waitMode == UserMode)
        machine.Clock().WakeLocked(thread, STATUS_THREAD_IS_TERMINATING);
}

} // namespace host

using host::CurrentThread;
using host::Machine;
using host::VerifierCheck;

extern "C" {

void KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State)
{
    if (host::ReinitialisesWaitedObject(&Event->Header, "KeInitializeEvent"))
        return;
    host::InitializeDispatcherHeader(&Event->Header,
                                     Type == NotificationEvent ? EventNotificationObject
                                                               : EventSynchronizationObject,
                                     sizeof(KEVENT) / sizeof(LONG), State ? 1 : 0);
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN)
{
    host::Scheduler &clock = host::MachineOfCaller("KeSetEvent").Clock();
    std::unique_lock<std::mutex> held(clock.DispatcherLock());
    LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 1;
    std::vector<PKTHREAD> woken;
    host::SatisfyWaitersLocked(&Event->Header, clock.SynchronizationDelays() ? &woken : nullptr);
    // The event is not touched after this: a thread it woke may free it at once.
    clock.HandOffLocked(held, woken);
    return previous;
}

LONG KeResetEvent(PRKEVENT Event)
{
    Machine &machine = host::MachineOfCaller("KeResetEvent");
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 0;
    return previous;
}

void KeClearEvent(PRKEVENT Event) { KeResetEvent(Event); }

LONG KeReadStateEvent(PRKEVENT Event)
{
    Machine &machine = host::MachineOfCaller("KeReadStateEvent");
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    return Event->Header.SignalState;
}

LONG KePulseEvent(PRKEVENT Event, KPRIORITY, BOOLEAN)
{
    Machine &machine = host::MachineOfCaller("KePulseEvent");
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 1;
    host::SatisfyWaitersLocked(&Event->Header);
    Event->Header.SignalState = 0;
    return previous;
}

void KeInitializeSemaphore(PRKSEMAPHORE Semaphore, LONG Count, LONG Limit)
{
    if (Count < 0 || Limit <= 0 || Count > Limit)
        host::MachineOfCaller("KeInitializeSemaphore")
            .Checks()
            .Report(VerifierCheck::Usage, "KeInitializeSemaphore with count " +
                                              std::to_string(Count) + " and limit " +
                                              std::to_string(Limit));
    if (host::ReinitialisesWaitedObject(&Semaphore->Header, "KeInitializeSemaphore"))
        return;
    host::InitializeDispatcherHeader(&Semaphore->Header, SemaphoreObject,
                                     sizeof(KSEMAPHORE) / sizeof(LONG), Count);
    Semaphore->Limit = Limit;
}

LONG KeReleaseSemaphore(PRKSEMAPHORE Semaphore, KPRIORITY, LONG Adjustment, BOOLEAN)
{
    Machine &machine = host::MachineOfCaller("KeReleaseSemaphore");
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    LONG previous = Semaphore->Header.SignalState;
    // Windows raises STATUS_SEMAPHORE_LIMIT_EXCEEDED here; the count stays as it was.
    if (Adjustment <= 0 || previous > Semaphore->Limit - Adjustment) {
        machine.Checks().Report(VerifierCheck::Dispatcher,
                                "KeReleaseSemaphore by " + std::to_string(Adjustment) +
                                    " exceeds the limit " + std::to_string(Semaphore->Limit) +
                                    " (count " + std::to_string(previous) +
                                    "): STATUS_SEMAPHORE_LIMIT_EXCEEDED");
        return previous;
    }
    Semaphore->Header.SignalState = previous + Adjustment;
    host::SatisfyWaitersLocked(&Semaphore->Header);
    return previous;
}

LONG KeReadStateSemaphore(PRKSEMAPHORE Semaphore)
{
    Machine &machine = host::MachineOfCaller("KeReadStateSemaphore");
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    return Semaphore->Header.SignalState;
}

void KeInitializeMutex(PRKMUTEX Mutex, ULONG)
{
    host::InitializeDispatcherHeader(&Mutex->Header, MutantObject, sizeof(KMUTEX) / sizeof(LONG),
                                     1);
    Mutex->MutantListEntry.Flink = Mutex->MutantListEntry.Blink = nullptr;
    Mutex->OwnerThread = nullptr;
    Mutex->Abandoned = FALSE;
    Mutex->ApcDisable = 1;
}

LONG KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN)
{
    PKTHREAD thread = CurrentThread("KeReleaseMutex");
    Machine &machine = *thread->machine;
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    LONG previous = Mutex->Header.SignalState;
    if (Mutex->OwnerThread != thread) {
        machine.Checks().Report(VerifierCheck::Dispatcher,
                                "KeReleaseMutex by thread '" + thread->name +
                                    "', which does not own the mutex: STATUS_MUTANT_NOT_OWNED");
        return previous;
    }
    if (++Mutex->Header.SignalState == 1) {
        RemoveEntryList(&Mutex->MutantListEntry);
        Mutex->OwnerThread = nullptr;
        host::SatisfyWaitersLocked(&Mutex->Header);
    }
    return previous;
}

LONG KeReadStateMutex(PRKMUTEX Mutex)
{
    Machine &machine = host::MachineOfCaller("KeReadStateMutex");
    std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
    return Mutex->Header.SignalState;
}

NTSTATUS KeWaitForMultipleObjects(ULONG Count, PVOID Object[], WAIT_TYPE WaitType, KWAIT_REASON,
                                  KPROCESSOR_MODE WaitMode, BOOLEAN, PLARGE_INTEGER Timeout,
                                  PKWAIT_BLOCK WaitBlockArray)
{
    PKTHREAD thread = CurrentThread("KeWaitForMultipleObjects");
    Machine &machine = *thread->machine;
    host::CheckWaitIrql(thread, "KeWaitForMultipleObjects",
                        Timeout == nullptr || Timeout->QuadPart != 0);
    if (Count == 0 || Count > MAXIMUM_WAIT_OBJECTS ||
        (Count > THREAD_WAIT_OBJECTS && WaitBlockArray == nullptr) ||
        (WaitType != WaitAny && WaitType != WaitAll)) {
        machine.Checks().Report(VerifierCheck::Usage,
                                "KeWaitForMultipleObjects with " + std::to_string(Count) +
                                    " objects, wait type " + std::to_string(WaitType) +
                                    (WaitBlockArray ? "" : " and no wait block array"));
        return STATUS_INVALID_PARAMETER;
    }
    auto objects = reinterpret_cast<PDISPATCHER_HEADER *>(Object);
    if (WaitType == WaitAll) {
        for (ULONG i = 0; i < Count; ++i)
            for (ULONG j = i + 1; j < Count; ++j)
                if (objects[i] == objects[j]) {
                    machine.Checks().Report(VerifierCheck::Usage,
                                            "KeWaitForMultipleObjects(WaitAll) names one object "
                                            "twice");
                    return STATUS_INVALID_PARAMETER_MIX;
                }
    }

    std::unique_lock<std::mutex> held(machine.Clock().DispatcherLock());
    if (WaitMode == UserMode && thread->terminationPending)
        return STATUS_THREAD_IS_TERMINATING;
    NTSTATUS status;
    if (host::TrySatisfy(thread, objects, Count, WaitType, &status))
        return status;
    if (Timeout != nullptr && Timeout->QuadPart == 0)
        return STATUS_TIMEOUT;
    ULONGLONG now = machine.Clock().NowLocked();
    ULONGLONG deadline =
        Timeout != nullptr ? host::DeadlineFromDueTime(machine, Timeout->QuadPart, now) : 0;
    PKWAIT_BLOCK blocks = WaitBlockArray != nullptr ? WaitBlockArray : thread->ownWaitBlocks;
    for (ULONG i = 0; i < Count; ++i) {
        blocks[i].Thread = thread;
        blocks[i].Object = objects[i];
        blocks[i].WaitKey = USHORT(i);
        blocks[i].WaitType = UCHAR(WaitType);
        InsertTailList(&objects[i]->WaitListHead, &blocks[i].WaitListEntry);
        machine.Clock().WaitBlockQueuedLocked(objects[i]);
    }
    thread->waitBlocks = blocks;
    thread->waitCount = Count;
    thread->waitType = WaitType;
    thread->waitMode = WaitMode;
    return machine.Clock().BlockLocked(held, thread, Timeout != nullptr, deadline);
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout)
{
    PVOID objects[1] = {Object};
    return KeWaitForMultipleObjects(1, objects, WaitAny, WaitReason, WaitMode, Alertable, Timeout,
                                    nullptr);
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN, PLARGE_INTEGER Interval)
{
    PKTHREAD thread = CurrentThread("KeDelayExecutionThread");
    Machine &machine = *thread->machine;
    host::CheckWaitIrql(thread, "KeDelayExecutionThread", Interval->QuadPart != 0);
    std::unique_lock<std::mutex> held(machine.Clock().DispatcherLock());
    if (WaitMode == UserMode && thread->terminationPending)
        return STATUS_THREAD_IS_TERMINATING;
    if (Interval->QuadPart == 0)
        return STATUS_SUCCESS;
    ULONGLONG now = machine.Clock().NowLocked();
    ULONGLONG deadline = host::DeadlineFromDueTime(machine, Interval->QuadPart, now);
    thread->waitCount = 0;
    thread->waitType = WaitAny;
    thread->waitMode = WaitMode;
    NTSTATUS status = machine.Clock().BlockLocked(held, thread, true, deadline);
    return status == STATUS_THREAD_IS_TERMINATING ? status : STATUS_SUCCESS;
}

void KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR P1, ULONG_PTR P2, ULONG_PTR P3, ULONG_PTR P4)
{
    char text[160];
    std::snprintf(text, sizeof text, "KeBugCheckEx(0x%x, 0x%llx, 0x%llx, 0x%llx, 0x%llx)",
                  BugCheckCode, static_cast<unsigned long long>(P1),
                  static_cast<unsigned long long>(P2), static_cast<unsigned long long>(P3),
                  static_cast<unsigned long long>(P4));
    std::fprintf(stderr, "[verifier] bug check: %s\n", text);
    std::abort();
}

} // extern "C"

// Wait satisfaction shared by the dispatcher objects, the timers and the threads: called with
// the machine's dispatcher lock held.
#pragma once

#include <wdm/ke.h>

namespace host {

// Wakes the waiters an object's signal state now satisfies (and applies each satisfied wait's
// side effects: auto-reset, semaphore count, mutex ownership).
void SatisfyWaitersLocked(PDISPATCHER_HEADER object);

// Removes a parked thread's wait blocks from the objects' wait lists.
void UnlinkWaitBlocksLocked(PKTHREAD thread);

void InitializeDispatcherHeader(PDISPATCHER_HEADER header, UCHAR type, UCHAR size, LONG state);

// KeInitializeEvent/KeInitializeSemaphore on an object threads wait on: reported, and true (the
// object is then left as it is).
bool ReinitialisesWaitedObject(PDISPATCHER_HEADER header, const char *entryPoint);

// The mutexes a thread still owns when it terminates are abandoned (with a verifier report).
void AbandonMutantsLocked(PKTHREAD thread);

class Machine;

// Queues a DPC for the machine's DPC thread; false if it was already queued.
bool QueueDpcLocked(Machine &machine, PKDPC dpc, PVOID argument1, PVOID argument2);

// Absolute interrupt-time deadline of a KeWait*/KeSetTimer due time (negative: relative to now;
// positive: absolute system time).
ULONGLONG DeadlineFromDueTime(Machine &machine, LONGLONG dueTime, ULONGLONG now);

// Body of the machine's DPC thread; returns once `stopping` is set (under the dispatcher lock).
void RunDpcQueue(Machine &machine, const bool &stopping);

// System time (100 ns since 1601) at which every machine boots.
LONGLONG BootSystemTime();

} // namespace host

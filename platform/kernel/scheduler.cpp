#include "scheduler.h"

#include "dispatcher.h"
#include "machine.h"

#include <wdm/ex.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace host {

namespace {

template <class T, LIST_ENTRY T::*Link>
T *Owner(PLIST_ENTRY entry)
{
    return reinterpret_cast<T *>(reinterpret_cast<char *>(entry) -
                                 reinterpret_cast<size_t>(&(static_cast<T *>(nullptr)->*Link)));
}

PKTHREAD ThreadOfTimeout(PLIST_ENTRY entry)
{
    return Owner<_KTHREAD, &_KTHREAD::timeoutEntry>(entry);
}

// Keeps a list sorted by deadline; equal deadlines stay in insertion order.
template <class Deadline>
void InsertSorted(PLIST_ENTRY head, PLIST_ENTRY entry, ULONGLONG deadline, Deadline deadlineOf)
{
    PLIST_ENTRY at = head->Blink;
    while (at != head && deadlineOf(at) > deadline)
        at = at->Blink;
    InsertHeadList(at, entry);
}

ULONGLONG TimerDeadline(PLIST_ENTRY entry)
{
    return CONTAINING_RECORD(entry, KTIMER, TimerListEntry)->DueTime.QuadPart;
}

} // namespace

Scheduler::Scheduler(Machine &machine, ClockMode mode, double wallClockScale,
                     bool synchronizationDelays)
    : machine_(machine), mode_(mode), scale_(wallClockScale > 0 ? wallClockScale : 1.0),
      delays_(synchronizationDelays)
{
    InitializeListHead(&timeouts_);
    InitializeListHead(&timers_);
    start_ = std::chrono::steady_clock::now();
    if (mode_ == ClockMode::WallClock)
        ticker_ = std::thread([this] { TickerMain(); });
}

Scheduler::~Scheduler() { Shutdown(); }

void Scheduler::Shutdown()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    tickerWake_.notify_all();
    if (ticker_.joinable())
        ticker_.join();
}

size_t Scheduler::SetTimers()
{
    std::lock_guard<std::mutex> guard(lock_);
    size_t count = 0;
    for (PLIST_ENTRY e = timers_.Flink; e != &timers_; e = e->Flink)
        ++count;
    return count;
}

size_t Scheduler::DropTimers()
{
    std::lock_guard<std::mutex> guard(lock_);
    size_t count = 0;
    while (!IsListEmpty(&timers_)) {
        RemoveTimerLocked(CONTAINING_RECORD(timers_.Flink, KTIMER, TimerListEntry));
        ++count;
    }
    return count;
}

ULONGLONG Scheduler::WallNow() const
{
    auto elapsed = std::chrono::steady_clock::now() - start_;
    double units = std::chrono::duration<double>(elapsed).count() * 1e7 * scale_;
    return static_cast<ULONGLONG>(units);
}

ULONGLONG Scheduler::NowLocked()
{
    if (mode_ == ClockMode::WallClock) {
        ULONGLONG wall = WallNow();
        if (wall > now_)
            now_ = wall;
    }
    return now_;
}

ULONGLONG Scheduler::Now()
{
    std::lock_guard<std::mutex> guard(lock_);
    return NowLocked();
}

int Scheduler::Runnable()
{
    std::lock_guard<std::mutex> guard(lock_);
    return runnable_;
}

void Scheduler::RemoveRunnableLocked(PKTHREAD thread)
{
    SettleLocked(thread);
    --runnable_;
    AdvanceIfIdleLocked();
}

NTSTATUS Scheduler::BlockLocked(std::unique_lock<std::mutex> &held, PKTHREAD thread,
                                bool hasTimeout, ULONGLONG deadline)
{
    SettleLocked(thread);
    thread->waiting = true;
    if (hasTimeout) {
        thread->timeoutDeadline = deadline;
        thread->timeoutQueued = true;
        InsertSorted(&timeouts_, &thread->timeoutEntry, deadline,
                     [](PLIST_ENTRY e) { return ThreadOfTimeout(e)->timeoutDeadline; });
        if (mode_ == ClockMode::WallClock)
            tickerWake_.notify_all();
    }
    --runnable_;
    AdvanceIfIdleLocked();
    thread->wake.wait(held, [thread] { return !thread->waiting; });
    return thread->waitStatus;
}

void Scheduler::WaitBlockUnlinkedLocked(const void *object)
{
    auto it = waitedObjects_.find(object);
    if (it != waitedObjects_.end() && --it->second == 0)
        waitedObjects_.erase(it);
}

void Scheduler::WakeLocked(PKTHREAD thread, NTSTATUS status)
{
    if (!thread->waiting)
        return;
    UnlinkWaitBlocksLocked(thread);
    if (thread->timeoutQueued) {
        RemoveEntryList(&thread->timeoutEntry);
        thread->timeoutQueued = false;
    }
    thread->waitStatus = status;
    thread->waiting = false;
    ++runnable_; // counted now, before the woken thread gets to run
    thread->wake.notify_one();
}

void Scheduler::SettleLocked(PKTHREAD thread)
{
    if (thread->handedOff.exchange(false))
        settled_.notify_all();
}

void Scheduler::Settle(PKTHREAD thread)
{
    std::lock_guard<std::mutex> guard(lock_);
    SettleLocked(thread);
}

void Scheduler::HandOffLocked(std::unique_lock<std::mutex> &held,
                              const std::vector<PKTHREAD> &woken)
{
    PKTHREAD self = CurrentThreadOrNull();
    if (!delays_ || woken.empty() || self == nullptr || self->irql < DISPATCH_LEVEL) {
        held.unlock();
        return;
    }
    // Held up itself, the signaller no longer holds up whoever woke it.
    SettleLocked(self);
    for (PKTHREAD thread : woken) {
        ObfReferenceObject(thread); // a woken thread may end and go while this one waits
        thread->handedOff = true;
    }
    settled_.wait_for(held, std::chrono::milliseconds(200), [&woken] {
        return std::none_of(woken.begin(), woken.end(),
                            [](PKTHREAD thread) { return thread->handedOff.load(); });
    });
    for (PKTHREAD thread : woken)
        thread->handedOff = false;
    held.unlock();
    for (PKTHREAD thread : woken)
        ObfDereferenceObject(thread);
}

void Scheduler::InsertTimerLocked(PKTIMER timer)
{
    InsertSorted(&timers_, &timer->TimerListEntry, timer->DueTime.QuadPart, TimerDeadline);
    if (mode_ == ClockMode::WallClock)
        tickerWake_.notify_all();
    else if (timer->DueTime.QuadPart <= now_)
        ExpireDueLocked(now_);
}

bool Scheduler::RemoveTimerLocked(PKTIMER timer)
{
    if (timer->TimerListEntry.Flink == nullptr)
        return false;
    RemoveEntryList(&timer->TimerListEntry);
    timer->TimerListEntry.Flink = timer->TimerListEntry.Blink = nullptr;
    return true;
}

bool Scheduler::EarliestDeadlineLocked(ULONGLONG *deadline)
{
    bool found = false;
    if (!IsListEmpty(&timeouts_)) {
        *deadline = ThreadOfTimeout(timeouts_.Flink)->timeoutDeadline;
        found = true;
    }
    // A timer that nobody waits on and that queues no DPC changes nothing anyone can observe
    // until time moves for another reason; it does not by itself pull the clock forward.
    for (PLIST_ENTRY e = timers_.Flink; e != &timers_; e = e->Flink) {
        PKTIMER timer = CONTAINING_RECORD(e, KTIMER, TimerListEntry);
        if (timer->Dpc == nullptr && IsListEmpty(&timer->Header.WaitListHead))
            continue;
        if (!found || timer->DueTime.QuadPart < *deadline)
            *deadline = timer->DueTime.QuadPart;
        found = true;
        break; // sorted: the first observable timer is the earliest one
    }
    return found;
}

void Scheduler::ExpireDueLocked(ULONGLONG now)
{
    while (!IsListEmpty(&timers_) && TimerDeadline(timers_.Flink) <= now) {
        PKTIMER timer = CONTAINING_RECORD(timers_.Flink, KTIMER, TimerListEntry);
        RemoveTimerLocked(timer);
        timer->Header.SignalState = 1;
        SatisfyWaitersLocked(&timer->Header);
        if (timer->Period > 0) {
            // Periods are in milliseconds; the next expiry keeps the original phase.
            timer->DueTime.QuadPart += ULONGLONG(timer->Period) * 10000;
            if (timer->DueTime.QuadPart <= now)
                timer->DueTime.QuadPart = now + ULONGLONG(timer->Period) * 10000;
            InsertSorted(&timers_, &timer->TimerListEntry, timer->DueTime.QuadPart, TimerDeadline);
        }
        if (timer->Dpc != nullptr)
            QueueDpcLocked(machine_, timer->Dpc, nullptr, nullptr);
    }
    while (!IsListEmpty(&timeouts_) && ThreadOfTimeout(timeouts_.Flink)->timeoutDeadline <= now)
        WakeLocked(ThreadOfTimeout(timeouts_.Flink), STATUS_TIMEOUT);
}

void Scheduler::AdvanceIfIdleLocked()
{
    if (mode_ != ClockMode::Virtual)
        return;
    while (runnable_ == 0 && !stopping_) {
        ULONGLONG deadline;
        if (!EarliestDeadlineLocked(&deadline)) {
            ReportDeadlockLocked();
            return;
        }
        if (deadline > now_)
            now_ = deadline;
        ExpireDueLocked(now_);
    }
}

void Scheduler::ReportDeadlockLocked()
{
    // Idle service threads are fine; a foreground thread waiting for ever is a hang.
    std::ostringstream waiting;
    bool foregroundStuck = false;
    {
        std::lock_guard<std::mutex> guard(machine_.ObjectsLock());
        for (ObjectHeader *h = machine_.LiveObjects(); h != nullptr; h = h->next) {
            if (h->type != *PsThreadType)
                continue;
            auto *t = static_cast<PKTHREAD>(h->Body());
            if (!t->waiting)
                continue;
            waiting << " '" << t->name << "'";
            if (t->foreground)
                foregroundStuck = true;
        }
    }
    if (!foregroundStuck)
        return;
    std::fprintf(stderr,
                 "[verifier] deadlock: every emulated thread waits and nothing is due at "
                 "virtual time %llu (waiting:%s)\n",
                 static_cast<unsigned long long>(now_), waiting.str().c_str());
    std::abort();
}

void Scheduler::TickerMain()
{
    std::unique_lock<std::mutex> held(lock_);
    while (!stopping_) {
        ULONGLONG now = NowLocked();
        ExpireDueLocked(now);
        ULONGLONG deadline = 0;
        bool found = !IsListEmpty(&timeouts_) || !IsListEmpty(&timers_);
        if (found) {
            deadline = ~0ull;
            if (!IsListEmpty(&timeouts_))
                deadline = ThreadOfTimeout(timeouts_.Flink)->timeoutDeadline;
            if (!IsListEmpty(&timers_) && TimerDeadline(timers_.Flink) < deadline)
                deadline = TimerDeadline(timers_.Flink);
        }
        if (!found) {
            tickerWake_.wait(held);
            continue;
        }
        double realSeconds = double(deadline - now) / 1e7 / scale_;
        tickerWake_.wait_for(held, std::chrono::duration<double>(realSeconds));
    }
}

} // namespace host

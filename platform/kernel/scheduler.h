// Virtual time. The scheduler counts the emulated threads that can run; the clock moves only
// when that count is zero, and then jumps to the earliest deadline (a wait time-out or a timer).
// In wall-clock mode the clock follows the host's steady clock (optionally scaled) instead.
#pragma once

#include "emulated_thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace host {

enum class ClockMode { Virtual, WallClock };

class Machine;

class Scheduler {
public:
    Scheduler(Machine &machine, ClockMode mode, double wallClockScale, bool synchronizationDelays);
    ~Scheduler();

    // The dispatcher lock: guards every dispatcher object, wait block, timer and DPC queue of
    // the machine.
    std::mutex &DispatcherLock() { return lock_; }

    // Interrupt time: 100 ns units since the machine booted.
    ULONGLONG Now();
    ULONGLONG NowLocked(); // the same, with the dispatcher lock held
    ClockMode Mode() const { return mode_; }
    bool SynchronizationDelays() const { return delays_; }
    // Emulated threads counted as able to run (diagnostics and tests).
    int Runnable();

    // --- with the dispatcher lock held ---
    // A new emulated thread exists (counted from its creation, before its host thread runs).
    void AddRunnableLocked() { ++runnable_; }
    // The calling thread stops being an emulated thread (exit or detach).
    void RemoveRunnableLocked(PKTHREAD thread);
    // Parks the calling thread, whose wait blocks are already queued, until Wake() or its
    // time-out; returns its wait status.
    NTSTATUS BlockLocked(std::unique_lock<std::mutex> &held, PKTHREAD thread, bool hasTimeout,
                         ULONGLONG deadline);
    // Ends a thread's wait with a status: unlinks its wait blocks and time-out and counts it as
    // runnable at once, so the clock cannot move before it actually runs.
    void WakeLocked(PKTHREAD thread, NTSTATUS status);
    // Synchronization delays: holds the calling thread, which has just woken `woken`, until each
    // of them waits again, ends or spins on a spin lock (or a time limit passes, for a thread
    // that waits outside the emulation). Without the option, or below DISPATCH_LEVEL, it returns
    // at once. Returns with the lock released.
    void HandOffLocked(std::unique_lock<std::mutex> &held, const std::vector<PKTHREAD> &woken);
    // A thread a signaller is held up for no longer runs on (it spins on a spin lock).
    void Settle(PKTHREAD thread);
    // Wait blocks queued on each dispatcher object, so that re-initialising an object that
    // threads wait on is caught.
    void WaitBlockQueuedLocked(const void *object) { ++waitedObjects_[object]; }
    void WaitBlockUnlinkedLocked(const void *object);
    bool HasWaitersLocked(const void *object) const { return waitedObjects_.count(object) != 0; }
    void InsertTimerLocked(PKTIMER timer);
    bool RemoveTimerLocked(PKTIMER timer);

    // How many timers are set now.
    size_t SetTimers();

    // Teardown: unlinks timers that are still set (their memory belongs to whoever set them and
    // is about to go) and returns how many there were.
    size_t DropTimers();

    // Stops the wall-clock ticker (machine teardown).
    void Shutdown();

private:
    void AdvanceIfIdleLocked();
    bool EarliestDeadlineLocked(ULONGLONG *deadline);
    void ExpireDueLocked(ULONGLONG now);
    void ReportDeadlockLocked();
    void SettleLocked(PKTHREAD thread);
    void TickerMain();
    ULONGLONG WallNow() const;

    Machine &machine_;
    const ClockMode mode_;
    const double scale_;
    const bool delays_;
    std::condition_variable settled_; // a handed-off thread settled
    std::mutex lock_;
    int runnable_ = 0;
    ULONGLONG now_ = 0;
    LIST_ENTRY timeouts_; // threads with a timed wait, by deadline
    LIST_ENTRY timers_;   // set timers, by due time
    std::unordered_map<const void *, ULONG> waitedObjects_;

    // Wall-clock mode only.
    std::chrono::steady_clock::time_point start_;
    std::condition_variable tickerWake_;
    bool stopping_ = false;
    std::thread ticker_;
};

} // namespace host

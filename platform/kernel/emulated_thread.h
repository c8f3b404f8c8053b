// The kernel thread object of the emulation. Every host thread that runs driver or device code
// is attached to a Machine as one of these, so the scheduler can count it and park it in waits.
#pragma once

#include <wdm/ke.h>

#include <atomic>
#include <condition_variable>
#include <string>
#include <vector>

namespace host {
class Machine;
}

struct _KTHREAD {
    DISPATCHER_HEADER Header; // signalled when the thread has terminated
    host::Machine *machine = nullptr;
    PKPROCESS process = nullptr;
    std::string name;
    ULONG id = 0;
    KIRQL irql = PASSIVE_LEVEL;
    KPRIORITY priority = 8;
    // A foreground thread (a test's or a user program's) blocked forever with nothing due is a
    // deadlock; service threads blocked forever are merely idle.
    bool foreground = false;
    bool terminated = false;
    NTSTATUS exitStatus = STATUS_SUCCESS;
    // The Win32 last error of the thread; every thread starts without one.
    ULONG lastError = 0;
    // Termination of a user thread (its process ends): set under the dispatcher lock; every wait
    // the thread makes in user mode from then on returns STATUS_THREAD_IS_TERMINATING.
    bool terminationPending = false;

    // Wait state, guarded by the scheduler's dispatcher lock.
    std::condition_variable wake;
    bool waiting = false;
    NTSTATUS waitStatus = STATUS_SUCCESS;
    WAIT_TYPE waitType = WaitAny;
    KPROCESSOR_MODE waitMode = KernelMode;
    ULONG waitCount = 0;
    PKWAIT_BLOCK waitBlocks = nullptr;
    KWAIT_BLOCK ownWaitBlocks[THREAD_WAIT_OBJECTS] = {};
    ULONGLONG timeoutDeadline = 0;
    LIST_ENTRY timeoutEntry = {nullptr, nullptr};
    bool timeoutQueued = false;

    // Woken by a signaller that is held up until this thread waits, ends or spins
    // (synchronization delays).
    std::atomic<bool> handedOff{false};

    // Verifier bookkeeping.
    std::vector<PKSPIN_LOCK> spinLocksHeld;
    LIST_ENTRY ownedMutants; // KMUTANT.MutantListEntry of the mutexes this thread owns

    _KTHREAD();
};

namespace host {

// The emulated thread the calling host thread is attached as, or null.
PKTHREAD CurrentThreadOrNull();
// The same, but an unattached caller is a usage error that ends the run: kernel entry points
// may only be called from emulated threads.
PKTHREAD CurrentThread(const char *entryPoint);
// Binds the calling host thread to an emulated thread (system-thread start-up).
void SetCurrentThread(PKTHREAD thread);

// Thrown to end an emulated thread from inside it (PsTerminateSystemThread, ExitThread, a user
// thread whose process ends); caught by the thread's start-up frame.
struct ThreadExit {
    NTSTATUS status;
};

// Asks a user thread to end: its user-mode waits return STATUS_THREAD_IS_TERMINATING from now on,
// a wait it is parked in included. Kernel-mode waits are not interrupted, as on Windows.
void RequestThreadTermination(PKTHREAD thread);

// Attaches the calling host thread to a machine for its lifetime (a test's own thread, a
// simulated user thread, a device model's thread).
class ThreadAttachment {
public:
    ThreadAttachment(Machine &machine, const std::string &name, bool foreground = true,
                     PKPROCESS process = nullptr);
    ~ThreadAttachment();
    ThreadAttachment(const ThreadAttachment &) = delete;
    ThreadAttachment &operator=(const ThreadAttachment &) = delete;
    PKTHREAD Thread() const { return thread_; }

private:
    PKTHREAD thread_;
    PKTHREAD previous_;
};

} // namespace host

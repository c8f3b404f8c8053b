#include "user_threads.h"

#include "caller.h"
#include "module_loader.h"
#include "user32/window_manager.h"
#include "user_requests.h"

#include "kernel/object_manager.h"

#include <winbase.h>

#include <exception>
#include <memory>

namespace host::win32 {

namespace {

// Lets a new thread run only once its record exists, so that ResumeThread and the exit logic
// find it however soon they come.
struct StartGate {
    KEVENT registered;
};

// Every live thread of the process other than `except`, referenced.
std::vector<PKTHREAD> LiveThreadsOf(Machine &machine, PKPROCESS process, PKTHREAD except)
{
    std::vector<PKTHREAD> threads;
    std::lock_guard<std::mutex> dispatcher(machine.Clock().DispatcherLock());
    std::lock_guard<std::mutex> objects(machine.ObjectsLock());
    for (ObjectHeader *h = machine.LiveObjects(); h != nullptr; h = h->next) {
        if (h->type != *PsThreadType)
            continue;
        auto *thread = static_cast<PKTHREAD>(h->Body());
        if (thread->process != process || thread == except || thread->terminated)
            continue;
        ObfReferenceObject(thread);
        threads.push_back(thread);
    }
    return threads;
}

// The rest of an exit this thread started (ExitProcess, or returning from the main thread, or
// being the last thread): the other threads end, DLLs are detached if asked, and the process is
// run down. The process record is gone afterwards.
void FinishProcessExit(ProcessRecord &process)
{
    EndOtherThreads(process);
    if (process.DetachDllsOnExit())
        process.Modules().DetachAll();
    process.Owner().Owner().EndProcess(process.Process());
}

bool WaitUntilResumed(ProcessRecord &process, PKTHREAD self)
{
    PKEVENT resumed;
    {
        std::lock_guard<std::mutex> guard(process.Lock());
        ThreadRecord &record = process.ThreadLocked(self);
        if (record.suspendCount == 0)
            return true;
        resumed = &record.resumed;
    }
    return KeWaitForSingleObject(resumed, UserRequest, UserMode, FALSE, nullptr) == STATUS_WAIT_0;
}

void RunUserThread(ProcessRecord &process, bool main, const std::function<DWORD()> &body)
{
    PKTHREAD self = KeGetCurrentThread();
    DWORD code = 0;
    bool returned = false;
    try {
        if (!WaitUntilResumed(process, self))
            ThreadTerminating();
        process.Modules().NotifyThread(DLL_THREAD_ATTACH);
        code = body();
        returned = true;
    } catch (const ThreadExit &exit) {
        code = DWORD(exit.status);
    }
    self->exitStatus = NTSTATUS(code);
    process.Owner().Windows().ThreadEnded(self); // its queue and windows go with it

    if (process.Exiting()) {
        // Ended by ExitProcess on this thread, or by someone else ending the process.
        if (process.ExitingThread() == self)
            FinishProcessExit(process);
        return;
    }
    // Returning from the main thread ends the process (ExitThread from it does not).
    if (main && returned) {
        if (process.BeginExit(code, self, true))
            FinishProcessExit(process);
        return;
    }
    process.Modules().NotifyThread(DLL_THREAD_DETACH);
    // The last thread to end takes its process with it.
    Machine &machine = process.Owner().Owner();
    bool last = process.RemoveThread(self, [&machine, &process, self] {
        std::vector<PKTHREAD> others = LiveThreadsOf(machine, process.Process(), self);
        for (PKTHREAD t : others)
            ObfDereferenceObject(t);
        return !others.empty();
    });
    if (last && process.BeginExit(code, self, true))
        FinishProcessExit(process);
}

bool IsStarted(ProcessRecord &process, PKTHREAD thread)
{
    std::lock_guard<std::mutex> guard(process.Lock());
    ThreadRecord *record = process.FindThreadLocked(thread);
    return record != nullptr && record->started;
}

} // namespace

PKTHREAD StartUserThread(ProcessRecord &process, const std::string &name, bool suspended, bool main,
                         std::function<DWORD()> body)
{
    auto gate = std::make_shared<StartGate>();
    KeInitializeEvent(&gate->registered, NotificationEvent, FALSE);
    ProcessRecord *record = &process;
    PKTHREAD thread = process.Owner().Owner().StartThread(
        name, process.Process(), [gate, record, main, body = std::move(body)] {
            KeWaitForSingleObject(&gate->registered, Executive, KernelMode, FALSE, nullptr);
            RunUserThread(*record, main, body);
        });
    {
        std::lock_guard<std::mutex> guard(process.Lock());
        ThreadRecord &r = process.ThreadLocked(thread);
        r.started = true;
        r.suspendCount = suspended ? 1 : 0;
    }
    if (main) {
        std::lock_guard<std::mutex> guard(process.Owner().Owner().Clock().DispatcherLock());
        thread->foreground = true; // a main thread blocked for ever is a hang
    }
    KeSetEvent(&gate->registered, IO_NO_INCREMENT, FALSE);
    return thread;
}

void EndCallingThread(const char *entryPoint, DWORD exitCode)
{
    Caller caller = CallerOf(entryPoint);
    if (!IsStarted(caller.process, caller.thread)) {
        caller.machine.Checks().Report(
            VerifierCheck::Usage, std::string(entryPoint) + " on thread '" + caller.thread->name +
                                      "', which the test attached: it cannot be ended");
        return;
    }
    throw ThreadExit{NTSTATUS(exitCode)};
}

void ThreadTerminating()
{
    Caller caller = CallerOf("ThreadTerminating");
    caller.process.Requests().Drain(caller.thread);
    if (std::uncaught_exceptions() > 0)
        return; // the thread is already unwinding
    if (!IsStarted(caller.process, caller.thread))
        return;
    throw ThreadExit{caller.process.Process()->exitStatus};
}

void EndOtherThreads(ProcessRecord &process)
{
    Machine &machine = process.Owner().Owner();
    PKTHREAD self = CurrentThreadOrNull();
    for (PKTHREAD thread : LiveThreadsOf(machine, process.Process(), self)) {
        RequestThreadTermination(thread);
        ObfDereferenceObject(thread);
    }
    for (PKTHREAD thread : process.StartedThreads(self)) {
        KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
        ObfDereferenceObject(thread);
    }
}

} // namespace host::win32

#include "emulated_thread.h"

#include "dispatcher.h"
#include "machine.h"

#include <cstdio>
#include <cstdlib>

namespace {
thread_local PKTHREAD currentThread = nullptr;
}

_KTHREAD::_KTHREAD()
{
    host::InitializeDispatcherHeader(&Header, ThreadObject, sizeof(_KTHREAD) / sizeof(LONG), 0);
    ownedMutants.Flink = ownedMutants.Blink = &ownedMutants;
}

namespace host {

PKTHREAD CurrentThreadOrNull() { return currentThread; }

PKTHREAD CurrentThread(const char *entryPoint)
{
    if (currentThread == nullptr) {
        std::fprintf(stderr,
                     "[verifier] usage: %s called from a host thread that is not attached to a "
                     "machine\n",
                     entryPoint);
        std::abort();
    }
    return currentThread;
}

void SetCurrentThread(PKTHREAD thread) { currentThread = thread; }

ThreadAttachment::ThreadAttachment(Machine &machine, const std::string &name, bool foreground,
                                   PKPROCESS process)
    : previous_(currentThread)
{
    thread_ = CreateObject<_KTHREAD>(machine, *PsThreadType, name);
    thread_->machine = &machine;
    thread_->process = process != nullptr ? process : machine.SystemProcess();
    thread_->name = name;
    thread_->id = machine.NextId();
    thread_->foreground = foreground;
    {
        std::lock_guard<std::mutex> guard(machine.Clock().DispatcherLock());
        // An attachment made on top of another (a process's rundown, a test thread acting in a
        // user process) runs in its place: the one beneath does not run meanwhile.
        if (previous_ == nullptr || previous_->machine != &machine)
            machine.Clock().AddRunnableLocked();
    }
    currentThread = thread_;
}

ThreadAttachment::~ThreadAttachment()
{
    Machine &machine = *thread_->machine;
    if (!thread_->spinLocksHeld.empty())
        machine.Checks().Report(VerifierCheck::SpinLock,
                                "thread '" + thread_->name + "' detached holding a spin lock");
    {
        std::unique_lock<std::mutex> held(machine.Clock().DispatcherLock());
        AbandonMutantsLocked(thread_);
        thread_->terminated = true;
        thread_->Header.SignalState = 1;
        SatisfyWaitersLocked(&thread_->Header);
        if (previous_ != nullptr && previous_->machine == &machine)
            machine.Clock().AddRunnableLocked();
        machine.Clock().RemoveRunnableLocked(thread_);
    }
    currentThread = previous_;
    ObfDereferenceObject(thread_);
}

} // namespace host

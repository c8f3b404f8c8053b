#include "machine.h"

#include "dispatcher.h"
#include "host_thread_pool.h"
#include "io_manager.h"
#include "registry_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace host {

void RunThreadBody(const std::function<void()> &body, PKTHREAD thread);

Machine::Machine(const MachineOptions &options) : options_(options)
{
    scheduler_ = std::make_unique<Scheduler>(*this, options.clock, options.wallClockScale,
                                             options.synchronizationDelays);
    pool_ = std::make_unique<Pool>(verifier_, options.specialPool, options.specialPoolQuarantine);
    registry_ = std::make_unique<RegistryStore>(
        [this] { return BootSystemTime() + LONGLONG(scheduler_->Now()); });
    system_ =
        CreateObject<_KPROCESS>(*this, *PsProcessType, "System", *this, "System", 4, false, true);
    InitializeListHead(&dpcQueue_);
    KeInitializeEvent(&dpcPending_, SynchronizationEvent, FALSE);
    KeInitializeEvent(&dpcIdle_, NotificationEvent, TRUE);
    dpcThread_ = StartThread("DPC", system_, [this] { RunDpcQueue(*this, stopping_); });
    io_ = std::make_unique<IoManager>(*this);
}

Machine::~Machine() { PowerOff(); }

void Machine::PowerOff()
{
    if (poweredOff_)
        return;
    poweredOff_ = true;
    // User processes end first, while the machine still runs: their threads stop and their
    // handles close (pins close) before the services (the PnP manager with its devices, user
    // mode) and the I/O manager go.
    EndAllProcesses();
    StopServices();
    io_->Shutdown();
    if (size_t timers = scheduler_->DropTimers())
        verifier_.Report(VerifierCheck::Usage,
                         std::to_string(timers) + " kernel timer(s) still set at teardown");
    StopServiceThreads();
    if (size_t open = system_->handles.Count())
        verifier_.Report(VerifierCheck::ObjectLeak,
                         std::to_string(open) + " kernel handle(s) still open at teardown:" +
                             system_->handles.Describe());
    system_->handles.CloseAll();
    io_.reset();
    ReportLeakedObjects();
    ReclaimLiveObjects(*this);
    ReportPoolLeaks("machine teardown");
    scheduler_->Shutdown();
}

Machine *Machine::Current()
{
    PKTHREAD thread = CurrentThreadOrNull();
    return thread != nullptr ? thread->machine : nullptr;
}

MachineService *Machine::Service(const std::string &name)
{
    std::lock_guard<std::mutex> guard(servicesLock_);
    for (auto &[serviceName, service] : services_)
        if (serviceName == name)
            return service.get();
    return nullptr;
}

MachineService &Machine::AddService(const std::string &name,
                                    std::unique_ptr<MachineService> service)
{
    std::lock_guard<std::mutex> guard(servicesLock_);
    services_.emplace_back(name, std::move(service));
    return *services_.back().second;
}

void Machine::StopServices()
{
    for (;;) {
        MachineService *service;
        {
            std::lock_guard<std::mutex> guard(servicesLock_);
            if (services_.empty())
                return;
            service = services_.back().second.get();
        }
        // Outside the lock, and still registered while it stops: what it calls on its way
        // down may look it up.
        delete service;
        std::lock_guard<std::mutex> guard(servicesLock_);
        services_.back().second.release();
        services_.pop_back();
    }
}

PKPROCESS Machine::CreateProcess(const std::string &name, bool is32Bit)
{
    PKPROCESS process =
        CreateObject<_KPROCESS>(*this, *PsProcessType, name, *this, name, NextId(), is32Bit, false);
    std::lock_guard<std::mutex> guard(processesLock_);
    processes_.push_back(process);
    return process;
}

void Machine::EndProcess(PKPROCESS process)
{
    {
        std::lock_guard<std::mutex> guard(processesLock_);
        bool listed = std::find(processes_.begin(), processes_.end(), process) != processes_.end();
        // Already ended, or being ended (by its last thread, or by an earlier call).
        if (!listed || !ending_.insert(process).second)
            return;
    }
    EndListedProcess(process);
}

void Machine::EndAllProcesses()
{
    for (;;) {
        PKPROCESS process = nullptr;
        bool endedHere = false;
        {
            std::lock_guard<std::mutex> guard(processesLock_);
            if (processes_.empty())
                return;
            for (PKPROCESS candidate : processes_) {
                if (ending_.insert(candidate).second) {
                    process = candidate;
                    endedHere = true;
                    break;
                }
            }
            if (!endedHere) {
                process = processes_.front();
                ObfReferenceObject(process);
            }
        }
        if (endedHere) {
            EndListedProcess(process);
            continue;
        }
        // Another thread is ending it (its last thread, say): wait until that is done.
        {
            ThreadAttachment waiter(*this, "teardown", false);
            KeWaitForSingleObject(process, Executive, KernelMode, FALSE, nullptr);
        }
        ObfDereferenceObject(process);
    }
}

std::vector<MachineService *> Machine::ServicesSnapshot()
{
    std::lock_guard<std::mutex> guard(servicesLock_);
    std::vector<MachineService *> list;
    for (auto &entry : services_)
        list.push_back(entry.second.get());
    return list;
}

void Machine::EndListedProcess(PKPROCESS process)
{
    std::vector<MachineService *> services = ServicesSnapshot();
    for (MachineService *service : services)
        service->ProcessEnding(process);
    RunDownProcess(process);
    for (MachineService *service : services)
        service->ProcessEnded(process);
    {
        std::lock_guard<std::mutex> guard(processesLock_);
        processes_.remove(process);
        ending_.erase(process);
    }
    // Only now is the process over: whoever waits for it finds every part of it gone.
    {
        std::lock_guard<std::mutex> guard(scheduler_->DispatcherLock());
        process->Header.SignalState = 1;
        SatisfyWaitersLocked(&process->Header);
    }
    ObfDereferenceObject(process);
}

void Machine::RunDownProcess(PKPROCESS process)
{
    {
        // Handles close in the dying process's context: a pin's close unmaps its user views
        // from the current process, as on Windows.
        ThreadAttachment rundown(*this, process->name + " rundown", false, process);
        process->handles.CloseAll();
    }
    process->addressSpace.UnmapAll();
    process->ended = true;
}

PKTHREAD Machine::StartThread(const std::string &name, PKPROCESS process, std::function<void()> fn)
{
    PKTHREAD thread = CreateObject<_KTHREAD>(*this, *PsThreadType, name);
    thread->machine = this;
    thread->process = process;
    thread->name = name;
    thread->id = NextId();
    ObfReferenceObject(thread); // the running thread's own reference
    {
        std::lock_guard<std::mutex> guard(scheduler_->DispatcherLock());
        scheduler_->AddRunnableLocked();
    }
    std::future<void> ended = RunOnHostThread([this, thread, fn = std::move(fn)] {
        SetCurrentThread(thread);
        RunThreadBody(fn, thread);
        if (!thread->spinLocksHeld.empty() || thread->irql != PASSIVE_LEVEL)
            verifier_.Report(VerifierCheck::Thread, "thread '" + thread->name +
                                                        "' ended holding a spin lock or above "
                                                        "PASSIVE_LEVEL");
        {
            std::lock_guard<std::mutex> guard(scheduler_->DispatcherLock());
            AbandonMutantsLocked(thread);
            thread->terminated = true;
            thread->Header.SignalState = 1;
            SatisfyWaitersLocked(&thread->Header);
            scheduler_->RemoveRunnableLocked(thread);
        }
        SetCurrentThread(nullptr);
        ObfDereferenceObject(thread);
    });
    std::lock_guard<std::mutex> guard(threadsLock_);
    threads_.push_back(std::move(ended));
    return thread;
}

void Machine::StopServiceThreads()
{
    {
        std::lock_guard<std::mutex> guard(scheduler_->DispatcherLock());
        stopping_ = true;
    }
    {
        // Signalled from a short-lived attachment: the DPC thread only wakes through the
        // emulation's waits.
        ThreadAttachment stopper(*this, "teardown", false);
        KeSetEvent(&dpcPending_, 0, FALSE);
    }
    ObfDereferenceObject(dpcThread_);
    dpcThread_ = nullptr;

    // Every other thread must have ended by now (drivers stop their threads at unload).
    std::vector<std::future<void>> threads;
    {
        std::lock_guard<std::mutex> guard(threadsLock_);
        threads.swap(threads_);
    }
    for (std::future<void> &ended : threads)
        ended.wait();
}

void Machine::ReportLeakedObjects()
{
    std::ostringstream leaked;
    size_t count = 0;
    {
        std::lock_guard<std::mutex> guard(objectsLock_);
        for (ObjectHeader *h = liveObjects_; h != nullptr; h = h->next) {
            if (h->Body() == system_)
                continue;
            ++count;
            leaked << " [" << h->type->Name;
            if (!h->name.empty())
                leaked << " '" << h->name << "'";
            leaked << ", " << h->pointerCount.load() << " reference(s)]";
        }
    }
    if (count != 0)
        verifier_.Report(VerifierCheck::ObjectLeak,
                         std::to_string(count) +
                             " object(s) still referenced at teardown:" + leaked.str());
    ObfDereferenceObject(system_);
    system_ = nullptr;
}

MachineHoldings Machine::Holdings()
{
    MachineHoldings holdings;
    {
        std::lock_guard<std::mutex> guard(objectsLock_);
        for (ObjectHeader *h = liveObjects_; h != nullptr; h = h->next)
            holdings.objects += h->Body() != system_;
    }
    holdings.kernelHandles = system_->handles.Count();
    holdings.timers = scheduler_->SetTimers();
    holdings.poolBlocks = pool_->OutstandingBlocks();
    return holdings;
}

std::string MachineHoldings::Text() const
{
    return std::to_string(objects) + " object(s), " + std::to_string(kernelHandles) +
           " kernel handle(s), " + std::to_string(timers) + " set timer(s), " +
           std::to_string(poolBlocks) + " pool block(s)";
}

size_t Machine::ReportPoolLeaks(const char *when)
{
    size_t total = 0;
    for (const Pool::Outstanding &o : pool_->OutstandingByTag()) {
        total += o.blocks;
        verifier_.Report(VerifierCheck::PoolLeak,
                         std::to_string(o.blocks) + " pool block(s) with tag '" +
                             Pool::TagText(o.tag) + "' (" + std::to_string(o.bytes) +
                             " bytes) outstanding at " + when);
    }
    return total;
}

} // namespace host

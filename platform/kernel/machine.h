// One simulated Windows PC: kernel (scheduler and virtual clock, pool, objects, registry, I/O
// manager), the system process and any number of user processes. Several machines may exist in
// one program; nothing outlives its machine.
#pragma once

#include "debug_log.h"
#include "pool.h"
#include "process.h"
#include "scheduler.h"
#include "verifier.h"

#include <functional>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace host {

class RegistryStore;
class IoManager;

// A subsystem a machine owns beyond its kernel (the PnP manager with the USB host controller,
// user mode's Win32). The machine tells its services about every user process that ends, and
// destroys them, newest first, as it powers off, after the last process has ended and while the
// kernel still runs.
class MachineService {
public:
    virtual ~MachineService() = default;
    // Before the process's handles are closed; its threads may still run.
    virtual void ProcessEnding(PKPROCESS) {}
    // After its handles are closed and its address space is gone.
    virtual void ProcessEnded(PKPROCESS) {}
};

struct MachineOptions {
    ClockMode clock = ClockMode::Virtual;
    double wallClockScale = 1.0; // wall-clock mode: virtual seconds per real second
    bool specialPool = true;     // each block on its own pages, freed blocks fenced off
    size_t specialPoolQuarantine = 64u << 20; // bytes of freed blocks kept inaccessible
    // Driver Verifier's synchronization delays, in a repeatable form: a thread that sets an
    // event at DISPATCH_LEVEL or above (a completion, a DPC) is held up right after the signal
    // until every thread it woke has run on to its next wait, its end or a contended spin lock.
    bool synchronizationDelays = false;
};

// What work on a machine can leave behind in it. A program that reuses one machine for many
// pieces of work compares the holdings before and after each.
struct MachineHoldings {
    size_t objects = 0;       // referenced kernel objects, the system process aside
    size_t kernelHandles = 0; // handles of the system process
    size_t timers = 0;        // set kernel timers
    size_t poolBlocks = 0;    // allocated pool blocks
    bool operator==(const MachineHoldings &o) const
    {
        return objects == o.objects && kernelHandles == o.kernelHandles && timers == o.timers &&
               poolBlocks == o.poolBlocks;
    }
    std::string Text() const;
};

class Machine {
public:
    explicit Machine(const MachineOptions &options = MachineOptions());
    ~Machine();
    Machine(const Machine &) = delete;
    Machine &operator=(const Machine &) = delete;

    // The machine of the calling emulated thread (null for an unattached thread).
    static Machine *Current();

    // Stops the machine's service threads, ends every process, and reports what is left over
    // (kernel handles, referenced objects, pool blocks by tag). The verifier stays readable
    // afterwards; the destructor does this if nobody did.
    void PowerOff();

    Scheduler &Clock() { return *scheduler_; }
    Verifier &Checks() { return verifier_; }
    Pool &KernelPool() { return *pool_; }
    RegistryStore &Registry() { return *registry_; }
    IoManager &Io() { return *io_; }
    // Debugger output (DbgPrint, later OutputDebugString).
    DebugLog &Log() { return log_; }

    PKPROCESS SystemProcess() { return system_; }
    // A user process; the machine keeps it until EndProcess (or teardown).
    PKPROCESS CreateProcess(const std::string &name, bool is32Bit = false);
    // Ends a process the way Windows does: its handles are closed (pins close, mappings go).
    void EndProcess(PKPROCESS process);

    // Starts an emulated system thread running fn; returns the thread object with one
    // reference for the caller. Counted as runnable from this call on.
    PKTHREAD StartThread(const std::string &name, PKPROCESS process, std::function<void()> fn);

    // The service registered under `name`, or null.
    MachineService *Service(const std::string &name);
    // Registers a service, which the machine owns from now on.
    MachineService &AddService(const std::string &name, std::unique_ptr<MachineService> service);

    ULONG NextId() { return nextId_.fetch_add(4); }

    // Live-object bookkeeping (object manager).
    std::mutex &ObjectsLock() { return objectsLock_; }
    ObjectHeader *&LiveObjects() { return liveObjects_; }

    // DPC queue (timers and KeInsertQueueDpc feed it; one emulated thread runs it at
    // DISPATCH_LEVEL). Guarded by the dispatcher lock.
    LIST_ENTRY &DpcQueueLocked() { return dpcQueue_; }
    KEVENT &DpcPending() { return dpcPending_; }
    KEVENT &DpcIdle() { return dpcIdle_; }

    MachineHoldings Holdings();

    // Reports (by tag) every pool block still allocated; returns how many there were.
    size_t ReportPoolLeaks(const char *when);

private:
    void RunDownProcess(PKPROCESS process);
    // Ends a process this thread has marked as ending: services first, then its handles; then
    // it leaves the list and is signalled.
    void EndListedProcess(PKPROCESS process);
    // Ends every process, waiting for those other threads are ending.
    void EndAllProcesses();
    std::vector<MachineService *> ServicesSnapshot();
    void StopServices();
    void StopServiceThreads();
    void ReportLeakedObjects();

    MachineOptions options_;
    Verifier verifier_;
    DebugLog log_;
    std::unique_ptr<Scheduler> scheduler_;
    std::unique_ptr<Pool> pool_;
    std::unique_ptr<RegistryStore> registry_;
    std::unique_ptr<IoManager> io_;
    std::atomic<ULONG> nextId_{8};

    std::mutex objectsLock_;
    ObjectHeader *liveObjects_ = nullptr;

    PKPROCESS system_ = nullptr;
    std::mutex processesLock_;
    std::list<PKPROCESS> processes_; // until each has ended
    std::set<PKPROCESS> ending_;     // those being ended

    std::mutex servicesLock_;
    std::vector<std::pair<std::string, std::unique_ptr<MachineService>>> services_;

    std::mutex threadsLock_;
    std::vector<std::future<void>> threads_; // of StartThread, each ready once its body is over

    LIST_ENTRY dpcQueue_;
    KEVENT dpcPending_;
    KEVENT dpcIdle_;
    bool stopping_ = false;
    bool poweredOff_ = false;
    PKTHREAD dpcThread_ = nullptr;
};

} // namespace host

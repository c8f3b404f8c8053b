// The emulation's Driver-Verifier: rule violations that Windows would catch (or bug-check on)
// are recorded here with a clear message, so tests can fail on them and provoke them.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace host {

enum class VerifierCheck {
    Irql,          // an operation called at an IRQL where Windows forbids it
    SpinLock,      // spin-lock acquire/release pairing
    Pool,          // tags, double frees, paged pool at DISPATCH_LEVEL
    PoolLeak,      // allocations outstanding at unload or teardown
    Irp,           // IRP completed twice, freed while owned, leaked, bad stack use
    ObjectLeak,    // object references or handles not dropped
    Dispatcher,    // misuse of dispatcher objects (mutex not owned, semaphore limit, ...)
    Thread,        // thread rules (terminating with a lock or mutex held, ...)
    Deadlock,      // every emulated thread waits and nothing is due
    Usage,         // an entry point called with arguments Windows rejects by bug check
    Unimplemented, // a Windows entry point or behaviour the emulation does not provide
};

const char *VerifierCheckName(VerifierCheck check);

struct VerifierReport {
    VerifierCheck check;
    std::string message;
};

class Verifier {
public:
    // Records a violation; it is also printed so that a failing run shows it.
    void Report(VerifierCheck check, const std::string &message);

    std::vector<VerifierReport> Reports() const;
    // Removes and returns the reports of one kind (a test that provokes a check consumes it).
    std::vector<VerifierReport> Take(VerifierCheck check);
    size_t Count() const;
    void Clear();
    void SetQuiet(bool quiet);

private:
    mutable std::mutex lock_;
    std::vector<VerifierReport> reports_;
    bool quiet_ = false;
};

} // namespace host

#include "verifier.h"

#include <cstdio>

namespace host {

const char *VerifierCheckName(VerifierCheck check)
{
    switch (check) {
    case VerifierCheck::Irql: return "IRQL";
    case VerifierCheck::SpinLock: return "spin lock";
    case VerifierCheck::Pool: return "pool";
    case VerifierCheck::PoolLeak: return "pool leak";
    case VerifierCheck::Irp: return "IRP";
    case VerifierCheck::ObjectLeak: return "object leak";
    case VerifierCheck::Dispatcher: return "dispatcher object";
    case VerifierCheck::Thread: return "thread";
    case VerifierCheck::Deadlock: return "deadlock";
    case VerifierCheck::Usage: return "usage";
    case VerifierCheck::Unimplemented: return "not emulated";
    }
    return "?";
}

void Verifier::Report(VerifierCheck check, const std::string &message)
{
    std::lock_guard<std::mutex> guard(lock_);
    reports_.push_back({check, message});
    if (!quiet_)
        std::fprintf(stderr, "[verifier] %s: %s\n", VerifierCheckName(check), message.c_str());
}

std::vector<VerifierReport> Verifier::Reports() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return reports_;
}

std::vector<VerifierReport> Verifier::Take(VerifierCheck check)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<VerifierReport> taken;
    std::vector<VerifierReport> kept;
    for (auto &r : reports_)
        (r.check == check ? taken : kept).push_back(r);
    reports_.swap(kept);
    return taken;
}

size_t Verifier::Count() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return reports_.size();
}

void Verifier::Clear()
{
    std::lock_guard<std::mutex> guard(lock_);
    reports_.clear();
}

void Verifier::SetQuiet(bool quiet)
{
    std::lock_guard<std::mutex> guard(lock_);
    quiet_ = quiet;
}

} // namespace host

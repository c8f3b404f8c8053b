// A machine with the test's own thread attached; any verifier report the test did not consume
// fails it.
#pragma once

#include <gtest/gtest.h>

#include "kernel/machine.h"

#include <memory>

class KernelTest : public ::testing::Test {
protected:
    explicit KernelTest(const host::MachineOptions &options = host::MachineOptions())
        : machine_(std::make_unique<host::Machine>(options)),
          attach_(std::make_unique<host::ThreadAttachment>(*machine_, "test"))
    {
    }

    void TearDown() override
    {
        attach_.reset();
        machine_->PowerOff();
        for (const host::VerifierReport &r : machine_->Checks().Reports())
            ADD_FAILURE() << "verifier (" << host::VerifierCheckName(r.check) << "): " << r.message;
    }

    host::Machine &M() { return *machine_; }
    ULONGLONG Now() { return machine_->Clock().Now(); }
    // Takes the reports of one kind, so the test can assert on what it provoked.
    std::vector<host::VerifierReport> Take(host::VerifierCheck check)
    {
        return machine_->Checks().Take(check);
    }

    std::unique_ptr<host::Machine> machine_;
    std::unique_ptr<host::ThreadAttachment> attach_;
};

// A machine whose completions and DPCs are held up right after they set an event, until the
// threads they woke have run on.
inline host::MachineOptions WithSynchronizationDelays()
{
    host::MachineOptions options;
    options.synchronizationDelays = true;
    return options;
}

inline LARGE_INTEGER RelativeMs(LONGLONG ms)
{
    LARGE_INTEGER t;
    t.QuadPart = -ms * 10000;
    return t;
}

// A machine whose Win32 subsystem runs a user process with the test's own thread attached to it
// (the process the test's Win32 calls are made in); any verifier report the test did not
// consume fails it.
#pragma once

#include "kernel/kernel_fixture.h"

#include "caller.h"
#include "kernel/wide_string.h"
#include "win32_subsystem.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

class Win32Test : public KernelTest {
protected:
    Win32Test()
        : process_(M().CreateProcess("test process")),
          user_(std::make_unique<host::ThreadAttachment>(M(), "test", true, process_))
    {
    }

    void TearDown() override
    {
        user_.reset();
        KernelTest::TearDown();
    }

    host::win32::Subsystem &Win32() { return host::win32::Subsystem::Of(M()); }
    PKPROCESS Process() { return process_; }
    ULONGLONG NowMs() { return Now() / 10000; }
    size_t Reports(host::VerifierCheck check) { return Take(check).size(); }

    // Runs `main` as the main thread of a new process; returns the process, referenced.
    PKPROCESS Start(const std::string &name, std::function<DWORD()> main)
    {
        return Win32().StartProcess(
            name, u"C:\\Program Files\\Quen Test\\" + host::FromUtf8(name) + u".exe",
            std::move(main));
    }
    // Waits for a process to end and returns its exit code (the reference is dropped).
    DWORD Join(PKPROCESS process)
    {
        KeWaitForSingleObject(process, Executive, KernelMode, FALSE, nullptr);
        DWORD code = DWORD(process->exitStatus);
        ObfDereferenceObject(process);
        return code;
    }

    PKPROCESS process_;
    std::unique_ptr<host::ThreadAttachment> user_;
};

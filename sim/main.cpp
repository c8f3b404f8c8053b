// quen-sim: boots a simulated Windows PC on this machine and reports on it.
#include "sim_options.h"

#include "kernel/machine.h"

#include <ntddk.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

// Machine time the demonstration wait asks for.
constexpr LONGLONG kDemoWaitMs = 500;
constexpr double k100nsPerMs = 10000.0;

struct BootReport {
    bool systemThreadRan = false;
    NTSTATUS threadWait = STATUS_UNSUCCESSFUL;
    NTSTATUS demoWait = STATUS_UNSUCCESSFUL;
    double machineMs = 0;
    double realMs = 0;
};

// Runs one system thread to its end, then lets the calling thread sleep on the machine's clock
// while the host's steady clock measures how long that took for real.
BootReport Boot(host::Machine &machine)
{
    BootReport report;
    host::ThreadAttachment attach(machine, "quen-sim");

    PKTHREAD thread = machine.StartThread("boot check", machine.SystemProcess(),
                                          [&report] { report.systemThreadRan = true; });
    report.threadWait = KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(thread);

    LARGE_INTEGER interval;
    interval.QuadPart = -kDemoWaitMs * 10000;
    const ULONGLONG machineBefore = machine.Clock().Now();
    const auto realBefore = std::chrono::steady_clock::now();
    report.demoWait = KeDelayExecutionThread(KernelMode, FALSE, &interval);
    const auto realAfter = std::chrono::steady_clock::now();
    report.machineMs = (machine.Clock().Now() - machineBefore) / k100nsPerMs;
    report.realMs = std::chrono::duration<double, std::milli>(realAfter - realBefore).count();
    return report;
}

std::string ClockText(const host::MachineOptions &options)
{
    if (options.clock == host::ClockMode::Virtual)
        return "virtual (jumps ahead whenever every emulated thread waits)";
    char text[96];
    std::snprintf(text, sizeof(text), "wall clock, %g machine second(s) per real second",
                  options.wallClockScale);
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    sim::SimOptions options;
    std::string error;
    if (!sim::ParseSimOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "quen-sim: %s\n\n%s", error.c_str(), sim::SimUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(sim::SimUsage(), stdout);
        return 0;
    }

    host::Machine machine(options.machine);
    const BootReport report = Boot(machine);
    machine.PowerOff();
    const size_t verifierReports = machine.Checks().Count();
    const bool kernelUp = report.systemThreadRan && report.threadWait == STATUS_WAIT_0;

    std::printf("quen-sim: simulated Windows PC\n");
    std::printf("  clock      %s\n", ClockText(options.machine).c_str());
    if (kernelUp)
        std::printf("  kernel     up: a system thread ran to its end\n");
    else
        std::printf("  kernel     NOT up: system thread wait returned 0x%08X\n",
                    static_cast<ULONG>(report.threadWait));
    std::printf("  demo wait  %.3f ms of machine time took %.3f ms of real time (status 0x%08X)\n",
                report.machineMs, report.realMs, static_cast<ULONG>(report.demoWait));
    std::printf("  verifier   %zu report(s)\n", verifierReports);

    const bool ok = kernelUp && report.demoWait == STATUS_SUCCESS && verifierReports == 0;
    return ok ? 0 : 1;
}

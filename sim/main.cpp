// quen-sim: boots a simulated Windows PC and plugs an emulated USB audio device into it. Its main
// job installs the driver package and plays and records through the whole driver; "describe"
// shows the device's descriptors as the USB stack delivers them and the driver's device start up
// to its filter description; "devices" lists the audio devices as a user process sees them.
#include "descriptor_report.h"
#include "device_catalog.h"
#include "device_start_report.h"
#include "devices_job.h"
#include "play_job.h"
#include "soak_job.h"
#include "sim_options.h"
#include "stack_descriptor_reader.h"

#include "kernel/machine.h"
#include "usb/usb_host_controller.h"

#include <ntddk.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

constexpr int kPort = 1;
// Machine time the boot check sleeps.
constexpr LONGLONG kBootWaitMs = 500;
constexpr double k100nsPerMs = 10000.0;

// Runs one system thread to its end, then sleeps on the machine's clock while the host's steady
// clock measures how long that took for real; prints one line. False when the kernel is not up.
bool BootCheck(host::Machine &machine, const host::MachineOptions &options)
{
    bool ran = false;
    PKTHREAD thread =
        machine.StartThread("boot check", machine.SystemProcess(), [&ran] { ran = true; });
    const NTSTATUS threadWait =
        KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(thread);

    LARGE_INTEGER interval;
    interval.QuadPart = -kBootWaitMs * 10000;
    const ULONGLONG machineBefore = machine.Clock().Now();
    const auto realBefore = std::chrono::steady_clock::now();
    const NTSTATUS wait = KeDelayExecutionThread(KernelMode, FALSE, &interval);
    const double realMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - realBefore)
            .count();
    const double machineMs = (machine.Clock().Now() - machineBefore) / k100nsPerMs;

    const bool up = ran && threadWait == STATUS_WAIT_0 && wait == STATUS_SUCCESS;
    char clock[64] = "virtual clock";
    if (options.clock == host::ClockMode::WallClock)
        std::snprintf(clock, sizeof(clock), "wall clock x%g", options.wallClockScale);
    std::printf("quen-sim: simulated Windows PC on the %s: kernel %s; %.0f ms of machine time "
                "took %.1f ms\n",
                clock, up ? "up" : "NOT up", machineMs, realMs);
    return up;
}

// Plugs the device, reports its descriptors and the driver's device start. False when the
// device could not be plugged.
bool RunDevice(host::Machine &machine, const sim::CatalogDevice &device)
{
    const bool highSpeed = device.model->Speed() == host::UsbSpeed::High;
    auto controller = std::make_unique<host::UsbHostController>(machine);
    PDEVICE_OBJECT pdo = controller->Plug(kPort, device.model);
    std::printf("device: %s\n  plugged into port %d at %s%s\n", device.description.c_str(), kPort,
                highSpeed ? "high speed" : "full speed",
                device.speedInferred ? " (inferred from its descriptors)" : "");
    if (pdo == nullptr) {
        std::printf("  !! the host controller could not enumerate it (no device descriptor)\n");
        return false;
    }
    std::printf("\n");
    sim::StackDescriptorReader reader(pdo);
    sim::PrintDescriptorReport(reader, highSpeed, stdout);
    std::printf("\n");
    sim::PrintDeviceStartReport(machine, pdo, stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    sim::SimOptions options;
    std::string message;
    const int exitNow = sim::ParseSimOptions(argc, argv, &options, &message);
    if (exitNow >= 0) {
        std::fputs(message.c_str(), exitNow == 0 ? stdout : stderr);
        return exitNow;
    }
    const std::string data =
        options.dataDirectory.empty() ? sim::DefaultDataDirectory() : options.dataDirectory;
    if (options.listDevices) {
        for (const sim::CatalogEntry &entry : sim::ListDevices(data))
            std::printf("%-40s %s\n", entry.name.c_str(), entry.description.c_str());
        return 0;
    }
    sim::CatalogDevice device;
    std::string error;
    if (!sim::MakeDevice(options.device, data, &device, &error)) {
        std::fprintf(stderr, "quen-sim: %s\n", error.c_str());
        return 2;
    }
    options.play.progressBar = isatty(fileno(stdout)) != 0;

    host::Machine machine(options.machine);
    bool ok = true;
    {
        host::ThreadAttachment attach(machine, "quen-sim");
        ok = BootCheck(machine, options.machine);
        if (ok && options.command == sim::SimCommand::Describe)
            ok = RunDevice(machine, device);
        else if (ok && options.command == sim::SimCommand::Soak)
            ok = sim::RunSoakJob(machine, options.soak, stdout);
        else if (ok && options.command == sim::SimCommand::Devices)
            ok = sim::RunDevicesJob(machine, options.device, stdout);
        else if (ok)
            ok = sim::RunPlayJob(machine, options.device, options.play, stdout);
    }
    device.model.reset();
    machine.PowerOff();

    const std::vector<host::VerifierReport> reports = machine.Checks().Reports();
    std::printf("\nverifier: %zu report(s)\n", reports.size());
    for (const host::VerifierReport &report : reports)
        std::printf("  %s: %s\n", host::VerifierCheckName(report.check), report.message.c_str());
    return ok && reports.empty() ? 0 : 1;
}

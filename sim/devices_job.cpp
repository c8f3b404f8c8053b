#include "devices_job.h"

#include "driver_start.h"
#include "user_device_report.h"

#include "win32_subsystem.h"

namespace sim {

bool RunDevicesJob(host::Machine &machine, const std::string &device, FILE *out)
{
    std::string description;
    std::shared_ptr<devices::StreamingAudioDeviceModel> model =
        MakeStreamingDevice(device, &description, out);
    if (model == nullptr)
        return false;
    std::unique_ptr<DriverSession> session = StartDriver(machine, model, description, out);
    if (session == nullptr)
        return false;
    session->CloseFilter(); // the user process is the filter's only client

    std::fprintf(out, "\naudio devices as user mode sees them:\n");
    unsigned listed = 0;
    PKPROCESS process = host::win32::Subsystem::Of(machine).StartProcess(
        "devices", u"C:\\Program Files\\Norvane\\quen-sim-devices.exe", [&listed, out] {
            listed = PrintUserModeDevices(out);
            return DWORD(0);
        });
    KeWaitForSingleObject(process, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(process);
    std::fprintf(out, "%u audio device interface(s)\n", listed);
    return listed != 0;
}

} // namespace sim

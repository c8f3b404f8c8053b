#include "driver_start.h"

#include "device_catalog.h"
#include "ntstatus_text.h"

namespace sim {

std::shared_ptr<devices::StreamingAudioDeviceModel>
MakeStreamingDevice(const std::string &name, std::string *description, FILE *out)
{
    CatalogDevice catalog;
    std::string error;
    if (!MakeDevice(name, DefaultDataDirectory(), &catalog, &error)) {
        std::fprintf(out, "quen-sim: %s\n", error.c_str());
        return nullptr;
    }
    auto model = std::dynamic_pointer_cast<devices::StreamingAudioDeviceModel>(catalog.model);
    if (model == nullptr) {
        std::fprintf(out, "quen-sim: device '%s' cannot stream\n", name.c_str());
        return nullptr;
    }
    *description = catalog.description;
    return model;
}

std::unique_ptr<DriverSession>
StartDriver(host::Machine &machine, std::shared_ptr<devices::StreamingAudioDeviceModel> model,
            const std::string &description, FILE *out)
{
    host::DriverPackage package = QuenAudioPackage();
    package.hardwareIds = {HardwareId(*model)};
    auto session = std::make_unique<DriverSession>(machine, package);
    std::fprintf(out, "driver package: %s installed: %s\n", "norvane_quen_audio",
                 NtStatusName(session->InstallStatus()));
    std::fprintf(out, "device: %s, plugged into port 1\n", description.c_str());
    host::DeviceNode *node = session->Plug(std::move(model));
    if (node == nullptr || node->state != host::DeviceState::Started) {
        std::fprintf(out, "device start: the driver did not start it: %s\n",
                     NtStatusText(node != nullptr ? node->problem : STATUS_NO_SUCH_DEVICE).c_str());
        return nullptr;
    }
    std::fprintf(out, "device start: plug and play loaded norvane_quen_audio and started it\n");
    return session;
}

} // namespace sim

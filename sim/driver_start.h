// How quen-sim's jobs bring the driver up on a catalog device: the device made by its catalog
// name, the package installed for the device's own hardware id, the device plugged into port 1
// and started by plug and play, each step reported as one line.
#pragma once

#include "driver_session.h"

#include <cstdio>
#include <memory>
#include <string>

namespace sim {

// The streaming model of the named catalog device and its description; null (said to `out`)
// when the name is unknown or the device cannot stream.
std::shared_ptr<devices::StreamingAudioDeviceModel>
MakeStreamingDevice(const std::string &name, std::string *description, FILE *out);

// Installs the package for the model's hardware id and plugs the model. The session, or null
// (said to `out`) when plug and play did not start the driver on the device.
std::unique_ptr<DriverSession>
StartDriver(host::Machine &machine, std::shared_ptr<devices::StreamingAudioDeviceModel> model,
            const std::string &description, FILE *out);

} // namespace sim

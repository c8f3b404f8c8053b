// quen-sim devices: the driver brought up on a device as the main job does, then the audio
// devices as a user process sees them through SetupAPI and the KS client library, with their
// pins and ranges.
#pragma once

#include "kernel/machine.h"

#include <cstdio>
#include <string>

namespace sim {

// Runs the job on a machine whose calling thread is attached and writes the report to `out`.
// True when the driver started and user mode found at least one audio device interface.
bool RunDevicesJob(host::Machine &machine, const std::string &device, FILE *out);

} // namespace sim

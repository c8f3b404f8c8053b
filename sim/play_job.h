// quen-sim's main job: the package installed on a simulated PC, a converter plugged in and
// started by plug and play, and a KS client playing through the render pin while it records from
// the capture pin; then a report of what the device received and what came back.
#pragma once

#include "sim_options.h"

#include "kernel/machine.h"

#include <cstdio>
#include <string>

namespace sim {

// Runs the job on a machine whose calling thread is attached and writes the report to `out`.
// True when every frame arrived once, in order and unchanged in both directions, and the device
// neither ran dry nor overflowed; the verifier's reports are the caller's to add.
bool RunPlayJob(host::Machine &machine, const std::string &device, const PlayOptions &options,
                FILE *out);

} // namespace sim

// quen-sim's soak mode: random sequences of client runs through the whole driver (formats and
// rates changing between runs, full duplex, pauses, client stalls) while the device clock drifts
// within +-1000 ppm, for a given number of simulated hours; then the totals.
#pragma once

#include "sim_options.h"

#include "kernel/machine.h"

#include <cstdio>

namespace sim {

// Runs on a machine whose calling thread is attached. True when nothing was lost, changed or
// refused and the device neither ran dry nor overflowed while it was fed; the verifier's
// reports (leaks among them) are the caller's to add.
bool RunSoakJob(host::Machine &machine, const SoakOptions &options, FILE *out);

} // namespace sim

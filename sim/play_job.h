// quen-sim's main job: the package installed on a simulated PC, a converter plugged in and
// started by plug and play, and a KS client playing through the render pin while it records from
// the capture pin; then a report of what the device received and what came back.
#pragma once

#include "kernel/machine.h"

#include <cstdio>
#include <string>

namespace sim {

struct PlayOptions {
    ULONG rate = 48000;
    ULONG bits = 24;
    ULONG channels = 2;
    double seconds = 5;
    double clockOffsetPpm = 0;
    std::string device = "rvd3";
    std::string input;        // a WAV or FLAC file to play instead of the test signal
    std::string playedFile;   // what the DAC received
    std::string recordedFile; // what the capture pin delivered
    std::string plotFile;     // PNG of the feedback value and the device FIFO over time
    bool progressBar = false; // redraw one progress line (a terminal); else plain lines
};

// Runs the job on a machine whose calling thread is attached and writes the report to `out`.
// True when every frame arrived once, in order and unchanged in both directions, and the device
// neither ran dry nor overflowed; the verifier's reports are the caller's to add.
bool RunPlayJob(host::Machine &machine, const PlayOptions &options, FILE *out);

} // namespace sim

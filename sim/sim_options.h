// The command line of quen-sim (CLI11): the main job, playing and recording through the driver
// ("play", also what no command means), the descriptor and device-start report ("describe"),
// random sequences of runs for hours ("soak"), and the audio devices as user mode sees them
// ("devices").
#pragma once

#include "kernel/machine.h"

#include <string>

namespace sim {

constexpr const char *kDefaultDevice = "rvd3";

enum class SimCommand { Play, Describe, Soak, Devices };

struct PlayOptions {
    ULONG rate = 48000;
    ULONG bits = 24;
    ULONG channels = 2;
    double seconds = 5;
    double clockOffsetPpm = 0;
    std::string input;        // a WAV or FLAC file to play instead of the test signal
    std::string playedFile;   // what the DAC received
    std::string recordedFile; // what the capture pin delivered
    std::string plotFile;     // PNG of the feedback value and the device FIFO over time
    bool progressBar = false; // redraw one progress line (a terminal); else plain lines
};

struct SoakOptions {
    double hours = 1;     // simulated time
    unsigned seed = 1;    // of the random sequence
    double maxPpm = 1000; // the device clock drifts within +-maxPpm
};

struct SimOptions {
    SimCommand command = SimCommand::Play;
    host::MachineOptions machine;
    std::string device = kDefaultDevice; // a name of the device catalog
    std::string dataDirectory;           // real devices' descriptor dumps; empty: the default
    bool listDevices = false;
    PlayOptions play;
    SoakOptions soak;
};

// Reads the arguments after the program name. Returns -1 when the program is to run; otherwise
// the exit status to end with at once (0 after --help, 2 on a malformed or unknown argument),
// with the text to print in *message.
int ParseSimOptions(int argc, const char *const argv[], SimOptions *options, std::string *message);

} // namespace sim

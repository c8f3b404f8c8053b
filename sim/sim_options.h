// The command line of quen-sim.
#pragma once

#include "kernel/machine.h"

#include <string>

namespace sim {

constexpr const char *kDefaultDevice = "rvd3";

struct SimOptions {
    host::MachineOptions machine;
    std::string device = kDefaultDevice; // a name of the device catalog
    std::string dataDirectory;           // real devices' descriptor dumps; empty: the default
    bool listDevices = false;
    bool help = false;
};

// Reads the arguments after the program name. On a malformed or unknown argument it returns
// false and says why in *error; *options is then unspecified.
bool ParseSimOptions(int argc, const char *const argv[], SimOptions *options, std::string *error);

// The text --help prints.
const char *SimUsage();

} // namespace sim

#include "sim_options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

const char kWallClock[] = "--wall-clock";

// A scale is a finite number above zero: virtual seconds per real second.
bool ParseScale(const char *text, double *scale)
{
    char *end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || value <= 0)
        return false;
    *scale = value;
    return true;
}

// "--name VALUE" or "--name=VALUE". Returns false when argv[*i] is another option; otherwise
// *value is set, or *error when the value is missing or empty.
bool TakeValue(const char *name, int argc, const char *const argv[], int *i, std::string *value,
               std::string *error)
{
    const char *arg = argv[*i];
    const size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) != 0)
        return false;
    if (arg[length] == '=') {
        *value = arg + length + 1;
    } else if (arg[length] == '\0') {
        if (*i + 1 >= argc) {
            *error = std::string("missing value after '") + name + "'";
            return true;
        }
        *value = argv[++*i];
    } else {
        return false;
    }
    if (value->empty())
        *error = std::string("empty value for '") + name + "'";
    return true;
}

} // namespace

bool ParseSimOptions(int argc, const char *const argv[], SimOptions *options, std::string *error)
{
    *options = SimOptions();
    error->clear();
    const size_t wallClockLength = std::strlen(kWallClock);
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            options->help = true;
        } else if (std::strcmp(arg, "--list-devices") == 0) {
            options->listDevices = true;
        } else if (TakeValue("--device", argc, argv, &i, &options->device, error) ||
                   TakeValue("--data", argc, argv, &i, &options->dataDirectory, error)) {
            if (!error->empty())
                return false;
        } else if (std::strncmp(arg, kWallClock, wallClockLength) == 0 &&
                   (arg[wallClockLength] == '\0' || arg[wallClockLength] == '=')) {
            options->machine.clock = host::ClockMode::WallClock;
            options->machine.wallClockScale = 1.0;
            const char *scale = arg + wallClockLength;
            if (*scale == '=' && !ParseScale(scale + 1, &options->machine.wallClockScale)) {
                *error = std::string("bad wall-clock scale '") + (scale + 1) +
                         "': expected a number above zero";
                return false;
            }
        } else {
            *error = std::string("unknown argument '") + arg + "'";
            return false;
        }
    }
    return true;
}

const char *SimUsage()
{
    return "usage: quen-sim [--device NAME] [--data DIR] [--list-devices] [--wall-clock[=SCALE]]\n"
           "                [--help]\n"
           "\n"
           "Boots a simulated Windows PC, plugs an emulated USB audio device into its USB host\n"
           "controller, prints the device's descriptors as read through the emulated USB stack,\n"
           "then runs the driver's device start up to its filter description and prints what it\n"
           "found: entities, streaming interfaces, data ranges, pins, nodes and signal chains.\n"
           "\n"
           "  --device NAME         the device to plug (default rvd3); see --list-devices.\n"
           "                        real:NAME replays a real device's descriptor dump\n"
           "  --data DIR            where real devices' dumps (NAME.dev.hex, NAME.cfg.hex) are\n"
           "                        (default: the source tree's "
           "tests/devices/data/usb-descriptors)\n"
           "  --list-devices        list the devices --device accepts and exit\n"
           "  --wall-clock[=SCALE]  run the machine's clock on the host's clock, SCALE virtual\n"
           "                        seconds per real second (default 1); without it the clock\n"
           "                        is virtual and jumps ahead whenever every thread waits\n"
           "  -h, --help            print this text\n"
           "\n"
           "Exit status: 0 when the run completed without a verifier report (whether the driver\n"
           "started the device or refused it), 1 on a verifier report or when the device could\n"
           "not be plugged, 2 on a bad argument.\n";
}

} // namespace sim

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

} // namespace

bool ParseSimOptions(int argc, const char *const argv[], SimOptions *options, std::string *error)
{
    *options = SimOptions();
    const size_t wallClockLength = std::strlen(kWallClock);
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            options->help = true;
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
    return "usage: quen-sim [--wall-clock[=SCALE]] [--help]\n"
           "\n"
           "Boots a simulated Windows PC (the host emulation of the Windows kernel) and reports\n"
           "on it.\n"
           "\n"
           "  --wall-clock[=SCALE]  run the machine's clock on the host's clock, SCALE virtual\n"
           "                        seconds per real second (default 1); without it the clock\n"
           "                        is virtual and jumps ahead whenever every thread waits\n"
           "  -h, --help            print this text\n";
}

} // namespace sim

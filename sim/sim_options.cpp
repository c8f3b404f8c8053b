#include "sim_options.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <sstream>

namespace sim {
namespace {

// A scale is a finite number above zero: virtual seconds per real second.
std::string CheckScale(const std::string &text)
{
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0)
        return "bad wall-clock scale '" + text + "': expected a number above zero";
    return {};
}

std::string CheckNotEmpty(const std::string &text)
{
    return text.empty() ? "empty value" : std::string();
}

} // namespace

int ParseSimOptions(int argc, const char *const argv[], SimOptions *options, std::string *message)
{
    *options = SimOptions();
    message->clear();
    CLI::App app("Boots a simulated Windows PC, installs the RV-D3 driver package, plugs an "
                 "emulated converter into its USB host controller and lets plug and play start "
                 "the driver; then plays a test signal or a file through the driver's render pin "
                 "while recording from its capture pin, and reports what arrived. Exit status: 0 "
                 "when everything arrived bit-perfect without a verifier report, 1 otherwise, 2 "
                 "on a bad argument.",
                 "quen-sim");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.require_subcommand(0, 1);
    app.add_option("--device", options->device,
                   "the device to plug (default rvd3); see --list-devices; real:NAME replays a "
                   "real device's descriptor dump")
        ->check(CLI::Validator(CheckNotEmpty, "NAME"));
    app.add_option("--data", options->dataDirectory,
                   "where real devices' dumps (NAME.dev.hex, NAME.cfg.hex) are (default: the "
                   "source tree's tests/devices/data/usb-descriptors)")
        ->check(CLI::Validator(CheckNotEmpty, "DIR"));
    app.add_flag("--list-devices", options->listDevices, "list the devices --device accepts");
    std::string scale;
    CLI::Option *wallClock =
        app.add_flag("--wall-clock{1}", scale,
                     "run the machine's clock on the host's clock, SCALE virtual seconds per real "
                     "second (default 1); without it the clock is virtual and jumps ahead "
                     "whenever every thread waits")
            ->check(CLI::Validator(CheckScale, "SCALE"));

    PlayOptions &play = options->play;
    CLI::App *playCommand = app.add_subcommand(
        "play", "play and record through the whole driver (what no command does)");
    playCommand->fallthrough();
    playCommand->add_option("--rate", play.rate, "sample rate in Hz (default 48000)")
        ->check(CLI::Range(1u, 768000u));
    playCommand->add_option("--bits", play.bits, "client sample size (default 24)")
        ->check(CLI::IsMember({16u, 24u, 32u}));
    playCommand->add_option("--channels", play.channels, "client channels (default 2)")
        ->check(CLI::Range(1u, 8u));
    playCommand->add_option("--seconds", play.seconds, "length of the test signal (default 5)")
        ->check(CLI::Range(0.01, 86400.0));
    playCommand
        ->add_option("--ppm", play.clockOffsetPpm,
                     "the device's sample clock against the bus clock, in ppm (default 0)")
        ->check(CLI::Range(-10000.0, 10000.0));
    playCommand->add_option("--play", play.input, "a WAV or FLAC file to play")
        ->check(CLI::ExistingFile);
    playCommand->add_option("--write-played", play.playedFile,
                            "write what the DAC received (WAV, or FLAC by the name)");
    playCommand->add_option("--write-recorded", play.recordedFile,
                            "write what the capture pin delivered");
    playCommand->add_option("--plot", play.plotFile,
                            "write a PNG of the feedback value and the device FIFO over time");
    CLI::App *describe = app.add_subcommand(
        "describe", "print the device's descriptors as the USB stack delivers them and the "
                    "driver's device start up to its filter description");
    describe->fallthrough();
    SoakOptions &soak = options->soak;
    CLI::App *soakCommand = app.add_subcommand(
        "soak", "random runs through the driver (format and rate changes, full duplex, pauses, "
                "client stalls) with the device clock drifting, for simulated hours");
    soakCommand->fallthrough();
    soakCommand->add_option("--hours", soak.hours, "simulated hours (default 1)")
        ->check(CLI::Range(0.001, 1000.0));
    soakCommand->add_option("--seed", soak.seed, "seed of the random sequence (default 1)");
    soakCommand->add_option("--max-ppm", soak.maxPpm, "the clock's drift bound (default 1000)")
        ->check(CLI::Range(0.0, 10000.0));

    CLI::App *devices = app.add_subcommand(
        "devices", "start the driver on the device, then list the audio devices as a user process "
                   "sees them through SetupAPI and the KS client library, with their pins and "
                   "ranges");
    devices->fallthrough();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        std::ostringstream out, err;
        const int code = app.exit(error, out, err);
        *message = out.str() + err.str();
        return code == 0 ? 0 : 2;
    }
    if (wallClock->count() != 0) {
        options->machine.clock = host::ClockMode::WallClock;
        options->machine.wallClockScale = std::strtod(scale.c_str(), nullptr);
    }
    options->command = describe->parsed()      ? SimCommand::Describe
                       : soakCommand->parsed() ? SimCommand::Soak
                       : devices->parsed()     ? SimCommand::Devices
                                               : SimCommand::Play;
    return -1;
}

} // namespace sim

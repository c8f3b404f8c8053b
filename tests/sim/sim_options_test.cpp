// quen-sim's command line: the main job by default, its options, the describe and devices
// commands, the clock selection, and the arguments it refuses.
#include <gtest/gtest.h>

#include "sim_options.h"

#include <string>
#include <vector>

namespace {

struct Parsed {
    int exit;
    sim::SimOptions options;
    std::string message;
};

Parsed Parse(std::vector<const char *> args)
{
    args.insert(args.begin(), "quen-sim");
    Parsed parsed;
    parsed.exit = sim::ParseSimOptions(static_cast<int>(args.size()), args.data(), &parsed.options,
                                       &parsed.message);
    return parsed;
}

TEST(SimOptionsTest, NoArgumentsPlayOnTheRvd3OnTheVirtualClock)
{
    Parsed p = Parse({});
    ASSERT_EQ(-1, p.exit);
    EXPECT_EQ(sim::SimCommand::Play, p.options.command);
    EXPECT_EQ(host::ClockMode::Virtual, p.options.machine.clock);
    EXPECT_EQ("rvd3", p.options.device);
    EXPECT_EQ(48000u, p.options.play.rate);
    EXPECT_EQ(24u, p.options.play.bits);
}

TEST(SimOptionsTest, PlayTakesItsFormatFilesAndTheDeviceClock)
{
    Parsed p = Parse({"play", "--rate", "384000", "--bits=32", "--seconds", "2.5", "--ppm", "-1000",
                      "--write-played", "dac.wav", "--plot", "run.png", "--device", "rvd3-render"});
    ASSERT_EQ(-1, p.exit) << p.message;
    EXPECT_EQ(384000u, p.options.play.rate);
    EXPECT_EQ(32u, p.options.play.bits);
    EXPECT_EQ(2.5, p.options.play.seconds);
    EXPECT_EQ(-1000.0, p.options.play.clockOffsetPpm);
    EXPECT_EQ("dac.wav", p.options.play.playedFile);
    EXPECT_EQ("run.png", p.options.play.plotFile);
    EXPECT_EQ("rvd3-render", p.options.device);
}

TEST(SimOptionsTest, DescribeTakesTheDeviceAndTheClock)
{
    Parsed p = Parse({"describe", "--device", "real:topping-d50s", "--data=dumps", "--wall-clock"});
    ASSERT_EQ(-1, p.exit) << p.message;
    EXPECT_EQ(sim::SimCommand::Describe, p.options.command);
    EXPECT_EQ("real:topping-d50s", p.options.device);
    EXPECT_EQ("dumps", p.options.dataDirectory);
    EXPECT_EQ(host::ClockMode::WallClock, p.options.machine.clock);
    EXPECT_EQ(1.0, p.options.machine.wallClockScale);
    EXPECT_EQ(0.25, Parse({"--wall-clock=0.25"}).options.machine.wallClockScale);
}

TEST(SimOptionsTest, DevicesTakesTheDevice)
{
    Parsed p = Parse({"devices", "--device", "rvd3-render"});
    ASSERT_EQ(-1, p.exit) << p.message;
    EXPECT_EQ(sim::SimCommand::Devices, p.options.command);
    EXPECT_EQ("rvd3-render", p.options.device);
}

TEST(SimOptionsTest, HelpEndsAtOnceWithTheText)
{
    Parsed p = Parse({"--help"});
    EXPECT_EQ(0, p.exit);
    EXPECT_NE(std::string::npos, p.message.find("--wall-clock"));
    EXPECT_NE(std::string::npos, Parse({"play", "-h"}).message.find("--write-recorded"));
}

TEST(SimOptionsTest, BadArgumentsAreRefusedWithTheirReason)
{
    const std::vector<std::vector<const char *>> bad = {
        {"--wall-clock=0"},
        {"--wall-clock=x"},
        {"play", "--bits", "20"},
        {"play", "--rate", "0"},
        {"--device="},
        {"--frobnicate"},
        {"play", "--play", "/no/such/file.wav"},
    };
    for (const auto &args : bad) {
        Parsed p = Parse(args);
        EXPECT_EQ(2, p.exit) << args.back();
        EXPECT_FALSE(p.message.empty()) << args.back();
    }
    EXPECT_NE(std::string::npos, Parse({"--wall-clock=0"}).message.find("wall-clock scale"));
}

} // namespace

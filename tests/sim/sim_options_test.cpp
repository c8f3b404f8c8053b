// quen-sim's command line: clock selection, device choice, and the arguments it refuses.
#include <gtest/gtest.h>

#include "sim_options.h"

#include <string>
#include <vector>

namespace {

struct Parsed {
    bool ok;
    sim::SimOptions options;
    std::string error;
};

Parsed Parse(std::vector<const char *> args)
{
    args.insert(args.begin(), "quen-sim");
    Parsed parsed;
    parsed.ok = sim::ParseSimOptions(static_cast<int>(args.size()), args.data(), &parsed.options,
                                     &parsed.error);
    return parsed;
}

TEST(SimOptionsTest, NoArgumentsPlugTheRvd3OnTheVirtualClock)
{
    Parsed p = Parse({});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(host::ClockMode::Virtual, p.options.machine.clock);
    EXPECT_EQ("rvd3", p.options.device);
    EXPECT_TRUE(p.options.dataDirectory.empty());
    EXPECT_FALSE(p.options.listDevices);
    EXPECT_FALSE(p.options.help);
}

TEST(SimOptionsTest, WallClockWithoutScaleRunsAtRealSpeed)
{
    Parsed p = Parse({"--wall-clock"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(host::ClockMode::WallClock, p.options.machine.clock);
    EXPECT_EQ(1.0, p.options.machine.wallClockScale);
}

TEST(SimOptionsTest, WallClockTakesAFractionalScale)
{
    Parsed p = Parse({"--wall-clock=0.25"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(host::ClockMode::WallClock, p.options.machine.clock);
    EXPECT_EQ(0.25, p.options.machine.wallClockScale);
}

TEST(SimOptionsTest, ScaleMustBeAFiniteNumberAboveZero)
{
    for (const char *bad : {"--wall-clock=0", "--wall-clock=-2", "--wall-clock=", "--wall-clock=x",
                            "--wall-clock=3x", "--wall-clock=inf", "--wall-clock=nan"}) {
        Parsed p = Parse({bad});
        EXPECT_FALSE(p.ok) << bad;
        EXPECT_NE(std::string::npos, p.error.find("wall-clock scale")) << bad << ": " << p.error;
    }
}

TEST(SimOptionsTest, HelpIsRecognisedInBothSpellings)
{
    EXPECT_TRUE(Parse({"--help"}).options.help);
    EXPECT_TRUE(Parse({"-h"}).options.help);
    EXPECT_NE(std::string::npos, std::string(sim::SimUsage()).find("--wall-clock[=SCALE]"));
}

TEST(SimOptionsTest, DeviceAndDataTakeTheirValueInBothSpellings)
{
    Parsed separate = Parse({"--device", "real:topping-d50s", "--data", "/tmp/dumps"});
    ASSERT_TRUE(separate.ok) << separate.error;
    EXPECT_EQ("real:topping-d50s", separate.options.device);
    EXPECT_EQ("/tmp/dumps", separate.options.dataDirectory);

    Parsed joined = Parse({"--device=uac1", "--data=dumps"});
    ASSERT_TRUE(joined.ok) << joined.error;
    EXPECT_EQ("uac1", joined.options.device);
    EXPECT_EQ("dumps", joined.options.dataDirectory);
}

TEST(SimOptionsTest, TheLastDeviceGivenWins)
{
    Parsed p = Parse({"--device", "uac1", "--device=implicit"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ("implicit", p.options.device);
}

TEST(SimOptionsTest, AValueThatLooksLikeAnOptionIsStillTheValue)
{
    // "--device --help" names a device called "--help"; the catalog refuses it later.
    Parsed p = Parse({"--device", "--help"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ("--help", p.options.device);
    EXPECT_FALSE(p.options.help);
}

TEST(SimOptionsTest, MissingOrEmptyValuesAreRefused)
{
    for (std::vector<const char *> bad : std::vector<std::vector<const char *>>{
             {"--device"}, {"--data"}, {"--device="}, {"--data="}, {"--wall-clock", "--device"}}) {
        Parsed p = Parse(bad);
        EXPECT_FALSE(p.ok) << bad.back();
        EXPECT_NE(std::string::npos, p.error.find(std::string(bad.back()).substr(0, 6))) << p.error;
    }
}

TEST(SimOptionsTest, ListDevicesCombinesWithData)
{
    Parsed p = Parse({"--list-devices", "--data", "dumps"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_TRUE(p.options.listDevices);
    EXPECT_EQ("dumps", p.options.dataDirectory);
    EXPECT_NE(std::string::npos, std::string(sim::SimUsage()).find("--list-devices"));
    EXPECT_NE(std::string::npos, std::string(sim::SimUsage()).find("real:NAME"));
}

TEST(SimOptionsTest, UnknownArgumentsAndLookalikesAreRefused)
{
    for (const char *bad : {"--wallclock", "--wall-clock-fast", "--wall-clocks=2", "extra",
                            "--devices=rvd3", "--device-name", "--list-device", "--database"}) {
        Parsed p = Parse({bad});
        EXPECT_FALSE(p.ok) << bad;
        EXPECT_NE(std::string::npos, p.error.find(bad)) << p.error;
    }
}

} // namespace

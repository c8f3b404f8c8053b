// quen-sim's command line: clock selection and the arguments it refuses.
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

TEST(SimOptionsTest, NoArgumentsRunOnTheVirtualClock)
{
    Parsed p = Parse({});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(host::ClockMode::Virtual, p.options.machine.clock);
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

TEST(SimOptionsTest, UnknownArgumentsAndLookalikesAreRefused)
{
    for (const char *bad : {"--wallclock", "--wall-clock-fast", "--wall-clocks=2", "extra"}) {
        Parsed p = Parse({bad});
        EXPECT_FALSE(p.ok) << bad;
        EXPECT_NE(std::string::npos, p.error.find(bad)) << p.error;
    }
}

} // namespace

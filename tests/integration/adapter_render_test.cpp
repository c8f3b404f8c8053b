// Render through the adapter into the RV-D3 model, driven the way the WaveCyclic stream drives
// it: every frame the stream writes reaches the device's output once, in order, converted to the
// device's container, across the device's formats, for ten minutes of clock drift, and across a
// pause, a starving client and a late ASIO host.
#include "adapter_harness/adapter_test.h"

#include "devices/rvd3_model.h"
#include "devices/test_devices.h"

#include <vector>

namespace {

using namespace adapter_harness;

struct RenderCase {
    ULONG rate;
    ULONG bits;
    ULONG deviceBits; // the container of the setting the RV-D3 plays it with
};

std::string RenderCaseName(const ::testing::TestParamInfo<RenderCase> &info)
{
    return std::to_string(info.param.rate) + "Hz" + std::to_string(info.param.bits) + "bit";
}

class RenderTest : public AdapterTest {
protected:
    static std::shared_ptr<devices::StreamingAudioDeviceModel> Rvd3(double clockOffsetPpm = 0)
    {
        devices::Rvd3Options options;
        options.capture = false;
        options.streaming.clockOffsetPpm = clockOffsetPpm;
        return std::make_shared<devices::Rvd3Model>(options);
    }
    // Starts the device and a render stream in `format` whose output is checked.
    const RenderChecker &StartRender(std::shared_ptr<devices::StreamingAudioDeviceModel> device,
                                     const ClientFormat &format, ULONG deviceBits,
                                     bool asio = false, bool allowSilence = false)
    {
        Start(std::move(device));
        const RenderChecker &checker = CheckRender(format, deviceBits, allowSilence);
        Miniport().SetAsioMode(false, asio);
        EXPECT_EQ(STATUS_SUCCESS, Miniport().Open(false, format));
        EXPECT_EQ(STATUS_SUCCESS, Miniport().Run(false));
        return checker;
    }
};

class RenderFormatTest : public RenderTest, public ::testing::WithParamInterface<RenderCase> {};

TEST_P(RenderFormatTest, EveryFrameReachesTheDeviceInOrder)
{
    const RenderCase c = GetParam();
    const RenderChecker &checker = StartRender(Rvd3(), {2, c.bits, c.rate}, c.deviceBits);
    rig_->Play(300);
    const auto counters = RenderCounters();
    EXPECT_EQ(0u, checker.Mismatches());
    EXPECT_GT(checker.FramesMatched(), c.rate / 5);
    EXPECT_EQ(0u, counters.underruns);
    EXPECT_EQ(0u, counters.overruns);
    EXPECT_EQ(0u, counters.malformedPackets);
    EXPECT_TRUE(Miniport().StreamErrors().empty());
}

std::vector<RenderCase> Rvd3Formats()
{
    std::vector<RenderCase> cases;
    for (ULONG rate : {44100u, 48000u, 96000u, 192000u, 384000u}) {
        cases.push_back({rate, 16, 16});
        cases.push_back({rate, 24, 32});
        cases.push_back({rate, 32, 32});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Rvd3, RenderFormatTest, ::testing::ValuesIn(Rvd3Formats()),
                         RenderCaseName);

// Ten minutes with the device clock 1000 ppm fast, then 1000 ppm slow: the feedback keeps the
// device's FIFO from running dry or over, and what it plays is exactly what was written.
class RenderDriftTest : public RenderTest, public ::testing::WithParamInterface<RenderCase> {};

TEST_P(RenderDriftTest, TenMinutesWithTheDeviceClockOff1000PpmEachWay)
{
    constexpr ULONGLONG kHalfMs = 5 * 60 * 1000;
    const RenderCase c = GetParam();
    const RenderChecker &checker = StartRender(Rvd3(1000), {2, c.bits, c.rate}, c.deviceBits);
    rig_->Play(kHalfMs);
    rig_->WithDevice([](devices::StreamingAudioDeviceModel &d) {
        d.SetClockOffsetPpm(-1000);
        return 0;
    });
    rig_->Play(kHalfMs);

    const auto counters = RenderCounters();
    EXPECT_EQ(0u, counters.underruns);
    EXPECT_EQ(0u, counters.overruns);
    EXPECT_EQ(0u, counters.silenceFrames);
    EXPECT_EQ(0u, checker.Mismatches());
    EXPECT_EQ(counters.framesPlayed, checker.FramesMatched());
    // The device played at its own clock, ten minutes' worth.
    EXPECT_NEAR(double(c.rate) * 600, double(counters.framesPlayed), double(c.rate) * 0.1);
    EXPECT_TRUE(Miniport().StreamErrors().empty());
}

INSTANTIATE_TEST_SUITE_P(Rvd3, RenderDriftTest,
                         ::testing::Values(RenderCase{48000, 24, 32}, RenderCase{384000, 32, 32}),
                         RenderCaseName);

const ClientFormat kStereo16{2, 16, 48000};

TEST_F(RenderTest, PauseHoldsThePositionAndLosesNothing)
{
    const RenderChecker &checker = StartRender(Rvd3(), kStereo16, 16);
    rig_->Play(200);
    Miniport().Pause(false);
    rig_->Play(50); // what was in flight plays out
    const ULONGLONG position = Miniport().RenderPosition();
    rig_->Play(200);
    EXPECT_EQ(position, Miniport().RenderPosition());
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    rig_->Play(200);
    EXPECT_GT(Miniport().RenderPosition(), position);
    // Everything written before the pause played, in order, then the rest.
    EXPECT_EQ(0u, checker.Mismatches());
    EXPECT_GT(checker.FramesMatched(), kStereo16.rate * 3 / 10);
}

TEST_F(RenderTest, StarvationPlaysSilenceOnceAndMovesThePositionByIt)
{
    const RenderChecker &checker = StartRender(Rvd3(), kStereo16, 16, false, true);
    rig_->Play(200);
    // The buffer holds 480 ms; the client stays away longer than that.
    Miniport().SetStarving(true);
    ULONGLONG last = Miniport().RenderPosition();
    for (int i = 0; i < 70; ++i) {
        rig_->Play(AdapterRig::kServiceMs);
        const ULONGLONG position = Miniport().RenderPosition();
        EXPECT_GE(position, last);
        // The position runs at the device's pace, never ahead of it.
        EXPECT_LE(position - last,
                  2 * AdapterRig::kServiceMs * kStereo16.rate / 1000 * kStereo16.BlockAlign());
        last = position;
    }
    Miniport().SetStarving(false);
    rig_->Play(200);
    EXPECT_EQ(0u, checker.Mismatches());
    EXPECT_GT(checker.EngineSilenceFrames(), 0u);
    EXPECT_EQ(0u, RenderCounters().underruns);
    EXPECT_TRUE(Miniport().StreamErrors().empty());
}

class AsioRenderTest : public RenderTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AsioRenderTest, ALateHostPausesTheTransfersUntilItsNextHalf)
{
    const bool feedback = GetParam();
    const RenderChecker &checker =
        StartRender(feedback ? Rvd3()
                             : std::shared_ptr<devices::StreamingAudioDeviceModel>(
                                   devices::MakeLengthPrefixedQuirkDevice()),
                    kStereo16, 16, true, true);
    rig_->Play(200);
    EXPECT_GT(Miniport().RenderPosition(), 0u);
    Miniport().SetStarving(true);
    rig_->Play(100);
    const ULONGLONG stalled = Miniport().RenderPosition();
    rig_->Play(100);
    EXPECT_EQ(stalled, Miniport().RenderPosition());
    Miniport().SetStarving(false);
    rig_->Play(200);
    EXPECT_GT(Miniport().RenderPosition(), stalled);
    EXPECT_EQ(0u, checker.Mismatches());
}

INSTANTIATE_TEST_SUITE_P(FeedbackAndPlain, AsioRenderTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "ExplicitFeedback" : "NoFeedback";
                         });

} // namespace

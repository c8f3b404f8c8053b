// Render through the adapter into the other ways a USB audio function clocks its stream: full
// speed with 3-byte 10.14 feedback, Audio Class 1.0 with a synch endpoint, a render clock that
// follows the capture stream (implicit feedback), and an adaptive endpoint without feedback
// (whose packets carry their length). A minute each, every frame in order.
#include "adapter_harness/adapter_test.h"

#include "devices/test_devices.h"

#include <functional>

namespace {

using namespace adapter_harness;

constexpr ULONGLONG kRunMs = 60 * 1000;

struct DeviceCase {
    const char *name;
    std::function<std::unique_ptr<devices::StreamingAudioDeviceModel>(
        const devices::StreamingOptions &)>
        make;
    ClientFormat format;
    ULONG deviceBits;
};

class DeviceRenderTest : public AdapterTest, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(DeviceRenderTest, PlaysAMinuteBitExact)
{
    const DeviceCase &c = GetParam();
    devices::StreamingOptions options;
    options.clockOffsetPpm = 300;
    Start(c.make(options));
    const RenderChecker &checker = CheckRender(c.format, c.deviceBits);
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(false, c.format));
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    rig_->Play(kRunMs);

    const auto counters = RenderCounters();
    EXPECT_EQ(0u, counters.underruns);
    EXPECT_EQ(0u, counters.overruns);
    EXPECT_EQ(0u, counters.malformedPackets);
    EXPECT_EQ(0u, checker.Mismatches());
    EXPECT_EQ(counters.framesPlayed, checker.FramesMatched());
    EXPECT_NEAR(double(c.format.rate) * kRunMs / 1000, double(counters.framesPlayed),
                c.format.rate * 0.1);
    EXPECT_TRUE(Miniport().StreamErrors().empty());
}

INSTANTIATE_TEST_SUITE_P(
    OtherClocks, DeviceRenderTest,
    ::testing::Values(
        DeviceCase{"FullSpeedFeedback1014", devices::MakeFullSpeedUac2Device, {2, 24, 96000}, 24},
        DeviceCase{
            "AudioClass1SynchEndpoint", devices::MakeUac1SynchEndpointDevice, {2, 16, 44100}, 16},
        DeviceCase{"ImplicitFeedback", devices::MakeImplicitFeedbackDevice, {2, 24, 48000}, 32},
        // No feedback at all: the rate's pattern paces an adaptive endpoint.
        DeviceCase{"NoFeedbackLengthPrefixed",
                   [](const devices::StreamingOptions &) {
                       return devices::MakeLengthPrefixedQuirkDevice();
                   },
                   {2, 16, 44100},
                   16}),
    [](const ::testing::TestParamInfo<DeviceCase> &info) { return info.param.name; });

} // namespace

namespace {

// With implicit feedback both directions run on one clock: each starts and stops without
// stopping the other.
TEST_F(AdapterTest, ImplicitFeedbackDirectionsComeAndGoIndependently)
{
    Start(devices::MakeImplicitFeedbackDevice());
    const ClientFormat format{2, 24, 48000};
    Miniport().SetDeviceCaptureFormat({2, 4, 24});
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(true, format));
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(false, format));
    // Another format would move the shared clock under the capture stream.
    EXPECT_EQ(STATUS_UNSUCCESSFUL, Miniport().ChangeFormat(false, {2, 24, 96000}));
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(true));
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    auto moving = [this](bool capture) {
        const ULONGLONG before =
            capture ? Miniport().CaptureWritten() : Miniport().RenderPosition();
        rig_->Play(100);
        return (capture ? Miniport().CaptureWritten() : Miniport().RenderPosition()) > before;
    };
    EXPECT_TRUE(moving(false));
    EXPECT_TRUE(moving(true));
    Miniport().Pause(false);
    EXPECT_TRUE(moving(true));
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    Miniport().Stop(true);
    EXPECT_TRUE(moving(false));
    EXPECT_EQ(0u, Miniport().CaptureCheck().Mismatches());
    EXPECT_TRUE(Miniport().StreamErrors().empty());
}

} // namespace

// Capture through the adapter from the RV-D3 model's line input: the stream's buffer receives
// the device's ramp frame after frame, alone and while render plays at the same time.
#include "adapter_harness/adapter_test.h"

#include "devices/rvd3_model.h"

namespace {

using namespace adapter_harness;

constexpr ULONGLONG kRunMs = 2000;

class CaptureTest : public AdapterTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CaptureTest, DeliversTheDeviceRampWithoutAGap)
{
    const bool duplex = GetParam();
    Start(std::make_shared<devices::Rvd3Model>());
    const ClientFormat format{2, 24, 48000};
    Miniport().SetDeviceCaptureFormat({devices::rvd3::kChannels, 4, 24});
    const RenderChecker &checker = CheckRender(format, 32);
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(true, format));
    if (duplex) {
        ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(false, format));
        ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    }
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(true));
    rig_->Play(kRunMs);

    const auto [capture, render] = rig_->WithDevice([](devices::StreamingAudioDeviceModel &d) {
        return std::make_pair(d.Capture(), d.Render());
    });
    const CaptureChecker &captured = Miniport().CaptureCheck();
    EXPECT_EQ(0u, captured.Mismatches());
    EXPECT_EQ(0u, captured.Gaps());
    EXPECT_EQ(0u, capture.overruns);
    // All but the frames of the last few transfers, which are still on their way.
    EXPECT_NEAR(double(format.rate) * kRunMs / 1000, double(captured.Frames()), format.rate * 0.02);
    if (duplex) {
        EXPECT_EQ(0u, checker.Mismatches());
        EXPECT_EQ(render.framesPlayed, checker.FramesMatched());
        EXPECT_EQ(0u, render.underruns);
    }
    EXPECT_TRUE(Miniport().StreamErrors().empty());
}

INSTANTIATE_TEST_SUITE_P(Rvd3, CaptureTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "FullDuplex" : "Alone";
                         });

} // namespace

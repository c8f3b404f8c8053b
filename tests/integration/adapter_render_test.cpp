// Render through the adapter into the RV-D3 model, driven the way the WaveCyclic stream drives
// it: every frame the stream writes reaches the device's output once, in order, converted to the
// device's container.
#include "adapter_harness/adapter_test.h"

#include "devices/rvd3_model.h"

#include <vector>

namespace {

using namespace adapter_harness;

struct RenderCase {
    ULONG rate;
    ULONG bits;
    ULONG deviceBits; // the container of the setting the RV-D3 plays it with
};

class RenderFormatTest : public AdapterTest, public ::testing::WithParamInterface<RenderCase> {};

TEST_P(RenderFormatTest, EveryFrameReachesTheDeviceInOrder)
{
    const RenderCase c = GetParam();
    devices::Rvd3Options options;
    options.capture = false;
    Start(std::make_shared<devices::Rvd3Model>(options));
    const ClientFormat format{2, c.bits, c.rate};
    RenderChecker checker(format, c.deviceBits);
    rig_->WithDevice([&](devices::StreamingAudioDeviceModel &d) { d.AttachSink(&checker); return 0; });
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(false, format));
    Miniport().Service();
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    rig_->Play(300);
    const auto counters =
        rig_->WithDevice([&](devices::StreamingAudioDeviceModel &d) { return d.Render(); });
    Miniport().Close(false);
    rig_->WithDevice([&](devices::StreamingAudioDeviceModel &d) { d.AttachSink(nullptr); return 0; });
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
                         [](const ::testing::TestParamInfo<RenderCase> &info) {
                             return std::to_string(info.param.rate) + "Hz" +
                                    std::to_string(info.param.bits) + "bit";
                         });

} // namespace

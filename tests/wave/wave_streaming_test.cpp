// Streaming through the whole driver: a KS client writes to the render pin and reads from the
// capture pin; what the RV-D3 plays is exactly what was written, what is recorded is exactly
// the device's ramp.
#include "wave_fixture.h"

namespace wave_tests {
namespace {

struct FormatCase {
    ULONG rate;
    ULONG bits;
};

std::string FormatCaseName(const ::testing::TestParamInfo<FormatCase> &info)
{
    return std::to_string(info.param.rate) + "Hz" + std::to_string(info.param.bits) + "bit";
}

class RenderFormatTest : public WaveDriverTest, public ::testing::WithParamInterface<FormatCase> {
};

TEST_P(RenderFormatTest, EveryFrameWrittenIsPlayedOnceInOrder)
{
    const FormatCase c = GetParam();
    const sim::ClientFormat format{2, c.bits, c.rate};
    sim::RenderChecker checker(format, DeviceBits(c.bits), true);
    Plug(&checker);
    ASSERT_EQ(STATUS_SUCCESS, Open(sim::kWaveRenderPin, format));
    ASSERT_EQ(STATUS_SUCCESS, render_->SetState(KSSTATE_RUN));
    sim::ClientRun run;
    run.render = render_.get();
    run.renderFormat = format;
    run.frames = c.rate / 5;
    EXPECT_EQ(STATUS_SUCCESS, sim::StreamClient(M(), run).render);
    Sleep(200); // the device plays out what the buffer still holds
    ASSERT_EQ(STATUS_SUCCESS, render_->SetState(KSSTATE_STOP));

    const devices::RenderCounters counters = DeviceRender();
    EXPECT_EQ(0u, checker.Mismatches());
    EXPECT_EQ(run.frames, checker.FramesMatched());
    EXPECT_EQ(0u, counters.overruns);
    EXPECT_EQ(0u, counters.malformedPackets);
    EXPECT_EQ(0u, counters.underruns) << counters.framesReceived << " " << counters.framesPlayed << " " << counters.silenceFrames << " " << counters.packets << " eng " << checker.EngineSilenceFrames() << " dev " << checker.DeviceSilenceFrames();
}

std::vector<FormatCase> Rvd3Formats()
{
    std::vector<FormatCase> cases;
    for (ULONG rate : devices::rvd3::kRates)
        for (ULONG bits : {16u, 24u, 32u})
            cases.push_back({rate, bits});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Rvd3, RenderFormatTest, ::testing::ValuesIn(Rvd3Formats()),
                         FormatCaseName);

} // namespace
} // namespace wave_tests

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

class RenderFormatTest : public WaveDriverTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(RenderFormatTest, EveryFrameWrittenIsPlayedOnceInOrder)
{
    const FormatCase c = GetParam();
    const sim::ClientFormat format{2, c.bits, c.rate};
    Plug();
    const sim::RenderChecker &checker = CheckRender(format);
    StartRender(format);
    const sim::ClientRun run = RenderRun(format, c.rate / 5);
    EXPECT_EQ(STATUS_SUCCESS, sim::StreamClient(M(), run).render);
    Sleep(200); // the device plays out what the buffer still holds
    ASSERT_EQ(STATUS_SUCCESS, render_->SetState(KSSTATE_STOP));

    const devices::RenderCounters counters = DeviceRender();
    EXPECT_EQ(0u, checker.Mismatches());
    EXPECT_EQ(run.frames, checker.FramesMatched());
    EXPECT_EQ(0u, counters.overruns);
    EXPECT_EQ(0u, counters.malformedPackets);
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

class CaptureTest : public WaveDriverTest, public ::testing::WithParamInterface<ULONG> {};

// Render and capture at once, each in its own format at the clock's one rate: both exact.
TEST_P(CaptureTest, FullDuplexPlaysWhatWasWrittenAndRecordsTheDeviceRamp)
{
    const ULONG rate = GetParam();
    const sim::ClientFormat renderFormat{2, 32, rate};
    const sim::ClientFormat captureFormat{2, 24, rate};
    sim::CaptureChecker captureChecker;
    captureChecker.Reset(captureFormat, Rvd3Capture());
    Plug();
    const sim::RenderChecker &renderChecker = CheckRender(renderFormat);
    ASSERT_EQ(STATUS_SUCCESS, Open(sim::kWaveRenderPin, renderFormat));
    ASSERT_EQ(STATUS_SUCCESS, Open(sim::kWaveCapturePin, captureFormat));
    ASSERT_EQ(STATUS_SUCCESS, capture_->SetState(KSSTATE_RUN));
    ASSERT_EQ(STATUS_SUCCESS, render_->SetState(KSSTATE_RUN));
    sim::ClientRun run;
    run.render = render_.get();
    run.renderFormat = renderFormat;
    run.capture = capture_.get();
    run.captureFormat = captureFormat;
    run.captureChecker = &captureChecker;
    run.frames = rate / 2;
    const sim::ClientRunResult result = sim::StreamClient(M(), run);
    EXPECT_EQ(STATUS_SUCCESS, result.render);
    EXPECT_EQ(STATUS_SUCCESS, result.capture);
    Sleep(200);

    EXPECT_EQ(run.frames, renderChecker.FramesMatched());
    EXPECT_EQ(0u, renderChecker.Mismatches());
    EXPECT_EQ(run.frames, captureChecker.Frames());
    EXPECT_EQ(0u, captureChecker.Gaps());
    EXPECT_EQ(0u, captureChecker.Mismatches());
}

INSTANTIATE_TEST_SUITE_P(Rvd3, CaptureTest, ::testing::Values(44100u, 48000u, 96000u, 192000u));

class RunControlTest : public WaveDriverTest {};

class PauseTest : public WaveDriverTest, public ::testing::WithParamInterface<ULONG> {};

// Pauses of every length, from shorter than a transfer to longer than the device's buffer.
TEST_P(PauseTest, PauseAndResumeLoseNothing)
{
    const sim::ClientFormat format{2, 16, 96000};
    Plug();
    const sim::RenderChecker &checker = CheckRender(format);
    StartRender(format);
    EXPECT_EQ(STATUS_SUCCESS, RenderWhile(format, format.rate, [&] {
                  for (int pause = 0; pause < 3; ++pause) {
                      Sleep(150 + 37 * pause);
                      ASSERT_EQ(STATUS_SUCCESS, render_->SetState(KSSTATE_PAUSE));
                      Sleep(GetParam());
                      ASSERT_EQ(STATUS_SUCCESS, render_->SetState(KSSTATE_RUN));
                  }
              }));
    Sleep(600);
    EXPECT_EQ(format.rate, checker.FramesMatched());
    EXPECT_EQ(0u, checker.Mismatches());
}

INSTANTIATE_TEST_SUITE_P(Milliseconds, PauseTest, ::testing::Values(1u, 3u, 10u, 33u, 100u, 500u));

// The client stops writing for longer than the buffer holds: the device plays silence, and the
// data that follows plays whole, after what came before.
TEST_F(RunControlTest, AStalledClientResumesWithoutLosingOrRepeatingData)
{
    const sim::ClientFormat format{2, 24, 48000};
    Plug();
    const sim::RenderChecker &checker = CheckRender(format);
    StartRender(format);
    sim::ClientRun run = RenderRun(format, format.rate / 2);
    for (int stall = 0; stall < 4; ++stall) {
        run.renderFrameOffset = ULONGLONG(stall) * run.frames;
        EXPECT_EQ(STATUS_SUCCESS, sim::StreamClient(M(), run).render);
        Sleep(150 + 300 * stall);
    }
    EXPECT_EQ(4 * run.frames, checker.FramesMatched());
    EXPECT_EQ(0u, checker.Mismatches());
    EXPECT_EQ(0u, DeviceRender().underruns) << "the engine fills the gap with silence";
}

// Stop, close and open again in another format: each run plays exactly what it was given.
TEST_F(RunControlTest, RunsInDifferentFormatsAfterStopEachPlayExactly)
{
    const sim::ClientFormat formats[] = {{2, 16, 48000}, {2, 32, 192000}, {2, 24, 44100}};
    Plug();
    for (const sim::ClientFormat &format : formats) {
        const sim::RenderChecker &checker = CheckRender(format);
        StartRender(format);
        const sim::ClientRun run = RenderRun(format, format.rate / 5);
        EXPECT_EQ(STATUS_SUCCESS, sim::StreamClient(M(), run).render);
        Sleep(200);
        ASSERT_EQ(STATUS_SUCCESS, render_->SetState(KSSTATE_STOP));
        render_.reset();
        EXPECT_EQ(run.frames, checker.FramesMatched()) << format.rate;
        EXPECT_EQ(0u, checker.Mismatches()) << format.rate;
    }
}

// Ten simulated minutes at the top format with the device clock 1000 ppm fast: the feedback
// keeps the device's FIFO from running dry or over, and every frame arrives.
TEST_F(RunControlTest, TenMinutesAt384kHz32BitWithTheClock1000PpmOff)
{
    const sim::ClientFormat format{2, 32, 384000};
    Plug(1000);
    const sim::RenderChecker &checker = CheckRender(format);
    StartRender(format);
    const sim::ClientRun run = RenderRun(format, ULONGLONG(format.rate) * 600);
    EXPECT_EQ(STATUS_SUCCESS, sim::StreamClient(M(), run).render);
    const devices::RenderCounters counters = DeviceRender();
    EXPECT_EQ(0u, counters.underruns);
    EXPECT_EQ(0u, counters.overruns);
    EXPECT_EQ(0u, checker.Mismatches());
    EXPECT_GE(checker.FramesMatched() + format.rate / 5, run.frames);
}

} // namespace
} // namespace wave_tests

// The RV-D3's streaming side: the sample clock against the bus clock, the FIFO and its
// feedback, underruns and overruns, the sink that records what is played (PCM and native DSD),
// and the capture signal.
#include "device_requests.h"

#include "devices/rvd3_model.h"
#include "devices/usb_constants.h"

namespace {

using namespace devices;
using namespace device_tests;

// A distinct value for every sample, so that any lost, repeated or reordered byte shows.
UCHAR SampleByte(ULONGLONG frame, size_t byteInFrame)
{
    const ULONGLONG x = (frame * 0x9E3779B97F4A7C15ull) ^ (byteInFrame * 0xC2B2AE3D27D4EB4Full);
    return static_cast<UCHAR>(x >> 29);
}

Bytes Frames(ULONGLONG first, ULONG count, ULONG frameBytes)
{
    Bytes bytes;
    for (ULONGLONG f = first; f < first + count; ++f) {
        for (size_t b = 0; b < frameBytes; ++b)
            bytes.push_back(SampleByte(f, b));
    }
    return bytes;
}

ULONG Nominal16(ULONG rate)
{
    return static_cast<ULONG>((static_cast<ULONGLONG>(rate) << 16) / 8000);
}

// The host side of an explicit-feedback stream: packet sizes from the latest feedback value
// with a 16.16 accumulator, feedback polled every millisecond.
class FeedbackHost {
public:
    FeedbackHost(Rvd3Model &model, ULONG frameBytes, ULONG rate)
        : model_(model), frameBytes_(frameBytes), feedback_(Nominal16(rate))
    {
    }

    void Interval(ULONGLONG interval)
    {
        model_.AdvanceTo(interval);
        if (interval % 8 == 0) {
            UCHAR packet[4];
            if (model_.IsochronousIn(rvd3::kFeedbackEndpoint, interval, packet, 4) == 4)
                feedback_ = static_cast<ULONG>(ReadLe(Bytes(packet, packet + 4), 0, 4));
        }
        accumulator_ += feedback_;
        const ULONG frames = accumulator_ >> 16;
        accumulator_ &= 0xFFFF;
        const Bytes packet = Frames(nextFrame_, frames, frameBytes_);
        model_.IsochronousOut(rvd3::kRenderEndpoint, interval, packet.data(),
                              static_cast<ULONG>(packet.size()));
        nextFrame_ += frames;
    }
    ULONGLONG FramesSent() const { return nextFrame_; }

private:
    Rvd3Model &model_;
    const ULONG frameBytes_;
    ULONG feedback_;
    ULONG accumulator_ = 0;
    ULONGLONG nextFrame_ = 0;
};

class Rvd3Streaming : public ::testing::Test {
protected:
    explicit Rvd3Streaming(const Rvd3Options &options = Rvd3Options()) : model_(options)
    {
        model_.AttachSink(&sink_);
        EXPECT_TRUE(Configure(model_));
    }

    // Sets the rate at `interval`, waits out the lock and selects the setting.
    ULONGLONG Start(UCHAR alternate, ULONG rate, ULONGLONG interval = 0)
    {
        EXPECT_TRUE(SetCur(model_, rvd3::kClockSourceId, 1, 0, Le(rate, 4), interval));
        interval += 20 * 8;
        model_.AdvanceTo(interval);
        EXPECT_TRUE(SelectAlternate(model_, rvd3::kRenderInterface, alternate, interval));
        return interval;
    }

    void Send(ULONGLONG interval, ULONGLONG firstFrame, ULONG frames, ULONG frameBytes = 8)
    {
        model_.AdvanceTo(interval);
        const Bytes packet = Frames(firstFrame, frames, frameBytes);
        model_.IsochronousOut(rvd3::kRenderEndpoint, interval, packet.data(),
                              static_cast<ULONG>(packet.size()));
    }

    ULONG ReadFeedback(ULONGLONG interval)
    {
        model_.AdvanceTo(interval);
        UCHAR packet[8] = {};
        EXPECT_EQ(4u, model_.IsochronousIn(rvd3::kFeedbackEndpoint, interval, packet, 8));
        return static_cast<ULONG>(ReadLe(Bytes(packet, packet + 4), 0, 4));
    }

    RecordingSink sink_;
    Rvd3Model model_;
};

TEST(SampleClock, CountsFramesExactlyAtItsOffsetFromTheBusClock)
{
    SampleClock clock(8000);
    clock.SetRate(48000);
    EXPECT_EQ(480000u, clock.Advance(80000));
    clock.SetOffsetPpm(100);
    EXPECT_EQ(480048u, clock.Advance(80000)) << "10 s at +100 ppm";
    clock.SetOffsetPpm(-100);
    EXPECT_EQ(479952u, clock.Advance(80000));
    clock.SetRate(44100);
    clock.SetOffsetPpm(0);
    ULONGLONG stepwise = 0;
    for (int i = 0; i < 8000; ++i)
        stepwise += clock.Advance(1);
    EXPECT_EQ(44100u, stepwise) << "fractions carry from interval to interval";
}

TEST(SampleClock, ReportsItsRateInFramesPerIntervalWithSixteenFractionBits)
{
    SampleClock highSpeed(8000);
    highSpeed.SetRate(48000);
    EXPECT_EQ(0x60000u, highSpeed.FramesPerInterval16());
    highSpeed.SetRate(44100);
    EXPECT_EQ(361267u, highSpeed.FramesPerInterval16()) << "5.5125 frames, truncated";
    highSpeed.SetRate(48000);
    highSpeed.SetOffsetPpm(100);
    EXPECT_EQ(393255u, highSpeed.FramesPerInterval16()) << "6.0006 frames";
    SampleClock fullSpeed(1000);
    fullSpeed.SetRate(44100);
    EXPECT_EQ(44u * 65536 + 6553, fullSpeed.FramesPerInterval16());
}

TEST_F(Rvd3Streaming, FeedbackIsTheClockRateIn16_16WhenTheFifoSitsAtItsTarget)
{
    EXPECT_EQ(Nominal16(48000), model_.FeedbackValue()) << "idle";
    const ULONGLONG t = Start(rvd3::kAlternate32Bit, 48000);
    ASSERT_EQ(96u, model_.RenderTargetFrames()) << "2 ms at 48 kHz";
    for (ULONG i = 0; i < 16; ++i)
        Send(t + i, 6 * i, 6);
    EXPECT_EQ(96u, model_.RenderFifoLevel());
    EXPECT_EQ(0x00060000u, ReadFeedback(t + 15));
}

TEST_F(Rvd3Streaming, FeedbackCarriesTheClockOffset)
{
    model_.SetClockOffsetPpm(100);
    EXPECT_EQ(393255u, model_.FeedbackValue());
    model_.SetClockOffsetPpm(-100);
    EXPECT_EQ(393176u, model_.FeedbackValue());
    EXPECT_EQ(-100.0, model_.ClockOffsetPpm());
}

TEST_F(Rvd3Streaming, FeedbackAsksForMoreBelowTheTargetAndLessAbove)
{
    const ULONGLONG t = Start(rvd3::kAlternate16Bit, 48000);
    const ULONG empty = ReadFeedback(t);
    EXPECT_GT(empty, 0x60000u);
    EXPECT_LE(empty, 0x60000u + 0x2000) << "never more than an eighth of a frame";
    Send(t, 0, 48, 4);
    const ULONG half = ReadFeedback(t);
    EXPECT_GT(half, 0x60000u);
    EXPECT_LT(half, empty);
    Send(t, 48, 300, 4);
    const ULONG full = ReadFeedback(t);
    EXPECT_LT(full, 0x60000u);
    EXPECT_GE(full, 0x60000u - 0x2000);
}

TEST_F(Rvd3Streaming, FeedbackEndpointAnswersOnlyInAStreamingSetting)
{
    UCHAR packet[4];
    EXPECT_EQ(0u, model_.IsochronousIn(rvd3::kFeedbackEndpoint, 0, packet, 4));
    const ULONGLONG t = Start(rvd3::kAlternate24Bit, 96000);
    EXPECT_EQ(4u, model_.IsochronousIn(rvd3::kFeedbackEndpoint, t, packet, 4));
    EXPECT_EQ(3u, model_.IsochronousIn(rvd3::kFeedbackEndpoint, t, packet, 3))
        << "never more than the host asked for";
}

TEST_F(Rvd3Streaming, PlaybackBeginsOnceTheFifoHoldsItsTarget)
{
    const ULONGLONG t = Start(rvd3::kAlternate32Bit, 48000);
    for (ULONG i = 0; i < 15; ++i)
        Send(t + i, 6 * i, 6);
    model_.AdvanceTo(t + 20);
    EXPECT_FALSE(model_.RenderPlaying());
    EXPECT_EQ(0u, model_.Render().framesPlayed);
    EXPECT_EQ(0u, model_.Render().silenceFrames) << "priming is not an underrun";
    Send(t + 20, 90, 6);
    EXPECT_TRUE(model_.RenderPlaying());
    model_.AdvanceTo(t + 22);
    EXPECT_EQ(12u, model_.Render().framesPlayed);
    EXPECT_EQ(84u, model_.RenderFifoLevel());
}

TEST_F(Rvd3Streaming, SinkReceivesEveryPlayedFrameBitForBit)
{
    const ULONGLONG t = Start(rvd3::kAlternate24Bit, 44100);
    FeedbackHost host(model_, 8, 44100);
    for (ULONGLONG i = t; i < t + 8000; ++i)
        host.Interval(i);
    const RenderCounters &c = model_.Render();
    ASSERT_GT(c.framesPlayed, 43000u);
    ASSERT_EQ(1u, sink_.Segments().size());
    const PlaybackFormat &format = sink_.Segments()[0].format;
    EXPECT_EQ(44100u, format.sampleRate);
    EXPECT_EQ(2u, format.channels);
    EXPECT_EQ(4u, format.subslotBytes);
    EXPECT_EQ(24u, format.bitResolution);
    EXPECT_FALSE(format.nativeDsd);
    EXPECT_EQ(Frames(0, static_cast<ULONG>(c.framesPlayed), 8), sink_.PlayedBytes());
    EXPECT_EQ(host.FramesSent(), c.framesPlayed + model_.RenderFifoLevel());
    EXPECT_EQ(0u, c.underruns);
    EXPECT_EQ(0u, sink_.SilenceFrames());
}

TEST_F(Rvd3Streaming, UnderrunIsCountedOnceAndItsSilenceSeparately)
{
    const ULONGLONG t = Start(rvd3::kAlternate32Bit, 48000);
    for (ULONG i = 0; i < 16; ++i)
        Send(t + i, 6 * i, 6);
    const ULONGLONG playFrom = t + 15; // the sixteenth packet reached the target
    model_.AdvanceTo(playFrom + 100);  // 600 frames wanted, 96 there
    EXPECT_EQ(1u, model_.Render().underruns);
    EXPECT_EQ(96u, model_.Render().framesPlayed);
    EXPECT_EQ(504u, model_.Render().silenceFrames);
    EXPECT_EQ(504u, sink_.SilenceFrames());
    EXPECT_EQ(Frames(0, 96, 8), sink_.PlayedBytes()) << "silence is not recorded as frames";

    // Refilling to the target plays silence without counting a second underrun.
    ULONGLONG frame = 96;
    for (ULONG i = 0; i < 16; ++i, frame += 6)
        Send(playFrom + 100 + i, frame, 6);
    EXPECT_EQ(1u, model_.Render().underruns);
    EXPECT_EQ(504u + 15 * 6, model_.Render().silenceFrames);
    EXPECT_TRUE(model_.RenderPlaying());
    model_.AdvanceTo(playFrom + 115 + 17);
    EXPECT_EQ(2u, model_.Render().underruns);
    EXPECT_EQ(Frames(0, 192, 8), sink_.PlayedBytes());
}

class Rvd3SmallFifo : public Rvd3Streaming {
protected:
    static Rvd3Options SmallFifo()
    {
        Rvd3Options options;
        options.streaming.fifoFrames = 128;
        return options;
    }
    Rvd3SmallFifo() : Rvd3Streaming(SmallFifo()) {}
};

TEST_F(Rvd3SmallFifo, OverrunDropsTheFramesThatDoNotFit)
{
    const ULONGLONG t = Start(rvd3::kAlternate32Bit, 48000);
    Send(t, 0, 100);
    Send(t, 100, 40);
    EXPECT_EQ(1u, model_.Render().overruns);
    EXPECT_EQ(12u, model_.Render().framesDropped);
    EXPECT_EQ(128u, model_.RenderFifoLevel());
    EXPECT_EQ(128u, model_.Render().fifoPeak);
    model_.AdvanceTo(t + 10);
    EXPECT_EQ(Frames(0, 60, 8), sink_.PlayedBytes());
}

TEST_F(Rvd3Streaming, PacketWithAPartialFrameKeepsItsWholeFrames)
{
    const ULONGLONG t = Start(rvd3::kAlternate32Bit, 48000);
    Bytes packet = Frames(0, 6, 8);
    packet.resize(packet.size() + 3, 0xEE);
    model_.IsochronousOut(rvd3::kRenderEndpoint, t, packet.data(),
                          static_cast<ULONG>(packet.size()));
    EXPECT_EQ(1u, model_.Render().malformedPackets);
    EXPECT_EQ(6u, model_.RenderFifoLevel());
    model_.IsochronousOut(rvd3::kRenderEndpoint, t, nullptr, 0);
    EXPECT_EQ(1u, model_.Render().malformedPackets) << "zero-length packets are fine";
    EXPECT_EQ(2u, model_.Render().packets);
}

TEST_F(Rvd3Streaming, SelectingASettingRestartsTheStream)
{
    ULONGLONG t = Start(rvd3::kAlternate32Bit, 48000);
    for (ULONG i = 0; i < 20; ++i)
        Send(t + i, 6 * i, 6);
    t += 20;
    ASSERT_TRUE(SelectAlternate(model_, rvd3::kRenderInterface, rvd3::kAlternate16Bit, t));
    EXPECT_EQ(0u, model_.RenderFifoLevel());
    EXPECT_FALSE(model_.RenderPlaying());
    for (ULONG i = 0; i < 20; ++i)
        Send(t + i, 1000 + 6 * i, 6, 4);
    model_.AdvanceTo(t + 25);
    ASSERT_EQ(2u, sink_.Segments().size());
    EXPECT_EQ(2u, sink_.Segments()[1].format.subslotBytes);
    EXPECT_EQ(16u, sink_.Segments()[1].format.bitResolution);
    const size_t first = sink_.Segments()[1].firstByte;
    EXPECT_EQ(Frames(1000, 6, 4),
              Bytes(sink_.PlayedBytes().begin() + first, sink_.PlayedBytes().begin() + first + 24));

    ASSERT_TRUE(SelectAlternate(model_, rvd3::kRenderInterface, 0, t + 25));
    const ULONGLONG packets = model_.Render().packets;
    Send(t + 26, 0, 6, 4);
    EXPECT_EQ(packets, model_.Render().packets) << "no stream in setting 0";
}

TEST_F(Rvd3Streaming, RateChangeRestartsTheStreamAndTheClockWaitsForLock)
{
    ULONGLONG t = Start(rvd3::kAlternate32Bit, 48000);
    for (ULONG i = 0; i < 20; ++i)
        Send(t + i, 6 * i, 6);
    t += 20;
    ASSERT_TRUE(SetCur(model_, rvd3::kClockSourceId, 1, 0, Le(96000, 4), t));
    EXPECT_EQ(0u, model_.RenderFifoLevel());
    const ULONGLONG played = model_.Render().framesPlayed;
    for (ULONG i = 0; i < 40; ++i)
        Send(t + i, 5000 + 12 * i, 12);
    EXPECT_TRUE(model_.RenderPlaying());
    model_.AdvanceTo(t + 160);
    EXPECT_EQ(played, model_.Render().framesPlayed) << "nothing plays while the clock locks";
    model_.AdvanceTo(t + 170);
    EXPECT_EQ(played + 120, model_.Render().framesPlayed);
    ASSERT_EQ(2u, sink_.Segments().size());
    EXPECT_EQ(96000u, sink_.Segments()[1].format.sampleRate);
}

TEST_F(Rvd3Streaming, AdvancingInOneStepEqualsAdvancingIntervalByInterval)
{
    Rvd3Model stepwise;
    ASSERT_TRUE(Configure(stepwise));
    for (Rvd3Model *m : {&model_, &stepwise}) {
        m->SetClockOffsetPpm(37);
        ASSERT_TRUE(SetCur(*m, rvd3::kClockSourceId, 1, 0, Le(44100, 4), 0));
        m->AdvanceTo(160);
        ASSERT_TRUE(SelectAlternate(*m, rvd3::kRenderInterface, 3, 160));
        const Bytes packet = Frames(0, 3000, 8);
        m->IsochronousOut(rvd3::kRenderEndpoint, 160, packet.data(),
                          static_cast<ULONG>(packet.size()));
    }
    for (ULONGLONG i = 161; i <= 5161; ++i)
        stepwise.AdvanceTo(i);
    model_.AdvanceTo(5161);
    EXPECT_EQ(stepwise.Render().framesPlayed, model_.Render().framesPlayed);
    EXPECT_EQ(stepwise.Render().silenceFrames, model_.Render().silenceFrames);
    EXPECT_EQ(1u, model_.Render().underruns);
}

TEST_F(Rvd3Streaming, NativeDsdIsRecordedAsEachChannelsDsdBytes)
{
    ASSERT_TRUE(
        Out(model_, rvd3::kDsdModeRequestType, rvd3::kDsdModeRequest, 1, rvd3::kRenderInterface));
    const ULONGLONG t = Start(rvd3::kAlternate32Bit, 88200); // DSD64: four DSD bytes per slot
    FeedbackHost host(model_, 8, 88200);
    for (ULONGLONG i = t; i < t + 400; ++i)
        host.Interval(i);
    ASSERT_EQ(1u, sink_.Segments().size());
    EXPECT_TRUE(sink_.Segments()[0].format.nativeDsd);
    const ULONGLONG played = model_.Render().framesPlayed;
    ASSERT_GT(played, 0u);
    for (UCHAR channel = 0; channel < 2; ++channel) {
        Bytes expected;
        for (ULONGLONG f = 0; f < played; ++f) {
            for (size_t b = 0; b < 4; ++b)
                expected.push_back(SampleByte(f, channel * 4 + b));
        }
        EXPECT_EQ(expected, sink_.DsdChannelBytes(0, channel)) << "channel " << int(channel);
    }

    ASSERT_TRUE(Out(model_, rvd3::kDsdModeRequestType, rvd3::kDsdModeRequest, 0,
                    rvd3::kRenderInterface, {}, t + 400));
    EXPECT_EQ(0u, model_.RenderFifoLevel()) << "switching modes restarts the stream";
    for (ULONGLONG i = t + 400; i < t + 440; ++i)
        host.Interval(i);
    ASSERT_EQ(2u, sink_.Segments().size());
    EXPECT_FALSE(sink_.Segments()[1].format.nativeDsd);
}

TEST_F(Rvd3Streaming, ClosedLoopKeepsTheFifoNearItsTargetAtEitherClockOffset)
{
    for (double ppm : {100.0, -100.0}) {
        Rvd3Model model;
        RecordingSink sink;
        model.AttachSink(&sink);
        model.SetClockOffsetPpm(ppm);
        ASSERT_TRUE(Configure(model));
        ASSERT_TRUE(SelectAlternate(model, rvd3::kRenderInterface, rvd3::kAlternate16Bit));
        FeedbackHost host(model, 4, 48000);
        const ULONGLONG minute = 60 * 8000;
        for (ULONGLONG i = 0; i < minute; ++i)
            host.Interval(i);
        const RenderCounters &c = model.Render();
        EXPECT_EQ(0u, c.underruns) << ppm;
        EXPECT_EQ(0u, c.overruns) << ppm;
        EXPECT_LE(c.fifoPeak, 96u + 16) << ppm;
        EXPECT_GE(c.fifoLow, 96u - 16) << ppm;
        const double expected = 48000.0 * 60 * (1 + ppm * 1e-6);
        EXPECT_NEAR(expected, static_cast<double>(c.framesPlayed), 100.0) << ppm;
        EXPECT_EQ(Frames(0, static_cast<ULONG>(c.framesPlayed), 4), sink.PlayedBytes()) << ppm;
    }
}

TEST_F(Rvd3Streaming, CaptureDeliversThePerChannelRampFromFrameZero)
{
    ASSERT_TRUE(SelectAlternate(model_, rvd3::kCaptureInterface, rvd3::kCaptureAlternate, 0));
    const CaptureFormat format{2, 4, 24};
    ULONGLONG frame = 0;
    for (ULONGLONG i = 1; i <= 16; ++i) {
        model_.AdvanceTo(i);
        UCHAR packet[392];
        const ULONG length = model_.IsochronousIn(rvd3::kCaptureEndpoint, i, packet, 392);
        ASSERT_EQ(6u * 8, length) << "48 kHz: six frames a microframe";
        for (ULONG f = 0; f < 6; ++f, ++frame) {
            for (UCHAR c = 0; c < 2; ++c) {
                const ULONG sample =
                    static_cast<ULONG>(ReadLe(Bytes(packet, packet + length), f * 8 + c * 4, 4));
                EXPECT_EQ(CaptureRampSample(frame, c, format), sample);
                EXPECT_EQ(0u, sample & 0xFF) << "24 bits, left-justified";
            }
        }
    }
    EXPECT_EQ(0x00000100u, CaptureRampSample(1, 0, format));
    EXPECT_EQ(0x40000000u, CaptureRampSample(0, 1, format));
}

TEST_F(Rvd3Streaming, CapturePacketsFollowTheDeviceClock)
{
    ASSERT_TRUE(SetCur(model_, rvd3::kClockSourceId, 1, 0, Le(44100, 4), 0));
    model_.SetClockOffsetPpm(-100);
    model_.AdvanceTo(160);
    ASSERT_TRUE(SelectAlternate(model_, rvd3::kCaptureInterface, rvd3::kCaptureAlternate, 160));
    ULONGLONG total = 0;
    for (ULONGLONG i = 161; i <= 160 + 80000; ++i) {
        model_.AdvanceTo(i);
        UCHAR packet[392];
        const ULONG length = model_.IsochronousIn(rvd3::kCaptureEndpoint, i, packet, 392);
        ASSERT_TRUE(length == 5 * 8 || length == 6 * 8) << length;
        total += length / 8;
    }
    EXPECT_EQ(440955u, total) << "10 s of 44.1 kHz at -100 ppm: 440955.9 frames";
    EXPECT_EQ(0u, model_.Capture().overruns);
}

TEST_F(Rvd3Streaming, CaptureFramesTheHostDoesNotCollectAreLostAndCounted)
{
    ASSERT_TRUE(SelectAlternate(model_, rvd3::kCaptureInterface, rvd3::kCaptureAlternate, 0));
    UCHAR packet[392];
    model_.AdvanceTo(1000); // nobody listened yet: no overrun, the oldest frames are gone
    EXPECT_EQ(0u, model_.Capture().overruns);
    EXPECT_EQ(49u * 8, model_.IsochronousIn(rvd3::kCaptureEndpoint, 1000, packet, 392));
    const CaptureFormat format{2, 4, 24};
    EXPECT_EQ(CaptureRampSample(6000 - 512, 0, format), ReadLe(Bytes(packet, packet + 4), 0, 4));
    model_.AdvanceTo(2000);
    EXPECT_EQ(1u, model_.Capture().overruns);
    EXPECT_EQ(6000u + 463 - 512, model_.Capture().framesDropped);
}

} // namespace

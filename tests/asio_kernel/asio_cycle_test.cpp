// The ASIO render cycle against the RV-D3, driven the way the ASIO driver drives it: buffers, the
// event, the output delay, RUN, then at every event the half the header names filled with the
// next frames of the source and output ready sent. The device must play the source bit exact,
// the events come one buffer apart, a host that stops answering gets silence, and device loss
// wakes the host with the status in the header.
#include "asio_kernel_fixture.h"

#include "devices/playback_sink.h"
#include "kernel/pool.h"
#include "stream_patterns.h"

#include <algorithm>
#include <map>

namespace asio_kernel_tests {
namespace {

constexpr ULONG kInt32 = 18;
constexpr ULONG kDsd = 33;

// The DSD byte a host sends as byte `index` of channel `channel`.
UCHAR DsdByte(ULONG channel, ULONGLONG index)
{
    return UCHAR((index * 0x9E3779B1u) >> 13) ^ UCHAR(index) ^ UCHAR(0x5B * channel);
}

// One ASIO host on the render pin: two channels of `bufferSamples`, Int32 frames of the source
// or, for DSD, one byte per sample.
class RenderHost {
public:
    RenderHost(CKsAudFilter2 &filter, ULONG rate, ULONG bufferSamples, ULONG type = kInt32)
        : bufferSamples_(bufferSamples), type_(type)
    {
        WAVEFORMATEX format = Pcm(2, rate, 32);
        pin_ = filter.OpenRenderPinFor(&format);
        event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    ~RenderHost() { CloseHandle(event_); }

    // Buffers, event and output delay, then RUN; the first failing step's error.
    DWORD Start()
    {
        if (pin_ == nullptr) {
            return ERROR_INVALID_HANDLE;
        }
        const HANDLE pin = pin_->Handle();
        Bytes delay(4, 0);
        delay[0] = 64;
        DWORD error = Send(pin, KSPROPERTY_ASIO_BUFFERS, KSPROPERTY_TYPE_SET,
                           BufferRequest(2, 2 * bufferSamples_, {type_, 0, type_, 1}), nullptr, 0)
                          .error;
        entries_.resize(2);
        if (error == 0) {
            error = Send(pin, KSPROPERTY_ASIO_BUFFERS, KSPROPERTY_TYPE_GET, {}, entries_.data(),
                         ULONG(2 * sizeof entries_[0]))
                        .error;
        }
        if (error == 0) {
            error = Send(pin, KSPROPERTY_ASIO_REGISTER_EVENT, KSPROPERTY_TYPE_SET,
                         HandleBytes(event_), nullptr, 0)
                        .error;
        }
        if (error == 0) {
            error = Send(pin, KSPROPERTY_ASIO_OUTPUT_DELAY, KSPROPERTY_TYPE_SET, delay, nullptr, 0)
                        .error;
        }
        if (error == 0 && pin_->ChangeState(KSSTATE_RUN) != S_OK) {
            error = ERROR_GEN_FAILURE;
        }
        header_ = error == 0 ? reinterpret_cast<volatile ASIO_SHARED_HEADER *>(
                                   ULONG_PTR(entries_[0].UserHalf[0]) - sizeof(ASIO_SHARED_HEADER))
                             : nullptr;
        return error;
    }

    // Waits for the next event (false when none comes within a second).
    bool Wait() { return WaitForSingleObject(event_, 1000) == WAIT_OBJECT_0; }

    // Fills the half the header names with the next frames of the source and sends output ready.
    void Answer()
    {
        if (header_->ToggleCount != 1) {
            ++missed_;
        }
        header_->ToggleCount = 0;
        const ULONG index = header_->CurrentHalf == 0 ? 1 : 0;
        UCHAR bytes[8];
        for (ULONG i = 0; i < bufferSamples_; ++i, ++frames_) {
            sim::SourceFrame(frames_, bytes, sizeof bytes);
            for (ULONG k = 0; k < 2; ++k) {
                auto *half = reinterpret_cast<UCHAR *>(ULONG_PTR(entries_[k].UserHalf[index]));
                if (type_ == kDsd) {
                    half[i] = DsdByte(k, frames_);
                } else {
                    std::memcpy(half + 4 * i, bytes + 4 * k, 4);
                }
            }
        }
        Ready();
    }

    void Ready()
    {
        ready_ =
            Send(pin_->Handle(), KSPROPERTY_ASIO_OUTPUT_READY, KSPROPERTY_TYPE_SET, {}, nullptr, 0)
                .error;
    }

    CKsAudPin *Pin() const { return pin_; }
    LONG DeviceStatus() const { return header_->DeviceStatus; }
    ULONGLONG Missed() const { return missed_; }
    ULONGLONG Frames() const { return frames_; }
    DWORD LastReady() const { return ready_; }

private:
    const ULONG bufferSamples_, type_;
    CKsAudPin *pin_ = nullptr; // the filter's
    HANDLE event_ = nullptr;
    std::vector<ASIO_CHANNEL_BUFFER> entries_;
    volatile ASIO_SHARED_HEADER *header_ = nullptr;
    ULONGLONG missed_ = 0, frames_ = 0;
    DWORD ready_ = 0;
};

class AsioRenderCycle : public AsioKernelTest {
protected:
    sim::RenderChecker &Check(ULONG rate)
    {
        checker_ = std::make_unique<sim::RenderChecker>(sim::ClientFormat{2, 32, rate}, 32, true);
        auto lock = session_->LockDevice();
        session_->Device().AttachSink(checker_.get());
        return *checker_;
    }

    void TearDown() override
    {
        if (checker_ != nullptr) {
            auto lock = session_->LockDevice();
            session_->Device().AttachSink(nullptr);
        }
        AsioKernelTest::TearDown();
    }

    // Answers every event for `seconds` of virtual time, then stops. Once the device's queue
    // has filled (the first quarter second), the events must come `period` (100 ns units)
    // apart: over the rest of the run their mean period is that, within one transfer, and the
    // host never finds a toggle missed.
    void AnswerFor(RenderHost &host, ULONGLONG seconds, double period)
    {
        const ULONGLONG start = Now(), settled = start + 2500000, end = start + seconds * 10000000;
        ULONGLONG first = 0, last = 0, counted = 0;
        while (Now() < end) {
            ASSERT_TRUE(host.Wait()) << "no event: the cycle hung";
            const ULONGLONG at = Now();
            if (at >= settled) {
                first = counted++ == 0 ? at : first;
                last = at;
            }
            host.Answer();
            ASSERT_EQ(0u, host.LastReady());
        }
        ASSERT_EQ(S_OK, host.Pin()->ChangeState(KSSTATE_STOP));
        ASSERT_GT(counted, 1u);
        EXPECT_NEAR(double(counted - 1) * period, double(last - first), 50000 + period)
            << "mean period " << double(last - first) / double(counted - 1) << " against "
            << period;
        EXPECT_EQ(0u, host.Missed());
    }

    std::unique_ptr<sim::RenderChecker> checker_;
};

struct CycleCase {
    ULONG bufferSamples;
    ULONG rate;
};

class AsioRenderPeriods : public AsioRenderCycle, public ::testing::WithParamInterface<CycleCase> {
protected:
    // The source played for `seconds` with buffers of `c`: bit exact, nothing stale, no underrun.
    void PlayFor(const CycleCase &c, ULONGLONG seconds)
    {
        sim::RenderChecker &checker = Check(c.rate);
        RenderHost host(*filter_, c.rate, c.bufferSamples);
        ASSERT_EQ(0u, host.Start());
        AnswerFor(host, seconds, 1e7 * c.bufferSamples / c.rate);
        EXPECT_EQ(0u, checker.Mismatches());
        // Everything sent has played but what is still queued: about two halves and the
        // transfers in flight.
        EXPECT_GT(checker.FramesMatched() + 2 * c.bufferSamples + c.rate / 20, host.Frames());
        auto lock = session_->LockDevice();
        EXPECT_EQ(0u, session_->Device().Render().underruns);
    }
};

TEST_P(AsioRenderPeriods, PlaysEveryHalfInOrderOneBufferApart) { PlayFor(GetParam(), 2); }

// The shortest buffer for ten minutes: no event lost, merged or late, nothing out of order.
TEST_F(AsioRenderPeriods, KeepsTheShortestBufferPeriodForTenMinutes)
{
    PlayFor({64, 48000}, 10 * 60);
}

INSTANTIATE_TEST_SUITE_P(BuffersAndRates, AsioRenderPeriods,
                         ::testing::Values(CycleCase{64, 48000}, CycleCase{256, 48000},
                                           CycleCase{512, 44100}, CycleCase{1024, 96000},
                                           CycleCase{7680, 192000}),
                         [](const ::testing::TestParamInfo<CycleCase> &info) {
                             return std::to_string(info.param.bufferSamples) + "At" +
                                    std::to_string(info.param.rate);
                         });

// A host that stops answering is not waited for and gets nothing stale: the device plays what
// was queued, and the stream stays quiet, never playing a half again, until the host answers
// the event it was given; then play goes on with the host's next frames.
TEST_F(AsioRenderCycle, AHostThatStopsAnsweringGetsSilence)
{
    sim::RenderChecker &checker = Check(48000);
    RenderHost host(*filter_, 48000, 256);
    ASSERT_EQ(0u, host.Start());
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(host.Wait());
        host.Answer();
    }
    sim::SleepMs(500);
    {
        auto lock = session_->LockDevice();
        // At most a partly filled transfer waits for the next half.
        EXPECT_GE(host.Frames(), checker.FramesMatched());
        EXPECT_LT(host.Frames(), checker.FramesMatched() + 48000 / 200);
    }
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(host.Wait()) << "the pending event was lost";
        host.Answer();
    }
    EXPECT_EQ(S_OK, host.Pin()->ChangeState(KSSTATE_STOP));
    EXPECT_EQ(0u, host.Missed());
    EXPECT_EQ(0u, checker.Mismatches()) << "nothing stale is played";
}

// The source frame a played Int32 stereo frame holds (SourceFrame inverted), or none.
bool SourceIndex(const UCHAR *frame, ULONGLONG *index)
{
    ULONGLONG x = 0;
    for (ULONG b = 0; b < 8; ++b)
        x |= ULONGLONG(UCHAR(frame[b] ^ UCHAR(b * 0x3B))) << (8 * b);
    const ULONGLONG k = 0x9E3779B97F4A7C15ull;
    ULONGLONG inverse = k;
    for (int i = 0; i < 6; ++i)
        inverse *= 2 - k * inverse;
    *index = (x - 0x632BE59BD9B4E019ull) * inverse;
    return *index < (ULONGLONG(1) << 40);
}

// A host that reports output ready again and again for one event, more halves than the ring
// holds: the extra reports cannot be told from answers, but none writes over data still queued
// for the device. Every half the device plays is a whole half the host wrote (silence aside; the
// last one may be cut by the stop).
TEST_F(AsioRenderCycle, RepeatedOutputReadyNeverOverwritesQueuedData)
{
    constexpr ULONG kBuffer = 256;
    devices::RecordingSink sink;
    {
        auto lock = session_->LockDevice();
        session_->Device().AttachSink(&sink);
    }
    RenderHost host(*filter_, 48000, kBuffer);
    ASSERT_EQ(0u, host.Start());
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(host.Wait());
        host.Answer();
        for (int again = 0; again < 150; ++again)
            host.Ready();
    }
    ASSERT_EQ(S_OK, host.Pin()->ChangeState(KSSTATE_STOP));
    auto lock = session_->LockDevice();
    session_->Device().AttachSink(nullptr);
    const devices::Bytes &played = sink.PlayedBytes();
    ULONGLONG expected = ~0ull, within = 0, torn = 0, frames = 0;
    for (size_t at = 0; at + 8 <= played.size(); at += 8) {
        ULONGLONG index;
        if (std::all_of(&played[at], &played[at] + 8, [](UCHAR b) { return b == 0; }))
            continue;
        ASSERT_TRUE(SourceIndex(&played[at], &index)) << "a frame the host never wrote at " << at;
        ++frames;
        if (index != expected) {
            // Another half: the one before ended whole, and this one starts at its beginning.
            torn += within != 0 || index % kBuffer != 0;
            within = 0;
        }
        within = (within + 1) % kBuffer;
        expected = index + 1;
    }
    EXPECT_GT(frames, 150u * kBuffer);
    EXPECT_EQ(0u, torn) << "halves cut short or entered in the middle";
}

// Device loss mid-cycle: the host is woken and finds the status in the header.
TEST_F(AsioRenderCycle, DeviceRemovalWakesTheHostWithTheStatus)
{
    RenderHost host(*filter_, 48000, 256);
    ASSERT_EQ(0u, host.Start());
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(host.Wait());
        host.Answer();
    }
    session_->Pnp().Unplug(*session_->Node());
    // The host, waiting for its next event, wakes and finds the status.
    bool woken = false;
    for (int i = 0; i < 10 && !woken && host.Wait(); ++i) {
        woken = host.DeviceStatus() != 0;
    }
    EXPECT_TRUE(woken);
    const LONG status = host.DeviceStatus();
    EXPECT_TRUE(status == LONG(STATUS_NO_SUCH_DEVICE) || status == LONG(STATUS_DELETE_PENDING) ||
                status == LONG(STATUS_DEVICE_NOT_CONNECTED))
        << std::hex << status;
    host.Pin()->ChangeState(KSSTATE_STOP);
}

// A host using one output of two, whose pin then changes rate: the device channel without a
// buffer plays exact silence, never what a new ring held before the host's halves.
TEST_F(AsioRenderCycle, ADeviceChannelWithoutABufferPlaysSilence)
{
    constexpr ULONG kBuffer = 256;
    WAVEFORMATEX format = Pcm(2, 48000, 32);
    CKsAudPin *pin = filter_->OpenRenderPinFor(&format);
    ASSERT_NE(nullptr, pin);
    ASIO_CHANNEL_BUFFER entry = {};
    ASSERT_EQ(0u, Send(pin->Handle(), KSPROPERTY_ASIO_BUFFERS, KSPROPERTY_TYPE_SET,
                       BufferRequest(1, 2 * kBuffer, {kInt32, 0}), nullptr, 0)
                      .error);
    ASSERT_EQ(0u, Send(pin->Handle(), KSPROPERTY_ASIO_BUFFERS, KSPROPERTY_TYPE_GET, {}, &entry,
                       sizeof entry)
                      .error);
    format = Pcm(2, 96000, 32);
    ASSERT_EQ(S_OK, pin->ApplyFormatToOpenPin(&format));
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(0u, Send(pin->Handle(), KSPROPERTY_ASIO_REGISTER_EVENT, KSPROPERTY_TYPE_SET,
                       HandleBytes(event), nullptr, 0)
                      .error);
    devices::RecordingSink sink;
    {
        auto lock = session_->LockDevice();
        session_->Device().AttachSink(&sink);
    }
    ASSERT_EQ(S_OK, pin->ChangeState(KSSTATE_RUN));
    auto *header = reinterpret_cast<volatile ASIO_SHARED_HEADER *>(ULONG_PTR(entry.UserHalf[0]) -
                                                                   sizeof(ASIO_SHARED_HEADER));
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 1000));
        auto *half =
            reinterpret_cast<UCHAR *>(ULONG_PTR(entry.UserHalf[header->CurrentHalf == 0 ? 1 : 0]));
        std::memset(half, 0x7F, 4 * kBuffer);
        ASSERT_EQ(0u, Send(pin->Handle(), KSPROPERTY_ASIO_OUTPUT_READY, KSPROPERTY_TYPE_SET, {},
                           nullptr, 0)
                          .error);
    }
    ASSERT_EQ(S_OK, pin->ChangeState(KSSTATE_STOP));
    auto lock = session_->LockDevice();
    session_->Device().AttachSink(nullptr);
    const devices::Bytes &played = sink.PlayedBytes();
    ASSERT_GT(played.size(), 8u * 100 * kBuffer);
    size_t loud = 0;
    for (size_t at = 0; at + 8 <= played.size(); at += 8) {
        loud += played[at + 4] | played[at + 5] | played[at + 6] | played[at + 7] ? 1 : 0;
    }
    EXPECT_EQ(0u, loud) << "frames with something on the channel without a buffer";
    CloseHandle(event);
}

// Native DSD, as the ASIO driver plays it: the filter in DSD mode, the pin at a 32-bit rate of
// a 32nd of the DSD rate, and one byte per sample in the host's buffers. Every byte of each
// channel reaches the DAC in order, four to a device sample, and the events come one buffer of
// bytes (a quarter as many device samples) apart.
class AsioNativeDsd : public AsioRenderCycle, public ::testing::WithParamInterface<ULONG> {};

TEST_P(AsioNativeDsd, ReachesTheDacByteExact)
{
    const ULONG rate = GetParam(), bufferBytes = 2048;
    USHORT mode = 1;
    ASSERT_EQ(0u, Send(filter_->Handle(), KSPROPERTY_ASIO_DSD_NATIVE_MODE, KSPROPERTY_TYPE_SET, {},
                       &mode, sizeof mode)
                      .error);
    devices::RecordingSink sink;
    {
        auto lock = session_->LockDevice();
        session_->Device().AttachSink(&sink);
    }
    RenderHost host(*filter_, rate, bufferBytes, kDsd);
    ASSERT_EQ(0u, host.Start());
    // A buffer of bytes lasts a quarter as many device samples.
    AnswerFor(host, 2, 1e7 * (bufferBytes / 4) / rate);
    auto lock = session_->LockDevice();
    session_->Device().AttachSink(nullptr);
    ASSERT_FALSE(sink.Segments().empty());
    const size_t segment = sink.Segments().size() - 1;
    ASSERT_TRUE(sink.Segments()[segment].format.nativeDsd);
    for (UCHAR k = 0; k < 2; ++k) {
        const devices::Bytes played = sink.DsdChannelBytes(segment, k);
        ASSERT_LE(played.size(), host.Frames());
        EXPECT_GT(played.size() + 4 * rate / 10, host.Frames()) << "channel " << int(k);
        size_t wrong = 0;
        for (size_t i = 0; i < played.size(); ++i) {
            wrong += played[i] != DsdByte(k, i) ? 1 : 0;
        }
        EXPECT_EQ(0u, wrong) << "channel " << int(k);
    }
}

INSTANTIATE_TEST_SUITE_P(Dsd64AndDsd128, AsioNativeDsd, ::testing::Values(88200u, 176400u));

// A host that ends mid-cycle, with both pins running and its event waited on, loses its pins,
// shared blocks and event reference with its process: nothing of what the driver allocated for
// it is left, and the pins can be made again.
TEST_F(AsioRenderCycle, ProcessExitMidCycleFreesEverything)
{
    filter_.reset();
    const auto host = [] {
        std::unique_ptr<CKsAudFilter2> filter = OpenFilter();
        WAVEFORMATEX format = Pcm(2, 48000, kCaptureBits);
        CKsAudPin *capture = filter != nullptr ? filter->OpenCapturePinFor(&format) : nullptr;
        if (capture == nullptr ||
            Send(capture->Handle(), KSPROPERTY_ASIO_BUFFERS, KSPROPERTY_TYPE_SET,
                 BufferRequest(2, 512, {kInt32, 0, kInt32, 1}), nullptr, 0)
                    .error != 0 ||
            capture->ChangeState(KSSTATE_RUN) != S_OK) {
            return DWORD(1);
        }
        RenderHost render(*filter, 48000, 256);
        if (render.Start() != 0) {
            return DWORD(2);
        }
        for (int i = 0; i < 50; ++i) {
            if (!render.Wait()) {
                return DWORD(3);
            }
            render.Answer();
        }
        ExitProcess(0);
        return DWORD(4);
    };
    // The first run leaves the driver's caches as full as they get; the second must leave the
    // pool as it found it.
    EXPECT_EQ(0u, Join(Start("asio host", host)));
    const auto blocks = [this] {
        std::map<ULONG, size_t> byTag;
        for (const host::Pool::Outstanding &o : M().KernelPool().OutstandingByTag()) {
            byTag[o.tag] = o.blocks;
        }
        return byTag;
    };
    const std::map<ULONG, size_t> before = blocks();
    EXPECT_EQ(0u, Join(Start("asio host", host)));
    EXPECT_EQ(before, blocks()) << "pool blocks of the host left behind";
    filter_ = OpenFilter();
    ASSERT_NE(nullptr, filter_);
    EXPECT_NE(nullptr, OpenPin(false));
    EXPECT_NE(nullptr, OpenPin(true));
}

// Duplex, as the ASIO driver runs it: one event, on the capture pin, whose header decides the
// half; at each event the host reads the input half and fills the output half of the same index.
// The input must hold the device's ramp without a gap, and the output must play in order, from
// the first half the host filled: a render stream that copies the other half plays a half of
// nothing first and runs a buffer late, and one that merges two output-ready requests loses a
// half. The halves come just in time, so the device runs dry if transfers are sent short.
class AsioDuplex : public AsioRenderCycle, public ::testing::WithParamInterface<ULONG> {};

TEST_P(AsioDuplex, HalvesFollowTheCaptureHeader)
{
    const ULONG kRate = 48000, kBuffer = GetParam();
    sim::RenderChecker &checker = Check(kRate);
    WAVEFORMATEX renderFormat = Pcm(2, kRate, 32);
    WAVEFORMATEX captureFormat = Pcm(2, kRate, kCaptureBits);
    CKsAudPin *render = filter_->OpenRenderPinFor(&renderFormat);
    CKsAudPin *capture = filter_->OpenCapturePinFor(&captureFormat);
    ASSERT_NE(nullptr, render);
    ASSERT_NE(nullptr, capture);
    const Bytes request = BufferRequest(2, 2 * kBuffer, {kInt32, 0, kInt32, 1});
    std::vector<ASIO_CHANNEL_BUFFER> in(2), out(2);
    for (auto [pin, entries] : {std::make_pair(capture, &in), std::make_pair(render, &out)}) {
        ASSERT_EQ(0u, Send(pin->Handle(), KSPROPERTY_ASIO_BUFFERS, KSPROPERTY_TYPE_SET, request,
                           nullptr, 0)
                          .error);
        ASSERT_EQ(0u, Send(pin->Handle(), KSPROPERTY_ASIO_BUFFERS, KSPROPERTY_TYPE_GET, {},
                           entries->data(), ULONG(2 * sizeof(ASIO_CHANNEL_BUFFER)))
                          .error);
    }
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(0u, Send(capture->Handle(), KSPROPERTY_ASIO_REGISTER_EVENT, KSPROPERTY_TYPE_SET,
                       HandleBytes(event), nullptr, 0)
                      .error);
    Bytes delay(4, 0);
    delay[0] = UCHAR(std::max(2u, (kBuffer * 1000 + kRate / 2) / kRate)); // the buffer, in ms
    ASSERT_EQ(0u, Send(render->Handle(), KSPROPERTY_ASIO_OUTPUT_DELAY, KSPROPERTY_TYPE_SET, delay,
                       nullptr, 0)
                      .error);
    ASSERT_EQ(S_OK, render->ChangeState(KSSTATE_ACQUIRE));
    ASSERT_EQ(S_OK, capture->ChangeState(KSSTATE_ACQUIRE));
    ASSERT_EQ(S_OK, render->ChangeState(KSSTATE_RUN));
    ASSERT_EQ(S_OK, capture->ChangeState(KSSTATE_RUN));

    auto *header = reinterpret_cast<volatile ASIO_SHARED_HEADER *>(ULONG_PTR(in[0].UserHalf[0]) -
                                                                   sizeof(ASIO_SHARED_HEADER));
    sim::CaptureChecker input;
    input.Reset({2, 32, kRate}, {2, 4, 24});
    std::vector<UCHAR> frames(kBuffer * 8);
    ULONGLONG sent = 0;
    UCHAR bytes[8];
    const ULONGLONG start = NowMs();
    while (NowMs() - start < 2000) {
        ASSERT_TRUE(WaitForSingleObject(event, 1000) == WAIT_OBJECT_0) << "the cycle hung";
        header->ToggleCount = 0;
        const ULONG index = header->CurrentHalf == 0 ? 1 : 0;
        for (ULONG i = 0; i < kBuffer; ++i, ++sent) {
            for (ULONG k = 0; k < 2; ++k) {
                std::memcpy(
                    &frames[8 * i + 4 * k],
                    reinterpret_cast<const UCHAR *>(ULONG_PTR(in[k].UserHalf[index])) + 4 * i, 4);
            }
            sim::SourceFrame(sent, bytes, sizeof bytes);
            for (ULONG k = 0; k < 2; ++k) {
                std::memcpy(reinterpret_cast<UCHAR *>(ULONG_PTR(out[k].UserHalf[index])) + 4 * i,
                            bytes + 4 * k, 4);
            }
        }
        input.Check(frames.data(), ULONG(frames.size()));
        ASSERT_EQ(0u, Send(render->Handle(), KSPROPERTY_ASIO_OUTPUT_READY, KSPROPERTY_TYPE_SET, {},
                           nullptr, 0)
                          .error);
    }
    EXPECT_EQ(S_OK, capture->ChangeState(KSSTATE_STOP));
    EXPECT_EQ(S_OK, render->ChangeState(KSSTATE_STOP));
    EXPECT_EQ(0u, input.Gaps());
    EXPECT_EQ(0u, input.Mismatches());
    EXPECT_EQ(0u, checker.Mismatches()) << "output halves out of order, repeated or merged";
    EXPECT_EQ(0u, checker.EngineSilenceFrames()) << "the first half played is the host's first";
    EXPECT_GT(checker.FramesMatched() + kRate / 10, sent);
    CloseHandle(event);
    auto lock = session_->LockDevice();
    EXPECT_EQ(0u, session_->Device().Render().underruns);
}

INSTANTIATE_TEST_SUITE_P(Buffers, AsioDuplex, ::testing::Values(64u, 256u, 1024u));

} // namespace
} // namespace asio_kernel_tests

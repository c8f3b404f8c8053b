// SubmitRenderTransfer against the device models: the URB of each clocking situation (explicit
// feedback, fixed pattern, implicit feedback), the length-prefixed framing the quirk device
// needs, and what each device received.
#include "transfer_test_support.h"

#include "devices/rvd3_model.h"
#include "devices/test_devices.h"
#include "usb/rate_pattern_table.h"

namespace driver_usb_tests {
namespace {

// Audio in non-paged pool with its MDL, as the render thread keeps it.
class AudioBuffer {
public:
    explicit AudioBuffer(ULONG bytes)
    {
        data_ = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPoolNx, bytes, 'tseT'));
        for (ULONG i = 0; i < bytes; ++i)
            data_[i] = UCHAR(i * 7);
        mdl_ = IoAllocateMdl(data_, bytes, FALSE, FALSE, nullptr);
        MmBuildMdlForNonPagedPool(mdl_);
    }
    ~AudioBuffer()
    {
        IoFreeMdl(mdl_);
        ExFreePoolWithTag(data_, 'tseT');
    }
    PMDL Mdl() const { return mdl_; }
    PUCHAR Data() const { return data_; }

private:
    PUCHAR data_;
    PMDL mdl_;
};

class RenderTransferTest : public TransferTest {
protected:
    template <typename Model>
    void StartModel(std::shared_ptr<Model> model, ULONG bits, ULONG rate)
    {
        model_ = model;
        StartDevice(model, bits, rate);
    }
    devices::RenderCounters Counters()
    {
        std::lock_guard<std::recursive_mutex> hold(controller_->Lock());
        return model_->Render();
    }
    // Sends one transfer and waits for its completion, which reports the bytes the URB carried
    // (the framing included).
    void Send(const AudioBuffer &audio, ULONG length, ULONG carried = 0)
    {
        CallbackRecorder done;
        ASSERT_EQ(STATUS_SUCCESS, audio_->SubmitRenderTransfer(audio.Mdl(), length,
                                                               CallbackRecorder::Callback, &done));
        ASSERT_TRUE(done.WaitFor(1));
        EXPECT_EQ(STATUS_SUCCESS, done.Calls()[0].status);
        EXPECT_EQ(carried != 0 ? carried : length, done.Calls()[0].value);
        WaitDrained();
    }
    std::vector<ULONG> Lengths(const UrbSnapshot &urb)
    {
        std::vector<ULONG> lengths;
        ULONG offset = 0;
        for (const USBD_ISO_PACKET_DESCRIPTOR &p : urb.packets) {
            EXPECT_EQ(offset, p.Offset);
            offset += p.Length;
            lengths.push_back(p.Length);
        }
        return lengths;
    }

    std::shared_ptr<devices::StreamingAudioDeviceModel> model_;
};

TEST_F(RenderTransferTest, ExplicitFeedbackSizesEveryMicroframeFromTheFeedbackValue)
{
    StartModel(std::make_shared<devices::Rvd3Model>(), 32, 48000);
    LatchFeedback();
    EXPECT_EQ(0x60000u, Render().CurrentFeedback);
    const ULONG length = audio_->GetRenderTransferBytes(Render().CurrentFeedback);
    EXPECT_EQ(4u * 8 * 6 * 8, length); // 4 ms of 6-frame microframes, 8-byte frames
    AudioBuffer audio(length);
    Send(audio, length);

    const UrbSnapshot urb = Urbs().back();
    EXPECT_EQ(URB_FUNCTION_ISOCH_TRANSFER, urb.function);
    EXPECT_EQ(GET_ISO_URB_SIZE(32), urb.length);
    EXPECT_EQ(ULONG(USBD_TRANSFER_DIRECTION_OUT | USBD_START_ISO_TRANSFER_ASAP), urb.flags);
    EXPECT_EQ(0u, urb.startFrame);
    EXPECT_EQ(Render().DataPipe->PipeHandle, urb.pipe);
    EXPECT_EQ(audio.Mdl(), urb.mdl);
    EXPECT_EQ(nullptr, urb.buffer);
    EXPECT_EQ(length, urb.bufferLength);
    EXPECT_EQ(std::vector<ULONG>(32, 48), Lengths(urb));
    EXPECT_EQ(ULONGLONG(length / 8), Counters().framesReceived);
    EXPECT_EQ(0u, Counters().malformedPackets);
}

TEST_F(RenderTransferTest, ExplicitFeedbackFractionContinuesInTheNextTransfer)
{
    StartModel(std::make_shared<devices::Rvd3Model>(), 32, 44100);
    LatchFeedback();
    const ULONG feedback = Render().CurrentFeedback; // 5.5125 samples per microframe
    AudioBuffer audio(64 * 6 * 8);
    ULONGLONG frames = 0;
    for (int i = 0; i < 5; ++i) {
        const ULONG length = audio_->GetRenderTransferBytes(feedback);
        Send(audio, length);
        frames += length / 8;
    }
    EXPECT_EQ(ULONGLONG(5) * 32 * feedback >> 16, frames);
    EXPECT_EQ(frames, Counters().framesReceived);
    EXPECT_EQ(ULONG((ULONGLONG(5) * 32 * feedback) & 0xFFFF), ULONG(Render().FeedbackFraction));
}

TEST_F(RenderTransferTest, WithoutFeedbackThePatternIsFollowedAcrossTransfers)
{
    StartModel(std::make_shared<devices::Rvd3Model>(), 32, 44100);
    Render().FeedbackPipe = nullptr; // a device without an explicit feedback endpoint
    const ULONG length = audio_->GetRenderTransferBytes(0);
    // 32 microframes of the 44.1 kHz pattern, whose first entries take the rounded-up share.
    EXPECT_EQ(8u * 177, length);
    AudioBuffer audio(length + 64);
    Send(audio, length);
    std::vector<ULONG> expected;
    const RatePatternEntry *entry = FindRatePattern(44100);
    for (ULONG i = 0; i < 32; ++i)
        expected.push_back(entry->HighSpeedPattern[i] * 8);
    EXPECT_EQ(expected, Lengths(Urbs().back()));
    EXPECT_EQ(32u, audio_->PatternPosition);

    const ULONG next = audio_->GetRenderTransferBytes(0);
    Send(audio, next);
    expected.clear();
    for (ULONG i = 32; i < 64; ++i)
        expected.push_back(entry->HighSpeedPattern[i] * 8);
    EXPECT_EQ(expected, Lengths(Urbs().back()));
    EXPECT_EQ(64u, audio_->PatternPosition);
    EXPECT_EQ(ULONGLONG(length + next) / 8, Counters().framesReceived);
}

TEST_F(RenderTransferTest, ImplicitFeedbackLaysOutLongPacketsFirst)
{
    StartModel(
        std::shared_ptr<devices::StreamingAudioDeviceModel>(devices::MakeImplicitFeedbackDevice()),
        24, 48000);
    ASSERT_TRUE(audio_->RenderFollowsCapture());
    const ULONG length = 32 * 48 + 2 * 8; // two frames above nominal
    AudioBuffer audio(length);
    Send(audio, length);
    std::vector<ULONG> expected = {56, 56};
    expected.insert(expected.end(), 30, 48);
    EXPECT_EQ(expected, Lengths(Urbs().back()));
    EXPECT_EQ(ULONGLONG(length / 8), Counters().framesReceived);
}

TEST_F(RenderTransferTest, ImplicitFeedbackShortTransferEndsWithShortPackets)
{
    StartModel(
        std::shared_ptr<devices::StreamingAudioDeviceModel>(devices::MakeImplicitFeedbackDevice()),
        24, 48000);
    const ULONG length = 32 * 48 - 3 * 8;
    AudioBuffer audio(length);
    Send(audio, length);
    std::vector<ULONG> expected(29, 48);
    expected.insert(expected.end(), 3, 40);
    EXPECT_EQ(expected, Lengths(Urbs().back()));
}

TEST_F(RenderTransferTest, LengthPrefixedDeviceGetsEveryPacketWithItsLength)
{
    StartModel(std::shared_ptr<devices::StreamingAudioDeviceModel>(
                   devices::MakeLengthPrefixedQuirkDevice()),
               16, 48000);
    AudioBuffer audio(384);
    Send(audio, 384, 392);
    const UrbSnapshot urb = Urbs().back();
    EXPECT_EQ(nullptr, urb.mdl);
    EXPECT_NE(nullptr, urb.buffer);
    EXPECT_EQ(392u, urb.bufferLength);
    EXPECT_EQ((std::vector<ULONG>{196, 196}), Lengths(urb));
    EXPECT_EQ(96u, Counters().framesReceived);
    EXPECT_EQ(0u, Counters().malformedPackets);
    EXPECT_EQ(0u, audio_->PatternPosition);
}

TEST_F(RenderTransferTest, LengthPrefixedFramingFollowsThe44100Pattern)
{
    StartModel(std::shared_ptr<devices::StreamingAudioDeviceModel>(
                   devices::MakeLengthPrefixedQuirkDevice()),
               16, 44100);
    // Ten frames of the pattern, 441 samples of 4 bytes.
    AudioBuffer audio(441 * 4);
    Send(audio, 441 * 4, 441 * 4 + 10 * 4);
    std::vector<ULONG> expected = {45 * 4 + 4};
    expected.insert(expected.end(), 9, 44 * 4 + 4);
    EXPECT_EQ(expected, Lengths(Urbs().back()));
    EXPECT_EQ(0u, audio_->PatternPosition);
    EXPECT_EQ(441u, Counters().framesReceived);
    EXPECT_EQ(0u, Counters().malformedPackets);
}

TEST_F(RenderTransferTest, WithoutARenderDataPipeNothingIsSent)
{
    StartModel(std::make_shared<devices::Rvd3Model>(), 32, 48000);
    ULONG channels = 0, bits = 0, bytes = 0;
    ASSERT_EQ(STATUS_SUCCESS, audio_->SelectStreamingFormat(USB_AUDIO_DIRECTION_RENDER, 0, 0, 0, 4,
                                                            &channels, &bits, &bytes));
    AudioBuffer audio(64);
    EXPECT_EQ(STATUS_NOT_SUPPORTED,
              audio_->SubmitRenderTransfer(audio.Mdl(), 64, CallbackRecorder::Callback, nullptr));
    EXPECT_TRUE(Urbs().empty());
}

TEST_F(RenderTransferTest, TransferBeyondOneUrbIsRefusedAndTheStateKept)
{
    StartModel(std::make_shared<devices::Rvd3Model>(), 32, 48000);
    LatchFeedback();
    const ULONG length = 41 * 48 + 8;
    AudioBuffer audio(length);
    EXPECT_EQ(
        STATUS_INVALID_BUFFER_SIZE,
        audio_->SubmitRenderTransfer(audio.Mdl(), length, CallbackRecorder::Callback, nullptr));
    EXPECT_EQ(0u, Render().FeedbackFraction);
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              audio_->SubmitRenderTransfer(audio.Mdl(), length + 1, CallbackRecorder::Callback,
                                           nullptr)); // more than the MDL describes
    EXPECT_TRUE(Urbs().empty());
}

} // namespace
} // namespace driver_usb_tests

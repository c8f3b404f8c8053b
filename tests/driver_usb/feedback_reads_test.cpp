// Explicit feedback: decoding the packet forms (4-byte 16.16, 3-byte in its two readings),
// averaging over a read with failed and odd-length packets, and reads of the feedback pipes of
// a high-speed and a full-speed device.
#include "transfer_test_support.h"

#include "devices/rvd3_model.h"
#include "devices/test_devices.h"
#include "usb/feedback_packet.h"

namespace driver_usb_tests {
namespace {

// An isochronous URB of `packets` packets of `size` bytes at `buffer`, as the stack returns it.
struct FeedbackUrb {
    std::vector<UCHAR> storage = std::vector<UCHAR>(GET_ISO_URB_SIZE(40));
    struct _URB_ISOCH_TRANSFER *Get()
    {
        return reinterpret_cast<struct _URB_ISOCH_TRANSFER *>(storage.data());
    }
    void Add(ULONG offset, ULONG length, USBD_STATUS status = USBD_STATUS_SUCCESS)
    {
        auto *iso = Get();
        iso->IsoPacket[iso->NumberOfPackets++] = {offset, length, status};
    }
};

const ULONG kNominal48kFullSpeed = 0x300000; // 48.0 samples per frame
const ULONG kNominal48kHighSpeed = 0x60000;  // 6.0 samples per microframe

TEST(FeedbackPacketDecoding, FourBytesAreLittleEndianSixteenSixteen)
{
    const UCHAR packet[] = {0x00, 0x80, 0x06, 0x00};
    ULONG value = 0;
    ASSERT_TRUE(DecodeFeedbackPacket(packet, 4, kNominal48kHighSpeed, &value));
    EXPECT_EQ(0x68000u, value);
}

TEST(FeedbackPacketDecoding, ThreeBytesOfStandardTenFourteenAreFollowed)
{
    // 48.25 samples per frame in 10.14: 48.25 x 2^14 = 0x0C1000.
    const UCHAR packet[] = {0x00, 0x10, 0x0C};
    ULONG value = 0;
    ASSERT_TRUE(DecodeFeedbackPacket(packet, 3, kNominal48kFullSpeed, &value));
    EXPECT_EQ(0x304000u, value);
}

TEST(FeedbackPacketDecoding, ThreeBytesInTheOlderFormAreKept)
{
    // (b2 << 24) | (b1 << 16) | (b0 << 8) = 0x00300000 for 00 30 00: 48.0 samples.
    const UCHAR older[] = {0x00, 0x30, 0x00};
    ULONG value = 0;
    ASSERT_TRUE(DecodeFeedbackPacket(older, 3, kNominal48kFullSpeed, &value));
    EXPECT_EQ(0x300000u, value);
}

TEST(FeedbackPacketDecoding, ThreeBytesNearNeitherReadingTakeTheOlderForm)
{
    const UCHAR packet[] = {0x00, 0x20, 0x0B};
    ULONG value = 0;
    ASSERT_TRUE(DecodeFeedbackPacket(packet, 3, kNominal48kFullSpeed, &value));
    EXPECT_EQ(0x0B200000u, value);
    // Near 44.5 samples per frame the same bytes are 10.14.
    ASSERT_TRUE(DecodeFeedbackPacket(packet, 3, 0x2C8000, &value));
    EXPECT_EQ(0x2C8000u, value);
}

TEST(FeedbackPacketDecoding, OtherLengthsGiveNoValue)
{
    const UCHAR packet[] = {1, 2, 3, 4, 5};
    ULONG value = 7;
    EXPECT_FALSE(DecodeFeedbackPacket(packet, 2, kNominal48kFullSpeed, &value));
    EXPECT_FALSE(DecodeFeedbackPacket(packet, 5, kNominal48kFullSpeed, &value));
    EXPECT_FALSE(DecodeFeedbackPacket(packet, 0, kNominal48kFullSpeed, &value));
    EXPECT_EQ(7u, value);
}

// The averaging traces what it skips: it runs on a machine.
class FeedbackAveraging : public KernelTest {};

TEST_F(FeedbackAveraging, FailedPacketsAreSkipped)
{
    UCHAR buffer[20] = {};
    for (int i = 0; i < 5; ++i)
        buffer[i * 4 + 2] = 0x06; // 0x00060000
    FeedbackUrb urb;
    urb.Get()->TransferBufferLength = sizeof(buffer);
    for (ULONG i = 0; i < 4; ++i)
        urb.Add(i * 4, 4);
    urb.Add(16, 0, USBD_STATUS_ISO_NOT_ACCESSED_BY_HW);
    EXPECT_EQ(0x60000u, AverageFeedbackPackets(urb.Get(), buffer, kNominal48kHighSpeed));
}

TEST_F(FeedbackAveraging, OddLengthsAreSkippedAndTheRestAveraged)
{
    UCHAR buffer[16] = {0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x07, 0x00, 0xAA, 0xBB};
    FeedbackUrb urb;
    urb.Get()->TransferBufferLength = sizeof(buffer);
    urb.Add(0, 4);
    urb.Add(4, 4);
    urb.Add(8, 2);
    urb.Add(12, 0);
    EXPECT_EQ(0x68000u, AverageFeedbackPackets(urb.Get(), buffer, kNominal48kHighSpeed));
}

TEST_F(FeedbackAveraging, StandardThreeBytePacketsAverageNearNominal)
{
    // 47.75 and 48.25 samples per frame in 10.14.
    UCHAR buffer[6] = {0x00, 0xF0, 0x0B, 0x00, 0x10, 0x0C};
    FeedbackUrb urb;
    urb.Get()->TransferBufferLength = sizeof(buffer);
    urb.Add(0, 3);
    urb.Add(3, 3);
    EXPECT_EQ(0x300000u, AverageFeedbackPackets(urb.Get(), buffer, kNominal48kFullSpeed));
}

TEST_F(FeedbackAveraging, SumDoesNotOverflowThirtyTwoBits)
{
    std::vector<UCHAR> buffer(40 * 4);
    FeedbackUrb urb;
    urb.Get()->TransferBufferLength = ULONG(buffer.size());
    for (ULONG i = 0; i < 40; ++i) {
        buffer[i * 4 + 1] = 0xFF;
        buffer[i * 4 + 2] = 0xFF;
        buffer[i * 4 + 3] = 0xFF; // 0xFFFFFF00
        urb.Add(i * 4, 4);
    }
    EXPECT_EQ(0xFFFFFF00u, AverageFeedbackPackets(urb.Get(), buffer.data(), 0));
}

TEST_F(FeedbackAveraging, NothingUsableGivesZero)
{
    UCHAR buffer[8] = {};
    FeedbackUrb urb;
    urb.Get()->TransferBufferLength = sizeof(buffer);
    urb.Add(0, 4, USBD_STATUS_XACT_ERROR);
    urb.Add(4, 1);
    EXPECT_EQ(0u, AverageFeedbackPackets(urb.Get(), buffer, kNominal48kHighSpeed));
}

TEST_F(FeedbackAveraging, PacketsOutsideTheBufferAreSkipped)
{
    UCHAR buffer[8] = {0x00, 0x00, 0x06, 0x00};
    FeedbackUrb urb;
    urb.Get()->TransferBufferLength = 4;
    urb.Add(0, 4);
    urb.Add(4, 4); // lies past the transfer's length
    EXPECT_EQ(0x60000u, AverageFeedbackPackets(urb.Get(), buffer, kNominal48kHighSpeed));
}

class FeedbackReadTest : public TransferTest {
protected:
    // One read of GetFeedbackTransferBytes bytes; the recorder holds its callback.
    void ReadOnce(CallbackRecorder *done)
    {
        const ULONG bytes = audio_->GetFeedbackTransferBytes();
        buffer_.assign(bytes, 0);
        ASSERT_EQ(STATUS_SUCCESS,
                  audio_->RecvFeedback(buffer_.data(), bytes, CallbackRecorder::Callback, done));
        ASSERT_TRUE(done->WaitFor(1));
    }
    std::vector<UCHAR> buffer_;
};

TEST_F(FeedbackReadTest, HighSpeedReadCoversFourMillisecondsOfFourBytePackets)
{
    StartDevice(std::make_shared<devices::Rvd3Model>(), 32, 48000);
    EXPECT_EQ(16u, audio_->GetFeedbackTransferBytes()); // Interval 4: one packet a millisecond
    CallbackRecorder done;
    ReadOnce(&done);
    const UrbSnapshot urb = Urbs().back();
    EXPECT_EQ(GET_ISO_URB_SIZE(4), urb.length);
    EXPECT_EQ(ULONG(USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP), urb.flags);
    EXPECT_EQ(Render().FeedbackPipe->PipeHandle, urb.pipe);
    ASSERT_EQ(4u, urb.packets.size());
    for (ULONG i = 0; i < 4; ++i)
        EXPECT_EQ(i * 4, urb.packets[i].Offset);
    const CallbackRecorder::Call call = done.Calls()[0];
    EXPECT_EQ(STATUS_SUCCESS, call.status);
    EXPECT_NEAR(double(kNominal48kHighSpeed), double(call.value), 0x2000);
}

TEST_F(FeedbackReadTest, FullSpeedTenFourteenFeedbackFollowsTheDeviceClock)
{
    devices::StreamingOptions options;
    options.clockOffsetPpm = 1000;
    std::shared_ptr<devices::StreamingAudioDeviceModel> model =
        devices::MakeFullSpeedUac2Device(options);
    StartDevice(model, 16, 48000);
    EXPECT_EQ(12u, audio_->GetFeedbackTransferBytes()); // four 3-byte packets
    CallbackRecorder done;
    ReadOnce(&done);
    ASSERT_EQ(4u, Urbs().back().packets.size());
    const CallbackRecorder::Call call = done.Calls()[0];
    EXPECT_EQ(STATUS_SUCCESS, call.status);
    ULONG reported = 0;
    {
        std::lock_guard<std::recursive_mutex> hold(controller_->Lock());
        reported = model->FeedbackValue();
    }
    // What the device means (48.048 samples a frame, steered toward its FIFO target) to the
    // precision of 10.14, not 64 times as much.
    EXPECT_EQ(reported >> 2 << 2, call.value);
    EXPECT_NEAR(double(0x300000), double(call.value), 0x10000);
}

TEST_F(FeedbackReadTest, SilentFeedbackPacketsAreLeftOutOfTheAverage)
{
    StartDevice(std::make_shared<devices::Rvd3Model>(), 32, 48000);
    Sleep(10);
    Faults().DropFeedback(devices::rvd3::kFeedbackEndpoint, controller_->CurrentInterval(kPort),
                          8 * 3);
    CallbackRecorder done;
    ReadOnce(&done);
    EXPECT_EQ(STATUS_SUCCESS, done.Calls()[0].status);
    EXPECT_NEAR(double(kNominal48kHighSpeed), double(done.Calls()[0].value), 0x2000);
}

TEST_F(FeedbackReadTest, FailedReadDeliversItsStatusAndZero)
{
    StartDevice(std::make_shared<devices::Rvd3Model>(), 32, 48000);
    Faults().FailIsoTransfer(devices::rvd3::kFeedbackEndpoint, 1, USBD_STATUS_XACT_ERROR);
    CallbackRecorder done;
    ReadOnce(&done);
    EXPECT_FALSE(NT_SUCCESS(done.Calls()[0].status));
    EXPECT_EQ(0u, done.Calls()[0].value);
    EXPECT_EQ(DISPATCH_LEVEL, done.Calls()[0].irql);
}

TEST_F(FeedbackReadTest, ReadsNeedAnIsochronousFeedbackPipe)
{
    StartDevice(std::shared_ptr<host::UsbDeviceModel>(devices::MakeImplicitFeedbackDevice()), 24,
                48000);
    EXPECT_EQ(0u, audio_->GetFeedbackTransferBytes());
    UCHAR buffer[16];
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              audio_->RecvFeedback(buffer, sizeof(buffer), CallbackRecorder::Callback, nullptr));
    EXPECT_TRUE(Urbs().empty());
}

TEST_F(FeedbackReadTest, ShortReadIsOnePacket)
{
    StartDevice(std::make_shared<devices::Rvd3Model>(), 32, 48000);
    CallbackRecorder done;
    UCHAR buffer[4];
    ASSERT_EQ(STATUS_SUCCESS,
              audio_->RecvFeedback(buffer, sizeof(buffer), CallbackRecorder::Callback, &done));
    ASSERT_TRUE(done.WaitFor(1));
    EXPECT_EQ(1u, Urbs().back().packets.size());
}

} // namespace
} // namespace driver_usb_tests

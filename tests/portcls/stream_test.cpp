// The port's data movement: client packets through the service routine into the test device
// and back, checked byte for byte: render with silence before and after the data, an under-run
// in the middle, a pause, capture, Notify from inside CopyTo, positions, refused and cancelled
// requests.
#include "portcls_fixture.h"

#include <atomic>

namespace portcls_tests {
namespace {

constexpr ULONG kPacketBytes = kMaxRate / 100 * 4; // 10 ms of 48 kHz 16-bit stereo
constexpr ULONG kAhead = 3;

// Client data: never zero, so silence is told apart; different for every byte of the stream.
UCHAR DataByte(ULONGLONG i) { return UCHAR(1 + (i * 7 + i / 251) % 255); }

std::vector<UCHAR> Data(ULONGLONG from, ULONGLONG bytes)
{
    std::vector<UCHAR> data(bytes);
    for (ULONGLONG i = 0; i < bytes; ++i)
        data[i] = DataByte(from + i);
    return data;
}

// The runs of non-silent bytes the device played.
std::vector<std::vector<UCHAR>> Bursts(const std::vector<UCHAR> &played)
{
    std::vector<std::vector<UCHAR>> bursts;
    bool inside = false;
    for (UCHAR byte : played) {
        if (byte == 0) {
            inside = false;
            continue;
        }
        if (!inside)
            bursts.emplace_back();
        inside = true;
        bursts.back().push_back(byte);
    }
    return bursts;
}

class StreamTest : public OpenFilterTest {
protected:
    // Writes `packets` packets of client data starting at byte `from`.
    NTSTATUS Render(ULONG packets, ULONGLONG from = 0)
    {
        return pin_->Stream(
            false, kPacketBytes, packets, kAhead, [from](ULONG index, UCHAR *bytes, ULONG length) {
                std::vector<UCHAR> data = Data(from + ULONGLONG(index) * length, length);
                std::memcpy(bytes, data.data(), length);
            });
    }

    std::vector<UCHAR> Played()
    {
        std::lock_guard<std::mutex> guard(log_.lock);
        return log_.played;
    }
};

TEST_F(StreamTest, RenderPlaysEveryClientByteOnceAndInOrderWithSilenceAround)
{
    pin_ = CreatePin(*filter_);
    ASSERT_EQ(STATUS_SUCCESS, pin_->SetState(KSSTATE_RUN));
    ASSERT_EQ(STATUS_SUCCESS, Render(50));
    Sleep(200); // the device plays out what the buffer still holds
    ASSERT_EQ(STATUS_SUCCESS, pin_->SetState(KSSTATE_STOP));

    // Besides the data only silence: no byte the buffer held before anyone wrote it.
    std::vector<UCHAR> played = Played();
    std::vector<std::vector<UCHAR>> bursts = Bursts(played);
    ASSERT_EQ(1u, bursts.size());
    EXPECT_TRUE(bursts[0] == Data(0, 50 * kPacketBytes));
    EXPECT_EQ(0, played.back()) << "silence after the data";
}

TEST_F(StreamTest, AnUnderRunResumesAtThePositionWithoutLosingOrRepeatingData)
{
    pin_ = CreatePin(*filter_);
    ASSERT_EQ(STATUS_SUCCESS, pin_->SetState(KSSTATE_RUN));
    ASSERT_EQ(STATUS_SUCCESS, Render(20));
    Sleep(300); // starved: longer than the buffer holds
    ASSERT_EQ(STATUS_SUCCESS, Render(20, 20 * kPacketBytes));
    Sleep(200);
    std::vector<std::vector<UCHAR>> bursts = Bursts(Played());
    ASSERT_EQ(2u, bursts.size());
    EXPECT_TRUE(bursts[0] == Data(0, 20 * kPacketBytes));
    EXPECT_TRUE(bursts[1] == Data(20 * kPacketBytes, 20 * kPacketBytes));
}

TEST_F(StreamTest, PauseHoldsThePositionAndLosesNothing)
{
    pin_ = CreatePin(*filter_);
    ASSERT_EQ(STATUS_SUCCESS, pin_->SetState(KSSTATE_RUN));
    std::atomic<NTSTATUS> streamed{STATUS_PENDING};
    PKTHREAD client =
        M().StartThread("client", M().SystemProcess(), [&] { streamed = Render(40); });
    Sleep(105);
    ASSERT_EQ(STATUS_SUCCESS, pin_->SetState(KSSTATE_PAUSE));
    const size_t before = Played().size();
    KSAUDIO_POSITION held;
    ASSERT_EQ(STATUS_SUCCESS, pin_->Position(&held));
    Sleep(100);
    KSAUDIO_POSITION still;
    ASSERT_EQ(STATUS_SUCCESS, pin_->Position(&still));
    EXPECT_EQ(before, Played().size());
    EXPECT_EQ(held.PlayOffset, still.PlayOffset);
    ASSERT_EQ(STATUS_SUCCESS, pin_->SetState(KSSTATE_RUN));
    KeWaitForSingleObject(client, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(client);
    EXPECT_EQ(STATUS_SUCCESS, streamed.load());
    Sleep(200);
    std::vector<std::vector<UCHAR>> bursts = Bursts(Played());
    ASSERT_EQ(1u, bursts.size());
    EXPECT_TRUE(bursts[0] == Data(0, 40 * kPacketBytes));

    KSAUDIO_POSITION end;
    ASSERT_EQ(STATUS_SUCCESS, pin_->Position(&end));
    EXPECT_EQ(40u * kPacketBytes, end.WriteOffset);
    EXPECT_EQ(40u * kPacketBytes, end.PlayOffset);
}

TEST_F(StreamTest, CaptureDeliversEveryDeviceByteInOrder)
{
    pin_ = CreatePin(*filter_, kCapturePin);
    ASSERT_EQ(STATUS_SUCCESS, pin_->SetState(KSSTATE_RUN));
    std::vector<UCHAR> received;
    ASSERT_EQ(STATUS_SUCCESS,
              pin_->Stream(true, kPacketBytes, 30, kAhead, [&](ULONG, UCHAR *bytes, ULONG length) {
                  received.insert(received.end(), bytes, bytes + length);
              }));
    ASSERT_EQ(30u * kPacketBytes, received.size());
    for (size_t i = 0; i < received.size(); ++i)
        ASSERT_EQ(CaptureByte(i), received[i]) << "byte " << i;
}

// A miniport may call Notify from its CopyTo; the service pass it asks for runs after the
// current one, never inside it.
TEST_F(StreamTest, NotifyFromInsideCopyToDoesNotRecurse)
{
    log_.notifyFromCopyTo = true;
    pin_ = CreatePin(*filter_);
    ASSERT_EQ(STATUS_SUCCESS, pin_->SetState(KSSTATE_RUN));
    ASSERT_EQ(STATUS_SUCCESS, Render(20));
    Sleep(200);
    EXPECT_EQ(0u, log_.nestedServicePasses);
    std::vector<std::vector<UCHAR>> bursts = Bursts(Played());
    ASSERT_EQ(1u, bursts.size());
    EXPECT_TRUE(bursts[0] == Data(0, 20 * kPacketBytes));
}

TEST_F(StreamTest, StreamRequestsAreRefusedInStopAndCancelledWhenThePinCloses)
{
    pin_ = CreatePin(*filter_);
    EXPECT_EQ(STATUS_INVALID_DEVICE_STATE, Render(1));

    ASSERT_EQ(STATUS_SUCCESS, pin_->SetState(KSSTATE_PAUSE)); // queued, never played
    std::atomic<NTSTATUS> streamed{STATUS_PENDING};
    PKTHREAD client =
        M().StartThread("client", M().SystemProcess(), [&] { streamed = Render(10); });
    Sleep(50);
    pin_->SetState(KSSTATE_STOP);
    KeWaitForSingleObject(client, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(client);
    EXPECT_EQ(STATUS_CANCELLED, streamed.load());
}

} // namespace
} // namespace portcls_tests

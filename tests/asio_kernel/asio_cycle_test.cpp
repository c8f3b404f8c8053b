// The ASIO render cycle against the RV-D3, driven the way the ASIO driver drives it: buffers, the
// event, the output delay, RUN, then at every event the half the header names filled with the
// next frames of the source and output ready sent. The device must play the source bit exact
// and the events come one buffer apart.
#include "asio_kernel_fixture.h"

#include "stream_patterns.h"

namespace asio_kernel_tests {
namespace {

constexpr ULONG kInt32 = 18;

struct CycleCase {
    ULONG bufferSamples;
    ULONG rate;
};

class AsioRenderCycle : public AsioKernelTest, public ::testing::WithParamInterface<CycleCase> {};

TEST_P(AsioRenderCycle, PlaysEveryHalfInOrderOneBufferApart)
{
    const CycleCase c = GetParam();
    const sim::ClientFormat client{2, 32, c.rate};
    sim::RenderChecker checker(client, 32, true);
    {
        auto lock = session_->LockDevice();
        session_->Device().AttachSink(&checker);
    }
    WAVEFORMATEX format = Pcm(2, c.rate, 32);
    CKsAudPin *pin = filter_->OpenRenderPinFor(&format);
    ASSERT_NE(nullptr, pin);
    const HANDLE handle = pin->Handle();
    ASSERT_EQ(0u, Send(handle, KSPROPERTY_ASIO_BUFFERS, KSPROPERTY_TYPE_SET,
                       BufferRequest(2, 2 * c.bufferSamples, {kInt32, 0, kInt32, 1}), nullptr, 0)
                      .error);
    std::vector<ASIO_CHANNEL_BUFFER> entries(2);
    ASSERT_EQ(0u, Send(handle, KSPROPERTY_ASIO_BUFFERS, KSPROPERTY_TYPE_GET, {}, entries.data(),
                       ULONG(entries.size() * sizeof entries[0]))
                      .error);
    auto *header = reinterpret_cast<volatile ASIO_SHARED_HEADER *>(
        ULONG_PTR(entries[0].UserHalf[0]) - sizeof(ASIO_SHARED_HEADER));
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(0u, Send(handle, KSPROPERTY_ASIO_REGISTER_EVENT, KSPROPERTY_TYPE_SET,
                       HandleBytes(event), nullptr, 0)
                      .error);
    Bytes delay(4, 0);
    delay[0] = 64;
    ASSERT_EQ(
        0u,
        Send(handle, KSPROPERTY_ASIO_OUTPUT_DELAY, KSPROPERTY_TYPE_SET, delay, nullptr, 0).error);
    ASSERT_EQ(S_OK, pin->ChangeState(KSSTATE_RUN));

    const ULONGLONG seconds = 2;
    const ULONGLONG start = NowMs();
    ULONGLONG frame = 0, toggles = 0, missed = 0;
    UCHAR bytes[8];
    while (NowMs() - start < seconds * 1000) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 1000)) << "no event: the cycle hung";
        ++toggles;
        if (header->ToggleCount != 1) {
            ++missed;
        }
        header->ToggleCount = 0;
        const ULONG index = header->CurrentHalf == 0 ? 1 : 0;
        for (ULONG i = 0; i < c.bufferSamples; ++i, ++frame) {
            sim::SourceFrame(frame, bytes, sizeof bytes);
            for (ULONG k = 0; k < 2; ++k) {
                std::memcpy(reinterpret_cast<UCHAR *>(ULONG_PTR(entries[k].UserHalf[index])) +
                                4 * i,
                            bytes + 4 * k, 4);
            }
        }
        ASSERT_EQ(
            0u,
            Send(handle, KSPROPERTY_ASIO_OUTPUT_READY, KSPROPERTY_TYPE_SET, {}, nullptr, 0).error);
    }
    ASSERT_EQ(S_OK, pin->ChangeState(KSSTATE_STOP));
    const double expected = double(seconds) * c.rate / c.bufferSamples;
    EXPECT_NEAR(expected, double(toggles), expected * 0.01 + 2);
    EXPECT_EQ(0u, missed);
    EXPECT_EQ(0u, checker.Mismatches());
    EXPECT_GT(checker.FramesMatched(), frame - 2 * c.bufferSamples - c.rate / 10);
    {
        auto lock = session_->LockDevice();
        session_->Device().AttachSink(nullptr);
    }
    CloseHandle(event);
}

INSTANTIATE_TEST_SUITE_P(BuffersAndRates, AsioRenderCycle,
                         ::testing::Values(CycleCase{64, 48000}, CycleCase{256, 48000},
                                           CycleCase{512, 44100}, CycleCase{1024, 96000},
                                           CycleCase{7680, 192000}),
                         [](const ::testing::TestParamInfo<CycleCase> &info) {
                             return std::to_string(info.param.bufferSamples) + "At" +
                                    std::to_string(info.param.rate);
                         });

} // namespace
} // namespace asio_kernel_tests

// Round-trip latency as a host measures it: the RV-D3 in loopback mode returns what its DAC
// plays, and a sample the host writes comes back in its input some frames later. The kernel's
// transfers are tuned short (one millisecond per transfer, few in flight) for it.
#include "asio_host_fixture.h"

#include "kernel/registry_store.h"

#include <cstdio>

namespace asio_tests {
namespace {

class AsioRoundTrip : public AsioHostTest, public ::testing::WithParamInterface<LONG> {
protected:
    void SetUp() override
    {
        const std::u16string key = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEL\\Sample Device Performance";
        const std::pair<const char16_t *, ULONG> parameters[] = {
            {u"param1", 1}, {u"param2", 2}, {u"param3", 1}, {u"param4", 2}};
        for (const auto &[name, value] : parameters) {
            std::vector<UCHAR> bytes(4);
            std::memcpy(bytes.data(), &value, 4);
            ASSERT_EQ(STATUS_SUCCESS, M().Registry().SetValue(key, name, REG_DWORD, bytes));
        }
        device_->SetLoopback(true);
        AsioHostTest::SetUp();
    }
};

TEST_P(AsioRoundTrip, AtFortyEightKilohertz)
{
    constexpr ULONG kRate = 48000;
    const LONG buffer = GetParam();
    AsioHost &host = Host();
    ASSERT_EQ(ASE_OK, host->setSampleRate(kRate));
    ASSERT_EQ(ASE_OK, host.Create(2, 2, buffer));
    host.impulseFrame = 20 * ULONGLONG(buffer) + 7; // once the stream has settled
    ASSERT_EQ(ASE_OK, host->start());
    sim::SleepMs(1000);
    EXPECT_EQ(ASE_OK, host->stop());
    EXPECT_EQ(ASE_OK, host->disposeBuffers());
    ASSERT_NE(~0ull, host.impulseHeardAt) << "the impulse never came back";
    ASSERT_GT(host.impulseHeardAt, host.impulseFrame);
    const ULONGLONG samples = host.impulseHeardAt - host.impulseFrame;
    std::printf("round trip at %ld samples, %lu Hz: %llu samples, %.2f ms\n", long(buffer),
                static_cast<unsigned long>(kRate), static_cast<unsigned long long>(samples),
                1000.0 * double(samples) / kRate);
    LONG in = 0, out = 0;
    // What the driver reports covers what a host measures within a transfer or two.
    ASSERT_EQ(ASE_OK, host->getLatencies(&in, &out));
    RecordProperty("round_trip_samples", std::to_string(samples));
    EXPECT_EQ(0u, host.resets.load());
}

INSTANTIATE_TEST_SUITE_P(Buffers, AsioRoundTrip, ::testing::Values(64, 128, 256));

} // namespace
} // namespace asio_tests

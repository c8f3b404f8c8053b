// Round-trip latency as a host measures it and as the driver reports it: the RV-D3 in loopback
// mode returns what its DAC plays, and a sample the host writes comes back in its input some
// frames later. The kernel's transfers are tuned short (one millisecond per transfer, two in
// flight) for it.
#include "asio_host_fixture.h"

#include "kernel/registry_store.h"

#include <array>
#include <cstdio>

namespace asio_tests {
namespace {

const std::u16string kPerformanceKey =
    u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEL\\Sample Device Performance";

// Stores "param1".."param4" as given; a negative value is stored as a string.
void StorePerformance(host::Machine &machine, const std::array<LONG, 4> &values)
{
    for (size_t i = 0; i < values.size(); ++i) {
        const std::u16string name = u"param" + std::u16string(1, char16_t(u'1' + i));
        std::vector<UCHAR> bytes(4);
        std::memcpy(bytes.data(), &values[i], 4);
        const ULONG type = values[i] < 0 ? REG_SZ : REG_DWORD;
        if (type == REG_SZ)
            bytes = {'9', 0, 0, 0};
        ASSERT_EQ(STATUS_SUCCESS, machine.Registry().SetValue(kPerformanceKey, name, type, bytes));
    }
}

class AsioRoundTrip : public AsioHostTest, public ::testing::WithParamInterface<LONG> {
protected:
    void SetUp() override
    {
        StorePerformance(M(), {1, 2, 1, 2});
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
    LONG in = 0, out = 0; // as hosts ask, with the buffers made
    ASSERT_EQ(ASE_OK, host->getLatencies(&in, &out));
    host.impulseFrame = 20 * ULONGLONG(buffer) + 7; // once the stream has settled
    ASSERT_EQ(ASE_OK, host->start());
    sim::SleepMs(1000);
    EXPECT_EQ(ASE_OK, host->stop());
    EXPECT_EQ(ASE_OK, host->disposeBuffers());
    ASSERT_NE(~0ull, host.impulseHeardAt) << "the impulse never came back";
    ASSERT_GT(host.impulseHeardAt, host.impulseFrame);
    const ULONGLONG samples = host.impulseHeardAt - host.impulseFrame;
    std::printf("round trip at %ld samples, %lu Hz: %llu samples, %.2f ms; reported %ld + %ld\n",
                long(buffer), static_cast<unsigned long>(kRate),
                static_cast<unsigned long long>(samples), 1000.0 * double(samples) / kRate,
                long(in), long(out));
    // What the driver reports is what a host measures, within a transfer each way.
    const LONG transfer = kRate / 1000;
    EXPECT_NEAR(double(in + out), double(samples), 2.0 * transfer);
    RecordProperty("round_trip_samples", std::to_string(samples));
    EXPECT_EQ(0u, host.resets.load());
}

INSTANTIATE_TEST_SUITE_P(Buffers, AsioRoundTrip, ::testing::Values(64, 128, 256));

// The reported latencies follow the transfer settings as the kernel driver corrects them (64
// samples at 48 kHz; a negative value is a value of the wrong type).
TEST_F(AsioHostTest, ReportedLatenciesFollowTheTransferSettings)
{
    struct Case {
        std::array<LONG, 4> stored; // all 0: no key
        LONG in, out;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, 112, 544},  // defaults: 4 ms x 8, 1 ms x 8
        {{1, 2, 1, 2}, 112, 256},  // tuned
        {{9, 1, 5, 1}, 304, 400},  // 9 ms taken as 5
        {{1, 0, 0, 0}, 112, 288},  // no count: the milliseconds' default (4)
        {{-1, 2, 1, 2}, 112, 544}, // a string: the render pair's defaults
    };
    AsioHost &host = Host();
    ASSERT_EQ(ASE_OK, host->setSampleRate(48000));
    ASSERT_EQ(ASE_OK, host.Create(2, 2, 64));
    for (const Case &c : cases) {
        (void)M().Registry().DeleteKeyTree(kPerformanceKey); // absent at first
        if (c.stored != std::array<LONG, 4>{})
            StorePerformance(M(), c.stored);
        LONG in = 0, out = 0;
        ASSERT_EQ(ASE_OK, host->getLatencies(&in, &out));
        EXPECT_EQ(c.in, in) << c.stored[0] << " " << c.stored[1] << " " << c.stored[2];
        EXPECT_EQ(c.out, out) << c.stored[0] << " " << c.stored[1] << " " << c.stored[2];
    }
    EXPECT_EQ(ASE_OK, host->disposeBuffers());
}

} // namespace
} // namespace asio_tests

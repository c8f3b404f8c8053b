// The wait for a stable render clock: polled every millisecond of (virtual) time until the clock
// reports itself valid or the time-out passes; Audio Class 1.0 clocks count as stable.
#include "driver_usb_fixture.h"

#include "devices/rvd3_model.h"
#include "devices/test_devices.h"

namespace driver_usb_tests {
namespace {

class ClockStabilityTest : public DriverUsbTest {
protected:
    // Changes the RV-D3's rate: its clock then relocks for 20 ms.
    void ChangeRate()
    {
        ULONG channels = 0, bits = 0, bytes = 0;
        ASSERT_EQ(STATUS_SUCCESS,
                  audio_->SelectStreamingFormat(USB_AUDIO_DIRECTION_RENDER, 2, 32, 96000, 4,
                                                &channels, &bits, &bytes));
    }

    size_t ValidityReads(size_t from)
    {
        size_t reads = 0;
        for (const LoggedControl &c : log_->Since(from))
            if (c.setup.bmRequestType == 0xA1 && c.setup.bRequest == 0x01 &&
                c.setup.wValue == 0x0200 && c.setup.wIndex >> 8 == devices::rvd3::kClockSourceId)
                ++reads;
        return reads;
    }
};

TEST_F(ClockStabilityTest, LockedClockIsStableAtOnce)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, Start());
    Sleep(50);
    const size_t before = log_->Count();
    const ULONGLONG start = Now();
    EXPECT_TRUE(audio_->IsClockStable(100));
    EXPECT_LT(Now() - start, 1 * 10000ULL); // one request, no pause
    EXPECT_EQ(1u, ValidityReads(before));
}

TEST_F(ClockStabilityTest, RelockingClockIsAwaited)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, Start());
    Sleep(50);
    ChangeRate();
    const size_t before = log_->Count();
    const ULONGLONG start = Now();
    EXPECT_TRUE(audio_->IsClockStable(100));
    const ULONGLONG waited = Now() - start;
    EXPECT_GT(waited, 10 * 10000ULL); // the lock time had not passed when the wait began
    EXPECT_LE(waited, 25 * 10000ULL); // about 20 ms, polled every millisecond
    EXPECT_GT(ValidityReads(before), 5u);
}

TEST_F(ClockStabilityTest, ClockThatStaysInvalidTimesOut)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, Start());
    Sleep(50);
    ChangeRate();
    const ULONGLONG start = Now();
    EXPECT_FALSE(audio_->IsClockStable(5));
    const ULONGLONG waited = Now() - start;
    EXPECT_GE(waited, 5 * 10000ULL);
    EXPECT_LE(waited, 7 * 10000ULL);
}

TEST_F(ClockStabilityTest, FailingValidityRequestsCountAsInvalid)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, Start());
    Faults().StallControl(host::UsbControlMatch::Request(0xA1, 0x01, 0x0200));
    EXPECT_FALSE(audio_->IsClockStable(3));
}

TEST_F(ClockStabilityTest, Class1ClockIsStableWithoutRequests)
{
    Plug(devices::MakeUac1SynchEndpointDevice());
    ASSERT_EQ(STATUS_SUCCESS, Start());
    const size_t before = log_->Count();
    EXPECT_TRUE(audio_->IsClockStable(100));
    EXPECT_EQ(before, log_->Count());
}

} // namespace
} // namespace driver_usb_tests

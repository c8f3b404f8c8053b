// The outstanding-request counter and its two events, and that every synchronous request is
// bracketed by it.
#include "driver_usb_fixture.h"

#include "devices/rvd3_model.h"

#include <new>

namespace driver_usb_tests {
namespace {

using IoCountTest = DriverUsbTest;

TEST_F(IoCountTest, BusyEventClearsAtTwoOutstandingAndSetsWhenOneRemains)
{
    CUSBAudioCL audio;
    EXPECT_EQ(0, KeReadStateEvent(&audio.BusyEvent));
    audio.IoCountIncrement();
    audio.IoCountIncrement();
    EXPECT_EQ(0, KeReadStateEvent(&audio.BusyEvent));
    EXPECT_EQ(1, audio.IoCountDecrement());
    EXPECT_NE(0, KeReadStateEvent(&audio.BusyEvent));
    audio.IoCountIncrement();
    EXPECT_EQ(0, KeReadStateEvent(&audio.BusyEvent));
    EXPECT_EQ(1, audio.IoCountDecrement());
    EXPECT_EQ(0, audio.IoCountDecrement());
}

TEST_F(IoCountTest, DrainedEventSetsWhenNothingIsOutstanding)
{
    CUSBAudioCL audio;
    EXPECT_EQ(0, KeReadStateEvent(&audio.DrainedEvent));
    audio.IoCountIncrement();
    audio.IoCountIncrement();
    EXPECT_EQ(1, audio.IoCountDecrement());
    EXPECT_EQ(0, KeReadStateEvent(&audio.DrainedEvent));
    EXPECT_EQ(0, audio.IoCountDecrement());
    EXPECT_NE(0, KeReadStateEvent(&audio.DrainedEvent));
}

TEST_F(IoCountTest, DrainedEventClearsWhenARequestIsOutstandingAgain)
{
    // A waiter for the drain must not pass while a later request is still in flight.
    CUSBAudioCL audio;
    audio.IoCountIncrement();
    EXPECT_EQ(0, audio.IoCountDecrement());
    ASSERT_NE(0, KeReadStateEvent(&audio.DrainedEvent));
    audio.IoCountIncrement();
    EXPECT_EQ(0, KeReadStateEvent(&audio.DrainedEvent));
    EXPECT_EQ(0, audio.IoCountDecrement());
    EXPECT_NE(0, KeReadStateEvent(&audio.DrainedEvent));
}

TEST_F(IoCountTest, CounterIsUsableAtDispatchLevel)
{
    CUSBAudioCL audio;
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    audio.IoCountIncrement();
    const LONG count = audio.IoCountDecrement();
    KeLowerIrql(old);
    EXPECT_EQ(0, count);
}

TEST_F(IoCountTest, SynchronousRequestsAreCountedWhileInFlight)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
    EXPECT_EQ(0, audio_->IoCount);
    EXPECT_NE(0, KeReadStateEvent(&audio_->DrainedEvent));

    // The device looks at the counter while it answers.
    LONG countSeen = -1;
    LONG drainedSeen = -1;
    log_->SetHook([&](const host::UsbSetupPacket &) {
        countSeen = audio_->IoCount;
        drainedSeen = KeReadStateEvent(&audio_->DrainedEvent);
    });
    UCHAR buffer[CUSBCL::USB_STRING_BUFFER_SIZE] = {};
    EXPECT_EQ(STATUS_SUCCESS, audio_->GetStringDescriptor(1, buffer));
    log_->SetHook(nullptr);
    EXPECT_EQ(1, countSeen);
    EXPECT_EQ(0, drainedSeen);
    EXPECT_EQ(0, audio_->IoCount);
    EXPECT_NE(0, KeReadStateEvent(&audio_->DrainedEvent));
}

// The completion that drains the layer is held up right after it signals the drained event, so
// the waiter runs first.
class DrainTest : public DriverUsbTest {
protected:
    DrainTest() : DriverUsbTest(WithSynchronizationDelays()) {}
};

TEST_F(DrainTest, LayerFreedTheMomentItsLastTransferDrainsIsNotTouchedAgain)
{
    // As at device removal: the drained event is waited for, then the USB layer is destroyed and
    // its pool block freed at once. A touch of the freed block faults (special pool).
    Plug(std::make_shared<devices::Rvd3Model>());
    audio_.reset();
    void *block = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(CUSBAudioCL), 'tseT');
    ASSERT_NE(nullptr, block);
    auto *audio = new (block) CUSBAudioCL;
    ASSERT_EQ(STATUS_SUCCESS, audio->Initialize(lower_, 0));
    ASSERT_EQ(STATUS_SUCCESS, audio->SelectConfiguration());
    ULONG channels = 0, bits = 0, bytes = 0;
    ASSERT_EQ(STATUS_SUCCESS, audio->SelectStreamingFormat(USB_AUDIO_DIRECTION_CAPTURE, 2, 24,
                                                           48000, 1, &channels, &bits, &bytes));
    UCHAR buffer[1024];
    ASSERT_EQ(STATUS_SUCCESS,
              audio->SubmitCaptureTransfer(buffer, sizeof buffer, nullptr, nullptr, 0));
    LARGE_INTEGER timeout = RelativeMs(1000);
    ASSERT_EQ(STATUS_SUCCESS,
              KeWaitForSingleObject(&audio->DrainedEvent, Executive, KernelMode, FALSE, &timeout));
    audio->~CUSBAudioCL();
    ExFreePoolWithTag(block, 'tseT');
    Sleep(1); // the completion goes on while this thread waits
}

} // namespace
} // namespace driver_usb_tests

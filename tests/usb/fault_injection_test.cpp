// Scripted faults: stalled and failed control requests, failed isochronous transfers and packets,
// short, zero-length and missing IN packets, and surprise removal at a chosen bus interval.
#include "usb_test_fixture.h"

namespace usb_tests {
namespace {

class FaultInjectionTest : public UsbTest {
protected:
    void SetUp() override
    {
        Plug();
        ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 1, 1, 0}));
    }

    host::UsbFaultScript &Faults() { return controller_->Faults(kPort); }

    NTSTATUS ClassGet(std::vector<UCHAR> &buffer, USBD_STATUS *urbStatus)
    {
        UrbBuffer urb(sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST));
        UsbBuildVendorRequest(urb.Get(), URB_FUNCTION_CLASS_INTERFACE,
                              sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST),
                              USBD_TRANSFER_DIRECTION_IN, 0, 0x01, 0x0100, 0x2900, buffer.data(),
                              nullptr, ULONG(buffer.size()), nullptr);
        NTSTATUS status = SubmitSync(urb.Get());
        *urbStatus = urb->UrbHeader.Status;
        return status;
    }

    // Feedback packet i of a transfer: (status, length).
    std::unique_ptr<UrbBuffer> Feedback(ULONG packets, std::vector<UCHAR> &buffer)
    {
        buffer.assign(packets * 4, 0);
        return IsoUrb(kFeedbackEndpoint, packets, buffer, 4);
    }
};

TEST_F(FaultInjectionTest, StalledControlRequestFailsWithoutReachingTheDeviceForItsCount)
{
    Faults().StallControl(host::UsbControlMatch::Request(0xA1, 0x01, 0x0100), 1);
    model_->SetClassReply({1, 2, 3, 4});
    std::vector<UCHAR> buffer(4);
    USBD_STATUS urbStatus;
    size_t before = model_->Requests().size();
    EXPECT_EQ(STATUS_UNSUCCESSFUL, ClassGet(buffer, &urbStatus));
    EXPECT_EQ(USBD_STATUS_STALL_PID, urbStatus);
    EXPECT_EQ(before, model_->Requests().size());
    EXPECT_EQ(STATUS_SUCCESS, ClassGet(buffer, &urbStatus));
    EXPECT_EQ(std::vector<UCHAR>({1, 2, 3, 4}), buffer);
}

TEST_F(FaultInjectionTest, FailedControlRequestCarriesTheScriptedStatus)
{
    Faults().FailControl(host::UsbControlMatch::Request(-1, 0x01), USBD_STATUS_TIMEOUT);
    std::vector<UCHAR> buffer(4);
    USBD_STATUS urbStatus;
    EXPECT_EQ(STATUS_IO_TIMEOUT, ClassGet(buffer, &urbStatus));
    EXPECT_EQ(USBD_STATUS_TIMEOUT, urbStatus);
    EXPECT_EQ(STATUS_IO_TIMEOUT, ClassGet(buffer, &urbStatus)); // every time
    Faults().Clear();
    EXPECT_EQ(STATUS_SUCCESS, ClassGet(buffer, &urbStatus));
}

TEST_F(FaultInjectionTest, NthIsochronousTransferFailsAsAWhole)
{
    Faults().FailIsoTransfer(kDataEndpoint, 2, USBD_STATUS_XACT_ERROR);
    std::vector<UCHAR> data(8 * 48);
    std::vector<std::unique_ptr<UrbBuffer>> urbs;
    std::vector<PendingUrb *> pendings;
    for (int i = 0; i < 3; ++i) {
        urbs.push_back(IsoUrb(kDataEndpoint, 8, data, 48));
        pendings.push_back(&SubmitAsync(urbs.back()->Get()));
    }
    EXPECT_EQ(STATUS_SUCCESS, Wait(*pendings[0]));
    EXPECT_EQ(STATUS_UNSUCCESSFUL, Wait(*pendings[1]));
    EXPECT_EQ(STATUS_SUCCESS, Wait(*pendings[2]));
    const auto &failed = (*urbs[1])->UrbIsochronousTransfer;
    EXPECT_EQ(USBD_STATUS_XACT_ERROR, failed.Hdr.Status);
    EXPECT_EQ(8u, failed.ErrorCount);
    for (ULONG i = 0; i < 8; ++i)
        EXPECT_EQ(USBD_STATUS_XACT_ERROR, failed.IsoPacket[i].Status);
    EXPECT_EQ(16u, model_->Packets(kDataEndpoint).size()); // none of the failed one's
}

TEST_F(FaultInjectionTest, FailedOutPacketsDoNotReachTheDeviceAndTheUrbStillSucceeds)
{
    ULONGLONG first = FirstIntervalOfFrame(controller_->CurrentFrame() + 2);
    Faults().FailIsoPackets(kDataEndpoint, first + 2, 3, USBD_STATUS_DATA_BUFFER_ERROR);
    std::vector<UCHAR> data(8 * 48);
    auto urb = IsoUrb(kDataEndpoint, 8, data, 48);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb->Get()));
    const auto &iso = (*urb)->UrbIsochronousTransfer;
    ASSERT_EQ(first, FirstIntervalOfFrame(iso.StartFrame));
    EXPECT_EQ(USBD_STATUS_SUCCESS, iso.Hdr.Status);
    EXPECT_EQ(3u, iso.ErrorCount);
    for (ULONG i = 0; i < 8; ++i) {
        bool failed = i >= 2 && i < 5;
        EXPECT_EQ(failed ? USBD_STATUS_DATA_BUFFER_ERROR : USBD_STATUS_SUCCESS,
                  iso.IsoPacket[i].Status);
    }
    EXPECT_EQ(5u, model_->Packets(kDataEndpoint).size());
}

TEST_F(FaultInjectionTest, ShortAndZeroLengthCapturePackets)
{
    model_->SetCaptureBytes(192);
    ULONGLONG first = FirstIntervalOfFrame(controller_->CurrentFrame() + 2);
    Faults().ShortIsoPacket(kCaptureEndpoint, first + 1, 2, 50);
    Faults().ZeroLengthPackets(kCaptureEndpoint, first + 6, 1);
    std::vector<UCHAR> buffer(8 * 192);
    auto urb = IsoUrb(kCaptureEndpoint, 8, buffer, 192);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb->Get()));
    const auto &iso = (*urb)->UrbIsochronousTransfer;
    const ULONG expected[8] = {192, 50, 50, 192, 192, 192, 0, 192};
    for (ULONG i = 0; i < 8; ++i) {
        EXPECT_EQ(expected[i], iso.IsoPacket[i].Length) << "packet " << i;
        EXPECT_EQ(USBD_STATUS_SUCCESS, iso.IsoPacket[i].Status);
    }
    EXPECT_EQ(0u, iso.ErrorCount);
}

TEST_F(FaultInjectionTest, DroppedFeedbackPacketsFailAloneOrFailTheUrbWhenAllAreLost)
{
    ULONGLONG first = FirstIntervalOfFrame(controller_->CurrentFrame() + 2);
    Faults().DropFeedback(kFeedbackEndpoint, first + 8, 8); // the second packet's frame
    std::vector<UCHAR> buffer;
    auto some = Feedback(4, buffer);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(some->Get()));
    const auto &iso = (*some)->UrbIsochronousTransfer;
    EXPECT_EQ(USBD_STATUS_SUCCESS, iso.IsoPacket[0].Status);
    EXPECT_EQ(USBD_STATUS_XACT_ERROR, iso.IsoPacket[1].Status);
    EXPECT_EQ(0u, iso.IsoPacket[1].Length);
    EXPECT_EQ(4u, iso.IsoPacket[2].Length);
    EXPECT_EQ(1u, iso.ErrorCount);

    Faults().DropFeedback(kFeedbackEndpoint, 0, ~0ull); // silent from now on
    auto all = Feedback(4, buffer);
    EXPECT_EQ(STATUS_UNSUCCESSFUL, SubmitSync(all->Get()));
    EXPECT_EQ(USBD_STATUS_ISOCH_REQUEST_FAILED, (*all)->UrbHeader.Status);
    EXPECT_EQ(4u, (*all)->UrbIsochronousTransfer.ErrorCount);
}

TEST_F(FaultInjectionTest, RemovalAtAnIntervalEndsTheStreamThere)
{
    std::vector<UCHAR> data(64 * 48);
    ULONG start = controller_->CurrentFrame() + 2;
    ULONGLONG removal = FirstIntervalOfFrame(start) + 20;
    Faults().RemoveAtInterval(removal);
    auto urb = IsoUrb(kDataEndpoint, 64, data, 48);
    PendingUrb &pending = SubmitAsync(urb->Get());
    EXPECT_EQ(STATUS_DEVICE_NOT_CONNECTED, Wait(pending));
    std::vector<LoggedPacket> packets = model_->Packets(kDataEndpoint);
    ASSERT_EQ(20u, packets.size());
    EXPECT_EQ(removal - 1, packets.back().interval);
    EXPECT_EQ(1, model_->DisconnectCount());
    // Noticed once the removal's interval had passed.
    EXPECT_EQ(ULONGLONG(start) * 10000 + 21 * 1250, pending.completedAt);
    Faults().Clear();
}

TEST_F(FaultInjectionTest, RemovalOfAnIdleDeviceHappensAtItsInterval)
{
    ULONGLONG removal = controller_->CurrentInterval(kPort) + 16;
    Faults().RemoveAtInterval(removal);
    Sleep(1);
    EXPECT_EQ(0, model_->DisconnectCount());
    Sleep(2);
    EXPECT_EQ(1, model_->DisconnectCount());
    EXPECT_EQ(removal, model_->AdvancedTo()); // moved through the intervals before it
    USB_DEVICE_DESCRIPTOR descriptor;
    ULONG returned;
    EXPECT_EQ(STATUS_DEVICE_NOT_CONNECTED,
              GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &descriptor, 18, &returned));
    Faults().Clear();
}

} // namespace
} // namespace usb_tests

// Isochronous IN transfers: what each packet reports (length and status), where its data lands,
// and how the URB's status sums the packets up.
#include "usb_test_fixture.h"

namespace usb_tests {
namespace {

class IsochronousInTest : public UsbTest {
protected:
    void SetUp() override
    {
        Plug();
        ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 1, 1, 0}));
    }
};

TEST_F(IsochronousInTest, EachPacketReportsTheBytesTheDeviceSentAtItsOffset)
{
    model_->SetCaptureBytes(100);
    std::vector<UCHAR> buffer(8 * 192, 0xEE);
    auto urb = IsoUrb(kCaptureEndpoint, 8, buffer, 192);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb->Get()));
    const auto &iso = (*urb)->UrbIsochronousTransfer;
    EXPECT_EQ(0u, iso.ErrorCount);
    ULONGLONG first = FirstIntervalOfFrame(iso.StartFrame);
    for (ULONG i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(100u, iso.IsoPacket[i].Length);
        EXPECT_EQ(USBD_STATUS_SUCCESS, iso.IsoPacket[i].Status);
        EXPECT_EQ(UCHAR(first + i), buffer[i * 192]);
        EXPECT_EQ(UCHAR(first + i), buffer[i * 192 + 99]);
        EXPECT_EQ(0xEE, buffer[i * 192 + 100]); // the rest of the packet's room is untouched
    }
    EXPECT_EQ(ULONG(buffer.size()), iso.TransferBufferLength);
}

TEST_F(IsochronousInTest, SilentDeviceGivesZeroLengthPacketsThatSucceed)
{
    model_->SetCaptureBytes(0);
    std::vector<UCHAR> buffer(8 * 192);
    auto urb = IsoUrb(kCaptureEndpoint, 8, buffer, 192);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb->Get()));
    for (ULONG i = 0; i < 8; ++i) {
        EXPECT_EQ(0u, (*urb)->UrbIsochronousTransfer.IsoPacket[i].Length);
        EXPECT_EQ(USBD_STATUS_SUCCESS, (*urb)->UrbIsochronousTransfer.IsoPacket[i].Status);
    }
}

TEST_F(IsochronousInTest, PacketLargerThanItsRoomOverrunsAndAllFailedFailsTheUrb)
{
    model_->SetCaptureBytes(150);
    std::vector<UCHAR> buffer(8 * 100);
    auto urb = IsoUrb(kCaptureEndpoint, 8, buffer, 100);
    EXPECT_EQ(STATUS_UNSUCCESSFUL, SubmitSync(urb->Get()));
    const auto &iso = (*urb)->UrbIsochronousTransfer;
    EXPECT_EQ(USBD_STATUS_ISOCH_REQUEST_FAILED, iso.Hdr.Status);
    EXPECT_EQ(8u, iso.ErrorCount);
    for (ULONG i = 0; i < 8; ++i) {
        EXPECT_EQ(USBD_STATUS_DATA_OVERRUN, iso.IsoPacket[i].Status);
        EXPECT_EQ(100u, iso.IsoPacket[i].Length);
    }
}

TEST_F(IsochronousInTest, BufferDescribedByAnMdlReceivesThePackets)
{
    model_->SetCaptureBytes(192);
    const ULONG bytes = 40 * 192; // crosses pages
    auto buffer = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, bytes, 'tseT'));
    PMDL mdl = IoAllocateMdl(buffer, bytes, FALSE, FALSE, nullptr);
    MmBuildMdlForNonPagedPool(mdl);
    std::vector<UCHAR> unused;
    auto urb = IsoUrb(kCaptureEndpoint, 40, unused, 192);
    (*urb)->UrbIsochronousTransfer.TransferBuffer = nullptr;
    (*urb)->UrbIsochronousTransfer.TransferBufferMDL = mdl;
    (*urb)->UrbIsochronousTransfer.TransferBufferLength = bytes;
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb->Get()));
    ULONGLONG first = FirstIntervalOfFrame((*urb)->UrbIsochronousTransfer.StartFrame);
    for (ULONG i = 0; i < 40; ++i)
        EXPECT_EQ(UCHAR(first + i), buffer[i * 192 + 191]) << "packet " << i;
    IoFreeMdl(mdl);
    ExFreePoolWithTag(buffer, 'tseT');
}

} // namespace
} // namespace usb_tests

// URBs the real stack refuses: wrong request-block lengths, buffers shorter than the transfer,
// pipe handles that are not open, packets outside the buffer, and functions that do not exist.
// Each fails with the status Windows gives; rule breaks are reported by the verifier too.
#include "usb_test_fixture.h"

namespace usb_tests {
namespace {

class UrbVerifierTest : public UsbTest {
protected:
    void SetUp() override
    {
        Plug();
        ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 1, 0, 0}));
    }

    void ExpectReported(const char *fragment)
    {
        std::vector<host::VerifierReport> reports = Take(host::VerifierCheck::Usage);
        ASSERT_EQ(1u, reports.size());
        EXPECT_NE(std::string::npos, reports[0].message.find(fragment)) << reports[0].message;
    }
};

TEST_F(UrbVerifierTest, WrongLengthForAFixedSizeRequestIsRefused)
{
    UCHAR buffer[18];
    UrbBuffer urb(sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
    UsbBuildGetDescriptorRequest(urb.Get(), sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST) - 8,
                                 USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, buffer, nullptr, 18, nullptr);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(urb.Get()));
    EXPECT_EQ(USBD_STATUS_INVALID_PARAMETER, urb->UrbHeader.Status);
    ExpectReported("Length 128");
}

TEST_F(UrbVerifierTest, TransferLongerThanItsMdlIsRefused)
{
    auto buffer = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, 16, 'tseT'));
    PMDL mdl = IoAllocateMdl(buffer, 16, FALSE, FALSE, nullptr);
    MmBuildMdlForNonPagedPool(mdl);
    UrbBuffer urb(sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
    UsbBuildGetDescriptorRequest(urb.Get(), sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                 USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, nullptr, mdl, 18, nullptr);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(urb.Get()));
    ExpectReported("larger than its MDL");
    IoFreeMdl(mdl);
    ExFreePoolWithTag(buffer, 'tseT');
}

TEST_F(UrbVerifierTest, TransferLengthWithoutABufferIsRefused)
{
    UrbBuffer urb(sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
    UsbBuildGetDescriptorRequest(urb.Get(), sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                 USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, nullptr, nullptr, 18, nullptr);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(urb.Get()));
    ExpectReported("neither TransferBuffer nor TransferBufferMDL");
}

TEST_F(UrbVerifierTest, PipeHandleThatWasNeverOpenIsInvalid)
{
    std::vector<UCHAR> data(8 * 48);
    auto urb = IsoUrb(kDataEndpoint, 8, data, 48);
    (*urb)->UrbIsochronousTransfer.PipeHandle = reinterpret_cast<USBD_PIPE_HANDLE>(0x1234);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(urb->Get()));
    EXPECT_EQ(USBD_STATUS_INVALID_PIPE_HANDLE, (*urb)->UrbHeader.Status);
    ExpectReported("not open");
}

TEST_F(UrbVerifierTest, PacketBeyondTheTransferBufferIsRefused)
{
    // The buffer holds five packets; the last three would start beyond it.
    std::vector<UCHAR> data(5 * 48);
    auto urb = IsoUrb(kDataEndpoint, 8, data, 48);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(urb->Get()));
    ExpectReported("beyond the transfer buffer");
    EXPECT_TRUE(model_->Packets(kDataEndpoint).empty());
}

TEST_F(UrbVerifierTest, PacketsEndingExactlyAtTheBufferAreZeroLength)
{
    std::vector<UCHAR> data(6 * 48);
    auto urb = IsoUrb(kDataEndpoint, 8, data, 48);
    (*urb)->UrbIsochronousTransfer.IsoPacket[7].Offset = 6 * 48;
    (*urb)->UrbIsochronousTransfer.IsoPacket[6].Offset = 6 * 48;
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb->Get()));
    std::vector<LoggedPacket> packets = model_->Packets(kDataEndpoint);
    ASSERT_EQ(8u, packets.size());
    EXPECT_EQ(48u, packets[5].data.size());
    EXPECT_TRUE(packets[6].data.empty());
    EXPECT_TRUE(packets[7].data.empty());
}

TEST_F(UrbVerifierTest, IsochronousUrbTooShortForItsPacketsIsRefused)
{
    std::vector<UCHAR> data(8 * 48);
    auto urb = IsoUrb(kDataEndpoint, 8, data, 48);
    (*urb)->UrbHeader.Length = USHORT(GET_ISO_URB_SIZE(4));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(urb->Get()));
    ExpectReported("packet descriptors");
}

TEST_F(UrbVerifierTest, OutPacketLongerThanTheEndpointAllowsFailsTheUrb)
{
    std::vector<UCHAR> data(8 * 600);
    auto urb = IsoUrb(kDataEndpoint, 8, data, 600); // 512 bytes per microframe at most
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(urb->Get()));
    EXPECT_EQ(USBD_STATUS_INVALID_PARAMETER, (*urb)->UrbHeader.Status);
}

TEST_F(UrbVerifierTest, IsochronousTransferOnABulkPipeIsRefused)
{
    std::vector<UCHAR> data(8 * 48);
    auto urb = IsoUrb(kDataEndpoint, 8, data, 48);
    (*urb)->UrbIsochronousTransfer.PipeHandle = Pipe(kBulkEndpoint).PipeHandle;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(urb->Get()));
    ExpectReported("on a bulk pipe");
}

TEST_F(UrbVerifierTest, UnknownFunctionsAreInvalidAndUnemulatedOnesSaySo)
{
    UrbBuffer unknown(sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST));
    unknown->UrbHeader.Length = sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST);
    unknown->UrbHeader.Function = 0x2C;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(unknown.Get()));
    EXPECT_EQ(USBD_STATUS_INVALID_URB_FUNCTION, unknown->UrbHeader.Status);

    UrbBuffer frameLength(sizeof(struct _URB_GET_FRAME_LENGTH));
    frameLength->UrbHeader.Length = sizeof(struct _URB_GET_FRAME_LENGTH);
    frameLength->UrbHeader.Function = URB_FUNCTION_GET_FRAME_LENGTH;
    EXPECT_EQ(STATUS_NOT_SUPPORTED, SubmitSync(frameLength.Get()));

    UrbBuffer feature(sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
    feature->UrbHeader.Length = sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST);
    feature->UrbHeader.Function = URB_FUNCTION_GET_MS_FEATURE_DESCRIPTOR;
    EXPECT_EQ(STATUS_NOT_SUPPORTED, SubmitSync(feature.Get()));
    ExpectReported("not emulated");
}

TEST_F(UrbVerifierTest, InterfaceRecordTooShortForItsPipesIsRefused)
{
    UrbBuffer urb(GET_SELECT_INTERFACE_REQUEST_SIZE(1));
    UsbBuildSelectInterfaceRequest(urb.Get(), USHORT(GET_SELECT_INTERFACE_REQUEST_SIZE(1)),
                                   configurationHandle_, 1, 1); // setting 1 has two pipes
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(urb.Get()));
    ExpectReported("it needs 72");
}

} // namespace
} // namespace usb_tests

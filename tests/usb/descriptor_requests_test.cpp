// Descriptor requests as a driver's start-up makes them: lengths returned, the setup packets the
// device sees, buffers given as MDLs, and the PDO the device arrives with.
#include "usb_test_fixture.h"

#include "kernel/io_manager.h"

namespace usb_tests {
namespace {

class DescriptorRequestTest : public UsbTest {
protected:
    void SetUp() override { Plug(); }
};

TEST_F(DescriptorRequestTest, PluggedDeviceHasAPdoWithItsInstanceIdAfterTheHubsReads)
{
    EXPECT_EQ(u"USB\\VID_1234&PID_5678\\1", host::DeviceInstanceIdOf(pdo_));
    EXPECT_TRUE(pdo_->Flags & DO_BUS_ENUMERATED_DEVICE);
    EXPECT_FALSE(pdo_->Flags & DO_DEVICE_INITIALIZING);
    std::vector<LoggedRequest> requests = model_->Requests();
    ASSERT_EQ(kHubRequests, requests.size()); // the device descriptor, the configuration's header
    EXPECT_EQ(USB_REQUEST_GET_DESCRIPTOR, requests[0].setup.bRequest);
    EXPECT_EQ(0x0100, requests[0].setup.wValue);
    EXPECT_EQ(0x0200, requests[1].setup.wValue);
    EXPECT_EQ(9, requests[1].setup.wLength);
    EXPECT_EQ(1, model_->ConnectCount());
}

TEST_F(DescriptorRequestTest, DeviceDescriptorReadReturnsEighteenBytes)
{
    USB_DEVICE_DESCRIPTOR descriptor{};
    ULONG returned = 0;
    EXPECT_EQ(STATUS_SUCCESS, GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &descriptor,
                                            sizeof descriptor, &returned));
    EXPECT_EQ(18u, returned);
    EXPECT_EQ(kVendorId, descriptor.idVendor);
    EXPECT_EQ(kProductId, descriptor.idProduct);
    const LoggedRequest last = model_->Requests().back();
    EXPECT_EQ(0x80, last.setup.bmRequestType);
    EXPECT_EQ(18, last.setup.wLength);
}

TEST_F(DescriptorRequestTest, ConfigurationIsReadAsNineBytesThenItsTotalLength)
{
    USB_CONFIGURATION_DESCRIPTOR header{};
    ULONG returned = 0;
    ASSERT_EQ(STATUS_SUCCESS, GetDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, &header,
                                            sizeof header, &returned));
    EXPECT_EQ(9u, returned);
    std::vector<UCHAR> expected = TestConfiguration(host::UsbSpeed::High);
    ASSERT_EQ(expected.size(), header.wTotalLength);

    std::vector<UCHAR> whole(header.wTotalLength);
    ASSERT_EQ(STATUS_SUCCESS, GetDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, whole.data(),
                                            ULONG(whole.size()), &returned));
    EXPECT_EQ(header.wTotalLength, returned);
    EXPECT_EQ(expected, whole);
}

TEST_F(DescriptorRequestTest, LongerRequestReturnsWhatTheDeviceHas)
{
    UCHAR buffer[255] = {};
    ULONG returned = 0;
    EXPECT_EQ(STATUS_SUCCESS,
              GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, buffer, sizeof buffer, &returned));
    EXPECT_EQ(18u, returned);
    EXPECT_EQ(255, model_->Requests().back().setup.wLength);
}

TEST_F(DescriptorRequestTest, StringDescriptorsCarryTheLanguageIdInWIndex)
{
    UCHAR languages[4] = {};
    ULONG returned = 0;
    ASSERT_EQ(STATUS_SUCCESS,
              GetDescriptor(USB_STRING_DESCRIPTOR_TYPE, 0, 0, languages, 4, &returned));
    EXPECT_EQ(4u, returned);
    EXPECT_EQ(0x09, languages[2]);
    EXPECT_EQ(0x04, languages[3]);

    UCHAR text[256] = {};
    ASSERT_EQ(STATUS_SUCCESS,
              GetDescriptor(USB_STRING_DESCRIPTOR_TYPE, 2, 0x0409, text, sizeof text, &returned));
    EXPECT_EQ(text[0], returned);
    EXPECT_EQ('R', text[2]);
    const LoggedRequest last = model_->Requests().back();
    EXPECT_EQ(0x0302, last.setup.wValue);
    EXPECT_EQ(0x0409, last.setup.wIndex);
}

TEST_F(DescriptorRequestTest, DescriptorTheDeviceStallsFailsWithStallPid)
{
    UCHAR text[256] = {};
    UrbBuffer urb(sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
    UsbBuildGetDescriptorRequest(urb.Get(), sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                 USB_STRING_DESCRIPTOR_TYPE, 2, 0x0407, text, nullptr, sizeof text,
                                 nullptr);
    EXPECT_EQ(STATUS_UNSUCCESSFUL, SubmitSync(urb.Get()));
    EXPECT_EQ(USBD_STATUS_STALL_PID, urb->UrbHeader.Status);
    EXPECT_EQ(0u, urb->UrbControlDescriptorRequest.TransferBufferLength);
}

TEST_F(DescriptorRequestTest, RequestCompletesLaterAtDispatchLevelAfterAPendingReturn)
{
    USB_DEVICE_DESCRIPTOR descriptor{};
    UrbBuffer urb(sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
    UsbBuildGetDescriptorRequest(urb.Get(), sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                 USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &descriptor, nullptr,
                                 sizeof descriptor, nullptr);
    ULONGLONG submitted = Now();
    PendingUrb &pending = SubmitAsync(urb.Get());
    EXPECT_FALSE(pending.completed);
    EXPECT_EQ(USBD_STATUS_PENDING, urb->UrbHeader.Status);
    EXPECT_EQ(STATUS_SUCCESS, Wait(pending));
    EXPECT_EQ(USBD_STATUS_SUCCESS, urb->UrbHeader.Status);
    EXPECT_EQ(DISPATCH_LEVEL, pending.completionIrql);
    // A control transfer takes the next microframe: done within two of them.
    EXPECT_GT(pending.completedAt, submitted);
    EXPECT_LE(pending.completedAt, submitted + 2 * 1250);
}

TEST_F(DescriptorRequestTest, BufferDescribedByAnMdlIsFilled)
{
    auto buffer = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, 64, 'tseT'));
    PMDL mdl = IoAllocateMdl(buffer, 64, FALSE, FALSE, nullptr);
    MmBuildMdlForNonPagedPool(mdl);
    UrbBuffer urb(sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
    UsbBuildGetDescriptorRequest(urb.Get(), sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                 USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, nullptr, mdl, 64, nullptr);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb.Get()));
    EXPECT_EQ(18u, urb->UrbControlDescriptorRequest.TransferBufferLength);
    EXPECT_EQ(18, buffer[0]);
    EXPECT_EQ(USB_DEVICE_DESCRIPTOR_TYPE, buffer[1]);
    IoFreeMdl(mdl);
    ExFreePoolWithTag(buffer, 'tseT');
}

TEST_F(DescriptorRequestTest, CurrentFrameNumberCountsMillisecondsSinceBoot)
{
    Sleep(7);
    UrbBuffer urb(sizeof(struct _URB_GET_CURRENT_FRAME_NUMBER));
    urb->UrbHeader.Length = sizeof(struct _URB_GET_CURRENT_FRAME_NUMBER);
    urb->UrbHeader.Function = URB_FUNCTION_GET_CURRENT_FRAME_NUMBER;
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb.Get()));
    EXPECT_EQ(ULONG(Now() / 10000), urb->UrbGetCurrentFrameNumber.FrameNumber);
}

} // namespace
} // namespace usb_tests

// Selecting the configuration and alternate settings: the interface and pipe records as Windows
// fills them, the requests the device sees, and what happens to pipes that an interface change
// closes.
#include "usb_test_fixture.h"

namespace usb_tests {
namespace {

class ConfigurationTest : public UsbTest {
protected:
    void SetUp() override { Plug(); }
};

TEST_F(ConfigurationTest, SelectConfigurationFillsInterfaceAndPipeRecordsAsWindowsDoes)
{
    ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 1, 0, 0}));
    EXPECT_NE(nullptr, configurationHandle_);
    EXPECT_EQ(1, model_->Configuration());
    EXPECT_EQ(1, model_->AlternateSetting(1));

    const USBD_INTERFACE_INFORMATION &control = InterfaceInfo(0);
    EXPECT_EQ(1, control.Class);
    EXPECT_EQ(1, control.SubClass);
    EXPECT_EQ(0x20, control.Protocol);
    EXPECT_NE(nullptr, control.InterfaceHandle);
    ASSERT_EQ(1u, control.NumberOfPipes);
    EXPECT_EQ(UsbdPipeTypeInterrupt, control.Pipes[0].PipeType);
    EXPECT_EQ(kStatusEndpoint, control.Pipes[0].EndpointAddress);
    EXPECT_EQ(6, control.Pipes[0].MaximumPacketSize);
    EXPECT_EQ(4, control.Pipes[0].Interval);

    const USBD_INTERFACE_INFORMATION &streaming = InterfaceInfo(1);
    EXPECT_EQ(2, streaming.SubClass);
    EXPECT_EQ(1, streaming.AlternateSetting);
    ASSERT_EQ(2u, streaming.NumberOfPipes);
    const USBD_PIPE_INFORMATION &data = streaming.Pipes[0];
    EXPECT_EQ(UsbdPipeTypeIsochronous, data.PipeType);
    EXPECT_EQ(kDataEndpoint, data.EndpointAddress);
    EXPECT_EQ(512, data.MaximumPacketSize);
    EXPECT_EQ(1, data.Interval);
    EXPECT_EQ(ULONG(USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE), data.MaximumTransferSize);
    const USBD_PIPE_INFORMATION &feedback = streaming.Pipes[1];
    EXPECT_EQ(kFeedbackEndpoint, feedback.EndpointAddress);
    EXPECT_EQ(4, feedback.MaximumPacketSize);
    EXPECT_EQ(4, feedback.Interval); // bInterval as given, not converted
    EXPECT_NE(data.PipeHandle, feedback.PipeHandle);

    EXPECT_EQ(UsbdPipeTypeBulk, Pipe(kBulkEndpoint).PipeType);
    EXPECT_EQ(512, Pipe(kBulkEndpoint).MaximumPacketSize);

    // SET_CONFIGURATION, then SET_INTERFACE for the one interface not at setting 0.
    std::vector<LoggedRequest> requests = model_->Requests();
    ASSERT_EQ(kHubRequests + 2, requests.size());
    EXPECT_EQ(USB_REQUEST_SET_CONFIGURATION, requests[kHubRequests].setup.bRequest);
    EXPECT_EQ(1, requests[kHubRequests].setup.wValue);
    EXPECT_EQ(0x01, requests[kHubRequests + 1].setup.bmRequestType);
    EXPECT_EQ(USB_REQUEST_SET_INTERFACE, requests[kHubRequests + 1].setup.bRequest);
    EXPECT_EQ(1, requests[kHubRequests + 1].setup.wValue);
    EXPECT_EQ(1, requests[kHubRequests + 1].setup.wIndex);
}

TEST_F(ConfigurationTest, HighBandwidthEndpointReportsAllTransactionsOfAMicroframe)
{
    ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 2, 0, 0}));
    EXPECT_EQ(3 * 1024, Pipe(kDataEndpoint).MaximumPacketSize); // wMaxPacketSize 0x1400
}

TEST_F(ConfigurationTest, SubsetOfInterfacesLeavesTheOthersWithoutPipes)
{
    ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 0}));
    EXPECT_EQ(2u, interfaces_.size());
    // Interface 2 was not configured: it cannot be switched.
    UrbBuffer urb(GET_SELECT_INTERFACE_REQUEST_SIZE(1));
    UsbBuildSelectInterfaceRequest(urb.Get(), USHORT(GET_SELECT_INTERFACE_REQUEST_SIZE(1)),
                                   configurationHandle_, 2, 1);
    size_t before = model_->Requests().size();
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(urb.Get()));
    EXPECT_EQ(before, model_->Requests().size());
}

TEST_F(ConfigurationTest, SelectInterfaceGivesNewPipesAndTheOldHandlesStopWorking)
{
    ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 1, 0, 0}));
    USBD_PIPE_HANDLE old = Pipe(kDataEndpoint).PipeHandle;
    std::vector<UCHAR> data(8 * 48);
    auto stale = IsoUrb(kDataEndpoint, 8, data, 48);

    ASSERT_EQ(STATUS_SUCCESS, SelectInterface(1, 3));
    EXPECT_EQ(3, model_->AlternateSetting(1));
    EXPECT_NE(old, Pipe(kDataEndpoint).PipeHandle);
    EXPECT_EQ(1u, InterfaceInfo(1).NumberOfPipes);

    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(stale->Get()));
    EXPECT_EQ(USBD_STATUS_INVALID_PIPE_HANDLE, (*stale)->UrbHeader.Status);
    EXPECT_EQ(1u, Take(host::VerifierCheck::Usage).size());
}

TEST_F(ConfigurationTest, SelectInterfaceCancelsTransfersPendingOnTheOldPipes)
{
    ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 1, 0, 0}));
    std::vector<UCHAR> data(64 * 48);
    auto urb = IsoUrb(kDataEndpoint, 64, data, 48);
    PendingUrb &pending = SubmitAsync(urb->Get());
    ASSERT_EQ(STATUS_SUCCESS, SelectInterface(1, 0));
    EXPECT_EQ(STATUS_CANCELLED, Wait(pending));
    EXPECT_EQ(USBD_STATUS_CANCELED, (*urb)->UrbHeader.Status);
    EXPECT_EQ(0u, InterfaceInfo(1).NumberOfPipes);
}

TEST_F(ConfigurationTest, SettingTheDeviceRefusesKeepsTheOldPipes)
{
    ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 1, 0, 0}));
    controller_->Faults(kPort).StallControl(
        host::UsbControlMatch::Request(0x01, USB_REQUEST_SET_INTERFACE), 1);
    USBD_PIPE_HANDLE old = Pipe(kDataEndpoint).PipeHandle;
    EXPECT_EQ(STATUS_UNSUCCESSFUL, SelectInterface(1, 2));
    EXPECT_EQ(1, model_->AlternateSetting(1));
    EXPECT_EQ(old, Pipe(kDataEndpoint).PipeHandle);
    std::vector<UCHAR> data(8 * 48);
    auto urb = IsoUrb(kDataEndpoint, 8, data, 48);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb->Get()));
}

TEST_F(ConfigurationTest, AlternateSettingThatDoesNotExistIsNotFound)
{
    ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration());
    UrbBuffer urb(GET_SELECT_INTERFACE_REQUEST_SIZE(1));
    UsbBuildSelectInterfaceRequest(urb.Get(), USHORT(GET_SELECT_INTERFACE_REQUEST_SIZE(1)),
                                   configurationHandle_, 1, 7);
    EXPECT_EQ(STATUS_UNSUCCESSFUL, SubmitSync(urb.Get()));
    EXPECT_EQ(USBD_STATUS_INTERFACE_NOT_FOUND, urb->UrbHeader.Status);
}

TEST_F(ConfigurationTest, NullConfigurationDescriptorUnconfiguresTheDevice)
{
    ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 1, 0, 0}));
    std::vector<UCHAR> data(8 * 48);
    auto stale = IsoUrb(kDataEndpoint, 8, data, 48);
    UrbBuffer urb(sizeof(struct _URB_SELECT_CONFIGURATION));
    UsbBuildSelectConfigurationRequest(urb.Get(), sizeof(struct _URB_SELECT_CONFIGURATION),
                                       nullptr);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb.Get()));
    EXPECT_EQ(0, model_->Configuration());
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(stale->Get()));
    EXPECT_EQ(1u, Take(host::VerifierCheck::Usage).size());
}

TEST_F(ConfigurationTest, PortResetRestoresTheConfigurationAndKeepsThePipes)
{
    ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 2, 0, 0}));
    USBD_PIPE_HANDLE pipe = Pipe(kDataEndpoint).PipeHandle;
    size_t before = model_->Requests().size();
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb;
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_RESET_PORT, pdo_, nullptr, 0,
                                             nullptr, 0, TRUE, &event, &iosb);
    if (IoCallDriver(pdo_, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    EXPECT_EQ(STATUS_SUCCESS, iosb.Status);
    std::vector<LoggedRequest> requests = model_->Requests();
    ASSERT_EQ(before + 2, requests.size());
    EXPECT_EQ(USB_REQUEST_SET_CONFIGURATION, requests[before].setup.bRequest);
    EXPECT_EQ(USB_REQUEST_SET_INTERFACE, requests[before + 1].setup.bRequest);
    EXPECT_EQ(2, requests[before + 1].setup.wValue);
    std::vector<UCHAR> data(8 * 48);
    auto urb = IsoUrb(kDataEndpoint, 8, data, 48);
    EXPECT_EQ(pipe, (*urb)->UrbIsochronousTransfer.PipeHandle);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb->Get()));
}

class FullSpeedConfigurationTest : public UsbTest {
protected:
    FullSpeedConfigurationTest() : UsbTest(host::UsbSpeed::Full) {}
    void SetUp() override { Plug(); }
};

TEST_F(FullSpeedConfigurationTest, PipesReportFullSpeedSizesAndPollingPeriods)
{
    ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 1, 0, 0}));
    EXPECT_EQ(384, Pipe(kDataEndpoint).MaximumPacketSize);
    EXPECT_EQ(1, Pipe(kDataEndpoint).Interval);
    EXPECT_EQ(3, Pipe(kFeedbackEndpoint).MaximumPacketSize);
    // A full-speed interrupt endpoint is polled every power of two frames up to bInterval.
    EXPECT_EQ(8, Pipe(kStatusEndpoint).Interval); // bInterval 10
    EXPECT_EQ(64, Pipe(kBulkEndpoint).MaximumPacketSize);
}

} // namespace
} // namespace usb_tests

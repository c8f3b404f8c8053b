// Class, vendor and standard requests reach the device with the setup packet Windows builds from
// each URB function, for every recipient and both directions.
#include "usb_test_fixture.h"

#include <cstring>

namespace usb_tests {
namespace {

class ControlRequestTest : public UsbTest {
protected:
    void SetUp() override { Plug(); }

    NTSTATUS VendorOrClass(USHORT function, ULONG flags, UCHAR request, USHORT value, USHORT index,
                           std::vector<UCHAR> &buffer, ULONG *returned)
    {
        UrbBuffer urb(sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST));
        UsbBuildVendorRequest(urb.Get(), function,
                              sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST), flags, 0,
                              request, value, index, buffer.empty() ? nullptr : buffer.data(),
                              nullptr, ULONG(buffer.size()), nullptr);
        NTSTATUS status = SubmitSync(urb.Get());
        *returned = urb->UrbControlVendorClassRequest.TransferBufferLength;
        lastUrbStatus_ = urb->UrbHeader.Status;
        return status;
    }

    USBD_STATUS lastUrbStatus_ = USBD_STATUS_SUCCESS;
};

struct RecipientCase {
    USHORT function;
    UCHAR requestType; // for host-to-device; device-to-host adds 0x80
};

TEST_F(ControlRequestTest, ClassAndVendorRequestsReachTheDeviceForEveryRecipient)
{
    const RecipientCase cases[] = {
        {URB_FUNCTION_CLASS_DEVICE, 0x20},    {URB_FUNCTION_CLASS_INTERFACE, 0x21},
        {URB_FUNCTION_CLASS_ENDPOINT, 0x22},  {URB_FUNCTION_CLASS_OTHER, 0x23},
        {URB_FUNCTION_VENDOR_DEVICE, 0x40},   {URB_FUNCTION_VENDOR_INTERFACE, 0x41},
        {URB_FUNCTION_VENDOR_ENDPOINT, 0x42}, {URB_FUNCTION_VENDOR_OTHER, 0x43},
    };
    model_->SetClassReply({0x80, 0xBB, 0x00, 0x00}); // 48000
    for (const RecipientCase &c : cases) {
        SCOPED_TRACE(c.function);
        std::vector<UCHAR> out = {0x44, 0xAC, 0x00, 0x00};
        ULONG returned = 0;
        ASSERT_EQ(STATUS_SUCCESS, VendorOrClass(c.function, USBD_TRANSFER_DIRECTION_OUT, 0x01,
                                                0x0100, 0x2900, out, &returned));
        LoggedRequest sent = model_->Requests().back();
        EXPECT_EQ(c.requestType, sent.setup.bmRequestType);
        EXPECT_EQ(0x01, sent.setup.bRequest);
        EXPECT_EQ(0x0100, sent.setup.wValue);
        EXPECT_EQ(0x2900, sent.setup.wIndex);
        EXPECT_EQ(4, sent.setup.wLength);
        EXPECT_EQ(out, sent.data);
        EXPECT_EQ(4u, returned);

        std::vector<UCHAR> in(4);
        ASSERT_EQ(STATUS_SUCCESS,
                  VendorOrClass(c.function, USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK,
                                0x02, 0x0200, 0x0a01, in, &returned));
        EXPECT_EQ(c.requestType | 0x80, model_->Requests().back().setup.bmRequestType);
        EXPECT_EQ(0x02, model_->Requests().back().setup.bRequest);
        EXPECT_EQ(4u, returned);
        EXPECT_EQ(std::vector<UCHAR>({0x80, 0xBB, 0x00, 0x00}), in);
    }
}

TEST_F(ControlRequestTest, RequestWithoutDataStageHasZeroLength)
{
    std::vector<UCHAR> none;
    ULONG returned = 99;
    EXPECT_EQ(STATUS_SUCCESS,
              VendorOrClass(URB_FUNCTION_VENDOR_INTERFACE, 0, 0, 1, 1, none, &returned));
    EXPECT_EQ(0x41, model_->Requests().back().setup.bmRequestType);
    EXPECT_EQ(0, model_->Requests().back().setup.wLength);
    EXPECT_EQ(0u, returned);
}

TEST_F(ControlRequestTest, ShortAnswerReportsTheBytesReturned)
{
    model_->SetClassReply({0x01});
    std::vector<UCHAR> in(8);
    ULONG returned = 0;
    EXPECT_EQ(STATUS_SUCCESS, VendorOrClass(URB_FUNCTION_CLASS_INTERFACE,
                                            USBD_TRANSFER_DIRECTION_IN, 0x81, 0, 0, in, &returned));
    EXPECT_EQ(1u, returned);
}

TEST_F(ControlRequestTest, ControlTransferSendsItsSetupPacketOnTheDefaultPipe)
{
    for (USHORT function :
         {USHORT(URB_FUNCTION_CONTROL_TRANSFER), USHORT(URB_FUNCTION_CONTROL_TRANSFER_EX)}) {
        SCOPED_TRACE(function);
        UrbBuffer urb(sizeof(struct _URB_CONTROL_TRANSFER_EX));
        UCHAR data[2] = {};
        auto &request = urb->UrbControlTransfer;
        request.Hdr.Function = function;
        request.Hdr.Length = USHORT(function == URB_FUNCTION_CONTROL_TRANSFER
                                        ? sizeof(struct _URB_CONTROL_TRANSFER)
                                        : sizeof(struct _URB_CONTROL_TRANSFER_EX));
        request.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_DEFAULT_PIPE_TRANSFER;
        request.TransferBuffer = data;
        request.TransferBufferLength = 2;
        UCHAR setup[8] = {0x80, USB_REQUEST_GET_STATUS, 0, 0, 0, 0, 2, 0};
        std::memcpy(function == URB_FUNCTION_CONTROL_TRANSFER
                        ? request.SetupPacket
                        : urb->UrbControlTransferEx.SetupPacket,
                    setup, 8);
        EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb.Get()));
        EXPECT_EQ(2u, request.TransferBufferLength);
        EXPECT_EQ(0x01, data[0]); // self powered
        EXPECT_EQ(USB_REQUEST_GET_STATUS, model_->Requests().back().setup.bRequest);
    }
}

TEST_F(ControlRequestTest, FeatureAndStatusFunctionsBecomeStandardRequests)
{
    UrbBuffer feature(sizeof(struct _URB_CONTROL_FEATURE_REQUEST));
    UsbBuildFeatureRequest(feature.Get(), URB_FUNCTION_CLEAR_FEATURE_TO_ENDPOINT,
                           USB_FEATURE_ENDPOINT_STALL, kFeedbackEndpoint, nullptr);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(feature.Get()));
    LoggedRequest clear = model_->Requests().back();
    EXPECT_EQ(0x02, clear.setup.bmRequestType);
    EXPECT_EQ(USB_REQUEST_CLEAR_FEATURE, clear.setup.bRequest);
    EXPECT_EQ(USB_FEATURE_ENDPOINT_STALL, clear.setup.wValue);
    EXPECT_EQ(kFeedbackEndpoint, clear.setup.wIndex);

    USHORT status = 0;
    UrbBuffer get(sizeof(struct _URB_CONTROL_GET_STATUS_REQUEST));
    UsbBuildGetStatusRequest(get.Get(), URB_FUNCTION_GET_STATUS_FROM_INTERFACE, 1, &status, nullptr,
                             nullptr);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(get.Get()));
    EXPECT_EQ(0x81, model_->Requests().back().setup.bmRequestType);
    EXPECT_EQ(1, model_->Requests().back().setup.wIndex);
    EXPECT_EQ(2u, get->UrbControlGetStatusRequest.TransferBufferLength);
}

TEST_F(ControlRequestTest, RequestsRunOnePerMicroframeInTheOrderSent)
{
    std::vector<std::unique_ptr<UrbBuffer>> urbs;
    std::vector<PendingUrb *> pendings;
    for (USHORT value = 0; value < 3; ++value) {
        urbs.push_back(
            std::make_unique<UrbBuffer>(sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST)));
        UsbBuildVendorRequest(urbs.back()->Get(), URB_FUNCTION_VENDOR_DEVICE,
                              sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST), 0, 0, 0x10,
                              value, 0, nullptr, nullptr, 0, nullptr);
        pendings.push_back(&SubmitAsync(urbs.back()->Get()));
    }
    for (PendingUrb *pending : pendings)
        EXPECT_EQ(STATUS_SUCCESS, Wait(*pending));
    std::vector<LoggedRequest> requests = model_->Requests();
    ASSERT_EQ(kHubRequests + 3, requests.size());
    for (USHORT value = 0; value < 3; ++value) {
        EXPECT_EQ(value, requests[kHubRequests + value].setup.wValue);
        if (value > 0) {
            EXPECT_EQ(requests[kHubRequests + value - 1].interval + 1,
                      requests[kHubRequests + value].interval);
        }
    }
}

} // namespace
} // namespace usb_tests

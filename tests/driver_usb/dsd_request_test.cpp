// The native-DSD vendor request: sent to every streaming interface in order, remembered per
// interface, and stopped by the first interface that refuses it.
#include "driver_usb_fixture.h"

#include "devices/rvd3_model.h"
#include "function/audio_streaming_interface.h"

namespace driver_usb_tests {
namespace {

class DsdRequestTest : public DriverUsbTest {
protected:
    void SetUp() override
    {
        model_ = std::make_shared<devices::Rvd3Model>();
        Plug(model_);
        ASSERT_EQ(STATUS_SUCCESS, Start());
        ASSERT_EQ(2u, audio_->StreamingInterfaceCount);
    }

    AudioStreamingInterface *Stream(UCHAR number)
    {
        for (AudioStreamingInterface *s = audio_->StreamingInterfaceList; s; s = s->Next)
            if (s->InterfaceNumber == number)
                return s;
        return nullptr;
    }

    std::shared_ptr<devices::Rvd3Model> model_;
};

TEST_F(DsdRequestTest, EveryStreamingInterfaceReceivesTheVendorRequest)
{
    const size_t before = log_->Count();
    ASSERT_EQ(STATUS_SUCCESS, audio_->SendDsdModeRequest(1));
    const std::vector<LoggedControl> sent = log_->Since(before);
    ASSERT_EQ(2u, sent.size());
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(devices::rvd3::kDsdModeRequestType, sent[i].setup.bmRequestType);
        EXPECT_EQ(devices::rvd3::kDsdModeRequest, sent[i].setup.bRequest);
        EXPECT_EQ(1, sent[i].setup.wValue);
        EXPECT_EQ(0, sent[i].setup.wLength);
    }
    EXPECT_EQ(devices::rvd3::kRenderInterface, sent[0].setup.wIndex);
    EXPECT_EQ(devices::rvd3::kCaptureInterface, sent[1].setup.wIndex);
    EXPECT_TRUE(model_->NativeDsd(devices::rvd3::kRenderInterface));
    EXPECT_EQ(1u, Stream(devices::rvd3::kRenderInterface)->VendorRequestValue);
    EXPECT_EQ(1u, Stream(devices::rvd3::kCaptureInterface)->VendorRequestValue);

    ASSERT_EQ(STATUS_SUCCESS, audio_->SendDsdModeRequest(0));
    EXPECT_FALSE(model_->NativeDsd(devices::rvd3::kRenderInterface));
    EXPECT_EQ(0u, Stream(devices::rvd3::kRenderInterface)->VendorRequestValue);
}

TEST_F(DsdRequestTest, RefusalByTheSecondInterfaceIsReturnedAndTheFirstKeepsTheMode)
{
    Faults().StallControl(host::UsbControlMatch::Request(devices::rvd3::kDsdModeRequestType,
                                                         devices::rvd3::kDsdModeRequest, -1,
                                                         devices::rvd3::kCaptureInterface));
    EXPECT_FALSE(NT_SUCCESS(audio_->SendDsdModeRequest(1)));
    EXPECT_EQ(1u, Stream(devices::rvd3::kRenderInterface)->VendorRequestValue);
    EXPECT_EQ(0u, Stream(devices::rvd3::kCaptureInterface)->VendorRequestValue);
}

TEST_F(DsdRequestTest, RefusalByTheFirstInterfaceStopsTheLoop)
{
    Faults().StallControl(host::UsbControlMatch::Request(devices::rvd3::kDsdModeRequestType,
                                                         devices::rvd3::kDsdModeRequest));
    const size_t before = log_->Count();
    EXPECT_FALSE(NT_SUCCESS(audio_->SendDsdModeRequest(1)));
    EXPECT_EQ(before, log_->Count()); // the stalled request never reached the device
    EXPECT_EQ(0u, Stream(devices::rvd3::kRenderInterface)->VendorRequestValue);
    EXPECT_EQ(0u, Stream(devices::rvd3::kCaptureInterface)->VendorRequestValue);
}

using DsdWithoutInterfacesTest = DriverUsbTest;

TEST_F(DsdWithoutInterfacesTest, NoStreamingInterfacesIsASuccessWithoutRequests)
{
    CUSBAudioCL audio;
    EXPECT_EQ(STATUS_SUCCESS, audio.SendDsdModeRequest(1));
}

} // namespace
} // namespace driver_usb_tests

// Class and vendor control requests: what is refused before anything is sent, the URB function
// each request type and recipient maps to (seen by the device as its bmRequestType), the entity
// addressing of audio class requests, and pipe reset and abort.
#include "driver_usb_fixture.h"

#include "devices/rvd3_model.h"

namespace driver_usb_tests {
namespace {

class ClassRequestTest : public DriverUsbTest {
protected:
    void SetUp() override
    {
        Plug(std::make_shared<devices::Rvd3Model>());
        ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
        // Interface requests need a configured device.
        ULONG count = 0;
        PUSBD_INTERFACE_LIST_ENTRY list = audio_->CreateInterfaceList(&count);
        ASSERT_NE(nullptr, list);
        ASSERT_EQ(STATUS_SUCCESS, audio_->ConfigurationRequest(list, count));
        ExFreePoolWithTag(list, USBA_POOL_TAG);
    }

    // The audio control interface, as the function model would find it.
    void FindAudioControlInterface()
    {
        PUSB_CONFIGURATION_DESCRIPTOR configuration = audio_->ConfigurationDescriptor;
        audio_->AudioControlInterface =
            USBD_ParseConfigurationDescriptorEx(configuration, configuration, -1, 0, 1, 1, -1);
        ASSERT_NE(nullptr, audio_->AudioControlInterface);
    }

    void ConfigureRender(UCHAR alternate)
    {
        ASSERT_EQ(STATUS_SUCCESS,
                  audio_->SelectAlternate(devices::rvd3::kRenderInterface, alternate));
    }
};

TEST_F(ClassRequestTest, StandardAndReservedRequestTypesAreRefused)
{
    const size_t before = log_->Count();
    for (UCHAR type : {0x00, 0x80, 0x01, 0x82, 0x60, 0xE1}) {
        EXPECT_EQ(STATUS_INVALID_PARAMETER,
                  audio_->SendClassOrVendorRequest(type, 1, 0, 0, 0, nullptr))
            << "bmRequestType " << int(type);
    }
    EXPECT_EQ(before, log_->Count());
}

TEST_F(ClassRequestTest, RecipientsAboveOtherAreRefused)
{
    const size_t before = log_->Count();
    for (UCHAR type : {0x24, 0x41 | 0x1F, 0xA4}) {
        EXPECT_EQ(STATUS_INVALID_PARAMETER,
                  audio_->SendClassOrVendorRequest(type, 1, 0, 0, 0, nullptr))
            << "bmRequestType " << int(type);
    }
    EXPECT_EQ(before, log_->Count());
}

TEST_F(ClassRequestTest, DataWithoutBufferIsRefused)
{
    const size_t before = log_->Count();
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              audio_->SendClassOrVendorRequest(0xA1, 1, 0, 0, 4, nullptr));
    EXPECT_EQ(before, log_->Count());
}

TEST_F(ClassRequestTest, EveryTypeAndRecipientReachesTheDeviceAsSent)
{
    // The stack builds the setup packet from the URB function and the direction flag, so the
    // device seeing the same bmRequestType proves the function chosen.
    for (UCHAR type : {0x20, 0x40}) {
        for (UCHAR recipient = 0; recipient <= 3; ++recipient) {
            for (UCHAR direction : {0x00, 0x80}) {
                const UCHAR requestType = UCHAR(direction | type | recipient);
                UCHAR data[2] = {0x5A, 0xA5};
                const size_t before = log_->Count();
                // The RV-D3 stalls what it does not know; the request still reaches it.
                audio_->SendClassOrVendorRequest(requestType, 0x07, 0x1234, 0x5601, sizeof(data),
                                                 data);
                const std::vector<LoggedControl> sent = log_->Since(before);
                ASSERT_EQ(1u, sent.size()) << "bmRequestType " << int(requestType);
                EXPECT_EQ(requestType, sent[0].setup.bmRequestType);
                EXPECT_EQ(0x07, sent[0].setup.bRequest);
                EXPECT_EQ(0x1234, sent[0].setup.wValue);
                EXPECT_EQ(0x5601, sent[0].setup.wIndex);
                EXPECT_EQ(sizeof(data), sent[0].setup.wLength);
                if (direction == 0) {
                    EXPECT_EQ((std::vector<UCHAR>{0x5A, 0xA5}), sent[0].data);
                }
            }
        }
    }
}

TEST_F(ClassRequestTest, AudioClassRequestAddressesTheEntityOnTheControlInterface)
{
    FindAudioControlInterface();
    UCHAR rate[4] = {};
    ULONG transferred = 0;
    const size_t before = log_->Count();
    ASSERT_EQ(STATUS_SUCCESS,
              audio_->SendAudioClassRequest(0xA1, 0x01, 0x01, 0, devices::rvd3::kClockSourceId,
                                            sizeof(rate), rate, &transferred));
    EXPECT_EQ(4u, transferred);
    EXPECT_EQ(devices::rvd3::kInitialRate, ULONG(rate[0] | rate[1] << 8 | rate[2] << 16));

    const std::vector<LoggedControl> sent = log_->Since(before);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(0x0100, sent[0].setup.wValue);
    EXPECT_EQ(devices::rvd3::kClockSourceId << 8 | devices::rvd3::kControlInterface,
              sent[0].setup.wIndex);
}

TEST_F(ClassRequestTest, ChannelGoesIntoTheLowByteOfValue)
{
    FindAudioControlInterface();
    UCHAR volume[2] = {};
    const size_t before = log_->Count();
    ASSERT_EQ(STATUS_SUCCESS,
              audio_->SendAudioClassRequest(0xA1, 0x01, 0x02, 2, devices::rvd3::kFeatureUnitId,
                                            sizeof(volume), volume));
    const std::vector<LoggedControl> sent = log_->Since(before);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(0x0202, sent[0].setup.wValue);
    EXPECT_EQ(devices::rvd3::kFeatureUnitId << 8, sent[0].setup.wIndex);
}

TEST_F(ClassRequestTest, StalledRequestFailsWithTheStackStatus)
{
    FindAudioControlInterface();
    UCHAR value = 0;
    ULONG transferred = 99;
    NTSTATUS status =
        audio_->SendAudioClassRequest(0xA1, 0x01, 0x09, 0, 0x77, 1, &value, &transferred);
    EXPECT_FALSE(NT_SUCCESS(status));
    EXPECT_EQ(0u, transferred);
    EXPECT_EQ(0, audio_->IoCount);
}

TEST_F(ClassRequestTest, AudioClassRequestBeforeTheFunctionIsKnownIsRefused)
{
    UCHAR value = 0;
    EXPECT_EQ(STATUS_INVALID_DEVICE_STATE,
              audio_->SendAudioClassRequest(0xA1, 0x01, 0x01, 0, 10, 1, &value));
}

TEST_F(ClassRequestTest, PipeResetAndAbortNeedAPipeWithAHandle)
{
    USBD_PIPE_INFORMATION noHandle = {};
    EXPECT_EQ(STATUS_INVALID_PARAMETER, audio_->ResetPipe(nullptr));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, audio_->AbortPipe(nullptr));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, audio_->ResetPipe(&noHandle));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, audio_->AbortPipe(&noHandle));
}

TEST_F(ClassRequestTest, PipeResetAndAbortAbovePassiveSendNothing)
{
    ConfigureRender(devices::rvd3::kAlternate16Bit);
    PUSBD_PIPE_INFORMATION pipe = audio_->FindPipe(devices::rvd3::kRenderEndpoint);
    ASSERT_NE(nullptr, pipe);
    const size_t before = log_->Count();
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    const NTSTATUS reset = audio_->ResetPipe(pipe);
    const NTSTATUS abort = audio_->AbortPipe(pipe);
    KeLowerIrql(old);
    EXPECT_EQ(STATUS_UNSUCCESSFUL, reset);
    EXPECT_EQ(STATUS_UNSUCCESSFUL, abort);
    EXPECT_EQ(before, log_->Count());
    EXPECT_EQ(0, audio_->IoCount);
}

TEST_F(ClassRequestTest, PipeResetAndAbortAtPassiveLevelSucceed)
{
    ConfigureRender(devices::rvd3::kAlternate16Bit);
    PUSBD_PIPE_INFORMATION pipe = audio_->FindPipe(devices::rvd3::kRenderEndpoint);
    ASSERT_NE(nullptr, pipe);
    EXPECT_EQ(STATUS_SUCCESS, audio_->ResetPipe(pipe));
    EXPECT_EQ(STATUS_SUCCESS, audio_->AbortPipe(pipe));
    EXPECT_EQ(0, audio_->IoCount);
}

} // namespace
} // namespace driver_usb_tests

// Configuration and alternate settings: which interfaces are configured (the audio ones, or every
// one on the quirk devices), the stored interface information, and alternate-setting selection.
#include "driver_usb_fixture.h"
#include "test_descriptors.h"

#include "devices/raw_descriptor_model.h"
#include "devices/rvd3_model.h"
#include "devices/test_devices.h"
#include "function/audio_streaming_interface.h"

namespace driver_usb_tests {
namespace {

class ConfigurationTest : public DriverUsbTest {
protected:
    // Configures every interface of the device through CUSBCL alone.
    NTSTATUS ConfigureAll()
    {
        ULONG count = 0;
        PUSBD_INTERFACE_LIST_ENTRY list = audio_->CreateInterfaceList(&count);
        if (list == nullptr)
            return STATUS_INSUFFICIENT_RESOURCES;
        NTSTATUS status = audio_->ConfigurationRequest(list, count);
        ExFreePoolWithTag(list, USBA_POOL_TAG);
        return status;
    }

    std::vector<UCHAR> ConfiguredInterfaces()
    {
        std::vector<UCHAR> numbers;
        for (ULONG i = 0; i < audio_->InterfaceCount; ++i)
            numbers.push_back(audio_->Interfaces[i]->InterfaceNumber);
        return numbers;
    }

    // SET_INTERFACE requests the device received since `from`.
    std::vector<std::pair<USHORT, USHORT>> SetInterfaceRequests(size_t from)
    {
        std::vector<std::pair<USHORT, USHORT>> found;
        for (const LoggedControl &request : log_->Since(from))
            if (request.setup.bmRequestType == 0x01 &&
                request.setup.bRequest == USB_REQUEST_SET_INTERFACE)
                found.emplace_back(request.setup.wIndex, request.setup.wValue);
        return found;
    }
};

TEST_F(ConfigurationTest, InterfaceListHoldsEveryInterfaceOfTheConfiguration)
{
    Plug(devices::MakeVendorInterfaceQuirkDevice());
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
    ULONG count = 0;
    PUSBD_INTERFACE_LIST_ENTRY list = audio_->CreateInterfaceList(&count);
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(3u, count);
    for (UCHAR i = 0; i < 3; ++i) {
        ASSERT_NE(nullptr, list[i].InterfaceDescriptor);
        EXPECT_EQ(i, list[i].InterfaceDescriptor->bInterfaceNumber);
        EXPECT_EQ(0, list[i].InterfaceDescriptor->bAlternateSetting);
    }
    EXPECT_EQ(nullptr, list[3].InterfaceDescriptor);
    ExFreePoolWithTag(list, USBA_POOL_TAG);
}

TEST_F(ConfigurationTest, ConfigurationRequestKeepsACopyOfEveryInterface)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
    ASSERT_EQ(STATUS_SUCCESS, ConfigureAll());
    EXPECT_NE(nullptr, audio_->ConfigurationHandle);
    EXPECT_EQ((std::vector<UCHAR>{0, 1, 2}), ConfiguredInterfaces());
    // Every interface starts in setting 0, which has no endpoints.
    EXPECT_EQ(nullptr, audio_->FindPipe(devices::rvd3::kRenderEndpoint));
}

TEST_F(ConfigurationTest, SelectAlternateReplacesTheStoredPipes)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
    ASSERT_EQ(STATUS_SUCCESS, ConfigureAll());
    const size_t before = log_->Count();

    ASSERT_EQ(STATUS_SUCCESS, audio_->SelectAlternate(devices::rvd3::kRenderInterface,
                                                      devices::rvd3::kAlternate24Bit));
    PUSBD_PIPE_INFORMATION data = audio_->FindPipe(devices::rvd3::kRenderEndpoint);
    PUSBD_PIPE_INFORMATION feedback = audio_->FindPipe(devices::rvd3::kFeedbackEndpoint);
    ASSERT_NE(nullptr, data);
    ASSERT_NE(nullptr, feedback);
    EXPECT_EQ(UsbdPipeTypeIsochronous, data->PipeType);
    EXPECT_NE(nullptr, data->PipeHandle);
    EXPECT_EQ((std::vector<std::pair<USHORT, USHORT>>{{1, 2}}), SetInterfaceRequests(before));
    EXPECT_EQ(devices::rvd3::kAlternate24Bit,
              audio_->Interfaces[devices::rvd3::kRenderInterface]->AlternateSetting);

    ASSERT_EQ(STATUS_SUCCESS, audio_->SelectAlternate(devices::rvd3::kRenderInterface, 0));
    EXPECT_EQ(nullptr, audio_->FindPipe(devices::rvd3::kRenderEndpoint));
}

TEST_F(ConfigurationTest, SelectAlternateOfAnUnconfiguredInterfaceSendsNothing)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
    // Configure the audio control and render interfaces only.
    PUSB_CONFIGURATION_DESCRIPTOR configuration = audio_->ConfigurationDescriptor;
    USBD_INTERFACE_LIST_ENTRY list[3] = {};
    for (UCHAR i = 0; i < 2; ++i)
        list[i].InterfaceDescriptor =
            USBD_ParseConfigurationDescriptorEx(configuration, configuration, i, 0, -1, -1, -1);
    ASSERT_EQ(STATUS_SUCCESS, audio_->ConfigurationRequest(list, 2));
    const size_t before = log_->Count();

    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              audio_->SelectAlternate(devices::rvd3::kCaptureInterface, 1));
    EXPECT_EQ(before, log_->Count());
}

TEST_F(ConfigurationTest, SelectAlternateOfAMissingSettingSendsNothing)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
    ASSERT_EQ(STATUS_SUCCESS, ConfigureAll());
    const size_t before = log_->Count();
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              audio_->SelectAlternate(devices::rvd3::kRenderInterface, 9));
    EXPECT_EQ(before, log_->Count());
}

TEST_F(ConfigurationTest, AudioDeviceConfiguresOnlyItsAudioInterfaces)
{
    // The RV-D3 with capture, plus a vendor interface 3 behind its audio function.
    devices::DescriptorSet set = devices::Rvd3Model().Descriptors();
    AppendVendorInterface(&set.configuration, 3, 0x83);
    Plug(std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::High, set));
    ASSERT_EQ(STATUS_SUCCESS, Start());
    EXPECT_EQ((std::vector<UCHAR>{0, 1, 2}), ConfiguredInterfaces());
    EXPECT_EQ(STATUS_INVALID_PARAMETER, audio_->SelectAlternate(3, 0));
}

TEST_F(ConfigurationTest, ConfigureAllQuirkDeviceConfiguresItsVendorInterface)
{
    Plug(devices::MakeVendorInterfaceQuirkDevice());
    ASSERT_EQ(STATUS_SUCCESS, Start());
    EXPECT_EQ((std::vector<UCHAR>{0, 1, 2}), ConfiguredInterfaces());
    EXPECT_NE(nullptr, audio_->FindPipe(devices::vendor_interface_quirk::kInterruptEndpoint));
}

TEST_F(ConfigurationTest, VendorClassQuirkDeviceStartsWithEveryInterfaceConfigured)
{
    Plug(devices::MakeLengthPrefixedQuirkDevice());
    ASSERT_EQ(STATUS_SUCCESS, Start());
    ASSERT_NE(nullptr, audio_->RenderInterface);
    EXPECT_EQ(devices::length_prefixed_quirk::kRenderInterface,
              audio_->RenderInterface->InterfaceNumber);
    EXPECT_EQ(audio_->ConfigurationDescriptor->bNumInterfaces, audio_->InterfaceCount);
}

TEST_F(ConfigurationTest, ConfigurationLeavesEveryStreamingInterfaceInSettingZero)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    const size_t before = log_->Count();
    ASSERT_EQ(STATUS_SUCCESS, Start());
    ASSERT_EQ(2u, audio_->StreamingInterfaceCount);
    for (AudioStreamingInterface *stream = audio_->StreamingInterfaceList; stream != nullptr;
         stream = stream->Next) {
        EXPECT_EQ(0u, stream->CurrentAlternateSetting);
        EXPECT_EQ(nullptr, stream->DataPipe);
        EXPECT_EQ(nullptr, stream->FeedbackPipe);
    }
    EXPECT_EQ((std::vector<std::pair<USHORT, USHORT>>{{1, 0}, {2, 0}}),
              SetInterfaceRequests(before));
}

TEST_F(ConfigurationTest, SelectConfigurationBeforeStartIsRefused)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    EXPECT_EQ(STATUS_INVALID_DEVICE_STATE, audio_->SelectConfiguration());
}

} // namespace
} // namespace driver_usb_tests

// Device start's USB half: the IRP pool, the bus interface and speed, and the device,
// configuration and language descriptors, including devices that answer them wrongly.
#include "driver_usb_fixture.h"
#include "test_descriptors.h"

#include "usb/usb_device.h"
#include "usb/usb_physical_device.h"

#include "devices/descriptor_variants.h"
#include "devices/raw_descriptor_model.h"
#include "devices/rvd3_model.h"
#include "devices/test_devices.h"

namespace driver_usb_tests {
namespace {

class DescriptorReadingTest : public DriverUsbTest {
protected:
    ULONG FreeIrps()
    {
        ULONG count = 0;
        for (PLIST_ENTRY entry = audio_->IrpList.Flink; entry != &audio_->IrpList;
             entry = entry->Flink)
            ++count;
        return count;
    }
};

TEST_F(DescriptorReadingTest, IrpCountZeroPreallocatesTenIrps)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb(0));
    EXPECT_EQ(10u, FreeIrps());
    for (PLIST_ENTRY entry = audio_->IrpList.Flink; entry != &audio_->IrpList;
         entry = entry->Flink) {
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        EXPECT_EQ(lower_->StackSize, irp->StackCount);
    }
}

TEST_F(DescriptorReadingTest, IrpCountGivenIsPreallocated)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb(16));
    EXPECT_EQ(16u, FreeIrps());
}

TEST_F(DescriptorReadingTest, ReadsDeviceConfigurationAndLanguageDescriptors)
{
    auto model = std::make_shared<devices::Rvd3Model>();
    Plug(model);
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());

    EXPECT_EQ(0, memcmp(model->Descriptors().device.data(), &audio_->DeviceDescriptor, 18));
    const devices::Bytes &configuration = model->Descriptors().configuration;
    ASSERT_NE(nullptr, audio_->ConfigurationDescriptor);
    ASSERT_EQ(configuration.size(), audio_->ConfigurationDescriptor->wTotalLength);
    EXPECT_EQ(0,
              memcmp(configuration.data(), audio_->ConfigurationDescriptor, configuration.size()));
    ASSERT_NE(nullptr, audio_->LanguageList);
    EXPECT_EQ(4, audio_->LanguageList->bLength);
    EXPECT_EQ(0x0409, audio_->LanguageList->bString[0]);
    EXPECT_EQ(0, audio_->IoCount);
}

TEST_F(DescriptorReadingTest, SpeedComesFromTheBusInterface)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
    EXPECT_TRUE(audio_->HighSpeed);
    EXPECT_EQ(sizeof(USB_BUS_INTERFACE_USBDI_V1), audio_->BusInterface.Size);
    EXPECT_NE(nullptr, audio_->BusInterface.QueryBusTime);
}

TEST_F(DescriptorReadingTest, BusInterfaceReferenceIsHeldUntilDestruction)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    std::atomic<LONG> &references = host::PdoExtensionOf(pdo_).device->BusInterfaceReferences();
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
    EXPECT_EQ(1, references.load()); // the stored interface; the speed query gave its copy back
    audio_.reset();
    EXPECT_EQ(0, references.load());
}

TEST_F(DescriptorReadingTest, FullSpeedDeviceIsNotHighSpeed)
{
    Plug(devices::MakeFullSpeedUac2Device());
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
    EXPECT_FALSE(audio_->HighSpeed);
}

TEST_F(DescriptorReadingTest, RemoteWakeupFollowsTheConfigurationAttributes)
{
    devices::DescriptorSet set = devices::Rvd3Model().Descriptors();
    set.configuration[7] |= USB_CONFIG_REMOTE_WAKEUP;
    Plug(std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::High, set));
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
    EXPECT_TRUE(audio_->RemoteWakeup);
}

TEST_F(DescriptorReadingTest, ConfigurationShorterThanItsTotalLengthIsNotSupported)
{
    using devices::DescriptorVariant;
    Plug(std::make_shared<devices::RawDescriptorModel>(
        devices::DescriptorVariantSpeed(DescriptorVariant::ConfigurationShorterThanTotal),
        devices::MakeDescriptorVariant(DescriptorVariant::ConfigurationShorterThanTotal)));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, InitializeUsb());
    EXPECT_EQ(nullptr, audio_->ConfigurationDescriptor);
}

TEST_F(DescriptorReadingTest, ConfigurationTotalLengthBelowItsHeaderIsNotSupported)
{
    devices::DescriptorSet set = devices::Rvd3Model().Descriptors();
    set.configuration.resize(4);
    set.configuration[2] = 4; // wTotalLength 4
    set.configuration[3] = 0;
    Plug(std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::High, set));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, InitializeUsb());
}

// Answers the whole configuration descriptor with a larger wTotalLength than its header read
// announced, as a device that changes its answer between the two reads.
class ChangingTotalLengthModel : public devices::Rvd3Model {
public:
    host::UsbControlResult Control(const host::UsbSetupPacket &setup, UCHAR *data,
                                   ULONGLONG interval) override
    {
        host::UsbControlResult result = devices::Rvd3Model::Control(setup, data, interval);
        if (setup.bmRequestType == 0x80 && setup.bRequest == USB_REQUEST_GET_DESCRIPTOR &&
            setup.wValue == 0x0200 && setup.wLength > 9 && result.length >= 4)
            data[3] += 1; // 256 bytes more
        return result;
    }
};

TEST_F(DescriptorReadingTest, ConfigurationWhoseTotalLengthChangesIsNotSupported)
{
    Plug(std::make_shared<ChangingTotalLengthModel>());
    EXPECT_EQ(STATUS_NOT_SUPPORTED, InitializeUsb());
    EXPECT_EQ(nullptr, audio_->ConfigurationDescriptor);
}

TEST_F(DescriptorReadingTest, StalledDeviceDescriptorFailsStart)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    Faults().StallControl(host::UsbControlMatch::Request(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0100));
    EXPECT_FALSE(NT_SUCCESS(InitializeUsb()));
}

TEST_F(DescriptorReadingTest, StalledLanguageListFailsStart)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    Faults().StallControl(host::UsbControlMatch::Request(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0300));
    EXPECT_FALSE(NT_SUCCESS(InitializeUsb()));
    EXPECT_EQ(nullptr, audio_->LanguageList);
}

TEST_F(DescriptorReadingTest, LanguageListShorterThanItsHeaderIsNotSupported)
{
    devices::DescriptorSet set = devices::Rvd3Model().Descriptors();
    set.strings[0] = {1, USB_STRING_DESCRIPTOR_TYPE, 0x09, 0x04};
    Plug(std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::High, set));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, InitializeUsb());
}

TEST_F(DescriptorReadingTest, StringDescriptorIsReadInUsEnglishIntoTheWholeBuffer)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
    UCHAR buffer[CUSBCL::USB_STRING_BUFFER_SIZE] = {};
    const size_t before = log_->Count();
    ASSERT_EQ(STATUS_SUCCESS,
              audio_->GetStringDescriptor(audio_->DeviceDescriptor.iProduct, buffer));
    EXPECT_EQ("RV-D3 Purestream", Utf16String(buffer));

    const std::vector<LoggedControl> sent = log_->Since(before);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(0x80, sent[0].setup.bmRequestType);
    EXPECT_EQ(USB_REQUEST_GET_DESCRIPTOR, sent[0].setup.bRequest);
    EXPECT_EQ(0x0300 | audio_->DeviceDescriptor.iProduct, sent[0].setup.wValue);
    EXPECT_EQ(0x0409, sent[0].setup.wIndex);
    EXPECT_EQ(CUSBCL::USB_STRING_BUFFER_SIZE, sent[0].setup.wLength);
}

TEST_F(DescriptorReadingTest, StringDescriptorWithoutBufferSendsNothing)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, InitializeUsb());
    const size_t before = log_->Count();
    EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES, audio_->GetStringDescriptor(1, nullptr));
    EXPECT_EQ(before, log_->Count());
}

} // namespace
} // namespace driver_usb_tests

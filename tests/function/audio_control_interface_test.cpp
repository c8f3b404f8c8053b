// The audio control interface: finding it (and the vendor-class quirk), the "[DSD]" marker in
// its string, and the class-specific header that decides the version and bounds the entities.
#include "audio_control_fixture.h"

#include "devices/descriptor_variants.h"
#include "devices/descriptor_walker.h"
#include "devices/rvd3_model.h"
#include "devices/test_devices.h"

namespace function_tests {
namespace {

class AudioControlInterfaceTest : public AudioFunctionTest {
protected:
    // The test function's configuration with the first descriptor of a type (and class-specific
    // subtype) changed by `change`.
    static devices::DescriptorSet Patched(const TestFunction &f, UCHAR type, UCHAR subtype,
                                          const std::function<void(UCHAR *)> &change)
    {
        devices::DescriptorSet set = f.Serialise();
        for (const devices::DescriptorView &view : devices::WalkDescriptors(set.configuration)) {
            if (view.type == type && (subtype == 0 || view.Subtype() == subtype)) {
                change(&set.configuration[view.offset]);
                break;
            }
        }
        return set;
    }
};

TEST_F(AudioControlInterfaceTest, HeaderFollowsTheAudioControlInterface)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(std::make_shared<devices::Rvd3Model>()));
    ASSERT_NE(nullptr, audio_->AudioControlInterface);
    EXPECT_EQ(devices::rvd3::kControlInterface, audio_->AudioControlInterface->bInterfaceNumber);
    EXPECT_EQ(reinterpret_cast<PUCHAR>(audio_->AudioControlInterface) + 9,
              audio_->ClassSpecificHeader);
    EXPECT_EQ(uac::kCsInterface, audio_->ClassSpecificHeader[1]);
    EXPECT_EQ(uac::kHeader, audio_->ClassSpecificHeader[2]);
    EXPECT_TRUE(audio_->IsAudioClass2);
}

TEST_F(AudioControlInterfaceTest, Class1HeaderMakesAClass1Function)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac1Function()));
    EXPECT_FALSE(audio_->IsAudioClass2);
}

TEST_F(AudioControlInterfaceTest, AnyOtherVersionIsHandledAsClass1)
{
    // bcdADC 2.01 is not 2.00: the Class 1.0 layouts apply.
    const devices::DescriptorSet set = Patched(Uac1Function(), uac::kCsInterface, uac::kHeader,
                                               [](UCHAR *d) { d[3] = 0x01, d[4] = 0x02; });
    ASSERT_EQ(STATUS_SUCCESS, Initialize(set, host::UsbSpeed::Full));
    EXPECT_FALSE(audio_->IsAudioClass2);
}

TEST_F(AudioControlInterfaceTest, VendorClassQuirkDeviceIsFoundUnderTheVendorClass)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(devices::MakeLengthPrefixedQuirkDevice()));
    EXPECT_EQ(0xFF, audio_->AudioControlInterface->bInterfaceClass);
    ASSERT_EQ(1u, audio_->StreamingInterfaceCount);
    EXPECT_EQ(devices::length_prefixed_quirk::kRenderInterface,
              audio_->RenderInterface->InterfaceNumber);
}

TEST_F(AudioControlInterfaceTest, VendorClassFunctionOfAnotherDeviceIsNotAudio)
{
    TestFunction f = Uac2Function();
    f.function.control.interfaceClass = 0xFF;
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
    EXPECT_EQ(nullptr, audio_->AudioControlInterface);
}

TEST_F(AudioControlInterfaceTest, QuirkDeviceWithAudioClassInterfacesIsNotAudio)
{
    // The quirk ids look for the vendor class only.
    TestFunction f = Uac2Function();
    f.device.idVendor = devices::length_prefixed_quirk::kVendorId;
    f.device.idProduct = devices::length_prefixed_quirk::kProductId;
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
}

TEST_F(AudioControlInterfaceTest, MissingHeaderRefusesTheFunction)
{
    const devices::DescriptorSet set = Patched(Uac2Function(), uac::kCsInterface, uac::kHeader,
                                               [](UCHAR *d) { d[2] = uac::kInputTerminal; });
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(set, host::UsbSpeed::High));
}

TEST_F(AudioControlInterfaceTest, HeaderBlockOverrunningTheNextInterfaceRefusesTheFunction)
{
    EXPECT_EQ(STATUS_NOT_SUPPORTED,
              Initialize(devices::MakeDescriptorVariant(
                             devices::DescriptorVariant::ControlHeaderOverrunsInterface),
                         host::UsbSpeed::High));
}

TEST_F(AudioControlInterfaceTest, Class1HeaderBlockIsBoundedByItsOwnTotalLength)
{
    // Class 1.0 keeps wTotalLength at byte 5: one byte more runs into the streaming interface.
    const devices::DescriptorSet set =
        Patched(Uac1Function(), uac::kCsInterface, uac::kHeader, [](UCHAR *d) { ++d[5]; });
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(set, host::UsbSpeed::Full));
}

TEST_F(AudioControlInterfaceTest, HeaderBlockMayEndBeforeTheEntities)
{
    // A block that covers only the header has no entities; the stream's terminal is missing.
    const devices::DescriptorSet set = Patched(Uac2Function(), uac::kCsInterface, uac::kHeader,
                                               [](UCHAR *d) { d[6] = 9, d[7] = 0; });
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(set, host::UsbSpeed::High));
    EXPECT_EQ("", EntityNames());
}

TEST_F(AudioControlInterfaceTest, NoAudioControlInterfaceRefusesTheDevice)
{
    TestFunction f = Uac2Function();
    f.function.control.interfaceClass = 0x03; // HID
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
}

// ---- DSD marker ------------------------------------------------------------------------------

TEST_F(AudioControlInterfaceTest, Rvd3IsDsdCapable)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(std::make_shared<devices::Rvd3Model>()));
    EXPECT_TRUE(audio_->DsdCapable);
}

TEST_F(AudioControlInterfaceTest, MarkerInTheMiddleOfTheNameCounts)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac2Function("Studio DAC [DSD] Pro")));
    EXPECT_TRUE(audio_->DsdCapable);
}

TEST_F(AudioControlInterfaceTest, MarkerIsCaseSensitive)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac2Function("Studio DAC [dsd]")));
    EXPECT_FALSE(audio_->DsdCapable);
}

TEST_F(AudioControlInterfaceTest, NameWithoutMarkerIsNotDsdCapable)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac2Function("Studio DAC [DSD")));
    EXPECT_FALSE(audio_->DsdCapable);
}

TEST_F(AudioControlInterfaceTest, MarkerEndingWithTheLongestStringCounts)
{
    // 126 UTF-16 units: bLength 254, the most a string descriptor can have in whole units.
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac2Function(std::string(121, 'x') + "[DSD]")));
    EXPECT_TRUE(audio_->DsdCapable);
}

TEST_F(AudioControlInterfaceTest, StringLongerThanTheBufferIsSearchedOnlyWithinIt)
{
    // The marker starts on the last unit of the buffer and goes on beyond it.
    ASSERT_EQ(STATUS_SUCCESS, Initialize(devices::MakeDescriptorVariant(
                                             devices::DescriptorVariant::StringLongerThanBuffer),
                                         host::UsbSpeed::High));
    EXPECT_FALSE(audio_->DsdCapable);
}

TEST_F(AudioControlInterfaceTest, UnreadableStringLeavesDsdCapableAsItWas)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(std::make_shared<devices::Rvd3Model>()));
    Faults().StallControl(host::UsbControlMatch::Request(0x80, USB_REQUEST_GET_DESCRIPTOR));
    EXPECT_NE(STATUS_SUCCESS, audio_->DetectDsdSupport());
    EXPECT_TRUE(audio_->DsdCapable);
    audio_->DsdCapable = FALSE;
    EXPECT_NE(STATUS_SUCCESS, audio_->DetectDsdSupport());
    EXPECT_FALSE(audio_->DsdCapable);
}

TEST_F(AudioControlInterfaceTest, DeviceWithoutTheStringStillStarts)
{
    Faults().StallControl(host::UsbControlMatch::Request(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0301));
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac2Function("Studio DAC [DSD]")));
    EXPECT_FALSE(audio_->DsdCapable);
}

} // namespace
} // namespace function_tests

// The descriptor report: every level of a device's descriptors decoded from what the emulated
// stack returns, and malformed bytes shown as what they are instead of being trusted.
#include "sim_report_fixture.h"

#include "devices/descriptor_variants.h"
#include "devices/descriptor_walker.h"
#include "devices/raw_descriptor_model.h"
#include "devices/rvd3_model.h"
#include "devices/test_devices.h"

namespace sim_tests {
namespace {

using devices::DescriptorVariant;

TEST_F(SimReportTest, TheRvd3DescriptorsAreDecodedAtEveryLevel)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    const std::string text = Descriptors();
    EXPECT_TRUE(Shows(text, "idVendor 0x2FC3, idProduct 0xD003, bcdDevice 1.00"));
    EXPECT_TRUE(Shows(text, "iManufacturer 1 \"Norvane\", iProduct 2 \"RV-D3 Purestream\""));
    EXPECT_TRUE(Shows(text, "configuration 1: wTotalLength 342 (342 returned), 3 interface(s)"));
    EXPECT_TRUE(Shows(text, "interface association: interfaces 0 to 2, audio (class 2.0)"));
    EXPECT_TRUE(Shows(text, "audio control (class 2.0), 0 endpoint(s) \"RV-D3 Purestream [DSD]\""));
    EXPECT_TRUE(Shows(text, "HEADER: bcdADC 2.00 (Audio Class 2.0)"));
    EXPECT_TRUE(Shows(text, "CLOCK_SOURCE 10: internal programmable, controls: frequency "
                            "(read/write), validity (read-only)"));
    EXPECT_TRUE(Shows(text, "INPUT_TERMINAL 1: USB streaming, clock 10, 2 channel(s)"));
    EXPECT_TRUE(Shows(text, "OUTPUT_TERMINAL 3 <- 2: speaker, clock 10"));
    EXPECT_TRUE(Shows(text, "      master  0: mute (read/write)\n"
                            "      channel 1: volume (read/write)\n"
                            "      channel 2: volume (read/write)\n"));
    EXPECT_TRUE(Shows(text, "AS_GENERAL (2.0): terminal 1, format type 1, formats PCM"));
    EXPECT_TRUE(Shows(text, "FORMAT_TYPE I: subslot 4 bytes, resolution 24 bits"));
    EXPECT_TRUE(Shows(text, "endpoint 0x81 IN 1: isochronous, no sync, feedback, max packet 4 "
                            "bytes, every 1 ms (bInterval 4)"));
    EXPECT_TRUE(Shows(text, "endpoint 0x82 IN 2: isochronous, asynchronous, data"));
    EXPECT_TRUE(Shows(text, "strings (language 0x0409)"));
    EXPECT_TRUE(Shows(text, "4 \"RV-D3 Purestream [DSD]\""));
    EXPECT_EQ(std::string::npos, text.find("!!")) << text;
}

TEST_F(SimReportTest, AClass1DeviceShowsItsRateTableAndSynchEndpoint)
{
    Plug(devices::MakeUac1SynchEndpointDevice());
    const std::string text = Descriptors();
    EXPECT_TRUE(Shows(text, "HEADER: bcdADC 1.00 (Audio Class 1.0)"));
    EXPECT_TRUE(Shows(text, "AS_GENERAL (1.0): terminal 1"));
    EXPECT_TRUE(Shows(text, "rates: 44.1 kHz, 48 kHz"));
    EXPECT_TRUE(Shows(text, "bSynchAddress 0x81: its synch endpoint"));
    EXPECT_TRUE(Shows(text, "bRefresh 2: feedback every 4 ms"));
    EXPECT_TRUE(Shows(text, "EP_GENERAL (1.0): sampling frequency control"));
    EXPECT_TRUE(Shows(text, "every 1 ms (bInterval 1)"));
}

TEST_F(SimReportTest, AContinuousRateRangeIsShownAsARange)
{
    Plug(std::make_shared<devices::RawDescriptorModel>(
        host::UsbSpeed::Full,
        devices::MakeDescriptorVariant(DescriptorVariant::Uac1ContinuousRates)));
    EXPECT_TRUE(Shows(Descriptors(), "rates: continuous 8 kHz to 48 kHz"));
}

TEST_F(SimReportTest, AHighBandwidthEndpointShowsItsTransactionsPerMicroframe)
{
    devices::DescriptorSet set = devices::Rvd3Model().Descriptors();
    for (const devices::DescriptorView &d : devices::WalkDescriptors(set.configuration)) {
        if (d.type == 5 && d.Byte(2) == 0x82) { // capture endpoint: 3 x 1024 bytes
            set.configuration[d.offset + 4] = 0x00;
            set.configuration[d.offset + 5] = 0x14;
        }
    }
    Plug(std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::High, set));
    EXPECT_TRUE(Shows(Descriptors(),
                      "endpoint 0x82 IN 2: isochronous, asynchronous, data, max "
                      "packet 3 x 1024 bytes (high bandwidth, 3072 per microframe)"));
}

struct MalformedCase {
    DescriptorVariant variant;
    const char *shown;
};

TEST_F(SimReportTest, MalformedSetsAreShownWithoutTrustingTheirLengths)
{
    const MalformedCase cases[] = {
        {DescriptorVariant::ZeroLengthDescriptor, "bLength 0 is too short to be a descriptor"},
        {DescriptorVariant::DescriptorPastEnd, "runs past the end of the configuration"},
        {DescriptorVariant::ConfigurationShorterThanTotal,
         "!! the device returned 152 of the 168 bytes wTotalLength announces"},
        {DescriptorVariant::FeatureUnitShorterThanChannels,
         "(!! bLength leaves a partial channel)"},
        {DescriptorVariant::FeatureUnitControlSizeZero, "FEATURE_UNIT 2 <- 1: !! bControlSize 0"},
        {DescriptorVariant::Uac2MixerUnit, "MIXER_UNIT 7"},
        {DescriptorVariant::Uac2FormatTypeIII, "FORMAT_TYPE III"},
        {DescriptorVariant::Uac1ExtensionUnit, "EXTENSION_UNIT 7: extension code"},
    };
    for (const MalformedCase &c : cases) {
        SCOPED_TRACE(devices::DescriptorVariantName(c.variant));
        controller_.reset();
        controller_ = std::make_unique<host::UsbHostController>(M());
        Plug(std::make_shared<devices::RawDescriptorModel>(
            devices::DescriptorVariantSpeed(c.variant), devices::MakeDescriptorVariant(c.variant)));
        EXPECT_TRUE(Shows(Descriptors(), c.shown));
    }
}

TEST_F(SimReportTest, ADescriptorShorterThanItsLayoutIsShownAsBytes)
{
    devices::DescriptorSet set = devices::Rvd3Model().Descriptors();
    // Cut the clock source's descriptor to 5 bytes and pad the rest of its place with a
    // 3-byte descriptor of an unknown type, so the walk goes on.
    for (const devices::DescriptorView &d : devices::WalkDescriptors(set.configuration)) {
        if (d.type == 0x24 && d.Subtype() == 0x0A) {
            set.configuration[d.offset] = 5;
            set.configuration[d.offset + 5] = 3;
            set.configuration[d.offset + 6] = 0x42;
            break;
        }
    }
    Plug(std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::High, set));
    const std::string text = Descriptors();
    EXPECT_TRUE(Shows(text, "!! only 5 bytes, the layout needs 8: fields not shown"));
    EXPECT_TRUE(Shows(text, "bytes: 05 24 0A 0A"));
}

} // namespace
} // namespace sim_tests

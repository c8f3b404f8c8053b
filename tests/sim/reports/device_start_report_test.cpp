// The device start report: the driver's own start of a device, what it built, drawn as the
// filter's signal chains, and a refused device with the step and the function that refused it.
#include "sim_report_fixture.h"

#include "device_catalog.h"

#include "devices/descriptor_variants.h"
#include "devices/raw_descriptor_model.h"
#include "devices/rvd3_model.h"
#include "devices/test_devices.h"

namespace sim_tests {
namespace {

TEST_F(SimReportTest, TheRvd3StartsAndItsChainsAreDrawnInSignalOrder)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    const std::string text = Start(&status);
    EXPECT_EQ(STATUS_SUCCESS, status);
    EXPECT_TRUE(Shows(text, "BuildFilter          STATUS_SUCCESS (0x00000000)"));
    EXPECT_TRUE(Shows(text, "speed        high speed (480 Mbit/s)"));
    EXPECT_TRUE(Shows(text, "audio class  2.0"));
    EXPECT_TRUE(Shows(text, "DSD          capable"));
    EXPECT_TRUE(Shows(text, "ClockSource(10)    clock source; now 48000 Hz, range 44100 Hz to "
                            "384000 Hz, valid"));
    EXPECT_TRUE(Shows(text, "Feature(2)         feature unit <- IT(1); master mute; ch 1 volume; "
                            "ch 2 volume"));
    EXPECT_TRUE(Shows(text, "OT(3)              speaker <- Feature(2), clock ClockSource(10)"));
    EXPECT_TRUE(Shows(text, "interface 1: OUT (host to device), render, terminal IT(1), 4 "
                            "alternate setting(s)"));
    EXPECT_TRUE(Shows(text, "alt 0  no stream (zero bandwidth)"));
    EXPECT_TRUE(Shows(text,
                      "alt 3  PCM (Type I), 2 ch, 4-byte subslot, 32 bits\n"
                      "        data      0x01 OUT asynchronous, 392 bytes, every 125 us "
                      "(bInterval 1)\n"
                      "        feedback  0x81 IN, 4 bytes (16.16), every 1 ms (bInterval 4)\n"));
    EXPECT_TRUE(Shows(text, "range 0 (alt 1): PCM, up to 2 ch, 16 bits, 44100 to 384000 Hz"));
    EXPECT_TRUE(Shows(text, "capture pin (interface 2): 1 data range(s)"));
    EXPECT_TRUE(Shows(text, "render:  [pin 0 USB streaming] -> [node 3 volume] -> [node 2 mute] "
                            "-> [node 1 DAC] -> [pin 1 speaker]"));
    EXPECT_TRUE(Shows(text, "capture: [pin 2 line connector] -> [node 0 ADC] -> [pin 3 USB "
                            "streaming]"));
    EXPECT_TRUE(Shows(text, "result: the driver starts the device"));
}

TEST_F(SimReportTest, AClass1SynchEndpointShowsItsFeedbackFormatAndRefresh)
{
    Plug(devices::MakeUac1SynchEndpointDevice());
    const std::string text = Start();
    EXPECT_TRUE(Shows(text, "speed        full speed (12 Mbit/s)"));
    EXPECT_TRUE(Shows(text, "audio class  1.0"));
    EXPECT_TRUE(Shows(text, "alt 1  PCM, 2 ch, 2-byte subframe, 16 bits, 44100/48000 Hz"));
    EXPECT_TRUE(Shows(text, "feedback  0x81 IN, 3 bytes (10.14), every 1 ms (bInterval 1), "
                            "refresh every 4 ms"));
}

TEST_F(SimReportTest, AClockSelectorShowsItsInputsAndTheSelectedOne)
{
    Plug(devices::MakeClockSelectorDevice());
    EXPECT_TRUE(Shows(Start(), "ClockSelector(10)  clock selector <- ClockSource(11), "
                               "ClockSource(12); now 48000 Hz"));
    EXPECT_TRUE(Shows(Start(), "input 2 selected"));
}

TEST_F(SimReportTest, ARefusedDeviceNamesTheStepTheFunctionAndTheStatus)
{
    Plug(std::make_shared<devices::RawDescriptorModel>(
        host::UsbSpeed::High, devices::MakeDescriptorVariant(
                                  devices::DescriptorVariant::FeatureUnitShorterThanChannels)));
    NTSTATUS status = STATUS_SUCCESS;
    const std::string text = Start(&status);
    EXPECT_EQ(STATUS_NOT_SUPPORTED, status);
    EXPECT_TRUE(Shows(text, "Initialize           STATUS_NOT_SUPPORTED (0xC00000BB)"));
    EXPECT_TRUE(Shows(text, "!! refused by Initialize (found in UsbAudioEntityFits): "
                            "STATUS_NOT_SUPPORTED (0xC00000BB)"));
    EXPECT_TRUE(Shows(text, "trace: norvane_quen_audio: UsbAudioEntityFits:"));
    EXPECT_TRUE(Shows(text, "result: the driver refuses the device"));
    // Nothing of a half-built function model is shown.
    EXPECT_EQ(std::string::npos, text.find("  SelectConfiguration  ")) << text;
    EXPECT_EQ(std::string::npos, text.find("entities")) << text;
}

TEST_F(SimReportTest, AnUnsupportedUnitIsRefusedAsNotImplemented)
{
    Plug(std::make_shared<devices::RawDescriptorModel>(
        host::UsbSpeed::High,
        devices::MakeDescriptorVariant(devices::DescriptorVariant::Uac2MixerUnit)));
    NTSTATUS status = STATUS_SUCCESS;
    EXPECT_TRUE(Shows(Start(&status), "STATUS_NOT_IMPLEMENTED (0xC0000002)"));
    EXPECT_EQ(STATUS_NOT_IMPLEMENTED, status);
}

// Every real device either starts or is refused, and the driver gives back everything it took
// (the fixture's verifier check).
TEST_F(SimReportTest, EveryRealDeviceStartsOrIsRefusedCleanly)
{
    size_t real = 0;
    for (const sim::CatalogEntry &entry : sim::ListDevices(sim::DefaultDataDirectory())) {
        if (entry.name.compare(0, 5, "real:") != 0)
            continue;
        SCOPED_TRACE(entry.name);
        ++real;
        sim::CatalogDevice device;
        std::string error;
        ASSERT_TRUE(sim::MakeDevice(entry.name, sim::DefaultDataDirectory(), &device, &error))
            << error;
        controller_.reset();
        controller_ = std::make_unique<host::UsbHostController>(M());
        Plug(device.model);
        Descriptors();
        const std::string text = Start();
        EXPECT_TRUE(text.find("result: the driver starts the device") != std::string::npos ||
                    text.find("!! refused by") != std::string::npos)
            << text;
    }
    EXPECT_EQ(12u, real);
}

} // namespace
} // namespace sim_tests

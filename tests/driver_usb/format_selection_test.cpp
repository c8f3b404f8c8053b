// Format selection against the device models: the alternate setting chosen (exact match, then the
// widest fallback), the render rate table, the rate programmed on the clock (Class 2.0) or the
// endpoint (Class 1.0, with the capture read-back), the packet geometry and the nominal feedback,
// the implicit-feedback variant, and the capability and rate-bound queries.
#include "driver_usb_fixture.h"
#include "test_descriptors.h"

#include "devices/audio_class_descriptors.h"
#include "devices/descriptor_variants.h"
#include "devices/raw_descriptor_model.h"
#include "devices/rvd3_model.h"
#include "devices/test_devices.h"
#include "function/audio_streaming_interface.h"
#include "usb/rate_pattern_table.h"

namespace driver_usb_tests {
namespace {

constexpr ULONG kRender = USB_AUDIO_DIRECTION_RENDER;
constexpr ULONG kCapture = USB_AUDIO_DIRECTION_CAPTURE;

struct Selected {
    NTSTATUS status = STATUS_PENDING;
    ULONG channels = 0;
    ULONG bits = 0;
    ULONG transferBytes = 0;
};

class FormatSelectionTest : public DriverUsbTest {
protected:
    void StartWith(std::shared_ptr<host::UsbDeviceModel> model)
    {
        Plug(std::move(model));
        ASSERT_EQ(STATUS_SUCCESS, Start());
    }

    Selected Select(ULONG direction, ULONG channels, ULONG bits, ULONG rate, ULONG transferMs = 4)
    {
        Selected s;
        s.status = audio_->SelectStreamingFormat(direction, channels, bits, rate, transferMs,
                                                 &s.channels, &s.bits, &s.transferBytes);
        return s;
    }

    // Requests of one kind sent since `from`.
    std::vector<LoggedControl> Sent(size_t from, UCHAR requestType, UCHAR request)
    {
        std::vector<LoggedControl> found;
        for (const LoggedControl &c : log_->Since(from))
            if (c.setup.bmRequestType == requestType && c.setup.bRequest == request)
                found.push_back(c);
        return found;
    }

    std::vector<LoggedControl> SetInterfaces(size_t from)
    {
        return Sent(from, 0x01, USB_REQUEST_SET_INTERFACE);
    }

    const USB_ENDPOINT_DESCRIPTOR &CurrentDataEndpoint(const AudioStreamingInterface *stream)
    {
        return *stream->AlternateSettings[stream->CurrentAlternateSetting].DataEndpoint;
    }

    static ULONG Rate24(const std::vector<UCHAR> &bytes)
    {
        return bytes.size() < 3 ? 0 : ULONG(bytes[0] | bytes[1] << 8 | bytes[2] << 16);
    }
};

// ---- Audio Class 2.0, high speed: the RV-D3 ------------------------------------------------

TEST_F(FormatSelectionTest, ExactMatchChoosesTheSettingWithThatResolution)
{
    auto model = std::make_shared<devices::Rvd3Model>();
    StartWith(model);
    const Selected s = Select(kRender, 2, 24, 44100);
    ASSERT_EQ(STATUS_SUCCESS, s.status);
    EXPECT_EQ(2u, s.channels);
    EXPECT_EQ(32u, s.bits); // 24 valid bits in a 4-byte subslot
    EXPECT_EQ(devices::rvd3::kAlternate24Bit, audio_->RenderInterface->CurrentAlternateSetting);
    EXPECT_EQ(devices::rvd3::kAlternate24Bit, model->AlternateSetting(1));

    ASSERT_EQ(STATUS_SUCCESS, Select(kRender, 2, 16, 44100).status);
    EXPECT_EQ(devices::rvd3::kAlternate16Bit, audio_->RenderInterface->CurrentAlternateSetting);
}

TEST_F(FormatSelectionTest, MoreChannelsThanAnySettingFallBackToTheWidestSetting)
{
    StartWith(std::make_shared<devices::Rvd3Model>());
    const Selected s = Select(kRender, 6, 24, 48000);
    ASSERT_EQ(STATUS_SUCCESS, s.status);
    EXPECT_EQ(2u, s.channels);
    EXPECT_EQ(32u, s.bits);
    // Settings 2 and 3 both have 4-byte subslots: the later one wins.
    EXPECT_EQ(devices::rvd3::kAlternate32Bit, audio_->RenderInterface->CurrentAlternateSetting);
}

TEST_F(FormatSelectionTest, RenderRateOutsideThePatternTableIsRefusedBeforeAnyRequest)
{
    StartWith(std::make_shared<devices::Rvd3Model>());
    const size_t before = log_->Count();
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Select(kRender, 2, 24, 12000).status);
    EXPECT_EQ(before, log_->Count());
}

TEST_F(FormatSelectionTest, CaptureRateOutsideThePatternTableGoesToTheClock)
{
    StartWith(std::make_shared<devices::Rvd3Model>());
    const size_t before = log_->Count();
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Select(kCapture, 2, 24, 12000).status);
    const std::vector<LoggedControl> ranges = Sent(before, 0xA1, 0x02);
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ(devices::rvd3::kClockSourceId << 8, ranges[0].setup.wIndex);
    EXPECT_TRUE(SetInterfaces(before).empty());
}

TEST_F(FormatSelectionTest, RateTheClockDoesNotRunIsRefusedWithoutSelecting)
{
    StartWith(std::make_shared<devices::Rvd3Model>());
    const size_t before = log_->Count();
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Select(kRender, 2, 24, 32000).status);
    EXPECT_TRUE(SetInterfaces(before).empty());
    EXPECT_EQ(0u, audio_->RenderInterface->CurrentAlternateSetting);
}

TEST_F(FormatSelectionTest, RateIsProgrammedOnTheClockBeforeTheSettingIsSelected)
{
    auto model = std::make_shared<devices::Rvd3Model>();
    StartWith(model);
    const size_t before = log_->Count();
    ASSERT_EQ(STATUS_SUCCESS, Select(kRender, 2, 32, 96000).status);
    const std::vector<LoggedControl> sent = log_->Since(before);
    size_t setRate = sent.size();
    size_t setInterface = sent.size();
    for (size_t i = 0; i < sent.size(); ++i) {
        if (sent[i].setup.bmRequestType == 0x21 && sent[i].setup.bRequest == 0x01 &&
            sent[i].setup.wValue == 0x0100) {
            setRate = i;
            EXPECT_EQ(devices::rvd3::kClockSourceId << 8, sent[i].setup.wIndex);
            ASSERT_EQ(4u, sent[i].data.size());
            EXPECT_EQ(96000u, Rate24(sent[i].data) | ULONG(sent[i].data[3]) << 24);
        }
        if (sent[i].setup.bRequest == USB_REQUEST_SET_INTERFACE && sent[i].setup.bmRequestType == 1)
            setInterface = i;
    }
    ASSERT_LT(setRate, sent.size());
    ASSERT_LT(setInterface, sent.size());
    EXPECT_LT(setRate, setInterface);
    EXPECT_EQ(96000u, model->SampleRate());
    EXPECT_EQ(96000u, audio_->RenderInterface->SampleRate);
}

TEST_F(FormatSelectionTest, HighSpeedGeometryAt48kHzCarriesWholeSamples)
{
    StartWith(std::make_shared<devices::Rvd3Model>());
    const Selected s = Select(kRender, 2, 32, 48000, 4);
    ASSERT_EQ(STATUS_SUCCESS, s.status);
    AudioStreamingInterface *render = audio_->RenderInterface;
    EXPECT_EQ(8u, render->BytesPerFrame);
    EXPECT_EQ(48u, render->BytesPerPacket);
    EXPECT_TRUE(render->WholeSamples);
    EXPECT_EQ(1u, audio_->RenderServiceInterval);
    EXPECT_EQ(0u, audio_->PatternPosition);
    ASSERT_NE(nullptr, audio_->CurrentRatePattern);
    EXPECT_EQ(48000u, audio_->CurrentRatePattern->Rate);
    const USB_ENDPOINT_DESCRIPTOR &endpoint = CurrentDataEndpoint(render);
    EXPECT_EQ(1, endpoint.bInterval);
    EXPECT_EQ(4u * 8 * (endpoint.wMaxPacketSize & 0x7FF), s.transferBytes);
    EXPECT_NE(nullptr, render->DataPipe);
    EXPECT_NE(nullptr, render->FeedbackPipe);
}

TEST_F(FormatSelectionTest, FractionalRateSetsTheNominalFeedback)
{
    StartWith(std::make_shared<devices::Rvd3Model>());
    AudioStreamingInterface *render = audio_->RenderInterface;
    ASSERT_EQ(STATUS_SUCCESS, Select(kRender, 2, 32, 48000).status);
    render->CurrentFeedback = 0x12345;
    audio_->PatternPosition = 7;

    ASSERT_EQ(STATUS_SUCCESS, Select(kRender, 2, 32, 44100).status);
    EXPECT_EQ(40u, render->BytesPerPacket);
    EXPECT_FALSE(render->WholeSamples);
    EXPECT_EQ(0u, render->CurrentFeedback);
    EXPECT_EQ(361267u, render->LatestFeedback); // 5.5125 samples per microframe, 16.16
    EXPECT_EQ(0u, audio_->PatternPosition);
    EXPECT_EQ(44100u, audio_->CurrentRatePattern->Rate);
}

TEST_F(FormatSelectionTest, ZeroFormatReturnsToSettingZero)
{
    auto model = std::make_shared<devices::Rvd3Model>();
    StartWith(model);
    ASSERT_EQ(STATUS_SUCCESS, Select(kRender, 2, 24, 48000).status);
    const Selected s = Select(kRender, 0, 0, 0);
    ASSERT_EQ(STATUS_SUCCESS, s.status);
    EXPECT_EQ(0u, s.bits);
    EXPECT_EQ(0u, s.transferBytes);
    EXPECT_EQ(0u, audio_->RenderInterface->CurrentAlternateSetting);
    EXPECT_EQ(0, model->AlternateSetting(1));
    EXPECT_EQ(nullptr, audio_->RenderInterface->DataPipe);
    EXPECT_EQ(0u, audio_->RenderInterface->BytesPerPacket);
    EXPECT_EQ(1u, audio_->RenderServiceInterval);
}

TEST_F(FormatSelectionTest, MissingDirectionIsAnInvalidParameter)
{
    devices::Rvd3Options options;
    options.capture = false;
    StartWith(std::make_shared<devices::Rvd3Model>(options));
    EXPECT_EQ(nullptr, audio_->CaptureInterface);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, Select(kCapture, 2, 24, 48000).status);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, audio_->SelectFormatForDirection(kCapture, 2, 24, 48000));
}

TEST_F(FormatSelectionTest, CheckingAFormatSelectsNothing)
{
    StartWith(std::make_shared<devices::Rvd3Model>());
    const size_t before = log_->Count();
    EXPECT_EQ(STATUS_SUCCESS, audio_->SelectFormatForDirection(kRender, 2, 24, 192000));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, audio_->SelectFormatForDirection(kRender, 2, 24, 12345));
    EXPECT_TRUE(SetInterfaces(before).empty());
    EXPECT_TRUE(Sent(before, 0x21, 0x01).empty());
}

TEST_F(FormatSelectionTest, FindAlternateSettingOfAZeroFormatIsSettingZero)
{
    StartWith(std::make_shared<devices::Rvd3Model>());
    ULONG channels = 9, bits = 9, setting = 9;
    ASSERT_EQ(STATUS_SUCCESS, audio_->FindAlternateSetting(audio_->RenderInterface, 2, 0, 48000,
                                                           &channels, &bits, &setting));
    EXPECT_EQ(2u, channels);
    EXPECT_EQ(0u, bits);
    EXPECT_EQ(0u, setting);
}

TEST_F(FormatSelectionTest, Class2CapabilitiesComeFromTheSettingsAndTheClock)
{
    StartWith(std::make_shared<devices::Rvd3Model>());
    ULONG channels = 0, minBits = 0, maxBits = 0, minRate = 0, maxRate = 0;
    ASSERT_EQ(STATUS_SUCCESS,
              audio_->GetStreamCapabilities(audio_->RenderInterface, &channels, &minBits, &maxBits,
                                            &minRate, &maxRate));
    EXPECT_EQ(2u, channels);
    EXPECT_EQ(16u, minBits);
    EXPECT_EQ(32u, maxBits);
    EXPECT_EQ(44100u, minRate);
    EXPECT_EQ(384000u, maxRate);

    ASSERT_EQ(STATUS_SUCCESS,
              audio_->GetStreamCapabilities(audio_->CaptureInterface, &channels, &minBits, &maxBits,
                                            &minRate, &maxRate));
    EXPECT_EQ(32u, minBits);
    EXPECT_EQ(32u, maxBits);
}

TEST_F(FormatSelectionTest, FullSpeedClass2SettingsWithPackedSamples)
{
    StartWith(devices::MakeFullSpeedUac2Device());
    const Selected s = Select(kRender, 2, 24, 48000, 1);
    ASSERT_EQ(STATUS_SUCCESS, s.status);
    EXPECT_EQ(24u, s.bits); // 3-byte subslot
    AudioStreamingInterface *render = audio_->RenderInterface;
    EXPECT_EQ(6u, render->BytesPerFrame);
    EXPECT_EQ(288u, render->BytesPerPacket);
    EXPECT_EQ(ULONG(CurrentDataEndpoint(render).wMaxPacketSize), s.transferBytes);
    EXPECT_EQ(48000u * 65536 / 1000, render->LatestFeedback); // per 1 ms frame
}

// A high-speed Audio Class 2.0 DAC (clock 10, IT 1 -> OT 3) whose render interface 1 has one
// Type I PCM setting per format given, each with an asynchronous OUT endpoint 0x01.
struct PcmFormat {
    UCHAR channels;
    UCHAR subslotBytes;
    UCHAR bitResolution;
};

std::shared_ptr<devices::RawDescriptorModel> MakeClass2Dac(const std::vector<PcmFormat> &formats)
{
    devices::StringTable strings;
    devices::DeviceDescriptor device;
    device.idVendor = 0x2FC3;
    device.idProduct = 0xF0F2;
    devices::AudioFunction function;
    function.control.entities = {
        devices::uac2::ClockSource(10, devices::uac2::kClockInternalProgrammable, 0x07),
        devices::uac2::InputTerminal(1, 0x0101, 10, 2, 0x3),
        devices::uac2::OutputTerminal(3, 0x0301, 1, 10),
    };
    devices::Interface render;
    render.alternates.push_back(devices::StreamingAlternate(devices::AudioClass::Uac2));
    for (const PcmFormat &f : formats) {
        devices::AlternateSetting setting =
            devices::uac2::PcmSetting(1, f.channels, 0x3, f.subslotBytes, f.bitResolution);
        setting.endpoints = {devices::uac2::DataEndpoint(0x01, 0x05, 1024, 1)};
        render.alternates.push_back(setting);
    }
    function.streaming.push_back(render);
    devices::Configuration configuration;
    configuration.functions.push_back(function);
    devices::DescriptorSet set{devices::SerialiseDevice(device),
                               devices::SerialiseConfiguration(configuration), strings.Serialise()};
    return std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::High, set);
}

TEST_F(FormatSelectionTest, FallbackPrefersMoreChannelsOverAWiderContainer)
{
    StartWith(MakeClass2Dac({{2, 4, 32}, {6, 2, 16}, {4, 4, 24}}));
    const Selected s = Select(kRender, 8, 24, 48000);
    ASSERT_EQ(STATUS_SUCCESS, s.status);
    EXPECT_EQ(6u, s.channels);
    EXPECT_EQ(16u, s.bits);
    EXPECT_EQ(2u, audio_->RenderInterface->CurrentAlternateSetting);
}

TEST_F(FormatSelectionTest, EightBitSettingWithoutThePcm8FlagDoesNotTakePart)
{
    // The builder's PCM settings announce bmFormats PCM only: an 8-bit one is not PCM8.
    StartWith(MakeClass2Dac({{2, 1, 8}, {2, 2, 16}}));
    const Selected s = Select(kRender, 2, 8, 48000);
    ASSERT_EQ(STATUS_SUCCESS, s.status);
    EXPECT_EQ(16u, s.bits);
    EXPECT_EQ(2u, audio_->RenderInterface->CurrentAlternateSetting);
}

// ---- Audio Class 1.0, full speed --------------------------------------------------------------

TEST_F(FormatSelectionTest, Class1RateIsSetOnTheDataEndpoint)
{
    auto model = devices::MakeUac1SynchEndpointDevice();
    StartWith(std::move(model));
    const size_t before = log_->Count();
    const Selected s = Select(kRender, 2, 16, 44100, 2);
    ASSERT_EQ(STATUS_SUCCESS, s.status);
    EXPECT_EQ(16u, s.bits);
    const std::vector<LoggedControl> set = Sent(before, 0x22, 0x01);
    ASSERT_EQ(1u, set.size());
    EXPECT_EQ(0x0100, set[0].setup.wValue);
    EXPECT_EQ(devices::uac1_synch::kRenderEndpoint, set[0].setup.wIndex);
    EXPECT_EQ(44100u, Rate24(set[0].data));

    AudioStreamingInterface *render = audio_->RenderInterface;
    EXPECT_EQ(4u, render->BytesPerFrame);
    EXPECT_EQ(176u, render->BytesPerPacket);
    EXPECT_FALSE(render->WholeSamples);
    EXPECT_EQ(44100u * 65536 / 1000, render->LatestFeedback);
    EXPECT_EQ(4u, render->FeedbackPeriodMs);
}

TEST_F(FormatSelectionTest, Class1RateNotListedByAnySettingIsNotSupported)
{
    StartWith(devices::MakeUac1SynchEndpointDevice());
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Select(kRender, 2, 16, 96000).status);
}

TEST_F(FormatSelectionTest, Class1CapabilitiesListEveryRate)
{
    StartWith(devices::MakeUac1SynchEndpointDevice());
    ULONG channels = 0, minBits = 0, maxBits = 0, minRate = 0, maxRate = 0;
    ASSERT_EQ(STATUS_SUCCESS,
              audio_->GetStreamCapabilities(audio_->RenderInterface, &channels, &minBits, &maxBits,
                                            &minRate, &maxRate));
    EXPECT_EQ(2u, channels);
    EXPECT_EQ(16u, minBits);
    EXPECT_EQ(24u, maxBits);
    EXPECT_EQ(44100u, minRate);
    EXPECT_EQ(48000u, maxRate);
}

TEST_F(FormatSelectionTest, Class1RateBoundsNarrowToListedRates)
{
    StartWith(devices::MakeUac1SynchEndpointDevice());
    ULONG lower = 0, upper = 0xFFFFFFFF;
    ASSERT_EQ(STATUS_SUCCESS, audio_->GetClass1RateBounds(audio_->RenderInterface, &lower, &upper));
    EXPECT_EQ(44100u, lower);
    EXPECT_EQ(48000u, upper);

    lower = 45000;
    upper = 96000;
    ASSERT_EQ(STATUS_SUCCESS, audio_->GetClass1RateBounds(audio_->RenderInterface, &lower, &upper));
    EXPECT_EQ(48000u, lower);
    EXPECT_EQ(48000u, upper);

    lower = 1234;
    EXPECT_EQ(STATUS_SUCCESS,
              audio_->GetClass1RateBounds(audio_->RenderInterface, &lower, nullptr));
    EXPECT_EQ(1234u, lower);
}

TEST_F(FormatSelectionTest, Class1ContinuousRangeNarrowsToItsOverlap)
{
    using devices::DescriptorVariant;
    Plug(std::make_shared<devices::RawDescriptorModel>(
        devices::DescriptorVariantSpeed(DescriptorVariant::Uac1ContinuousRates),
        devices::MakeDescriptorVariant(DescriptorVariant::Uac1ContinuousRates)));
    ASSERT_EQ(STATUS_SUCCESS, Start());
    ULONG lower = 44100, upper = 192000;
    ASSERT_EQ(STATUS_SUCCESS, audio_->GetClass1RateBounds(audio_->RenderInterface, &lower, &upper));
    EXPECT_EQ(44100u, lower);
    EXPECT_EQ(48000u, upper);

    lower = 0;
    upper = 22050;
    ASSERT_EQ(STATUS_SUCCESS, audio_->GetClass1RateBounds(audio_->RenderInterface, &lower, &upper));
    EXPECT_EQ(8000u, lower);
    EXPECT_EQ(22050u, upper);
}

// A full-speed Audio Class 1.0 microphone: IT 1 -> OT 2 (USB streaming), capture interface 1 with
// 16-bit stereo at 44.1 and 48 kHz on IN endpoint 0x82, whose EP_GENERAL announces no sampling
// frequency control: the device runs at the rate it reports.
std::shared_ptr<devices::RawDescriptorModel> MakeClass1Microphone()
{
    devices::StringTable strings;
    devices::DeviceDescriptor device;
    device.idVendor = 0x2FC3;
    device.idProduct = 0xF0F1;
    devices::AudioFunction function;
    function.audioClass = devices::AudioClass::Uac1;
    function.association = false;
    function.control.entities = {
        devices::uac1::InputTerminal(1, 0x0201, 2, 0x3),
        devices::uac1::OutputTerminal(2, 0x0101, 1),
    };
    devices::Interface capture;
    capture.alternates.push_back(devices::StreamingAlternate(devices::AudioClass::Uac1));
    devices::AlternateSetting setting = devices::uac1::PcmSetting(2, 2, 2, 16, {44100, 48000});
    setting.endpoints = {devices::uac1::DataEndpoint(0x82, 0x05, 196, 0, 0)};
    capture.alternates.push_back(setting);
    function.streaming.push_back(capture);
    devices::Configuration configuration;
    configuration.functions.push_back(function);
    devices::DescriptorSet set{devices::SerialiseDevice(device),
                               devices::SerialiseConfiguration(configuration), strings.Serialise()};
    return std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::Full, set);
}

TEST_F(FormatSelectionTest, Class1CaptureTakesASettingWhoseRateReadsBack)
{
    StartWith(MakeClass1Microphone());
    ASSERT_NE(nullptr, audio_->CaptureInterface);
    const size_t before = log_->Count();
    const Selected s = Select(kCapture, 2, 16, 48000, 1);
    ASSERT_EQ(STATUS_SUCCESS, s.status);
    // Probe (setting 1, read, back to 0), then the selection with its own read-back.
    const std::vector<LoggedControl> reads = Sent(before, 0xA2, 0x81);
    ASSERT_EQ(2u, reads.size());
    EXPECT_EQ(0x0100, reads[0].setup.wValue);
    EXPECT_EQ(0x82, reads[0].setup.wIndex);
    EXPECT_EQ(3, reads[0].setup.wLength);
    const std::vector<LoggedControl> selects = SetInterfaces(before);
    ASSERT_EQ(3u, selects.size());
    EXPECT_EQ(1, selects[0].setup.wValue);
    EXPECT_EQ(0, selects[1].setup.wValue);
    EXPECT_EQ(1, selects[2].setup.wValue);
    EXPECT_EQ(1u, audio_->CaptureInterface->CurrentAlternateSetting);
    EXPECT_NE(nullptr, audio_->CaptureInterface->DataPipe);
}

TEST_F(FormatSelectionTest, Class1CaptureWhoseRateReadsBackDifferentlyIsNotSupported)
{
    StartWith(MakeClass1Microphone());
    const size_t before = log_->Count();
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Select(kCapture, 2, 16, 44100, 1).status);
    EXPECT_EQ(1u, Sent(before, 0xA2, 0x81).size());
    // The probe left the interface in setting 0, with no pipe pointing at a freed copy.
    EXPECT_EQ(0u, audio_->CaptureInterface->CurrentAlternateSetting);
    EXPECT_EQ(nullptr, audio_->CaptureInterface->DataPipe);
}

// Checking a format probes the rate in a setting of its own; the format selected before stays
// selected, on the device and in the interface's pipes.
TEST_F(FormatSelectionTest, Class1CaptureFormatCheckKeepsTheSelectedSetting)
{
    StartWith(MakeClass1Microphone());
    ASSERT_EQ(STATUS_SUCCESS, Select(kCapture, 2, 16, 48000, 1).status);
    ASSERT_EQ(1u, audio_->CaptureInterface->CurrentAlternateSetting);
    const size_t before = log_->Count();
    EXPECT_EQ(STATUS_SUCCESS, audio_->SelectFormatForDirection(kCapture, 2, 16, 48000));
    EXPECT_EQ(1u, Sent(before, 0xA2, 0x81).size());
    const std::vector<LoggedControl> selects = SetInterfaces(before);
    ASSERT_FALSE(selects.empty());
    EXPECT_EQ(1, selects.back().setup.wValue);
    EXPECT_EQ(1u, audio_->CaptureInterface->CurrentAlternateSetting);
    ASSERT_NE(nullptr, audio_->CaptureInterface->DataPipe);
    EXPECT_EQ(0x82, audio_->CaptureInterface->DataPipe->EndpointAddress);
}

// ---- Implicit feedback ------------------------------------------------------------------------

TEST_F(FormatSelectionTest, ImplicitSelectionGivesTheDeviationAroundTheNominalTransfer)
{
    StartWith(devices::MakeImplicitFeedbackDevice());
    audio_->RenderServiceInterval = 7;
    ULONG channels = 0, bits = 0, nominal = 0, transfer = 0;
    LONG below = 0, above = 0;
    ASSERT_EQ(STATUS_SUCCESS,
              audio_->SelectStreamingFormatImplicit(kRender, 2, 24, 48000, 1, &channels, &bits,
                                                    &nominal, &below, &above, &transfer));
    EXPECT_EQ(2u, channels);
    EXPECT_EQ(32u, bits);
    // 8 microframes of 6 frames of 8 bytes; packets may be one frame shorter or longer.
    EXPECT_EQ(384u, nominal);
    EXPECT_EQ(-8, below);
    EXPECT_EQ(8, above);
    const USB_ENDPOINT_DESCRIPTOR &endpoint = CurrentDataEndpoint(audio_->RenderInterface);
    EXPECT_EQ(8u * (endpoint.wMaxPacketSize & 0x7FF), transfer);
    // No pattern and no scheduling state of its own.
    EXPECT_EQ(nullptr, audio_->CurrentRatePattern);
    EXPECT_EQ(7u, audio_->RenderServiceInterval);
}

TEST_F(FormatSelectionTest, ImplicitSelectionAtAFractionalRateHasNoShortPackets)
{
    StartWith(devices::MakeImplicitFeedbackDevice());
    ULONG channels = 0, bits = 0, nominal = 0, transfer = 0;
    LONG below = 0, above = 0;
    ASSERT_EQ(STATUS_SUCCESS,
              audio_->SelectStreamingFormatImplicit(kCapture, 2, 24, 44100, 1, &channels, &bits,
                                                    &nominal, &below, &above, &transfer));
    EXPECT_EQ(352u, nominal); // 44 frames of 8 bytes
    EXPECT_EQ(-4, below);     // 8 packets of 40 bytes at the least
    EXPECT_EQ(4, above);      // 8 packets of 48 bytes at the most
    EXPECT_FALSE(audio_->CaptureInterface->WholeSamples);
}

} // namespace
} // namespace driver_usb_tests

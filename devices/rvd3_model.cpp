#include "rvd3_model.h"

#include "audio_class_descriptors.h"
#include "usb_constants.h"

#include <iterator>

namespace devices {

namespace {

using namespace rvd3;

constexpr UCHAR kFeedbackInterval = 4; // 2^(4-1) microframes: every millisecond
constexpr ULONG kStereo = uac::kStereoChannelConfig;

struct PcmAlternate {
    UCHAR alternate;
    UCHAR subslotBytes;
    UCHAR bitResolution;
};
constexpr PcmAlternate kRenderAlternates[] = {
    {kAlternate16Bit, 2, 16},
    {kAlternate24Bit, 4, 24},
    {kAlternate32Bit, 4, 32},
};
static_assert(std::size(kRenderAlternates) == kAlternate32Bit, "settings 1..3 in order");

AlternateSetting PcmSetting(UCHAR terminalLink, const PcmAlternate &pcm, UCHAR endpoint)
{
    AlternateSetting setting =
        uac2::PcmSetting(terminalLink, kChannels, kStereo, pcm.subslotBytes, pcm.bitResolution);
    setting.endpoints = {uac2::DataEndpoint(
        endpoint, usb::kIsoAsyncData, MaxPacketBytes(384000, 8000, kChannels, pcm.subslotBytes))};
    return setting;
}

DescriptorSet Rvd3Descriptors(bool capture)
{
    StringTable strings;
    DeviceDescriptor device;
    device.idVendor = kVendorId;
    device.idProduct = kProductId;
    device.iManufacturer = strings.Add("Norvane");
    device.iProduct = strings.Add("RV-D3 Purestream");
    device.iSerialNumber = strings.Add("NVD3-0000-0001");

    AudioFunction function;
    function.iFunction = device.iProduct;
    function.control.iInterface = strings.Add(kControlInterfaceName);
    function.control.category = 0x0A; // professional audio
    function.control.entities = {
        uac2::ClockSource(kClockSourceId, uac2::kClockInternalProgrammable,
                          uac2::kProgrammableClockControls),
        uac2::InputTerminal(kUsbInputTerminalId, uac::kTerminalUsbStreaming, kClockSourceId,
                            kChannels, kStereo),
        uac2::FeatureUnit(kFeatureUnitId, kUsbInputTerminalId,
                          uac2::MasterMuteChannelVolume(kChannels)),
        uac2::OutputTerminal(kSpeakerTerminalId, uac::kTerminalSpeaker, kFeatureUnitId,
                             kClockSourceId),
    };

    Interface render;
    render.alternates.push_back(StreamingAlternate(AudioClass::Uac2));
    for (const PcmAlternate &pcm : kRenderAlternates) {
        AlternateSetting setting = PcmSetting(kUsbInputTerminalId, pcm, kRenderEndpoint);
        setting.endpoints.push_back(
            uac2::FeedbackEndpoint(kFeedbackEndpoint, 4, kFeedbackInterval));
        render.alternates.push_back(setting);
    }
    function.streaming.push_back(render);

    if (capture) {
        function.control.entities.push_back(uac2::InputTerminal(
            kLineInTerminalId, uac::kTerminalLineConnector, kClockSourceId, kChannels, kStereo));
        function.control.entities.push_back(uac2::OutputTerminal(
            kUsbOutputTerminalId, uac::kTerminalUsbStreaming, kLineInTerminalId, kClockSourceId));
        Interface input;
        input.alternates.push_back(StreamingAlternate(AudioClass::Uac2));
        input.alternates.push_back(
            PcmSetting(kUsbOutputTerminalId, {kCaptureAlternate, 4, 24}, kCaptureEndpoint));
        function.streaming.push_back(input);
    }

    Configuration configuration;
    configuration.functions.push_back(function);
    return {SerialiseDevice(device), SerialiseConfiguration(configuration), strings.Serialise()};
}

StreamingPaths Rvd3Paths(bool capture)
{
    StreamingPaths paths;
    RenderPath render;
    render.interfaceNumber = kRenderInterface;
    render.dataEndpoint = kRenderEndpoint;
    render.feedbackEndpoint = kFeedbackEndpoint;
    for (const PcmAlternate &pcm : kRenderAlternates)
        render.alternates.push_back(
            {pcm.alternate, kChannels, pcm.subslotBytes, pcm.bitResolution});
    paths.render = render;
    if (capture) {
        CapturePath input;
        input.interfaceNumber = kCaptureInterface;
        input.dataEndpoint = kCaptureEndpoint;
        input.alternates = {{kCaptureAlternate, kChannels, 4, 24}};
        paths.capture = input;
    }
    return paths;
}

} // namespace

Rvd3Model::Rvd3Model(const Rvd3Options &options)
    : StreamingAudioDeviceModel(host::UsbSpeed::High, Rvd3Descriptors(options.capture),
                                Rvd3Paths(options.capture), options.streaming, kInitialRate),
      capture_(options.capture)
{
    AddClockFrequencyControl(kClockSourceId, {std::begin(kRates), std::end(kRates)}, kInitialRate);
    AddClockValidityControl(kClockSourceId);
    AddMuteControl(kFeatureUnitId, 0);
    for (UCHAR channel = 1; channel <= kChannels; ++channel)
        AddVolumeControl(kFeatureUnitId, channel, {kVolumeMin, kVolumeMax, kVolumeStep});
}

bool Rvd3Model::NativeDsd(UCHAR interfaceNumber) const
{
    return interfaceNumber == kRenderInterface                ? RenderNativeDsd()
           : interfaceNumber == kCaptureInterface && capture_ ? captureNativeDsd_
                                                              : false;
}

bool Rvd3Model::Muted() const
{
    return FindEntityControl(kFeatureUnitId, uac::kMuteControl, 0)->Current() != 0;
}

SHORT Rvd3Model::Volume(UCHAR channel) const
{
    return static_cast<SHORT>(
        FindEntityControl(kFeatureUnitId, uac::kVolumeControl, channel)->Current());
}

host::UsbControlResult Rvd3Model::VendorRequest(const host::UsbSetupPacket &setup, UCHAR *)
{
    const bool known = setup.bmRequestType == kDsdModeRequestType &&
                       setup.bRequest == kDsdModeRequest && setup.wValue <= 1 &&
                       setup.wLength == 0 && ActiveConfiguration() != 0;
    if (known && setup.wIndex == kRenderInterface) {
        SetRenderNativeDsd(setup.wValue == 1);
        return host::UsbControlResult::Ok(0);
    }
    if (known && capture_ && setup.wIndex == kCaptureInterface) {
        captureNativeDsd_ = setup.wValue == 1;
        return host::UsbControlResult::Ok(0);
    }
    return host::UsbControlResult::Stall();
}

} // namespace devices

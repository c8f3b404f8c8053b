#include "test_devices.h"

#include "audio_class_descriptors.h"
#include "usb_constants.h"

namespace devices {

namespace {

constexpr ULONG kStereo = uac::kStereoChannelConfig;
constexpr UCHAR kChannels = 2;
constexpr UCHAR kAsyncData = usb::kIsoAsyncData;
constexpr UCHAR kAdaptiveData = usb::kIsochronous | usb::kSyncAdaptive | usb::kUsageData;
constexpr UCHAR kAsyncImplicitFeedbackData =
    usb::kIsochronous | usb::kSyncAsynchronous | usb::kUsageImplicitFeedbackData;
constexpr ControlSubrange kVolumeRange = {-64 * 256, 0, 256};

// A device whose behaviour is all in its declaration: the factories add its controls.
class DeclaredDevice : public StreamingAudioDeviceModel {
public:
    DeclaredDevice(host::UsbSpeed speed, DescriptorSet descriptors, StreamingPaths paths,
                   const StreamingOptions &options, ULONG initialRate)
        : StreamingAudioDeviceModel(speed, std::move(descriptors), std::move(paths), options,
                                    initialRate)
    {
    }
    using StreamingAudioDeviceModel::AddClockFrequencyControl;
    using StreamingAudioDeviceModel::AddClockValidityControl;
    using StreamingAudioDeviceModel::AddEndpointFrequencyControl;
    using StreamingAudioDeviceModel::AddMuteControl;
    using StreamingAudioDeviceModel::AddVolumeControl;
    using StreamingAudioDeviceModel::DiscreteRanges;
};

DeviceDescriptor Identity(StringTable *strings, USHORT vendorId, USHORT productId,
                          const std::string &product)
{
    DeviceDescriptor device;
    device.idVendor = vendorId;
    device.idProduct = productId;
    device.iManufacturer = strings->Add("Norvane Test Devices");
    device.iProduct = strings->Add(product);
    return device;
}

DescriptorSet Serialise(const DeviceDescriptor &device, const AudioFunction &function,
                        const StringTable &strings,
                        const std::vector<Interface> &furtherInterfaces = {})
{
    Configuration configuration;
    configuration.functions.push_back(function);
    configuration.interfaces = furtherInterfaces;
    return {SerialiseDevice(device), SerialiseConfiguration(configuration), strings.Serialise()};
}

// Streaming interface with alternate setting 0 and one Type I PCM setting per format, each
// with the given endpoints (Audio Class 2.0).
Interface Uac2Streaming(UCHAR terminalLink, const std::vector<AlternateFormat> &formats,
                        UCHAR dataEndpoint, UCHAR dataAttributes, ULONG maxRate, ULONG intervals,
                        const std::vector<EndpointDescriptor> &more = {},
                        UCHAR interfaceClass = uac::kAudioClass)
{
    Interface interface;
    interface.alternates.push_back(StreamingAlternate(AudioClass::Uac2, interfaceClass));
    for (const AlternateFormat &f : formats) {
        AlternateSetting setting = uac2::PcmSetting(
            terminalLink, f.channels, kStereo, f.subslotBytes, f.bitResolution, interfaceClass);
        setting.endpoints = {
            uac2::DataEndpoint(dataEndpoint, dataAttributes,
                               MaxPacketBytes(maxRate, intervals, f.channels, f.subslotBytes))};
        setting.endpoints.insert(setting.endpoints.end(), more.begin(), more.end());
        interface.alternates.push_back(setting);
    }
    return interface;
}

// The usual playback chain: IT (USB streaming) -> [FU] -> OT (speaker), all on one clock.
std::vector<Descriptor> PlaybackChain(UCHAR clockId, bool featureUnit)
{
    std::vector<Descriptor> entities = {
        uac2::InputTerminal(1, uac::kTerminalUsbStreaming, clockId, kChannels, kStereo)};
    if (featureUnit) {
        entities.push_back(uac2::FeatureUnit(2, 1, uac2::MasterMuteChannelVolume(kChannels)));
    }
    entities.push_back(
        uac2::OutputTerminal(3, uac::kTerminalSpeaker, featureUnit ? 2 : 1, clockId));
    return entities;
}

RenderPath Render(UCHAR interfaceNumber, UCHAR dataEndpoint, UCHAR feedbackEndpoint,
                  FeedbackFormat feedbackFormat, std::vector<AlternateFormat> formats)
{
    RenderPath render;
    render.interfaceNumber = interfaceNumber;
    render.dataEndpoint = dataEndpoint;
    render.feedbackEndpoint = feedbackEndpoint;
    render.feedbackFormat = feedbackFormat;
    render.alternates = std::move(formats);
    return render;
}

void AddFeatureControls(DeclaredDevice *device, UCHAR unitId)
{
    device->AddMuteControl(unitId, 0);
    for (UCHAR channel = 1; channel <= kChannels; ++channel)
        device->AddVolumeControl(unitId, channel, kVolumeRange);
}

// The clock selector device: the selector's pin picks whose rate the device runs at.
class ClockSelectorDevice : public StreamingAudioDeviceModel {
public:
    ClockSelectorDevice(DescriptorSet descriptors, StreamingPaths paths,
                        const StreamingOptions &options)
        : StreamingAudioDeviceModel(host::UsbSpeed::High, std::move(descriptors), std::move(paths),
                                    options, 48000)
    {
        using namespace clock_selector;
        const UCHAR sources[] = {kSource44kId, kSource48kId};
        AudioControl *frequency[2];
        frequency[0] = &AddClockFrequencyControl(kSource44kId, {44100, 88200, 176400}, 44100);
        frequency[1] = &AddClockFrequencyControl(kSource48kId, {48000, 96000, 192000}, 48000);
        for (size_t pin = 0; pin < 2; ++pin) {
            AddClockValidityControl(sources[pin]);
            frequency[pin]->OnChange([this, pin](LONGLONG rate) {
                if (selectedPin_ == pin + 1)
                    SetSampleRate(static_cast<ULONG>(rate));
            });
        }
        AddEntityControl(kSelectorId, uac::kClockSelectorControl, 0,
                         AudioControl(1, false, selectedPin_)
                             .AcceptWhen([](LONGLONG pin) { return pin == 1 || pin == 2; })
                             .OnChange([this, frequency](LONGLONG pin) {
                                 selectedPin_ = static_cast<size_t>(pin);
                                 SetSampleRate(static_cast<ULONG>(frequency[pin - 1]->Current()));
                             }));
    }

private:
    size_t selectedPin_ = 2;
};

// The vendor-interface quirk device: its interrupt endpoint never has anything to report.
class VendorInterfaceDevice : public StreamingAudioDeviceModel {
public:
    VendorInterfaceDevice(DescriptorSet descriptors, StreamingPaths paths,
                          const StreamingOptions &options)
        : StreamingAudioDeviceModel(host::UsbSpeed::High, std::move(descriptors), std::move(paths),
                                    options, 48000)
    {
        AddClockFrequencyControl(10, {44100, 48000, 96000, 192000}, 48000);
        AddClockValidityControl(10);
    }

    host::UsbBulkResult BulkOrInterruptIn(UCHAR endpointAddress, ULONGLONG, UCHAR *, ULONG) override
    {
        if (endpointAddress == vendor_interface_quirk::kInterruptEndpoint &&
            EndpointActive(endpointAddress))
            return host::UsbBulkResult::Nak();
        return host::UsbBulkResult::Stall();
    }
};

} // namespace

std::unique_ptr<StreamingAudioDeviceModel> MakeFullSpeedUac2Device(const StreamingOptions &options)
{
    using namespace fullspeed_uac2;
    const std::vector<AlternateFormat> formats = {{1, kChannels, 2, 16}, {2, kChannels, 3, 24}};
    const std::vector<ULONG> rates = {44100, 48000, 88200, 96000};
    StringTable strings;
    DeviceDescriptor device = Identity(&strings, kVendorId, kProductId, "Full-Speed UAC2 DAC");
    AudioFunction function;
    function.control.iInterface = strings.Add("Full-Speed UAC2 DAC Control");
    function.control.entities = {uac2::ClockSource(kClockSourceId, uac2::kClockInternalProgrammable,
                                                   uac2::kProgrammableClockControls)};
    const std::vector<Descriptor> chain = PlaybackChain(kClockSourceId, true);
    function.control.entities.insert(function.control.entities.end(), chain.begin(), chain.end());
    function.streaming = {Uac2Streaming(1, formats, kRenderEndpoint, kAsyncData, 96000, 1000,
                                        {uac2::FeedbackEndpoint(kFeedbackEndpoint, 3, 1)})};

    StreamingPaths paths;
    paths.render = Render(kRenderInterface, kRenderEndpoint, kFeedbackEndpoint,
                          FeedbackFormat::Samples10_14, formats);
    auto model = std::make_unique<DeclaredDevice>(
        host::UsbSpeed::Full, Serialise(device, function, strings), paths, options, 48000);
    model->AddClockFrequencyControl(kClockSourceId, rates, 48000);
    model->AddClockValidityControl(kClockSourceId);
    AddFeatureControls(model.get(), kFeatureUnitId);
    return model;
}

std::unique_ptr<StreamingAudioDeviceModel>
MakeUac1SynchEndpointDevice(const StreamingOptions &options)
{
    using namespace uac1_synch;
    const std::vector<AlternateFormat> formats = {{1, kChannels, 2, 16}, {2, kChannels, 3, 24}};
    const std::vector<ULONG> rates = {44100, 48000};
    StringTable strings;
    DeviceDescriptor device = Identity(&strings, kVendorId, kProductId, "UAC1 DAC");
    device.bcdUSB = 0x0110;
    device.deviceClass = device.deviceSubClass = device.deviceProtocol = 0;
    AudioFunction function;
    function.audioClass = AudioClass::Uac1;
    function.association = false;
    function.control.iInterface = strings.Add("UAC1 DAC Control");
    function.control.entities = {
        uac1::InputTerminal(1, uac::kTerminalUsbStreaming, kChannels, kStereo),
        uac1::FeatureUnit(kFeatureUnitId, 1, 1,
                          {uac1::kMuteBit, uac1::kVolumeBit, uac1::kVolumeBit}),
        uac1::OutputTerminal(3, uac::kTerminalSpeaker, kFeatureUnitId),
    };
    Interface render;
    render.alternates.push_back(StreamingAlternate(AudioClass::Uac1));
    for (const AlternateFormat &f : formats) {
        AlternateSetting setting =
            uac1::PcmSetting(1, f.channels, f.subslotBytes, f.bitResolution, rates);
        setting.endpoints = {
            uac1::DataEndpoint(kRenderEndpoint, kAsyncData,
                               MaxPacketBytes(48000, 1000, f.channels, f.subslotBytes),
                               kSynchEndpoint, uac1::kEndpointSamplingFrequency),
            uac1::SynchEndpoint(kSynchEndpoint, kRefresh)};
        render.alternates.push_back(setting);
    }
    function.streaming = {render};

    StreamingPaths paths;
    paths.render = Render(kRenderInterface, kRenderEndpoint, kSynchEndpoint,
                          FeedbackFormat::Samples10_14, formats);
    auto model = std::make_unique<DeclaredDevice>(
        host::UsbSpeed::Full, Serialise(device, function, strings), paths, options, 48000);
    model->AddEndpointFrequencyControl(kRenderEndpoint, DeclaredDevice::DiscreteRanges(rates));
    AddFeatureControls(model.get(), kFeatureUnitId);
    return model;
}

std::unique_ptr<StreamingAudioDeviceModel>
MakeImplicitFeedbackDevice(const StreamingOptions &options)
{
    using namespace implicit_feedback;
    const std::vector<AlternateFormat> formats = {{1, kChannels, 4, 24}};
    const std::vector<ULONG> rates = {44100, 48000, 88200, 96000, 176400, 192000};
    StringTable strings;
    DeviceDescriptor device =
        Identity(&strings, kVendorId, kProductId, "Implicit Feedback Interface");
    AudioFunction function;
    function.control.iInterface = strings.Add("Implicit Feedback Interface Control");
    function.control.entities = {uac2::ClockSource(kClockSourceId, uac2::kClockInternalProgrammable,
                                                   uac2::kProgrammableClockControls)};
    const std::vector<Descriptor> chain = PlaybackChain(kClockSourceId, false);
    function.control.entities.insert(function.control.entities.end(), chain.begin(), chain.end());
    function.control.entities.push_back(
        uac2::InputTerminal(4, uac::kTerminalLineConnector, kClockSourceId, kChannels, kStereo));
    function.control.entities.push_back(
        uac2::OutputTerminal(5, uac::kTerminalUsbStreaming, 4, kClockSourceId));
    function.streaming = {
        Uac2Streaming(1, formats, kRenderEndpoint, kAsyncData, 192000, 8000),
        Uac2Streaming(5, formats, kCaptureEndpoint, kAsyncImplicitFeedbackData, 192000, 8000)};

    StreamingPaths paths;
    paths.render =
        Render(kRenderInterface, kRenderEndpoint, 0, FeedbackFormat::Samples16_16, formats);
    CapturePath capture;
    capture.interfaceNumber = kCaptureInterface;
    capture.dataEndpoint = kCaptureEndpoint;
    capture.alternates = formats;
    paths.capture = capture;
    auto model = std::make_unique<DeclaredDevice>(
        host::UsbSpeed::High, Serialise(device, function, strings), paths, options, 48000);
    model->AddClockFrequencyControl(kClockSourceId, rates, 48000);
    model->AddClockValidityControl(kClockSourceId);
    return model;
}

std::unique_ptr<StreamingAudioDeviceModel> MakeClockSelectorDevice(const StreamingOptions &options)
{
    using namespace clock_selector;
    const std::vector<AlternateFormat> formats = {{1, kChannels, 4, 24}};
    StringTable strings;
    DeviceDescriptor device = Identity(&strings, kVendorId, kProductId, "Clock Selector DAC");
    AudioFunction function;
    function.control.iInterface = strings.Add("Clock Selector DAC Control");
    function.control.entities = {
        uac2::ClockSource(kSource44kId, uac2::kClockInternalProgrammable,
                          uac2::kProgrammableClockControls),
        uac2::ClockSource(kSource48kId, uac2::kClockInternalProgrammable,
                          uac2::kProgrammableClockControls),
        uac2::ClockSelector(kSelectorId, {kSource44kId, kSource48kId},
                            static_cast<UCHAR>(uac2::ControlBits(0, uac2::kControlReadWrite))),
    };
    const std::vector<Descriptor> chain = PlaybackChain(kSelectorId, false);
    function.control.entities.insert(function.control.entities.end(), chain.begin(), chain.end());
    function.streaming = {Uac2Streaming(1, formats, kRenderEndpoint, kAsyncData, 192000, 8000,
                                        {uac2::FeedbackEndpoint(kFeedbackEndpoint, 4, 4)})};

    StreamingPaths paths;
    paths.render = Render(kRenderInterface, kRenderEndpoint, kFeedbackEndpoint,
                          FeedbackFormat::Samples16_16, formats);
    return std::make_unique<ClockSelectorDevice>(Serialise(device, function, strings), paths,
                                                 options);
}

std::unique_ptr<StreamingAudioDeviceModel> MakeLengthPrefixedQuirkDevice()
{
    using namespace length_prefixed_quirk;
    const std::vector<AlternateFormat> formats = {{1, kChannels, 2, 16}};
    const std::vector<ULONG> rates = {44100, 48000};
    StringTable strings;
    DeviceDescriptor device = Identity(&strings, kVendorId, kProductId, "Vendor-Class Audio");
    AudioFunction function;
    function.control.interfaceClass = uac::kVendorClass;
    function.control.iInterface = strings.Add("Vendor-Class Audio Control");
    function.control.entities = {
        uac2::ClockSource(10, uac2::kClockInternalProgrammable, uac2::kProgrammableClockControls)};
    const std::vector<Descriptor> chain = PlaybackChain(10, false);
    function.control.entities.insert(function.control.entities.end(), chain.begin(), chain.end());
    Interface render = Uac2Streaming(1, formats, kRenderEndpoint, kAdaptiveData, 48000, 1000, {},
                                     uac::kVendorClass);
    // Each packet also carries its 4-byte length.
    render.alternates[1].endpoints[0].maxPacketSize += 4;
    function.streaming = {render};

    StreamingPaths paths;
    paths.render =
        Render(kRenderInterface, kRenderEndpoint, 0, FeedbackFormat::Samples16_16, formats);
    paths.render->framing = PacketFraming::LengthPrefixed;
    auto model =
        std::make_unique<DeclaredDevice>(host::UsbSpeed::Full, Serialise(device, function, strings),
                                         paths, StreamingOptions(), 48000);
    model->AddClockFrequencyControl(10, rates, 48000);
    model->AddClockValidityControl(10);
    return model;
}

std::unique_ptr<StreamingAudioDeviceModel>
MakeVendorInterfaceQuirkDevice(const StreamingOptions &options)
{
    using namespace vendor_interface_quirk;
    const std::vector<AlternateFormat> formats = {{1, kChannels, 4, 24}};
    StringTable strings;
    DeviceDescriptor device = Identity(&strings, kVendorId, kProductId, "Vendor Interface DAC");
    AudioFunction function;
    function.control.iInterface = strings.Add("Vendor Interface DAC Control");
    function.control.entities = {
        uac2::ClockSource(10, uac2::kClockInternalProgrammable, uac2::kProgrammableClockControls)};
    const std::vector<Descriptor> chain = PlaybackChain(10, false);
    function.control.entities.insert(function.control.entities.end(), chain.begin(), chain.end());
    function.streaming = {Uac2Streaming(1, formats, 0x01, kAsyncData, 192000, 8000,
                                        {uac2::FeedbackEndpoint(0x81, 4, 4)})};

    AlternateSetting vendor;
    vendor.interfaceClass = uac::kVendorClass;
    EndpointDescriptor interrupt;
    interrupt.address = kInterruptEndpoint;
    interrupt.attributes = usb::kInterrupt;
    interrupt.maxPacketSize = 8;
    interrupt.interval = 4;
    vendor.endpoints = {interrupt};
    Interface vendorInterface;
    vendorInterface.alternates = {vendor};

    StreamingPaths paths;
    paths.render = Render(kRenderInterface, 0x01, 0x81, FeedbackFormat::Samples16_16, formats);
    return std::make_unique<VendorInterfaceDevice>(
        Serialise(device, function, strings, {vendorInterface}), paths, options);
}

} // namespace devices

#include "descriptor_variants.h"

#include "audio_class_descriptors.h"
#include "usb_constants.h"

#include <stdexcept>

namespace devices {

namespace {

using namespace variant_ids;

constexpr ULONG kStereo = uac::kStereoChannelConfig;
constexpr UCHAR kAsyncData = usb::kIsoAsyncData;
constexpr size_t kUnitPosition2 = 2; // after the clock source and the input terminal
constexpr size_t kUnitPosition1 = 1; // after the input terminal

struct Draft {
    StringTable strings;
    DeviceDescriptor device;
    AudioFunction function;
};

Draft BaseDraft(AudioClass audioClass)
{
    Draft d;
    d.device.idVendor = kVendorId;
    d.device.idProduct = kProductId;
    d.device.iProduct = d.strings.Add("Descriptor Variant");
    d.function.audioClass = audioClass;
    d.function.control.iInterface = d.strings.Add("Descriptor Variant Control");
    return d;
}

AlternateSetting Uac2RenderSetting(UCHAR subslotBytes, UCHAR bitResolution)
{
    AlternateSetting setting =
        uac2::PcmSetting(kInputTerminalId, 2, kStereo, subslotBytes, bitResolution);
    setting.endpoints = {
        uac2::DataEndpoint(0x01, kAsyncData, MaxPacketBytes(192000, 8000, 2, subslotBytes)),
        uac2::FeedbackEndpoint(0x81, 4, 4)};
    return setting;
}

Draft Uac2Draft()
{
    Draft d = BaseDraft(AudioClass::Uac2);
    d.function.control.entities = {
        uac2::ClockSource(kClockSourceId, uac2::kClockInternalProgrammable,
                          uac2::kProgrammableClockControls),
        uac2::InputTerminal(kInputTerminalId, uac::kTerminalUsbStreaming, kClockSourceId, 2,
                            kStereo),
        uac2::FeatureUnit(kFeatureUnitId, kInputTerminalId, uac2::MasterMuteChannelVolume(2)),
        uac2::OutputTerminal(kOutputTerminalId, uac::kTerminalSpeaker, kFeatureUnitId,
                             kClockSourceId),
    };
    Interface render;
    render.alternates = {StreamingAlternate(AudioClass::Uac2), Uac2RenderSetting(4, 24)};
    d.function.streaming = {render};
    return d;
}

Draft Uac1Draft()
{
    Draft d = BaseDraft(AudioClass::Uac1);
    d.device.bcdUSB = 0x0110;
    d.device.deviceClass = d.device.deviceSubClass = d.device.deviceProtocol = 0;
    d.function.association = false;
    d.function.control.entities = {
        uac1::InputTerminal(kInputTerminalId, uac::kTerminalUsbStreaming, 2, kStereo),
        uac1::FeatureUnit(kFeatureUnitId, kInputTerminalId, 1,
                          {uac1::kMuteBit, uac1::kVolumeBit, uac1::kVolumeBit}),
        uac1::OutputTerminal(kOutputTerminalId, uac::kTerminalSpeaker, kFeatureUnitId),
    };
    AlternateSetting setting = uac1::PcmSetting(kInputTerminalId, 2, 2, 16, {44100, 48000});
    setting.endpoints = {uac1::DataEndpoint(0x01, kAsyncData, MaxPacketBytes(48000, 1000, 2, 2),
                                            0x81, uac1::kEndpointSamplingFrequency),
                         uac1::SynchEndpoint(0x81, 2)};
    Interface render;
    render.alternates = {StreamingAlternate(AudioClass::Uac1), setting};
    d.function.streaming = {render};
    return d;
}

DescriptorSet Finish(const Draft &d)
{
    Configuration configuration;
    configuration.functions = {d.function};
    return {SerialiseDevice(d.device), SerialiseConfiguration(configuration),
            d.strings.Serialise()};
}

Draft WithUnit(Draft d, size_t position, const Descriptor &unit)
{
    auto &entities = d.function.control.entities;
    entities.insert(entities.begin() + static_cast<std::ptrdiff_t>(position), unit);
    return d;
}

// The first descriptor of `type` (and, for class-specific ones, `subtype`).
DescriptorView Locate(const Bytes &bytes, UCHAR type, UCHAR subtype = 0)
{
    for (const DescriptorView &view : WalkDescriptors(bytes)) {
        if (view.type == type && (subtype == 0 || view.Subtype() == subtype))
            return view;
    }
    throw std::logic_error("descriptor to change not found");
}

void AddToWord(Bytes *bytes, size_t offset, int delta)
{
    const int value = ((*bytes)[offset] | (*bytes)[offset + 1] << 8) + delta;
    (*bytes)[offset] = static_cast<UCHAR>(value);
    (*bytes)[offset + 1] = static_cast<UCHAR>(value >> 8);
}

// A string descriptor whose bLength saturates at 255 while it carries 200 UTF-16 units, with
// the DSD marker starting on the last unit that fits a 256-byte buffer.
Bytes OverlongString()
{
    std::string text(126, 'x');
    text += "[DSD]";
    text += std::string(200 - text.size(), 'x');
    Bytes bytes = {0xFF, usb::kStringDescriptor};
    for (char c : text) {
        bytes.push_back(static_cast<UCHAR>(c));
        bytes.push_back(0);
    }
    return bytes;
}

} // namespace

std::vector<DescriptorVariant> AllDescriptorVariants()
{
    std::vector<DescriptorVariant> all;
    for (int v = 0; v <= static_cast<int>(DescriptorVariant::Uac1ContinuousRates); ++v)
        all.push_back(static_cast<DescriptorVariant>(v));
    return all;
}

const char *DescriptorVariantName(DescriptorVariant variant)
{
    switch (variant) {
    case DescriptorVariant::ZeroLengthDescriptor: return "ZeroLengthDescriptor";
    case DescriptorVariant::DescriptorPastEnd: return "DescriptorPastEnd";
    case DescriptorVariant::ConfigurationShorterThanTotal: return "ConfigurationShorterThanTotal";
    case DescriptorVariant::ControlHeaderOverrunsInterface: return "ControlHeaderOverrunsInterface";
    case DescriptorVariant::FeatureUnitShorterThanChannels: return "FeatureUnitShorterThanChannels";
    case DescriptorVariant::FeatureUnitControlSizeZero: return "FeatureUnitControlSizeZero";
    case DescriptorVariant::StringLongerThanBuffer: return "StringLongerThanBuffer";
    case DescriptorVariant::MissingSourceEntity: return "MissingSourceEntity";
    case DescriptorVariant::StreamingWithoutAlternate1: return "StreamingWithoutAlternate1";
    case DescriptorVariant::AlternateSettingGap: return "AlternateSettingGap";
    case DescriptorVariant::Uac2MixerUnit: return "Uac2MixerUnit";
    case DescriptorVariant::Uac2SelectorUnit: return "Uac2SelectorUnit";
    case DescriptorVariant::Uac2ProcessingUnit: return "Uac2ProcessingUnit";
    case DescriptorVariant::Uac2ExtensionUnit: return "Uac2ExtensionUnit";
    case DescriptorVariant::Uac2FormatTypeIII: return "Uac2FormatTypeIII";
    case DescriptorVariant::Uac1ProcessingUnit: return "Uac1ProcessingUnit";
    case DescriptorVariant::Uac1SelectorUnit: return "Uac1SelectorUnit";
    case DescriptorVariant::Uac1ExtensionUnit: return "Uac1ExtensionUnit";
    case DescriptorVariant::Uac1ContinuousRates: return "Uac1ContinuousRates";
    }
    return "?";
}

host::UsbSpeed DescriptorVariantSpeed(DescriptorVariant variant)
{
    switch (variant) {
    case DescriptorVariant::FeatureUnitControlSizeZero:
    case DescriptorVariant::Uac1ProcessingUnit:
    case DescriptorVariant::Uac1SelectorUnit:
    case DescriptorVariant::Uac1ExtensionUnit:
    case DescriptorVariant::Uac1ContinuousRates: return host::UsbSpeed::Full;
    default: return host::UsbSpeed::High;
    }
}

DescriptorSet MakeDescriptorVariant(DescriptorVariant variant)
{
    switch (variant) {
    case DescriptorVariant::ZeroLengthDescriptor: {
        DescriptorSet set = Finish(Uac2Draft());
        set.configuration[Locate(set.configuration, uac::kCsInterface, uac::kFeatureUnit).offset] =
            0;
        return set;
    }
    case DescriptorVariant::DescriptorPastEnd: {
        DescriptorSet set = Finish(Uac2Draft());
        set.configuration[WalkDescriptors(set.configuration).back().offset] = 0x20;
        return set;
    }
    case DescriptorVariant::ConfigurationShorterThanTotal: {
        DescriptorSet set = Finish(Uac2Draft());
        AddToWord(&set.configuration, 2, 16);
        return set;
    }
    case DescriptorVariant::ControlHeaderOverrunsInterface: {
        DescriptorSet set = Finish(Uac2Draft());
        AddToWord(&set.configuration,
                  Locate(set.configuration, uac::kCsInterface, uac::kHeader).offset + 6, 20);
        return set;
    }
    case DescriptorVariant::FeatureUnitShorterThanChannels: {
        Draft d = Uac2Draft();
        FieldWriter fields;
        fields.U8(uac::kFeatureUnit).U8(kFeatureUnitId).U8(kInputTerminalId);
        fields.U32(uac2::ControlBits(0, uac2::kControlReadWrite));
        fields.U32(uac2::ControlBits(1, uac2::kControlReadWrite));
        fields.U24(uac2::ControlBits(1, uac2::kControlReadWrite));
        d.function.control.entities[2] = {uac::kCsInterface, fields.Data()};
        return Finish(d);
    }
    case DescriptorVariant::FeatureUnitControlSizeZero: {
        Draft d = Uac1Draft();
        d.function.control.entities[1] =
            uac1::FeatureUnit(kFeatureUnitId, kInputTerminalId, 0, {0, 0, 0});
        return Finish(d);
    }
    case DescriptorVariant::StringLongerThanBuffer: {
        const Draft d = Uac2Draft();
        DescriptorSet set = Finish(d);
        set.strings[d.function.control.iInterface] = OverlongString();
        return set;
    }
    case DescriptorVariant::MissingSourceEntity: {
        Draft d = Uac2Draft();
        d.function.control.entities[2] =
            uac2::FeatureUnit(kFeatureUnitId, 9,
                              {0, uac2::ControlBits(1, uac2::kControlReadWrite),
                               uac2::ControlBits(1, uac2::kControlReadWrite)});
        return Finish(d);
    }
    case DescriptorVariant::StreamingWithoutAlternate1: {
        Draft d = Uac2Draft();
        d.function.streaming[0].alternates.resize(1);
        return Finish(d);
    }
    case DescriptorVariant::AlternateSettingGap: {
        Draft d = Uac2Draft();
        d.function.streaming[0].alternates.push_back(Uac2RenderSetting(4, 32));
        DescriptorSet set = Finish(d);
        for (const DescriptorView &view : WalkDescriptors(set.configuration)) {
            if (view.type == usb::kInterfaceDescriptor && view.Byte(2) == kRenderInterface &&
                view.Byte(3) == 2)
                set.configuration[view.offset + 3] = 3;
        }
        return set;
    }
    case DescriptorVariant::Uac2MixerUnit:
        return Finish(WithUnit(Uac2Draft(), kUnitPosition2,
                               uac2::MixerUnit(kUnitId, {kInputTerminalId}, 2, kStereo, {0x09})));
    case DescriptorVariant::Uac2SelectorUnit:
        return Finish(
            WithUnit(Uac2Draft(), kUnitPosition2, uac2::SelectorUnit(kUnitId, {kInputTerminalId})));
    case DescriptorVariant::Uac2ProcessingUnit:
        return Finish(
            WithUnit(Uac2Draft(), kUnitPosition2,
                     uac2::ProcessingUnit(kUnitId, 0x0001, {kInputTerminalId}, 2, kStereo)));
    case DescriptorVariant::Uac2ExtensionUnit:
        return Finish(
            WithUnit(Uac2Draft(), kUnitPosition2,
                     uac2::ExtensionUnit(kUnitId, 0x1234, {kInputTerminalId}, 2, kStereo)));
    case DescriptorVariant::Uac2FormatTypeIII: {
        Draft d = Uac2Draft();
        AlternateSetting setting = Uac2RenderSetting(2, 16);
        setting.classSpecific = {
            uac2::AsGeneral(kInputTerminalId, uac::kFormatTypeIII, 0x00000001, 2, kStereo),
            uac2::FormatTypeIII(2, 16)};
        d.function.streaming[0].alternates.push_back(setting);
        return Finish(d);
    }
    case DescriptorVariant::Uac1ProcessingUnit:
        return Finish(
            WithUnit(Uac1Draft(), kUnitPosition1,
                     uac1::ProcessingUnit(kUnitId, 0x0001, {kInputTerminalId}, 2, kStereo)));
    case DescriptorVariant::Uac1SelectorUnit:
        return Finish(
            WithUnit(Uac1Draft(), kUnitPosition1, uac1::SelectorUnit(kUnitId, {kInputTerminalId})));
    case DescriptorVariant::Uac1ExtensionUnit:
        return Finish(
            WithUnit(Uac1Draft(), kUnitPosition1,
                     uac1::ExtensionUnit(kUnitId, 0x1234, {kInputTerminalId}, 2, kStereo)));
    case DescriptorVariant::Uac1ContinuousRates: {
        Draft d = Uac1Draft();
        d.function.streaming[0].alternates[1].classSpecific[1] =
            uac1::FormatTypeIContinuous(2, 2, 16, 8000, 48000);
        return Finish(d);
    }
    }
    throw std::logic_error("unknown descriptor variant");
}

std::unique_ptr<RawDescriptorModel> MakeShortRangeReplyDevice()
{
    auto model = std::make_unique<RawDescriptorModel>(host::UsbSpeed::High, Finish(Uac2Draft()));
    model->FindEntityControl(kClockSourceId, uac::kClockFrequencyControl, 0)
        ->WithRanges({{44100, 44100, 0}, {48000, 48000, 0}})
        .AnnounceSubranges(8);
    return model;
}

} // namespace devices

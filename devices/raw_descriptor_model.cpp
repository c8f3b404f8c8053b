#include "raw_descriptor_model.h"

#include "usb_constants.h"

namespace devices {

namespace {

const std::vector<ULONG> kCommonRates = {44100, 48000, 88200, 96000, 176400, 192000};
constexpr ControlSubrange kDefaultVolumeRange = {-127 * 256, 0, 256};

bool IsStreamingInterface(const AlternateLayout &alternate)
{
    return (alternate.interfaceClass == uac::kAudioClass ||
            alternate.interfaceClass == uac::kVendorClass) &&
           alternate.interfaceSubClass == uac::kSubclassAudioStreaming;
}

const EndpointLayout *DataEndpoint(const AlternateLayout &alternate)
{
    for (const EndpointLayout &e : alternate.endpoints) {
        const UCHAR usage = e.attributes & usb::kUsageMask;
        if ((e.attributes & usb::kTransferTypeMask) == usb::kIsochronous &&
            (usage == usb::kUsageData || usage == usb::kUsageImplicitFeedbackData))
            return &e;
    }
    return nullptr;
}

const EndpointLayout *FeedbackEndpoint(const AlternateLayout &alternate, const EndpointLayout &data,
                                       bool audioClass2)
{
    for (const EndpointLayout &e : alternate.endpoints) {
        if ((e.attributes & usb::kTransferTypeMask) != usb::kIsochronous)
            continue;
        if (audioClass2 ? (e.attributes & usb::kUsageMask) == usb::kUsageFeedback
                        : data.synchAddress != 0 && e.address == data.synchAddress)
            return &e;
    }
    return nullptr;
}

const DescriptorView *ClassSpecific(const AlternateLayout &alternate, UCHAR subtype)
{
    for (const DescriptorView &view : alternate.classSpecific) {
        if (view.Subtype() == subtype)
            return &view;
    }
    return nullptr;
}

ULONG Rate24(const DescriptorView &view, size_t offset)
{
    return view.Byte(offset) | view.Byte(offset + 1) << 8 | view.Byte(offset + 2) << 16;
}

// The PCM layout of one setting, and (Audio Class 1.0) the rates its format lists.
bool ReadFormat(const AlternateLayout &alternate, bool audioClass2, AlternateFormat *format,
                std::vector<ControlSubrange> *rates)
{
    const DescriptorView *general = ClassSpecific(alternate, uac::kAsGeneral);
    const DescriptorView *type = ClassSpecific(alternate, uac::kFormatType);
    if (!general || !type || type->Byte(3) != uac::kFormatTypeI)
        return false;
    if (audioClass2) {
        *format = {alternate.alternateSetting, general->Byte(10), type->Byte(4), type->Byte(5)};
    } else {
        *format = {alternate.alternateSetting, type->Byte(4), type->Byte(5), type->Byte(6)};
        const UCHAR count = type->Byte(7);
        if (count == 0)
            rates->push_back({Rate24(*type, 8), Rate24(*type, 11), 1});
        for (UCHAR i = 0; i < count; ++i) {
            const ULONG rate = Rate24(*type, 8 + 3 * i);
            rates->push_back({rate, rate, 0});
        }
    }
    return format->channels != 0 && format->subslotBytes != 0 && format->subslotBytes <= 4;
}

} // namespace

RawDescriptorModel::StreamingDescription
RawDescriptorModel::DescribeStreaming(const DescriptorSet &descriptors)
{
    StreamingDescription description;
    const ConfigurationLayout layout = ReadConfigurationLayout(descriptors.configuration);
    for (UCHAR number : layout.InterfaceNumbers()) {
        const bool isRender = description.paths.render.has_value();
        const bool isCapture = description.paths.capture.has_value();
        RenderPath render;
        CapturePath capture;
        std::optional<bool> input;
        for (const AlternateLayout &alternate : layout.alternates) {
            if (alternate.interfaceNumber != number || !IsStreamingInterface(alternate))
                continue;
            const EndpointLayout *data = DataEndpoint(alternate);
            AlternateFormat format;
            std::vector<ControlSubrange> rates;
            if (!data || !ReadFormat(alternate, layout.audioClass2, &format, &rates))
                continue;
            const bool in = (data->address & usb::kDirectionIn) != 0;
            if (!input) {
                input = in;
                render.interfaceNumber = capture.interfaceNumber = number;
                render.dataEndpoint = capture.dataEndpoint = data->address;
                const EndpointLayout *feedback =
                    FeedbackEndpoint(alternate, *data, layout.audioClass2);
                if (feedback) {
                    render.feedbackEndpoint = feedback->address;
                    render.feedbackFormat = feedback->maxPacketSize >= 4
                                                ? FeedbackFormat::Samples16_16
                                                : FeedbackFormat::Samples10_14;
                }
            }
            if (*input != in || data->address != render.dataEndpoint)
                continue;
            render.alternates.push_back(format);
            std::vector<ControlSubrange> &known = description.endpointRates[data->address];
            if (!layout.audioClass2)
                known.insert(known.end(), rates.begin(), rates.end());
        }
        if (input && !*input && !isRender)
            description.paths.render = render;
        if (input && *input && !isCapture) {
            capture.alternates = render.alternates;
            description.paths.capture = capture;
        }
    }
    if (!layout.audioClass2 && description.paths.render) {
        const std::vector<ControlSubrange> &rates =
            description.endpointRates[description.paths.render->dataEndpoint];
        bool has48k = false;
        for (const ControlSubrange &r : rates)
            has48k = has48k || (r.min <= 48000 && 48000 <= r.max);
        if (!rates.empty() && !has48k)
            description.initialRate = static_cast<ULONG>(rates.front().min);
    }
    if (layout.audioClass2)
        description.endpointRates.clear();
    return description;
}

RawDescriptorModel::RawDescriptorModel(host::UsbSpeed speed, const DescriptorSet &descriptors,
                                       const StreamingOptions &options)
    : RawDescriptorModel(speed, descriptors, options, DescribeStreaming(descriptors))
{
}

RawDescriptorModel::RawDescriptorModel(host::UsbSpeed speed, const DescriptorSet &descriptors,
                                       const StreamingOptions &options,
                                       const StreamingDescription &description)
    : StreamingAudioDeviceModel(speed, descriptors, description.paths, options,
                                description.initialRate)
{
    AddDefaultEntityControls();
    for (const auto &endpoint : description.endpointRates) {
        if (!endpoint.second.empty())
            AddEndpointFrequencyControl(endpoint.first, endpoint.second);
    }
}

void RawDescriptorModel::AddDefaultEntityControls()
{
    const bool audioClass2 = Layout().audioClass2;
    for (const DescriptorView &entity : Layout().audioControlEntities) {
        const UCHAR id = entity.Byte(3);
        switch (entity.Subtype()) {
        case uac::kClockSource:
            if (!audioClass2)
                break;
            AddClockFrequencyControl(id, kCommonRates, 48000);
            AddClockValidityControl(id);
            break;
        case uac::kClockSelector: {
            if (!audioClass2)
                break;
            const UCHAR pins = entity.Byte(4);
            AddEntityControl(id, uac::kClockSelectorControl, 0,
                             AudioControl(1, false, 1).AcceptWhen([pins](LONGLONG pin) {
                                 return pin >= 1 && pin <= pins;
                             }));
            break;
        }
        case uac::kFeatureUnit: {
            const size_t size = audioClass2 ? 4 : entity.Byte(5);
            const size_t first = audioClass2 ? 5 : 6;
            if (size == 0 || entity.length < first + 1)
                break;
            const size_t channels = (entity.length - first - 1) / size;
            for (size_t ch = 0; ch < channels && ch < 0xFF; ++ch) {
                ULONG bits = 0;
                for (size_t b = 0; b < size && b < 4; ++b)
                    bits |= static_cast<ULONG>(entity.Byte(first + size * ch + b)) << (8 * b);
                const bool mute = audioClass2 ? (bits & 0x3) != 0 : (bits & 0x1) != 0;
                const bool volume = audioClass2 ? (bits & 0xC) != 0 : (bits & 0x2) != 0;
                if (mute)
                    AddMuteControl(id, static_cast<UCHAR>(ch));
                if (volume)
                    AddVolumeControl(id, static_cast<UCHAR>(ch), kDefaultVolumeRange);
            }
            break;
        }
        default: break;
        }
    }
}

} // namespace devices

#include "audio_class_descriptors.h"

#include "usb_constants.h"

#include <stdexcept>

namespace devices {

namespace {

UCHAR Count(size_t n)
{
    if (n > 0xFF)
        throw std::length_error("more than 255 pins or channels");
    return static_cast<UCHAR>(n);
}

FieldWriter &Sources(FieldWriter &fields, const std::vector<UCHAR> &sources)
{
    fields.U8(Count(sources.size()));
    for (UCHAR source : sources)
        fields.U8(source);
    return fields;
}

Descriptor ClassInterface(const FieldWriter &fields) { return {uac::kCsInterface, fields.Data()}; }

} // namespace

namespace uac2 {

Descriptor ClockSource(UCHAR id, UCHAR attributes, UCHAR controls, UCHAR assocTerminal,
                       UCHAR iClockSource)
{
    FieldWriter f;
    f.U8(uac::kClockSource).U8(id).U8(attributes).U8(controls).U8(assocTerminal);
    f.U8(iClockSource);
    return ClassInterface(f);
}

Descriptor ClockSelector(UCHAR id, const std::vector<UCHAR> &sources, UCHAR controls,
                         UCHAR iClockSelector)
{
    FieldWriter f;
    f.U8(uac::kClockSelector).U8(id);
    Sources(f, sources).U8(controls).U8(iClockSelector);
    return ClassInterface(f);
}

Descriptor InputTerminal(UCHAR id, USHORT terminalType, UCHAR clockId, UCHAR channels,
                         ULONG channelConfig, USHORT controls, UCHAR assocTerminal, UCHAR iTerminal)
{
    FieldWriter f;
    f.U8(uac::kInputTerminal).U8(id).U16(terminalType).U8(assocTerminal).U8(clockId);
    f.U8(channels).U32(channelConfig).U8(0).U16(controls).U8(iTerminal);
    return ClassInterface(f);
}

Descriptor OutputTerminal(UCHAR id, USHORT terminalType, UCHAR sourceId, UCHAR clockId,
                          USHORT controls, UCHAR assocTerminal, UCHAR iTerminal)
{
    FieldWriter f;
    f.U8(uac::kOutputTerminal).U8(id).U16(terminalType).U8(assocTerminal).U8(sourceId);
    f.U8(clockId).U16(controls).U8(iTerminal);
    return ClassInterface(f);
}

Descriptor FeatureUnit(UCHAR id, UCHAR sourceId, const std::vector<ULONG> &channelControls,
                       UCHAR iFeature)
{
    FieldWriter f;
    f.U8(uac::kFeatureUnit).U8(id).U8(sourceId);
    for (ULONG controls : channelControls)
        f.U32(controls);
    f.U8(iFeature);
    return ClassInterface(f);
}

Descriptor MixerUnit(UCHAR id, const std::vector<UCHAR> &sources, UCHAR channels,
                     ULONG channelConfig, const Bytes &mixerControls, UCHAR controls)
{
    FieldWriter f;
    f.U8(uac::kMixerUnit).U8(id);
    Sources(f, sources).U8(channels).U32(channelConfig).U8(0).Append(mixerControls);
    f.U8(controls).U8(0);
    return ClassInterface(f);
}

Descriptor SelectorUnit(UCHAR id, const std::vector<UCHAR> &sources, UCHAR controls)
{
    FieldWriter f;
    f.U8(uac::kSelectorUnit).U8(id);
    Sources(f, sources).U8(controls).U8(0);
    return ClassInterface(f);
}

Descriptor ProcessingUnit(UCHAR id, USHORT processType, const std::vector<UCHAR> &sources,
                          UCHAR channels, ULONG channelConfig, USHORT controls)
{
    FieldWriter f;
    f.U8(uac::kUac2ProcessingUnit).U8(id).U16(processType);
    Sources(f, sources).U8(channels).U32(channelConfig).U8(0).U16(controls).U8(0);
    return ClassInterface(f);
}

Descriptor ExtensionUnit(UCHAR id, USHORT extensionCode, const std::vector<UCHAR> &sources,
                         UCHAR channels, ULONG channelConfig, UCHAR controls)
{
    FieldWriter f;
    f.U8(uac::kUac2ExtensionUnit).U8(id).U16(extensionCode);
    Sources(f, sources).U8(channels).U32(channelConfig).U8(0).U8(controls).U8(0);
    return ClassInterface(f);
}

Descriptor AsGeneral(UCHAR terminalLink, UCHAR formatType, ULONG formats, UCHAR channels,
                     ULONG channelConfig, UCHAR controls)
{
    FieldWriter f;
    f.U8(uac::kAsGeneral).U8(terminalLink).U8(controls).U8(formatType).U32(formats);
    f.U8(channels).U32(channelConfig).U8(0);
    return ClassInterface(f);
}

Descriptor FormatTypeI(UCHAR subslotSize, UCHAR bitResolution)
{
    FieldWriter f;
    f.U8(uac::kFormatType).U8(uac::kFormatTypeI).U8(subslotSize).U8(bitResolution);
    return ClassInterface(f);
}

Descriptor FormatTypeIII(UCHAR subslotSize, UCHAR bitResolution)
{
    FieldWriter f;
    f.U8(uac::kFormatType).U8(uac::kFormatTypeIII).U8(subslotSize).U8(bitResolution);
    return ClassInterface(f);
}

Descriptor IsoEndpoint(UCHAR attributes, UCHAR controls, UCHAR lockDelayUnits, USHORT lockDelay)
{
    FieldWriter f;
    f.U8(uac::kEpGeneral).U8(attributes).U8(controls).U8(lockDelayUnits).U16(lockDelay);
    return {uac::kCsEndpoint, f.Data()};
}

std::vector<ULONG> MasterMuteChannelVolume(UCHAR channels)
{
    std::vector<ULONG> controls(1u + channels, ControlBits(1, kControlReadWrite));
    controls[0] = ControlBits(0, kControlReadWrite);
    return controls;
}

AlternateSetting PcmSetting(UCHAR terminalLink, UCHAR channels, ULONG channelConfig,
                            UCHAR subslotBytes, UCHAR bitResolution, UCHAR interfaceClass)
{
    AlternateSetting setting = StreamingAlternate(AudioClass::Uac2, interfaceClass);
    setting.classSpecific = {
        AsGeneral(terminalLink, uac::kFormatTypeI, uac::kUac2FormatPcm, channels, channelConfig),
        FormatTypeI(subslotBytes, bitResolution),
    };
    return setting;
}

EndpointDescriptor DataEndpoint(UCHAR address, UCHAR attributes, USHORT maxPacketSize,
                                UCHAR interval)
{
    EndpointDescriptor endpoint;
    endpoint.address = address;
    endpoint.attributes = attributes;
    endpoint.maxPacketSize = maxPacketSize;
    endpoint.interval = interval;
    endpoint.classSpecific = {IsoEndpoint()};
    return endpoint;
}

EndpointDescriptor FeedbackEndpoint(UCHAR address, USHORT maxPacketSize, UCHAR interval)
{
    EndpointDescriptor endpoint;
    endpoint.address = address;
    endpoint.attributes = usb::kIsochronous | usb::kUsageFeedback;
    endpoint.maxPacketSize = maxPacketSize;
    endpoint.interval = interval;
    return endpoint;
}

} // namespace uac2

namespace uac1 {

Descriptor InputTerminal(UCHAR id, USHORT terminalType, UCHAR channels, USHORT channelConfig,
                         UCHAR assocTerminal, UCHAR iTerminal)
{
    FieldWriter f;
    f.U8(uac::kInputTerminal).U8(id).U16(terminalType).U8(assocTerminal).U8(channels);
    f.U16(channelConfig).U8(0).U8(iTerminal);
    return ClassInterface(f);
}

Descriptor OutputTerminal(UCHAR id, USHORT terminalType, UCHAR sourceId, UCHAR assocTerminal,
                          UCHAR iTerminal)
{
    FieldWriter f;
    f.U8(uac::kOutputTerminal).U8(id).U16(terminalType).U8(assocTerminal).U8(sourceId);
    f.U8(iTerminal);
    return ClassInterface(f);
}

Descriptor FeatureUnit(UCHAR id, UCHAR sourceId, UCHAR controlSize,
                       const std::vector<ULONG> &channelControls, UCHAR iFeature)
{
    FieldWriter f;
    f.U8(uac::kFeatureUnit).U8(id).U8(sourceId).U8(controlSize);
    for (ULONG controls : channelControls) {
        for (UCHAR i = 0; i < controlSize; ++i)
            f.U8(i < 4 ? controls >> (8 * i) : 0);
    }
    f.U8(iFeature);
    return ClassInterface(f);
}

Descriptor SelectorUnit(UCHAR id, const std::vector<UCHAR> &sources)
{
    FieldWriter f;
    f.U8(uac::kSelectorUnit).U8(id);
    Sources(f, sources).U8(0);
    return ClassInterface(f);
}

Descriptor ProcessingUnit(UCHAR id, USHORT processType, const std::vector<UCHAR> &sources,
                          UCHAR channels, USHORT channelConfig)
{
    FieldWriter f;
    f.U8(uac::kUac1ProcessingUnit).U8(id).U16(processType);
    // bControlSize 1 with bmControls bit 0 (enable) set, no process-specific fields.
    Sources(f, sources).U8(channels).U16(channelConfig).U8(0).U8(1).U8(0x01).U8(0);
    return ClassInterface(f);
}

Descriptor ExtensionUnit(UCHAR id, USHORT extensionCode, const std::vector<UCHAR> &sources,
                         UCHAR channels, USHORT channelConfig)
{
    FieldWriter f;
    f.U8(uac::kUac1ExtensionUnit).U8(id).U16(extensionCode);
    Sources(f, sources).U8(channels).U16(channelConfig).U8(0).U8(1).U8(0x01).U8(0);
    return ClassInterface(f);
}

Descriptor AsGeneral(UCHAR terminalLink, UCHAR delay, USHORT formatTag)
{
    FieldWriter f;
    f.U8(uac::kAsGeneral).U8(terminalLink).U8(delay).U16(formatTag);
    return ClassInterface(f);
}

Descriptor FormatTypeI(UCHAR channels, UCHAR subframeSize, UCHAR bitResolution,
                       const std::vector<ULONG> &rates)
{
    FieldWriter f;
    f.U8(uac::kFormatType).U8(uac::kFormatTypeI).U8(channels).U8(subframeSize);
    f.U8(bitResolution).U8(Count(rates.size()));
    for (ULONG rate : rates)
        f.U24(rate);
    return ClassInterface(f);
}

Descriptor FormatTypeIContinuous(UCHAR channels, UCHAR subframeSize, UCHAR bitResolution,
                                 ULONG lowerRate, ULONG upperRate)
{
    FieldWriter f;
    f.U8(uac::kFormatType).U8(uac::kFormatTypeI).U8(channels).U8(subframeSize);
    f.U8(bitResolution).U8(0).U24(lowerRate).U24(upperRate);
    return ClassInterface(f);
}

Descriptor IsoEndpoint(UCHAR attributes, UCHAR lockDelayUnits, USHORT lockDelay)
{
    FieldWriter f;
    f.U8(uac::kEpGeneral).U8(attributes).U8(lockDelayUnits).U16(lockDelay);
    return {uac::kCsEndpoint, f.Data()};
}

AlternateSetting PcmSetting(UCHAR terminalLink, UCHAR channels, UCHAR subframeSize,
                            UCHAR bitResolution, const std::vector<ULONG> &rates)
{
    AlternateSetting setting = StreamingAlternate(AudioClass::Uac1);
    setting.classSpecific = {
        AsGeneral(terminalLink, 1, uac::kUac1FormatTagPcm),
        FormatTypeI(channels, subframeSize, bitResolution, rates),
    };
    return setting;
}

EndpointDescriptor DataEndpoint(UCHAR address, UCHAR attributes, USHORT maxPacketSize,
                                UCHAR synchAddress, UCHAR endpointControls)
{
    EndpointDescriptor endpoint;
    endpoint.address = address;
    endpoint.attributes = attributes;
    endpoint.maxPacketSize = maxPacketSize;
    endpoint.interval = 1;
    endpoint.audioClass1 = true;
    endpoint.synchAddress = synchAddress;
    endpoint.classSpecific = {IsoEndpoint(endpointControls)};
    return endpoint;
}

EndpointDescriptor SynchEndpoint(UCHAR address, UCHAR refresh)
{
    EndpointDescriptor endpoint;
    endpoint.address = address;
    endpoint.attributes = usb::kIsochronous;
    endpoint.maxPacketSize = 3;
    endpoint.interval = 1;
    endpoint.audioClass1 = true;
    endpoint.refresh = refresh;
    return endpoint;
}

} // namespace uac1

USHORT MaxPacketBytes(ULONG maxRate, ULONG intervalsPerSecond, UCHAR channels, UCHAR subslotBytes)
{
    const ULONG frames = (maxRate + intervalsPerSecond - 1) / intervalsPerSecond + 1;
    return static_cast<USHORT>(frames * channels * subslotBytes);
}

} // namespace devices

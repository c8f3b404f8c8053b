// Class-specific audio descriptors (USB Audio Class 1.0 and 2.0) from typed fields, in the
// layouts of the two standards. Each returns a Descriptor whose bLength the builder
// computes; channel and pin counts are taken from the vectors given.
#pragma once

#include "descriptor_builder.h"

namespace devices {

namespace uac2 {

// bmAttributes of a clock source: bits 1..0 type, bit 2 synchronised to SOF.
constexpr UCHAR kClockInternalProgrammable = 0x03;
// A clock control pair (bits 2n+1..2n): 1 = read only, 3 = read/write.
constexpr ULONG kControlReadOnly = 1;
constexpr ULONG kControlReadWrite = 3;
constexpr ULONG ControlBits(unsigned index, ULONG access) { return access << (2 * index); }
// A programmable clock whose validity can be read: frequency read/write, validity read only.
constexpr UCHAR kProgrammableClockControls =
    static_cast<UCHAR>(ControlBits(0, kControlReadWrite) | ControlBits(1, kControlReadOnly));
// Feature unit bmaControls: mute on the master channel, volume on each of `channels`.
std::vector<ULONG> MasterMuteChannelVolume(UCHAR channels);

Descriptor ClockSource(UCHAR id, UCHAR attributes, UCHAR controls, UCHAR assocTerminal = 0,
                       UCHAR iClockSource = 0);
Descriptor ClockSelector(UCHAR id, const std::vector<UCHAR> &sources, UCHAR controls,
                         UCHAR iClockSelector = 0);
Descriptor InputTerminal(UCHAR id, USHORT terminalType, UCHAR clockId, UCHAR channels,
                         ULONG channelConfig, USHORT controls = 0, UCHAR assocTerminal = 0,
                         UCHAR iTerminal = 0);
Descriptor OutputTerminal(UCHAR id, USHORT terminalType, UCHAR sourceId, UCHAR clockId,
                          USHORT controls = 0, UCHAR assocTerminal = 0, UCHAR iTerminal = 0);
// channelControls[0] is the master channel; the unit has channelControls.size() - 1 channels.
Descriptor FeatureUnit(UCHAR id, UCHAR sourceId, const std::vector<ULONG> &channelControls,
                       UCHAR iFeature = 0);
// mixerControls is the bmMixerControls bit map (inputs x outputs bits, rounded up to bytes).
Descriptor MixerUnit(UCHAR id, const std::vector<UCHAR> &sources, UCHAR channels,
                     ULONG channelConfig, const Bytes &mixerControls, UCHAR controls = 0);
Descriptor SelectorUnit(UCHAR id, const std::vector<UCHAR> &sources, UCHAR controls = 0);
Descriptor ProcessingUnit(UCHAR id, USHORT processType, const std::vector<UCHAR> &sources,
                          UCHAR channels, ULONG channelConfig, USHORT controls = 0);
Descriptor ExtensionUnit(UCHAR id, USHORT extensionCode, const std::vector<UCHAR> &sources,
                         UCHAR channels, ULONG channelConfig, UCHAR controls = 0);

Descriptor AsGeneral(UCHAR terminalLink, UCHAR formatType, ULONG formats, UCHAR channels,
                     ULONG channelConfig, UCHAR controls = 0);
Descriptor FormatTypeI(UCHAR subslotSize, UCHAR bitResolution);
Descriptor FormatTypeIII(UCHAR subslotSize, UCHAR bitResolution);
Descriptor IsoEndpoint(UCHAR attributes = 0, UCHAR controls = 0, UCHAR lockDelayUnits = 0,
                       USHORT lockDelay = 0);

// Building blocks: a Type I PCM streaming setting (AS_GENERAL and FORMAT_TYPE, no endpoints
// yet), an isochronous data endpoint with its EP_GENERAL, and an explicit feedback endpoint.
AlternateSetting PcmSetting(UCHAR terminalLink, UCHAR channels, ULONG channelConfig,
                            UCHAR subslotBytes, UCHAR bitResolution, UCHAR interfaceClass = 0x01);
EndpointDescriptor DataEndpoint(UCHAR address, UCHAR attributes, USHORT maxPacketSize,
                                UCHAR interval = 1);
EndpointDescriptor FeedbackEndpoint(UCHAR address, USHORT maxPacketSize, UCHAR interval);

} // namespace uac2

namespace uac1 {

// Feature unit control bits (bmaControls): bit 0 mute, bit 1 volume.
constexpr ULONG kMuteBit = 0x01;
constexpr ULONG kVolumeBit = 0x02;
// EP_GENERAL bmAttributes bit 0: the endpoint has a sampling frequency control.
constexpr UCHAR kEndpointSamplingFrequency = 0x01;

Descriptor InputTerminal(UCHAR id, USHORT terminalType, UCHAR channels, USHORT channelConfig,
                         UCHAR assocTerminal = 0, UCHAR iTerminal = 0);
Descriptor OutputTerminal(UCHAR id, USHORT terminalType, UCHAR sourceId, UCHAR assocTerminal = 0,
                          UCHAR iTerminal = 0);
// controlSize bytes per channel; channelControls[0] is the master channel.
Descriptor FeatureUnit(UCHAR id, UCHAR sourceId, UCHAR controlSize,
                       const std::vector<ULONG> &channelControls, UCHAR iFeature = 0);
Descriptor SelectorUnit(UCHAR id, const std::vector<UCHAR> &sources);
Descriptor ProcessingUnit(UCHAR id, USHORT processType, const std::vector<UCHAR> &sources,
                          UCHAR channels, USHORT channelConfig);
Descriptor ExtensionUnit(UCHAR id, USHORT extensionCode, const std::vector<UCHAR> &sources,
                         UCHAR channels, USHORT channelConfig);

Descriptor AsGeneral(UCHAR terminalLink, UCHAR delay, USHORT formatTag);
// A discrete list of sampling frequencies.
Descriptor FormatTypeI(UCHAR channels, UCHAR subframeSize, UCHAR bitResolution,
                       const std::vector<ULONG> &rates);
// A continuous range of sampling frequencies.
Descriptor FormatTypeIContinuous(UCHAR channels, UCHAR subframeSize, UCHAR bitResolution,
                                 ULONG lowerRate, ULONG upperRate);
Descriptor IsoEndpoint(UCHAR attributes, UCHAR lockDelayUnits = 0, USHORT lockDelay = 0);

// Building blocks: a Type I PCM streaming setting with a discrete rate list, a 9-byte data
// endpoint naming its synch endpoint, and the synch endpoint (3-byte 10.14 feedback every
// 2^refresh ms).
AlternateSetting PcmSetting(UCHAR terminalLink, UCHAR channels, UCHAR subframeSize,
                            UCHAR bitResolution, const std::vector<ULONG> &rates);
EndpointDescriptor DataEndpoint(UCHAR address, UCHAR attributes, USHORT maxPacketSize,
                                UCHAR synchAddress, UCHAR endpointControls);
EndpointDescriptor SynchEndpoint(UCHAR address, UCHAR refresh);

} // namespace uac1

// The largest packet of an endpoint that carries up to maxRate frames a second in
// intervalsPerSecond packets, with one frame to spare for rate steering.
USHORT MaxPacketBytes(ULONG maxRate, ULONG intervalsPerSecond, UCHAR channels, UCHAR subslotBytes);

} // namespace devices

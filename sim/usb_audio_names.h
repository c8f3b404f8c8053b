// Names of the numbers in USB and USB Audio Class descriptors, and the texts of endpoint
// packet sizes and timing, for quen-sim's reports.
#pragma once

#include <ntdef.h>

#include <string>

namespace sim {

// "USB streaming", "speaker", "line connector"... or "terminal type 0xNNNN".
std::string TerminalTypeName(USHORT type);
// The interface (or device) class, with the audio subclasses: "audio control", "vendor"...
std::string InterfaceClassName(UCHAR interfaceClass, UCHAR subClass);
// Feature-unit control n (bit n in Audio Class 1.0, bit pair n in 2.0): "mute", "volume"...
const char *FeatureControlName(unsigned index);
// Endpoint bmAttributes: "isochronous", "asynchronous", "feedback"...
const char *TransferTypeName(UCHAR attributes);
const char *SyncTypeName(UCHAR attributes);
const char *UsageTypeName(UCHAR attributes);
// Audio Class 2.0 bmFormats of a Type I format ("PCM", "raw data (DSD)"...), joined with '+'.
std::string Class2FormatsName(ULONG formats);
// Audio Class 1.0 wFormatTag.
std::string Class1FormatTagName(USHORT tag);
// Audio Class 2.0 clock source type from bmAttributes.
const char *ClockTypeName(UCHAR attributes);

// wMaxPacketSize: "208 bytes", or "3 x 1024 bytes (high bandwidth, 3072 per microframe)".
std::string MaxPacketText(USHORT maxPacketSize);
// The time between service opportunities of a periodic endpoint ("every 125 us (bInterval 1)"),
// or bInterval alone for the others.
std::string EndpointIntervalText(UCHAR attributes, UCHAR interval, bool highSpeed);

} // namespace sim

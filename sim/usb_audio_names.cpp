#include "usb_audio_names.h"

#include <cstdio>

namespace sim {

namespace {

std::string Hex(const char *what, ULONG value, int digits)
{
    char text[48];
    std::snprintf(text, sizeof(text), "%s 0x%0*X", what, digits, static_cast<unsigned>(value));
    return text;
}

struct NamedValue {
    USHORT value;
    const char *name;
};

// Terminal types of the USB Audio Terminal Types document, both class versions.
const NamedValue kTerminalTypes[] = {
    {0x0100, "USB undefined"},
    {0x0101, "USB streaming"},
    {0x01FF, "USB vendor specific"},
    {0x0200, "input undefined"},
    {0x0201, "microphone"},
    {0x0202, "desktop microphone"},
    {0x0203, "personal microphone"},
    {0x0204, "omni-directional microphone"},
    {0x0205, "microphone array"},
    {0x0206, "processing microphone array"},
    {0x0300, "output undefined"},
    {0x0301, "speaker"},
    {0x0302, "headphones"},
    {0x0303, "head mounted display audio"},
    {0x0304, "desktop speaker"},
    {0x0305, "room speaker"},
    {0x0306, "communication speaker"},
    {0x0307, "low frequency effects speaker"},
    {0x0400, "bi-directional undefined"},
    {0x0401, "handset"},
    {0x0402, "headset"},
    {0x0403, "speakerphone"},
    {0x0404, "echo-suppressing speakerphone"},
    {0x0405, "echo-cancelling speakerphone"},
    {0x0500, "telephony undefined"},
    {0x0501, "phone line"},
    {0x0502, "telephone"},
    {0x0503, "down line phone"},
    {0x0600, "external undefined"},
    {0x0601, "analog connector"},
    {0x0602, "digital audio interface"},
    {0x0603, "line connector"},
    {0x0604, "legacy audio connector"},
    {0x0605, "S/PDIF interface"},
    {0x0606, "1394 DA stream"},
    {0x0607, "1394 DV stream soundtrack"},
    {0x0608, "ADAT lightpipe"},
    {0x0609, "TDIF"},
    {0x060A, "MADI"},
    {0x0700, "embedded undefined"},
    {0x0701, "level calibration noise source"},
    {0x0702, "equalization noise"},
    {0x0703, "CD player"},
    {0x0704, "DAT"},
    {0x0705, "DCC"},
    {0x0706, "MiniDisk"},
    {0x0707, "analog tape"},
    {0x0708, "phonograph"},
    {0x0709, "VCR audio"},
    {0x070A, "video disc audio"},
    {0x070B, "DVD audio"},
    {0x070C, "TV tuner audio"},
    {0x070D, "satellite receiver audio"},
    {0x070E, "cable tuner audio"},
    {0x070F, "DSS audio"},
    {0x0710, "radio receiver"},
    {0x0711, "radio transmitter"},
    {0x0712, "multi-track recorder"},
    {0x0713, "synthesizer"},
};

const char *const kFeatureControls[] = {
    "mute",           "volume",     "bass",       "mid",
    "treble",         "graphic EQ", "AGC",        "delay",
    "bass boost",     "loudness",   "input gain", "input gain pad",
    "phase inverter", "underflow",  "overflow",   "high-pass filter",
};

} // namespace

std::string TerminalTypeName(USHORT type)
{
    for (const NamedValue &known : kTerminalTypes)
        if (known.value == type)
            return known.name;
    return Hex("terminal type", type, 4);
}

std::string InterfaceClassName(UCHAR interfaceClass, UCHAR subClass)
{
    switch (interfaceClass) {
    case 0x00: return "defined per interface";
    case 0x01:
        switch (subClass) {
        case 0x01: return "audio control";
        case 0x02: return "audio streaming";
        case 0x03: return "MIDI streaming";
        default: return Hex("audio, subclass", subClass, 2);
        }
    case 0x02: return "communications";
    case 0x03: return "HID";
    case 0x08: return "mass storage";
    case 0x09: return "hub";
    case 0xEF: return "miscellaneous";
    case 0xFE: return subClass == 0x01 ? "DFU" : "application specific";
    case 0xFF: return "vendor specific";
    default: return Hex("class", interfaceClass, 2);
    }
}

const char *FeatureControlName(unsigned index)
{
    return index < sizeof(kFeatureControls) / sizeof(kFeatureControls[0]) ? kFeatureControls[index]
                                                                          : "reserved";
}

const char *TransferTypeName(UCHAR attributes)
{
    static const char *const names[] = {"control", "isochronous", "bulk", "interrupt"};
    return names[attributes & 0x03];
}

const char *SyncTypeName(UCHAR attributes)
{
    static const char *const names[] = {"no sync", "asynchronous", "adaptive", "synchronous"};
    return names[(attributes >> 2) & 0x03];
}

const char *UsageTypeName(UCHAR attributes)
{
    static const char *const names[] = {"data", "feedback", "implicit feedback data", "reserved"};
    return names[(attributes >> 4) & 0x03];
}

std::string Class2FormatsName(ULONG formats)
{
    static const char *const names[] = {"PCM", "PCM8", "IEEE float", "A-law", "mu-law"};
    std::string text;
    for (unsigned bit = 0; bit < 32; ++bit) {
        if ((formats & (1UL << bit)) == 0)
            continue;
        std::string name = bit < 5     ? names[bit]
                           : bit == 31 ? "raw data (DSD)"
                                       : "bit " + std::to_string(bit);
        text += (text.empty() ? "" : "+") + name;
    }
    return text.empty() ? "none" : text;
}

std::string Class1FormatTagName(USHORT tag)
{
    switch (tag) {
    case 0x0001: return "PCM";
    case 0x0002: return "PCM8";
    case 0x0003: return "IEEE float";
    case 0x0004: return "A-law";
    case 0x0005: return "mu-law";
    case 0x1001: return "MPEG";
    case 0x1002: return "AC-3";
    default: return Hex("format tag", tag, 4);
    }
}

const char *ClockTypeName(UCHAR attributes)
{
    static const char *const names[] = {"external", "internal fixed", "internal variable",
                                        "internal programmable"};
    return names[attributes & 0x03];
}

std::string MaxPacketText(USHORT maxPacketSize)
{
    const unsigned bytes = maxPacketSize & 0x7FF;
    const unsigned transactions = ((maxPacketSize >> 11) & 3) + 1;
    char text[80];
    if (transactions > 1)
        std::snprintf(text, sizeof(text), "%u x %u bytes (high bandwidth, %u per microframe)",
                      transactions, bytes, transactions * bytes);
    else
        std::snprintf(text, sizeof(text), "%u bytes", bytes);
    return text;
}

std::string EndpointIntervalText(UCHAR attributes, UCHAR interval, bool highSpeed)
{
    const UCHAR type = attributes & 0x03;
    const bool isochronous = type == 0x01;
    const bool interrupt = type == 0x03;
    char text[64];
    if (isochronous || (interrupt && highSpeed)) {
        if (interval < 1 || interval > 16) {
            std::snprintf(text, sizeof(text), "bInterval %u (invalid: must be 1 to 16)", interval);
            return text;
        }
        // 2^(bInterval-1) microframes at high speed, frames at full speed.
        const double us = double(1UL << (interval - 1)) * (highSpeed ? 125.0 : 1000.0);
        if (us < 1000)
            std::snprintf(text, sizeof(text), "every %g us (bInterval %u)", us, interval);
        else
            std::snprintf(text, sizeof(text), "every %g ms (bInterval %u)", us / 1000, interval);
    } else if (interrupt) {
        std::snprintf(text, sizeof(text), "every %u ms (bInterval %u)", interval, interval);
    } else {
        std::snprintf(text, sizeof(text), "bInterval %u", interval);
    }
    return text;
}

} // namespace sim

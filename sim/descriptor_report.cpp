#include "descriptor_report.h"

#include "ntstatus_text.h"
#include "report_line.h"
#include "usb_audio_names.h"

#include "devices/descriptor_walker.h"
#include "devices/usb_constants.h"

#include <cstdarg>
#include <set>
#include <string>

namespace sim {

namespace {

namespace usb = devices::usb;
namespace uac = devices::uac;
using devices::DescriptorView;

constexpr UCHAR kClassAudio2Protocol = 0x20;

// Audio Class 2.0 control-interface subtypes that 1.0 numbers differently or lacks.
constexpr UCHAR kUac2EffectUnit = 0x07;
constexpr UCHAR kUac2ProcessingUnit = 0x08;
constexpr UCHAR kUac2ExtensionUnit = 0x09;
constexpr UCHAR kUac2ClockSource = 0x0A;
constexpr UCHAR kUac2ClockSelector = 0x0B;
constexpr UCHAR kUac2ClockMultiplier = 0x0C;
constexpr UCHAR kUac2SampleRateConverter = 0x0D;
constexpr UCHAR kUac1ProcessingUnit = 0x07;
constexpr UCHAR kUac1ExtensionUnit = 0x08;
// Streaming-interface subtypes.
constexpr UCHAR kAsGeneral = 0x01;
constexpr UCHAR kFormatType = 0x02;
constexpr UCHAR kFormatTypeI = 0x01;
constexpr UCHAR kFormatTypeII = 0x02;
constexpr UCHAR kFormatTypeIII = 0x03;

ULONG U24(const DescriptorView &d, size_t i) { return d.Word(i) | ULONG(d.Byte(i + 2)) << 16; }
ULONG U32(const DescriptorView &d, size_t i) { return d.Word(i) | d.Word(i + 2) << 16; }

std::string Bcd(ULONG value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%X.%02X", unsigned(value >> 8), unsigned(value & 0xFF));
    return text;
}

std::string Hz(ULONG rate)
{
    char text[24];
    if (rate % 1000 == 0)
        std::snprintf(text, sizeof(text), "%u kHz", static_cast<unsigned>(rate / 1000));
    else
        std::snprintf(text, sizeof(text), "%.1f kHz", rate / 1000.0);
    return text;
}

class DescriptorPrinter {
public:
    DescriptorPrinter(StackDescriptorReader &reader, bool highSpeed, std::FILE *out)
        : reader_(reader), highSpeed_(highSpeed), out_(out)
    {
    }

    bool Run();

private:
    void Line(int indent, const char *format, ...) __attribute__((format(printf, 3, 4)))
    {
        va_list args;
        va_start(args, format);
        ReportLineV(out_, indent, format, args);
        va_end(args);
    }
    // ` "text"` for a string index, nothing for index 0.
    std::string Str(UCHAR index)
    {
        if (index == 0)
            return "";
        return " \"" + reader_.String(index) + "\"";
    }
    // False, with a note, when d is shorter than the layout needs.
    bool Fits(const DescriptorView &d, size_t need, int indent)
    {
        if (d.length >= need)
            return true;
        Line(indent, "!! only %u bytes, the layout needs %zu: fields not shown", d.length, need);
        Raw(d, indent);
        return false;
    }
    void Raw(const DescriptorView &d, int indent);

    void PrintDevice(const devices::Bytes &bytes);
    void PrintConfiguration(const devices::Bytes &bytes, ULONG announced);
    void PrintInterface(const DescriptorView &d);
    void PrintAssociation(const DescriptorView &d);
    void PrintEndpoint(const DescriptorView &d);
    void PrintClassEndpoint(const DescriptorView &d);
    void PrintControl(const DescriptorView &d);
    void PrintControl1(const DescriptorView &d);
    void PrintControl2(const DescriptorView &d);
    void PrintStreaming(const DescriptorView &d);
    void PrintFeatureUnit(const DescriptorView &d, bool class2);
    void PrintSources(const DescriptorView &d, size_t countAt, const char *what, int indent);
    // Audio Class 2.0 bmControls pairs as "name (read-only)"; names index the pairs.
    std::string Controls2(ULONG bits, const std::vector<const char *> &names);

    StackDescriptorReader &reader_;
    const bool highSpeed_;
    std::FILE *out_;

    // The interface the walk is in.
    UCHAR interfaceClass_ = 0;
    UCHAR interfaceSubClass_ = 0;
    bool class2_ = false;
    std::set<UCHAR> synchEndpoints_; // named by an Audio Class 1.0 bSynchAddress
};

void DescriptorPrinter::Raw(const DescriptorView &d, int indent)
{
    std::string hex;
    char byte[4];
    for (size_t i = 0; i < d.length; ++i) {
        std::snprintf(byte, sizeof(byte), "%02X ", d.data[i]);
        hex += byte;
    }
    if (!hex.empty())
        hex.pop_back();
    Line(indent, "bytes: %s", hex.c_str());
}

std::string DescriptorPrinter::Controls2(ULONG bits, const std::vector<const char *> &names)
{
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        const ULONG access = (bits >> (2 * i)) & 3;
        if (access == 0)
            continue;
        text += (text.empty() ? "" : ", ") + std::string(names[i]) +
                (access == 1   ? " (read-only)"
                 : access == 3 ? " (read/write)"
                               : " (invalid 10b)");
    }
    return text.empty() ? "none" : text;
}

void DescriptorPrinter::PrintDevice(const devices::Bytes &bytes)
{
    const DescriptorView d{0, UCHAR(bytes.size()), UCHAR(bytes.empty() ? 0 : bytes[1]),
                           bytes.data()};
    Line(1, "device descriptor (%zu bytes)", bytes.size());
    if (!Fits(d, 18, 2))
        return;
    Line(2, "bcdUSB %s, class %s (0x%02X/0x%02X/0x%02X), endpoint 0 max packet %u",
         Bcd(d.Word(2)).c_str(), InterfaceClassName(d.Byte(4), d.Byte(5)).c_str(), d.Byte(4),
         d.Byte(5), d.Byte(6), d.Byte(7));
    Line(2, "idVendor 0x%04X, idProduct 0x%04X, bcdDevice %s, %u configuration(s)", d.Word(8),
         d.Word(10), Bcd(d.Word(12)).c_str(), d.Byte(17));
    Line(2, "iManufacturer %u%s, iProduct %u%s, iSerialNumber %u%s", d.Byte(14),
         Str(d.Byte(14)).c_str(), d.Byte(15), Str(d.Byte(15)).c_str(), d.Byte(16),
         Str(d.Byte(16)).c_str());
}

void DescriptorPrinter::PrintInterface(const DescriptorView &d)
{
    interfaceClass_ = d.Byte(5);
    interfaceSubClass_ = d.Byte(6);
    // The streaming interfaces follow the control interface's version; 2.0 marks both.
    if (interfaceClass_ == uac::kAudioClass || interfaceClass_ == uac::kVendorClass)
        class2_ =
            d.Byte(7) == kClassAudio2Protocol || (interfaceClass_ == uac::kVendorClass && class2_);
    std::string kind = InterfaceClassName(d.Byte(5), d.Byte(6));
    if (d.Byte(5) == uac::kAudioClass)
        kind += d.Byte(7) == kClassAudio2Protocol ? " (class 2.0)" : " (class 1.0)";
    else if (d.Byte(5) == uac::kVendorClass &&
             (d.Byte(6) == uac::kSubclassAudioControl || d.Byte(6) == uac::kSubclassAudioStreaming))
        kind += ", laid out as " + InterfaceClassName(uac::kAudioClass, d.Byte(6));
    Line(1, "interface %u alternate %u: %s, %u endpoint(s)%s", d.Byte(2), d.Byte(3), kind.c_str(),
         d.Byte(4), Str(d.Byte(8)).c_str());
}

void DescriptorPrinter::PrintAssociation(const DescriptorView &d)
{
    if (!Fits(d, 8, 1))
        return;
    // An audio function's subclass is undefined; its protocol gives the class version.
    const std::string function =
        d.Byte(4) == uac::kAudioClass
            ? std::string("audio") + (d.Byte(6) == kClassAudio2Protocol ? " (class 2.0)" : "")
            : InterfaceClassName(d.Byte(4), d.Byte(5));
    Line(1, "interface association: interfaces %u to %u, %s function%s", d.Byte(2),
         d.Byte(2) + d.Byte(3) - 1, function.c_str(), Str(d.Byte(7)).c_str());
}

void DescriptorPrinter::PrintEndpoint(const DescriptorView &d)
{
    if (!Fits(d, 7, 2))
        return;
    const UCHAR address = d.Byte(2);
    const UCHAR attributes = d.Byte(3);
    std::string role;
    if ((attributes & usb::kTransferTypeMask) == usb::kIsochronous) {
        role = std::string(", ") + SyncTypeName(attributes) + ", " + UsageTypeName(attributes);
        if (synchEndpoints_.count(address) != 0 && (attributes & usb::kUsageMask) == 0)
            role += " (synch endpoint: feedback)";
    }
    Line(2, "endpoint 0x%02X %s %u: %s%s, max packet %s, %s", address,
         address & 0x80 ? "IN" : "OUT", address & 0x0F, TransferTypeName(attributes), role.c_str(),
         MaxPacketText(USHORT(d.Word(4))).c_str(),
         EndpointIntervalText(attributes, d.Byte(6), highSpeed_).c_str());
    // Audio Class 1.0 endpoints are 9 bytes: bRefresh matters on a synch endpoint, and a data
    // endpoint names its synch endpoint in bSynchAddress.
    if (d.length >= 9 && d.Byte(7) != 0)
        Line(3, "bRefresh %u: feedback every %u ms", d.Byte(7),
             d.Byte(7) <= 9 ? 1u << d.Byte(7) : 0u);
    if (d.length >= 9 && d.Byte(8) != 0)
        Line(3, "bSynchAddress 0x%02X: its synch endpoint", d.Byte(8));
}

void DescriptorPrinter::PrintClassEndpoint(const DescriptorView &d)
{
    if (d.Subtype() != 0x01) {
        Line(3, "class-specific endpoint descriptor, subtype 0x%02X", d.Subtype());
        Raw(d, 4);
        return;
    }
    if (class2_) {
        if (!Fits(d, 8, 3))
            return;
        Line(3, "EP_GENERAL (2.0): %s, controls: %s, lock delay %u %s",
             d.Byte(3) & 0x80 ? "max packets only" : "any packet size",
             Controls2(d.Byte(4), {"pitch", "data overrun", "data underrun"}).c_str(), d.Word(6),
             d.Byte(5) == 1   ? "ms"
             : d.Byte(5) == 2 ? "decoded PCM samples"
                              : "(units undefined)");
    } else {
        if (!Fits(d, 7, 3))
            return;
        Line(3, "EP_GENERAL (1.0): %s%s%s, lock delay %u %s",
             d.Byte(3) & 0x01 ? "sampling frequency control, " : "",
             d.Byte(3) & 0x02 ? "pitch control, " : "",
             d.Byte(3) & 0x80 ? "max packets only" : "any packet size", d.Word(5),
             d.Byte(4) == 1   ? "ms"
             : d.Byte(4) == 2 ? "decoded PCM samples"
                              : "(units undefined)");
    }
}

void DescriptorPrinter::PrintSources(const DescriptorView &d, size_t countAt, const char *what,
                                     int indent)
{
    const size_t count = d.Byte(countAt);
    if (d.length < countAt + 1 + count) {
        Line(indent, "!! %zu %s announced, the descriptor holds %d", count, what,
             int(d.length) - int(countAt) - 1);
        return;
    }
    std::string list;
    for (size_t i = 0; i < count; ++i)
        list += (i == 0 ? "" : ", ") + std::to_string(d.Byte(countAt + 1 + i));
    Line(indent, "%s: %s", what, list.empty() ? "none" : list.c_str());
}

void DescriptorPrinter::PrintFeatureUnit(const DescriptorView &d, bool class2)
{
    const size_t controlSize = class2 ? 4 : d.Byte(5);
    const size_t first = class2 ? 5 : 6;
    // bLength covers the header, one bmaControls per channel (master included) and iFeature.
    if (!Fits(d, first + 1, 2))
        return;
    if (controlSize == 0) {
        Line(2, "FEATURE_UNIT %u <- %u: !! bControlSize 0", d.Byte(3), d.Byte(4));
        return;
    }
    const size_t bytes = d.length - first - 1;
    const size_t channels = bytes / controlSize;
    Line(2, "FEATURE_UNIT %u <- %u, master + %zu channel(s)%s%s", d.Byte(3), d.Byte(4),
         channels > 0 ? channels - 1 : 0,
         bytes % controlSize != 0 ? " (!! bLength leaves a partial channel)" : "",
         Str(d.Byte(d.length - 1)).c_str());
    for (size_t ch = 0; ch < channels; ++ch) {
        const size_t at = first + ch * controlSize;
        ULONG bits = 0;
        for (size_t i = 0; i < controlSize && i < 4; ++i)
            bits |= ULONG(d.Byte(at + i)) << (8 * i);
        std::string text;
        if (class2) {
            std::vector<const char *> names;
            for (unsigned i = 0; i < 16; ++i)
                names.push_back(FeatureControlName(i));
            text = Controls2(bits, names);
        } else {
            for (unsigned i = 0; i < 8 * controlSize && i < 32; ++i)
                if (bits & (1UL << i))
                    text += (text.empty() ? "" : ", ") + std::string(FeatureControlName(i));
            if (text.empty())
                text = "none";
        }
        Line(3, "%s %zu: %s", ch == 0 ? "master " : "channel", ch, text.c_str());
    }
}

void DescriptorPrinter::PrintControl1(const DescriptorView &d)
{
    switch (d.Subtype()) {
    case uac::kHeader:
        if (!Fits(d, 8, 2))
            return;
        Line(2, "HEADER: bcdADC %s (Audio Class 1.0), wTotalLength %u", Bcd(d.Word(3)).c_str(),
             d.Word(5));
        PrintSources(d, 7, "streaming interfaces", 3);
        return;
    case uac::kInputTerminal:
        if (!Fits(d, 12, 2))
            return;
        Line(2, "INPUT_TERMINAL %u: %s, %u channel(s), wChannelConfig 0x%04X%s", d.Byte(3),
             TerminalTypeName(USHORT(d.Word(4))).c_str(), d.Byte(7), d.Word(8),
             Str(d.Byte(11)).c_str());
        return;
    case uac::kOutputTerminal:
        if (!Fits(d, 9, 2))
            return;
        Line(2, "OUTPUT_TERMINAL %u <- %u: %s%s", d.Byte(3), d.Byte(7),
             TerminalTypeName(USHORT(d.Word(4))).c_str(), Str(d.Byte(8)).c_str());
        return;
    case uac::kMixerUnit:
        Line(2, "MIXER_UNIT %u", d.Byte(3));
        PrintSources(d, 4, "sources", 3);
        return;
    case uac::kSelectorUnit:
        Line(2, "SELECTOR_UNIT %u", d.Byte(3));
        PrintSources(d, 4, "sources", 3);
        return;
    case uac::kFeatureUnit: PrintFeatureUnit(d, false); return;
    case kUac1ProcessingUnit:
    case kUac1ExtensionUnit:
        if (!Fits(d, 7, 2))
            return;
        Line(2, "%s %u: %s 0x%04X",
             d.Subtype() == kUac1ProcessingUnit ? "PROCESSING_UNIT" : "EXTENSION_UNIT", d.Byte(3),
             d.Subtype() == kUac1ProcessingUnit ? "process type" : "extension code", d.Word(4));
        PrintSources(d, 6, "sources", 3);
        return;
    default: Line(2, "audio control subtype 0x%02X (unknown in class 1.0)", d.Subtype()); Raw(d, 3);
    }
}

void DescriptorPrinter::PrintControl2(const DescriptorView &d)
{
    switch (d.Subtype()) {
    case uac::kHeader:
        if (!Fits(d, 9, 2))
            return;
        Line(2,
             "HEADER: bcdADC %s (Audio Class 2.0), category 0x%02X, wTotalLength %u, "
             "controls: %s",
             Bcd(d.Word(3)).c_str(), d.Byte(5), d.Word(6),
             Controls2(d.Byte(8), {"latency"}).c_str());
        return;
    case kUac2ClockSource:
        if (!Fits(d, 8, 2))
            return;
        Line(2, "CLOCK_SOURCE %u: %s%s, controls: %s%s", d.Byte(3), ClockTypeName(d.Byte(4)),
             d.Byte(4) & 0x04 ? ", synchronized to SOF" : "",
             Controls2(d.Byte(5), {"frequency", "validity"}).c_str(), Str(d.Byte(7)).c_str());
        return;
    case kUac2ClockSelector: {
        if (!Fits(d, 5, 2))
            return;
        const size_t pins = d.Byte(4);
        const bool whole = d.length >= 7 + pins;
        Line(2, "CLOCK_SELECTOR %u: %zu input(s), controls: %s%s", d.Byte(3), pins,
             whole ? Controls2(d.Byte(5 + pins), {"selector"}).c_str() : "?",
             whole ? Str(d.Byte(6 + pins)).c_str() : "");
        PrintSources(d, 4, "clock inputs", 3);
        return;
    }
    case kUac2ClockMultiplier:
        if (!Fits(d, 7, 2))
            return;
        Line(2, "CLOCK_MULTIPLIER %u <- clock %u", d.Byte(3), d.Byte(4));
        return;
    case uac::kInputTerminal:
        if (!Fits(d, 17, 2))
            return;
        Line(2, "INPUT_TERMINAL %u: %s, clock %u, %u channel(s), bmChannelConfig 0x%08X%s",
             d.Byte(3), TerminalTypeName(USHORT(d.Word(4))).c_str(), d.Byte(7), d.Byte(8),
             U32(d, 9), Str(d.Byte(16)).c_str());
        Line(3, "controls: %s",
             Controls2(d.Word(14), {"copy protect", "connector", "overload", "cluster", "underflow",
                                    "overflow"})
                 .c_str());
        return;
    case uac::kOutputTerminal:
        if (!Fits(d, 12, 2))
            return;
        Line(2, "OUTPUT_TERMINAL %u <- %u: %s, clock %u%s", d.Byte(3), d.Byte(7),
             TerminalTypeName(USHORT(d.Word(4))).c_str(), d.Byte(8), Str(d.Byte(11)).c_str());
        Line(
            3, "controls: %s",
            Controls2(d.Word(9), {"copy protect", "connector", "overload", "underflow", "overflow"})
                .c_str());
        return;
    case uac::kMixerUnit:
        Line(2, "MIXER_UNIT %u", d.Byte(3));
        PrintSources(d, 4, "sources", 3);
        return;
    case uac::kSelectorUnit:
        Line(2, "SELECTOR_UNIT %u", d.Byte(3));
        PrintSources(d, 4, "sources", 3);
        return;
    case uac::kFeatureUnit: PrintFeatureUnit(d, true); return;
    case kUac2EffectUnit:
        if (!Fits(d, 7, 2))
            return;
        Line(2, "EFFECT_UNIT %u <- %u: effect type 0x%04X", d.Byte(3), d.Byte(6), d.Word(4));
        return;
    case kUac2ProcessingUnit:
    case kUac2ExtensionUnit:
        if (!Fits(d, 7, 2))
            return;
        Line(2, "%s %u: %s 0x%04X",
             d.Subtype() == kUac2ProcessingUnit ? "PROCESSING_UNIT" : "EXTENSION_UNIT", d.Byte(3),
             d.Subtype() == kUac2ProcessingUnit ? "process type" : "extension code", d.Word(4));
        PrintSources(d, 6, "sources", 3);
        return;
    case kUac2SampleRateConverter:
        if (!Fits(d, 7, 2))
            return;
        Line(2, "SAMPLE_RATE_CONVERTER %u <- %u, clock in %u, clock out %u", d.Byte(3), d.Byte(4),
             d.Byte(5), d.Byte(6));
        return;
    default: Line(2, "audio control subtype 0x%02X (unknown in class 2.0)", d.Subtype()); Raw(d, 3);
    }
}

void DescriptorPrinter::PrintControl(const DescriptorView &d)
{
    if (d.length < 3) {
        Line(2, "!! class-specific descriptor of %u bytes has no subtype", d.length);
        return;
    }
    if (class2_)
        PrintControl2(d);
    else
        PrintControl1(d);
}

void DescriptorPrinter::PrintStreaming(const DescriptorView &d)
{
    if (d.Subtype() == kAsGeneral && class2_) {
        if (!Fits(d, 16, 2))
            return;
        // bmFormats bits name Type I formats; other types number theirs differently.
        char hex[16];
        std::snprintf(hex, sizeof(hex), "0x%08X", U32(d, 6));
        const std::string formats =
            d.Byte(5) == kFormatTypeI ? Class2FormatsName(U32(d, 6)) + " (" + hex + ")" : hex;
        Line(2,
             "AS_GENERAL (2.0): terminal %u, format type %u, formats %s, %u channel(s), "
             "bmChannelConfig 0x%08X",
             d.Byte(3), d.Byte(5), formats.c_str(), d.Byte(10), U32(d, 11));
    } else if (d.Subtype() == kAsGeneral) {
        if (!Fits(d, 7, 2))
            return;
        Line(2, "AS_GENERAL (1.0): terminal %u, delay %u frame(s), format %s", d.Byte(3), d.Byte(4),
             Class1FormatTagName(USHORT(d.Word(5))).c_str());
    } else if (d.Subtype() == kFormatType && class2_) {
        if (!Fits(d, 4, 2))
            return;
        const UCHAR type = d.Byte(3);
        if ((type == kFormatTypeI || type == kFormatTypeIII) && d.length >= 6)
            Line(2, "FORMAT_TYPE %s: subslot %u bytes, resolution %u bits",
                 type == kFormatTypeI ? "I" : "III", d.Byte(4), d.Byte(5));
        else if (type == kFormatTypeII && d.length >= 8)
            Line(2, "FORMAT_TYPE II: max bit rate %u kbit/s, %u slots per frame", d.Word(4),
                 d.Word(6));
        else
            Line(2, "FORMAT_TYPE %u (%u bytes)", type, d.length);
        Line(3, "rates: from the clock entity (RANGE request)");
    } else if (d.Subtype() == kFormatType) {
        if (!Fits(d, 8, 2))
            return;
        const UCHAR type = d.Byte(3);
        if (type != kFormatTypeI && type != kFormatTypeIII) {
            Line(2, "FORMAT_TYPE %u", type);
            Raw(d, 3);
            return;
        }
        Line(2, "FORMAT_TYPE %s: %u channel(s), subframe %u bytes, resolution %u bits",
             type == kFormatTypeI ? "I" : "III", d.Byte(4), d.Byte(5), d.Byte(6));
        const size_t count = d.Byte(7);
        std::string rates;
        const size_t listed = count == 0 ? 2 : count;
        if (d.length < 8 + 3 * listed) {
            Line(3, "!! %zu rate(s) announced, the descriptor holds %d", listed,
                 (int(d.length) - 8) / 3);
            return;
        }
        for (size_t i = 0; i < listed; ++i)
            rates += (i == 0 ? "" : count == 0 ? " to " : ", ") + Hz(U24(d, 8 + 3 * i));
        Line(3, "rates: %s%s", count == 0 ? "continuous " : "", rates.c_str());
    } else {
        Line(2, "audio streaming subtype 0x%02X", d.Subtype());
        Raw(d, 3);
    }
}

void DescriptorPrinter::PrintConfiguration(const devices::Bytes &bytes, ULONG announced)
{
    bool complete = false;
    const std::vector<DescriptorView> views = devices::WalkDescriptors(bytes, &complete);
    if (views.empty() || views[0].type != usb::kConfigurationDescriptor || views[0].length < 9) {
        Line(1, "configuration descriptor: !! unusable (%zu bytes returned)", bytes.size());
        return;
    }
    const DescriptorView &c = views[0];
    Line(1,
         "configuration %u: wTotalLength %u (%zu returned), %u interface(s), %s%s, max power "
         "%u mA%s",
         c.Byte(5), c.Word(2), bytes.size(), c.Byte(4),
         c.Byte(7) & 0x40 ? "self-powered" : "bus-powered",
         c.Byte(7) & 0x20 ? ", remote wakeup" : "", c.Byte(8) * 2, Str(c.Byte(6)).c_str());
    if (announced > bytes.size())
        Line(2, "!! the device returned %zu of the %u bytes wTotalLength announces", bytes.size(),
             static_cast<unsigned>(announced));

    for (const DescriptorView &d : views)
        if (d.type == usb::kEndpointDescriptor && d.length >= 9 && d.Byte(8) != 0)
            synchEndpoints_.insert(d.Byte(8));

    for (size_t i = 1; i < views.size(); ++i) {
        const DescriptorView &d = views[i];
        const bool audioLike =
            interfaceClass_ == uac::kAudioClass || interfaceClass_ == uac::kVendorClass;
        if (d.type == usb::kInterfaceDescriptor && Fits(d, 9, 1)) {
            PrintInterface(d);
        } else if (d.type == usb::kInterfaceAssociationDescriptor) {
            PrintAssociation(d);
        } else if (d.type == usb::kEndpointDescriptor) {
            PrintEndpoint(d);
        } else if (d.type == uac::kCsEndpoint && audioLike &&
                   interfaceSubClass_ == uac::kSubclassAudioStreaming) {
            PrintClassEndpoint(d);
        } else if (d.type == uac::kCsInterface && audioLike &&
                   interfaceSubClass_ == uac::kSubclassAudioControl) {
            PrintControl(d);
        } else if (d.type == uac::kCsInterface && audioLike &&
                   interfaceSubClass_ == uac::kSubclassAudioStreaming) {
            PrintStreaming(d);
        } else if (d.type == uac::kCsInterface || d.type == uac::kCsEndpoint) {
            Line(2, "class-specific %s descriptor of %s, subtype 0x%02X, %u bytes",
                 d.type == uac::kCsInterface ? "interface" : "endpoint",
                 InterfaceClassName(interfaceClass_, interfaceSubClass_).c_str(), d.Subtype(),
                 d.length);
        } else if (d.type != usb::kInterfaceDescriptor) {
            Line(2, "descriptor type 0x%02X, %u bytes", d.type, d.length);
        }
    }
    if (!complete) {
        const size_t end = views.back().offset + views.back().length;
        Line(1, "!! the walk stops at offset %zu: bLength %u %s", end,
             end < bytes.size() ? bytes[end] : 0,
             end + 1 < bytes.size() && bytes[end] >= 2 ? "runs past the end of the configuration"
                                                       : "is too short to be a descriptor");
    }
}

bool DescriptorPrinter::Run()
{
    std::fprintf(out_, "descriptors (read through the emulated USB stack)\n");
    devices::Bytes device;
    NTSTATUS status = reader_.ReadDevice(&device);
    if (!NT_SUCCESS(status)) {
        Line(1, "device descriptor: not readable, %s", NtStatusText(status).c_str());
        return false;
    }
    PrintDevice(device);

    devices::Bytes configuration;
    ULONG announced = 0;
    status = reader_.ReadConfiguration(&configuration, &announced);
    if (!NT_SUCCESS(status))
        Line(1, "configuration descriptor: not readable, %s", NtStatusText(status).c_str());
    else
        PrintConfiguration(configuration, announced);

    if (reader_.Strings().empty()) {
        Line(1, "strings: none referenced");
    } else {
        Line(1, "strings (language 0x%04X)", reader_.Language());
        for (const auto &entry : reader_.Strings())
            Line(2, "%3u \"%s\"", entry.first, entry.second.c_str());
    }
    return true;
}

} // namespace

bool PrintDescriptorReport(StackDescriptorReader &reader, bool highSpeed, std::FILE *out)
{
    return DescriptorPrinter(reader, highSpeed, out).Run();
}

} // namespace sim

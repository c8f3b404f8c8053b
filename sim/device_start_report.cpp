#include "device_start_report.h"

#include "ntstatus_text.h"
#include "report_line.h"
#include "usb_audio_names.h"

#include "kernel/io_manager.h"

#include "function/audio_streaming_interface.h"
#include "function/ks_node_types.h"
#include "function/usb_audio_clock_selector.h"
#include "function/usb_audio_data_ranges.h"
#include "function/usb_audio_descriptors.h"
#include "function/usb_audio_feature_unit.h"
#include "function/usb_audio_filter.h"
#include "function/usb_audio_terminal.h"
#include "usb/usb_audio_cl.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <regex>
#include <string>

namespace sim {

namespace {

// Bounds that let the clock's whole range through.
constexpr ULONG kAnyRateLow = 0;
constexpr ULONG kAnyRateHigh = 0xFFFFFFFF;
// Feature-unit controls the driver knows (mute, volume) and the others a descriptor may announce.
constexpr ULONG kFeatureControlCount = 15;
// An entity names at most 255 sources (a one-byte count).
constexpr ULONG kMaxSources = 255;

std::string EntityName(CUSBAudioEntity *entity)
{
    if (entity == nullptr)
        return "-";
    char name[32];
    entity->GetName(name, sizeof(name));
    return name;
}

std::string RateText(ULONG rate)
{
    char text[24];
    std::snprintf(text, sizeof(text), "%u Hz", static_cast<unsigned>(rate));
    return text;
}

// A KS node type as a reader says it: "volume", "DAC", "USB streaming", "line connector".
std::string NodeTypeText(const GUID *type)
{
    std::string name = GetKsNodeTypeName(type);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    if (name == "DAC" || name == "ADC" || name == "AGC" || name == "USB streaming" ||
        name == "SPDIF_INTERFACE")
        return name == "SPDIF_INTERFACE" ? "S/PDIF interface" : name;
    for (char &c : name)
        c = c == '_' ? ' ' : char(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::string SubFormatText(const GUID &subFormat)
{
    if (subFormat == KSDATAFORMAT_SUBTYPE_PCM)
        return "PCM";
    if (subFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)
        return "IEEE float";
    if (subFormat == KSDATAFORMAT_SUBTYPE_ALAW)
        return "A-law";
    if (subFormat == KSDATAFORMAT_SUBTYPE_MULAW)
        return "mu-law";
    if (subFormat == KSDATAFORMAT_SUBTYPE_ANALOG)
        return "analog";
    if (subFormat == GUID{})
        return "no subformat (GUID_NULL)";
    char text[64];
    std::snprintf(text, sizeof(text),
                  "subformat {%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", subFormat.Data1,
                  subFormat.Data2, subFormat.Data3, subFormat.Data4[0], subFormat.Data4[1],
                  subFormat.Data4[2], subFormat.Data4[3], subFormat.Data4[4], subFormat.Data4[5],
                  subFormat.Data4[6], subFormat.Data4[7]);
    return text;
}

class StartReport {
public:
    StartReport(host::Machine &machine, std::FILE *out) : machine_(machine), out_(out) {}

    NTSTATUS Run(PDEVICE_OBJECT physicalDevice);

private:
    // Runs one step of device start and prints its status; on failure also the driver's error
    // trace lines written meanwhile, which name the function that refused.
    NTSTATUS Step(const char *name, const std::function<NTSTATUS()> &step);

    void PrintFunction(bool configured);
    void PrintEntity(CUSBAudioEntity *entity, bool configured);
    void PrintStreamingInterface(const AudioStreamingInterface &stream);
    void PrintAlternateSetting(const AlternateSettingInfo &setting, ULONG index);
    // An entity id as its name ("IT(1)"), or "id 7 (not found)".
    std::string SourceText(int id) const;
    std::string EndpointText(const USB_ENDPOINT_DESCRIPTOR *endpoint, bool feedback) const;
    void PrintDataRanges(const char *pin, const AudioStreamingInterface *stream);
    void PrintFilter();
    std::string ElementText(const UsbAudioFilterElement &element) const;

    host::Machine &machine_;
    std::FILE *out_;
    std::unique_ptr<CUSBAudioCL> audio_;
    PCFILTER_DESCRIPTOR filter_ = {};
};

NTSTATUS StartReport::Step(const char *name, const std::function<NTSTATUS()> &step)
{
    const size_t logged = machine_.Log().Messages().size();
    const NTSTATUS status = step();
    ReportLine(out_, 1, "%-20s %s", name, NtStatusText(status).c_str());
    if (NT_SUCCESS(status))
        return status;
    // The driver traces a failure where it is found first, then on the way out: the first error
    // line names the function that refused.
    std::vector<std::string> failures;
    const std::vector<host::DebugMessage> messages = machine_.Log().Messages();
    for (size_t i = logged; i < messages.size(); ++i) {
        if (messages[i].componentId != DPFLTR_IHVAUDIO_ID ||
            messages[i].level != DPFLTR_ERROR_LEVEL)
            continue;
        std::string text = messages[i].text;
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        failures.push_back(text);
    }
    // An earlier, harmless failure (a stalled string read) may come first: it names a status
    // other than the one the step returned. The refusing line names that status or none.
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", unsigned(status));
    static const std::regex anyStatus("0x[0-9A-F]{8}");
    const auto named = std::find_if(failures.begin(), failures.end(), [&](const std::string &t) {
        return t.find(code) != std::string::npos || !std::regex_search(t, anyStatus);
    });
    std::string where;
    if (!failures.empty()) {
        const std::string &first = named != failures.end() ? *named : failures.front();
        const size_t begin = first.find(": ");
        const size_t end = begin == std::string::npos ? begin : first.find(':', begin + 2);
        if (end != std::string::npos)
            where = " (found in " + first.substr(begin + 2, end - begin - 2) + ")";
    }
    ReportLine(out_, 1, "!! refused by %s%s: %s", name, where.c_str(),
               NtStatusText(status).c_str());
    for (const std::string &text : failures)
        ReportLine(out_, 2, "trace: %s", text.c_str());
    return status;
}

void StartReport::PrintEntity(CUSBAudioEntity *entity, bool configured)
{
    const std::string name = EntityName(entity);
    std::string text;
    if (entity->IsTerminal()) {
        auto terminal = static_cast<CUSBAudioTerminal *>(entity);
        text = TerminalTypeName(terminal->GetTerminalType());
        if (terminal->GetSubtype() == USB_AUDIO_AC_OUTPUT_TERMINAL)
            text += " <- " + SourceText(terminal->GetSourceId(0));
        if (terminal->GetClockSourceId() >= 0)
            text += ", clock " + SourceText(terminal->GetClockSourceId());
    } else if (entity->IsClockEntity()) {
        auto clock = static_cast<CUSBAudioClockEntity *>(entity);
        std::string inputs;
        for (ULONG i = 0; entity->GetSourceId(i) >= 0 && i < kMaxSources; ++i)
            inputs += (i == 0 ? " <- " : ", ") + SourceText(entity->GetSourceId(i));
        text = entity->GetSubtype() == USB_AUDIO_AC_CLOCK_SELECTOR ? "clock selector" + inputs
                                                                   : "clock source";
        if (configured) {
            ULONG rate = 0, minimum = 0, maximum = 0;
            const NTSTATUS rateStatus = clock->GetSampleRate(&rate);
            text += NT_SUCCESS(rateStatus)
                        ? "; now " + RateText(rate)
                        : "; rate not readable (" + NtStatusText(rateStatus) + ")";
            if (NT_SUCCESS(
                    clock->GetSampleRateRange(&minimum, &maximum, kAnyRateLow, kAnyRateHigh)))
                text += ", range " + RateText(minimum) + " to " + RateText(maximum);
            text += clock->IsValid() ? ", valid" : ", not valid";
            UCHAR pin = 0;
            if (entity->GetSubtype() == USB_AUDIO_AC_CLOCK_SELECTOR &&
                NT_SUCCESS(static_cast<CUSBAudioClockSelector *>(clock)->GetSelectedInput(&pin)))
                text += ", input " + std::to_string(pin) + " selected";
        }
    } else if (entity->GetSubtype() == USB_AUDIO_AC_FEATURE_UNIT) {
        auto unit = static_cast<CUSBAudioFeatureUnit *>(entity);
        text = "feature unit <- " + SourceText(unit->GetSourceId(0));
        for (ULONG channel = 0; channel < unit->GetChannelCount(); ++channel) {
            std::string controls;
            for (ULONG control = 0; control < kFeatureControlCount; ++control) {
                if (!unit->IsControlSupported(channel, control, FEATURE_UNIT_ACCESS_READ))
                    continue;
                controls +=
                    (controls.empty() ? "" : "+") + std::string(FeatureControlName(control));
                if (!unit->IsControlSupported(channel, control, FEATURE_UNIT_ACCESS_WRITE))
                    controls += "(read-only)";
            }
            if (!controls.empty())
                text += (channel == 0 ? "; master " : "; ch " + std::to_string(channel) + " ") +
                        controls;
        }
    } else {
        std::string sources;
        for (ULONG i = 0; entity->GetSourceId(i) >= 0 && i < kMaxSources; ++i)
            sources += (i == 0 ? " <- " : ", ") + SourceText(entity->GetSourceId(i));
        text = "unit" + sources;
    }
    ReportLine(out_, 2, "%-18s %s", name.c_str(), text.c_str());
}

std::string StartReport::SourceText(int id) const
{
    CUSBAudioEntity *entity = audio_->FindEntity(UCHAR(id));
    return entity != nullptr ? EntityName(entity) : "id " + std::to_string(id) + " (not found)";
}

std::string StartReport::EndpointText(const USB_ENDPOINT_DESCRIPTOR *endpoint, bool feedback) const
{
    char address[8];
    std::snprintf(address, sizeof(address), "0x%02X", endpoint->bEndpointAddress);
    std::string text = std::string(address) + (endpoint->bEndpointAddress & 0x80 ? " IN" : " OUT");
    if (!feedback) {
        text += std::string(" ") + SyncTypeName(endpoint->bmAttributes);
        if ((endpoint->bmAttributes & 0x30) != 0)
            text += std::string(" ") + UsageTypeName(endpoint->bmAttributes);
    }
    text += ", " + MaxPacketText(endpoint->wMaxPacketSize);
    // Feedback values: 16.16 in four bytes, 10.14 in three.
    if (feedback && (endpoint->wMaxPacketSize & 0x7FF) == 4)
        text += " (16.16)";
    else if (feedback && (endpoint->wMaxPacketSize & 0x7FF) == 3)
        text += " (10.14)";
    text += ", " + EndpointIntervalText(endpoint->bmAttributes, endpoint->bInterval,
                                        audio_->HighSpeed != FALSE);
    // An Audio Class 1.0 synch endpoint reports every 2^bRefresh ms.
    const UCHAR refresh = endpoint->bLength >= 9 ? reinterpret_cast<const UCHAR *>(endpoint)[7] : 0;
    if (feedback && refresh != 0 && refresh <= 9)
        text += ", refresh every " + std::to_string(1u << refresh) + " ms";
    return text;
}

void StartReport::PrintAlternateSetting(const AlternateSettingInfo &setting, ULONG index)
{
    if (setting.DataEndpoint == nullptr && setting.AsGeneral == nullptr) {
        ReportLine(out_, 3, "alt %u  no stream (zero bandwidth)", index);
        return;
    }
    // The parse vouches for the bytes the records promise; beyond them, bLength decides.
    std::string format = "format ?";
    if (setting.AsGeneral != nullptr && setting.FormatType != nullptr) {
        const PUCHAR f = setting.FormatType;
        const ULONG length = f[0];
        char text[128];
        if (audio_->IsAudioClass2) {
            const PUCHAR g = setting.AsGeneral;
            const ULONG formats = g[6] | g[7] << 8 | g[8] << 16 | ULONG(g[9]) << 24;
            // bmFormats bits name Type I formats; other types number theirs differently.
            char formatsText[16];
            std::snprintf(formatsText, sizeof(formatsText), "0x%08X", formats);
            const std::string names = f[3] == 1 ? Class2FormatsName(formats) : formatsText;
            if ((f[3] == 1 || f[3] == 3) && length >= 6)
                std::snprintf(text, sizeof(text), "%s%s (Type %s), %u ch, %u-byte subslot, %u bits",
                              f[3] == 1 ? "" : "formats ", names.c_str(), f[3] == 1 ? "I" : "III",
                              g[10], f[4], f[5]);
            else
                std::snprintf(text, sizeof(text), "formats %s (format type %u), %u ch",
                              names.c_str(), f[3], g[10]);
            format = text;
        } else {
            const USHORT tag = USHORT(setting.AsGeneral[5] | setting.AsGeneral[6] << 8);
            if (f[3] != 1 || length < 8) {
                std::snprintf(text, sizeof(text), "%s (format type %u)",
                              Class1FormatTagName(tag).c_str(), f[3]);
                format = text;
            } else {
                std::snprintf(text, sizeof(text), "%s, %u ch, %u-byte subframe, %u bits",
                              Class1FormatTagName(tag).c_str(), f[4], f[5], f[6]);
                format = text;
                const ULONG count = f[7];
                const ULONG listed = count == 0 ? 2 : count;
                format += count == 0 ? ", continuous" : ",";
                for (ULONG i = 0; i < listed && 8 + 3 * i + 3 <= length; ++i) {
                    const PUCHAR r = f + 8 + 3 * i;
                    format += (i == 0       ? " "
                               : count == 0 ? " to "
                                            : "/") +
                              std::to_string(r[0] | r[1] << 8 | r[2] << 16);
                }
                format += " Hz";
            }
        }
    }
    ReportLine(out_, 3, "alt %u  %s", index, format.c_str());
    if (setting.DataEndpoint != nullptr)
        ReportLine(out_, 4, "data      %s", EndpointText(setting.DataEndpoint, false).c_str());
    if (setting.FeedbackEndpoint != nullptr)
        ReportLine(out_, 4, "feedback  %s", EndpointText(setting.FeedbackEndpoint, true).c_str());
}

void StartReport::PrintStreamingInterface(const AudioStreamingInterface &stream)
{
    const char *role = &stream == audio_->RenderInterface    ? "render"
                       : &stream == audio_->CaptureInterface ? "capture"
                                                             : "unused";
    ReportLine(out_, 2, "interface %u: %s, %s, terminal %s, %u alternate setting(s)",
               stream.InterfaceNumber,
               stream.IsInput ? "IN (device to host)" : "OUT (host to device)", role,
               EntityName(stream.Terminal).c_str(), stream.AlternateSettingCount);
    for (ULONG i = 0; i < stream.AlternateSettingCount; ++i)
        PrintAlternateSetting(stream.AlternateSettings[i], i);
}

void StartReport::PrintDataRanges(const char *pin, const AudioStreamingInterface *stream)
{
    if (stream == nullptr)
        return;
    ULONG count = 0;
    const PKSDATARANGE *ranges = GetPinDataRanges(stream, &count);
    ReportLine(out_, 2, "%s pin (interface %u): %u data range(s)", pin, stream->InterfaceNumber,
               count);
    for (ULONG k = 0; k < count; ++k) {
        auto range = reinterpret_cast<const KSDATARANGE_AUDIO *>(ranges[k]);
        if (range == nullptr || range->DataRange.FormatSize == 0) {
            ReportLine(out_, 3, "range %u (alt %u): none (not a Type I format)", k, k + 1);
            continue;
        }
        std::string bits = std::to_string(range->MinimumBitsPerSample);
        if (range->MaximumBitsPerSample != range->MinimumBitsPerSample)
            bits += " to " + std::to_string(range->MaximumBitsPerSample);
        ReportLine(out_, 3, "range %u (alt %u): %s, up to %u ch, %s bits, %u to %u Hz", k, k + 1,
                   SubFormatText(range->DataRange.SubFormat).c_str(), range->MaximumChannels,
                   bits.c_str(), range->MinimumSampleFrequency, range->MaximumSampleFrequency);
    }
}

std::string StartReport::ElementText(const UsbAudioFilterElement &element) const
{
    if (element.IsPin) {
        auto pins = reinterpret_cast<const UsbAudioPinDescriptor *>(filter_.Pins);
        return "[pin " + std::to_string(element.Id) + " " +
               NodeTypeText(pins[element.Id].PcPin.KsPinDescriptor.Category) + "]";
    }
    auto nodes = reinterpret_cast<const UsbAudioNodeDescriptor *>(filter_.Nodes);
    return "[node " + std::to_string(element.Id) + " " +
           NodeTypeText(nodes[element.Id].PcNode.Type) + "]";
}

void StartReport::PrintFilter()
{
    ReportLine(out_, 1, "filter \"Wave\": %u pin(s), %u node(s), %u connection(s)",
               filter_.PinCount, filter_.NodeCount, filter_.ConnectionCount);
    auto pins = reinterpret_cast<const UsbAudioPinDescriptor *>(filter_.Pins);
    auto nodes = reinterpret_cast<const UsbAudioNodeDescriptor *>(filter_.Nodes);
    for (ULONG i = 0; i < filter_.PinCount; ++i) {
        const KSPIN_DESCRIPTOR &ks = pins[i].PcPin.KsPinDescriptor;
        ReportLine(out_, 2, "pin %u   %-14s %s, data %s, %u data range(s), %s", i,
                   EntityName(pins[i].Element.Entity).c_str(),
                   ks.Communication == KSPIN_COMMUNICATION_SINK ? "sink (streaming)" : "bridge",
                   ks.DataFlow == KSPIN_DATAFLOW_IN ? "in" : "out", ks.DataRangesCount,
                   NodeTypeText(ks.Category).c_str());
    }
    for (ULONG i = 0; i < filter_.NodeCount; ++i)
        ReportLine(out_, 2, "node %u  %-14s %s", i, NodeTypeText(nodes[i].PcNode.Type).c_str(),
                   EntityName(nodes[i].Element.Entity).c_str());
    std::string connections;
    for (ULONG i = 0; i < filter_.ConnectionCount; ++i) {
        const PCCONNECTION_DESCRIPTOR &c = filter_.Connections[i];
        auto end = [](ULONG node, ULONG nodePin) {
            return node == PCFILTER_NODE ? "pin " + std::to_string(nodePin)
                                         : "node " + std::to_string(node);
        };
        connections += (i == 0 ? "" : ", ") + end(c.FromNode, c.FromNodePin) + " -> " +
                       end(c.ToNode, c.ToNodePin);
    }
    ReportLine(out_, 2, "connections: %s", connections.empty() ? "none" : connections.c_str());

    // The chains, from their first element (no Previous); the render chain starts at the
    // streaming (sink) pin the host writes to.
    std::vector<const UsbAudioFilterElement *> heads;
    for (ULONG i = 0; i < filter_.PinCount; ++i)
        heads.push_back(&pins[i].Element);
    for (ULONG i = 0; i < filter_.NodeCount; ++i)
        heads.push_back(&nodes[i].Element);
    for (const UsbAudioFilterElement *head : heads) {
        if (head->Previous != nullptr || head->Next == nullptr)
            continue;
        const bool render = head->IsPin && pins[head->Id].PcPin.KsPinDescriptor.Communication ==
                                               KSPIN_COMMUNICATION_SINK;
        std::string chain;
        ULONG length = 0;
        for (const UsbAudioFilterElement *e = head;
             e != nullptr && length <= filter_.PinCount + filter_.NodeCount; e = e->Next, ++length)
            chain += (chain.empty() ? "" : " -> ") + ElementText(*e);
        ReportLine(out_, 2, "%-8s %s", render ? "render:" : "capture:", chain.c_str());
    }
    for (const UsbAudioFilterElement *element : heads)
        if (element->Previous == nullptr && element->Next == nullptr)
            ReportLine(out_, 2, "not in a chain: %s", ElementText(*element).c_str());
}

void StartReport::PrintFunction(bool configured)
{
    ReportLine(out_, 1, "speed        %s",
               audio_->HighSpeed ? "high speed (480 Mbit/s)" : "full speed (12 Mbit/s)");
    ReportLine(out_, 1, "audio class  %s", audio_->IsAudioClass2 ? "2.0" : "1.0");
    ReportLine(out_, 1, "DSD          %s",
               audio_->DsdCapable ? "capable (\"[DSD]\" in the audio control interface string)"
                                  : "not announced");
    ULONG entities = 0;
    for (CUSBAudioEntity *e = audio_->EntityList; e != nullptr; e = e->Next)
        ++entities;
    ReportLine(out_, 1, "entities (%u)", entities);
    for (CUSBAudioEntity *e = audio_->EntityList; e != nullptr; e = e->Next)
        PrintEntity(e, configured);
    ReportLine(out_, 1, "streaming interfaces (%u)", audio_->StreamingInterfaceCount);
    for (AudioStreamingInterface *s = audio_->StreamingInterfaceList; s != nullptr; s = s->Next)
        PrintStreamingInterface(*s);
    ReportLine(out_, 1, "data ranges");
    PrintDataRanges("render", audio_->RenderInterface);
    PrintDataRanges("capture", audio_->CaptureInterface);
}

NTSTATUS StartReport::Run(PDEVICE_OBJECT physicalDevice)
{
    std::fprintf(out_,
                 "device start (the driver's Initialize, SelectConfiguration, BuildFilter)\n");
    PDRIVER_OBJECT driver = host::CreateDriverObject(machine_, u"\\Driver\\norvane_quen_audio");
    PDEVICE_OBJECT fdo = nullptr;
    NTSTATUS status = IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo);
    if (!NT_SUCCESS(status)) {
        ReportLine(out_, 1, "!! no device object: %s", NtStatusText(status).c_str());
        ObDereferenceObject(driver);
        return status;
    }
    PDEVICE_OBJECT lower = IoAttachDeviceToDeviceStack(fdo, physicalDevice);
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    audio_ = std::make_unique<CUSBAudioCL>();

    status = Step("Initialize", [&] { return audio_->Initialize(lower, 0); });
    const bool initialized = NT_SUCCESS(status);
    bool configured = false;
    if (initialized) {
        status = Step("SelectConfiguration", [&] { return audio_->SelectConfiguration(); });
        configured = NT_SUCCESS(status);
    }
    if (configured)
        status = Step("BuildFilter", [&] { return audio_->BuildFilter(&filter_); });
    // A refused Initialize leaves no function model to show.
    if (initialized)
        PrintFunction(configured);
    if (NT_SUCCESS(status))
        PrintFilter();
    ReportLine(out_, 1, "result: %s",
               NT_SUCCESS(status) ? "the driver starts the device"
                                  : "the driver refuses the device");

    FreeFilterDescription(&filter_);
    audio_.reset(); // gives back the driver's IRPs and pool before the stack goes
    IoDetachDevice(lower);
    IoDeleteDevice(fdo);
    ObDereferenceObject(driver);
    return status;
}

} // namespace

NTSTATUS PrintDeviceStartReport(host::Machine &machine, PDEVICE_OBJECT physicalDevice,
                                std::FILE *out)
{
    return StartReport(machine, out).Run(physicalDevice);
}

} // namespace sim

// CUSBAudioCL::BuildDataRanges: one KSDATARANGE_AUDIO per alternate setting of a streaming
// interface, from its AS_GENERAL and FORMAT_TYPE descriptors and, in Audio Class 2.0, from the
// rate range of the clock the interface's terminal runs on.
//
// BuildDataRanges runs before the configuration is selected, when a device may refuse class
// requests; the filter description therefore reads the clock range again once the device is
// configured (UpdateDataRangeClockRates).
#include "function/usb_audio_data_ranges.h"

#include "driver_trace.h"
#include "function/usb_audio_clock_entity.h"
#include "function/usb_audio_descriptors.h"
#include "function/usb_audio_terminal.h"
#include "usb/usb_audio_cl.h"

namespace {

// Audio Class 2.0 bmFormats bits of the Type I formats (PCM8 plays as PCM).
const ULONG kFormatPcm = 0x01;
const ULONG kFormatPcm8 = 0x02;
const ULONG kFormatIeeeFloat = 0x04;
const ULONG kFormatAlaw = 0x08;
const ULONG kFormatMulaw = 0x10;

// Audio Class 1.0 wFormatTag values of the Type I formats.
const USHORT kFormatTagPcm = 0x0001;
const USHORT kFormatTagPcm8 = 0x0002;
const USHORT kFormatTagIeeeFloat = 0x0003;
const USHORT kFormatTagAlaw = 0x0004;
const USHORT kFormatTagMulaw = 0x0005;

// The KS subformat of the first Type I format bmFormats announces, or null.
const GUID *Class2SubFormat(ULONG Formats)
{
    if ((Formats & (kFormatPcm | kFormatPcm8)) != 0)
        return &KSDATAFORMAT_SUBTYPE_PCM;
    if ((Formats & kFormatIeeeFloat) != 0)
        return &KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    if ((Formats & kFormatAlaw) != 0)
        return &KSDATAFORMAT_SUBTYPE_ALAW;
    if ((Formats & kFormatMulaw) != 0)
        return &KSDATAFORMAT_SUBTYPE_MULAW;
    return nullptr;
}

const GUID *Class1SubFormat(USHORT FormatTag)
{
    switch (FormatTag) {
    case kFormatTagPcm:
    case kFormatTagPcm8: return &KSDATAFORMAT_SUBTYPE_PCM;
    case kFormatTagIeeeFloat: return &KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    case kFormatTagAlaw: return &KSDATAFORMAT_SUBTYPE_ALAW;
    case kFormatTagMulaw: return &KSDATAFORMAT_SUBTYPE_MULAW;
    default: return nullptr;
    }
}

// Fills a range of a Type I setting; an unknown subformat stays zero.
void FillRange(PKSDATARANGE_AUDIO Range, const GUID *SubFormat, ULONG Channels, ULONG Bits,
               ULONG MinimumRate, ULONG MaximumRate)
{
    Range->DataRange.FormatSize = sizeof(KSDATARANGE_AUDIO);
    Range->DataRange.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    if (SubFormat != nullptr)
        Range->DataRange.SubFormat = *SubFormat;
    Range->DataRange.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    Range->MaximumChannels = Channels;
    Range->MinimumBitsPerSample = Bits;
    Range->MaximumBitsPerSample = Bits;
    Range->MinimumSampleFrequency = MinimumRate;
    Range->MaximumSampleFrequency = MaximumRate;
}

void DescribeClass2Setting(AudioStreamingInterface *Interface, ULONG Setting,
                           PKSDATARANGE_AUDIO Range)
{
    const AlternateSettingInfo &info = Interface->AlternateSettings[Setting];
    if (!IsTypeIFormat(info, TRUE)) {
        QuenTrace(TRACE_LEVEL_WARNING, "interface %u setting %lu: no Type I format, no data range",
                  Interface->InterfaceNumber, Setting);
        return;
    }
    const ULONG formats = UsbAudioReadUlong(info.AsGeneral + USB_AUDIO_AS_FORMATS2);
    const GUID *subFormat = Class2SubFormat(formats);
    if (subFormat == nullptr)
        QuenTrace(TRACE_LEVEL_WARNING, "interface %u setting %lu: bmFormats 0x%08lX, no subformat",
                  Interface->InterfaceNumber, Setting, formats);
    // The rates come from the clock, for all settings at once.
    FillRange(Range, subFormat, info.AsGeneral[USB_AUDIO_AS_CHANNELS2],
              info.FormatType[USB_AUDIO_FORMAT_BIT_RESOLUTION2], 0, 0);
}

// The lowest and highest rate of a Class 1.0 Type I format: the discrete list, or the
// continuous range (bSamFreqType 0: tLowerSamFreq and tUpperSamFreq).
void GetClass1Rates(const UCHAR *FormatType, PULONG Minimum, PULONG Maximum)
{
    const UCHAR *rates = FormatType + USB_AUDIO_FORMAT_SAM_FREQ1;
    const ULONG count = FormatType[USB_AUDIO_FORMAT_SAM_FREQ_TYPE1];
    if (count == 0) {
        *Minimum = UsbAudioRead24(rates);
        *Maximum = UsbAudioRead24(rates + USB_AUDIO_SAM_FREQ_SIZE);
        return;
    }
    *Minimum = UsbAudioRead24(rates);
    *Maximum = *Minimum;
    for (ULONG i = 1; i < count; ++i) {
        const ULONG rate = UsbAudioRead24(rates + i * USB_AUDIO_SAM_FREQ_SIZE);
        if (rate < *Minimum)
            *Minimum = rate;
        if (rate > *Maximum)
            *Maximum = rate;
    }
}

void DescribeClass1Setting(AudioStreamingInterface *Interface, ULONG Setting,
                           PKSDATARANGE_AUDIO Range)
{
    const AlternateSettingInfo &info = Interface->AlternateSettings[Setting];
    // The format tag is in AS_GENERAL.
    if (info.AsGeneral == nullptr || !IsTypeIFormat(info, FALSE)) {
        QuenTrace(TRACE_LEVEL_WARNING, "interface %u setting %lu: no Type I format, no data range",
                  Interface->InterfaceNumber, Setting);
        return;
    }
    const USHORT formatTag = UsbAudioReadUshort(info.AsGeneral + USB_AUDIO_AS_FORMAT_TAG1);
    const GUID *subFormat = Class1SubFormat(formatTag);
    if (subFormat == nullptr)
        QuenTrace(TRACE_LEVEL_WARNING, "interface %u setting %lu: wFormatTag 0x%04X, no subformat",
                  Interface->InterfaceNumber, Setting, formatTag);
    ULONG minimumRate;
    ULONG maximumRate;
    GetClass1Rates(info.FormatType, &minimumRate, &maximumRate);
    FillRange(Range, subFormat, info.FormatType[USB_AUDIO_FORMAT_CHANNELS1],
              info.FormatType[USB_AUDIO_FORMAT_BIT_RESOLUTION1], minimumRate, maximumRate);
}

// The range of alternate setting Setting (1 on) of the block.
PKSDATARANGE_AUDIO DataRangeOf(AudioStreamingInterface *Interface, ULONG Setting)
{
    return reinterpret_cast<PKSDATARANGE_AUDIO>(
        static_cast<PKSDATARANGE *>(Interface->DataRanges)[Setting]);
}

void TraceDataRanges(AudioStreamingInterface *Interface)
{
    for (ULONG setting = 1; setting < Interface->DataRangeCount; ++setting) {
        const KSDATARANGE_AUDIO *range = DataRangeOf(Interface, setting);
        QuenTrace(TRACE_LEVEL_INFORMATION,
                  "interface %u setting %lu: %lu channels, %lu to %lu bits, %lu to %lu Hz",
                  Interface->InterfaceNumber, setting, range->MaximumChannels,
                  range->MinimumBitsPerSample, range->MaximumBitsPerSample,
                  range->MinimumSampleFrequency, range->MaximumSampleFrequency);
    }
}

} // namespace

NTSTATUS CUSBAudioCL::BuildDataRanges(AudioStreamingInterface *Interface)
{
    PAGED_CODE();
    QuenTrace(TRACE_LEVEL_VERBOSE, "entry, interface %u, %lu settings", Interface->InterfaceNumber,
              Interface->AlternateSettingCount);
    const ULONG count = Interface->AlternateSettingCount;
    const SIZE_T size = SIZE_T(count) * USB_AUDIO_DATA_RANGE_BLOCK_ENTRY_SIZE;
    PVOID block = ExAllocatePoolWithTag(NonPagedPoolNx, size, USBA_POOL_TAG);
    if (block == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "no memory for %lu data ranges", count);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(block, size);
    Interface->DataRanges = block;
    Interface->DataRangeCount = count;

    auto pointers = static_cast<PKSDATARANGE *>(block);
    auto ranges = reinterpret_cast<PKSDATARANGE_AUDIO>(pointers + count);
    for (ULONG setting = 1; setting < count; ++setting) {
        PKSDATARANGE_AUDIO range = &ranges[setting];
        pointers[setting] = &range->DataRange;
        if (IsAudioClass2)
            DescribeClass2Setting(Interface, setting, range);
        else
            DescribeClass1Setting(Interface, setting, range);
    }
    if (IsAudioClass2)
        UpdateDataRangeClockRates(Interface);
    else
        TraceDataRanges(Interface);
    QuenTrace(TRACE_LEVEL_VERBOSE, "exit, success");
    return STATUS_SUCCESS;
}

void UpdateDataRangeClockRates(AudioStreamingInterface *Interface)
{
    PAGED_CODE();
    if (Interface == nullptr || Interface->DataRanges == nullptr)
        return;
    CUSBAudioClockEntity *clock = GetStreamClock(Interface);
    ULONG minimumRate = 0;
    ULONG maximumRate = 0;
    if (clock == nullptr) {
        QuenTrace(TRACE_LEVEL_WARNING, "interface %u: its terminal has no clock entity",
                  Interface->InterfaceNumber);
    } else {
        const NTSTATUS status =
            clock->GetSampleRateRange(&minimumRate, &maximumRate, 0, 0xFFFFFFFF);
        if (!NT_SUCCESS(status)) {
            QuenTrace(TRACE_LEVEL_WARNING, "interface %u: clock range not read, status 0x%08lX",
                      Interface->InterfaceNumber, status);
            minimumRate = 0;
            maximumRate = 0;
        }
    }
    for (ULONG setting = 1; setting < Interface->DataRangeCount; ++setting) {
        PKSDATARANGE_AUDIO range = DataRangeOf(Interface, setting);
        if (range->DataRange.FormatSize == 0)
            continue; // not Type I
        range->MinimumSampleFrequency = minimumRate;
        range->MaximumSampleFrequency = maximumRate;
    }
    TraceDataRanges(Interface);
}

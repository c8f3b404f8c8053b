// CUSBAudioCL: format selection. A requested format (channels, bits, rate) becomes an alternate
// setting of the direction's streaming interface, a programmed sampling rate (through the clock
// entity in Audio Class 2.0, through the endpoint in 1.0) and the packet geometry of the stream.
#include "usb/usb_audio_cl.h"

#include "driver_trace.h"
#include "function/audio_streaming_interface.h"
#include "function/usb_audio_clock_entity.h"
#include "function/usb_audio_descriptors.h"
#include "function/usb_audio_terminal.h"
#include "usb/rate_pattern_table.h"
#include "usb/stream_geometry.h"

namespace {

// Audio Class 1.0 endpoint sampling-frequency control: SET_CUR / GET_CUR to the endpoint,
// selector 1 in the high byte of wValue, 3 bytes of Hz.
const UCHAR kEndpointSetRequestType = 0x22; // class, endpoint, host to device
const UCHAR kEndpointGetRequestType = 0xA2; // class, endpoint, device to host
const UCHAR kSetCur = 0x01;
const UCHAR kGetCur = 0x81;
const USHORT kSamplingFrequencyControl = 0x0100;
const ULONG kSamplingFrequencyLength = 3;

// Class 2.0 bmFormats bits and Class 1.0 wFormatTag values of PCM.
const ULONG kFormatPcm = 0x00000001;
const ULONG kFormatPcm8 = 0x00000002;
const USHORT kFormatTagPcm = 1;
const USHORT kFormatTagPcm8 = 2;

// What format selection reads of one alternate setting.
struct SettingFormat {
    ULONG Channels;
    ULONG Resolution;    // valid bits
    ULONG ContainerBits; // bits the sample takes in the stream
};

// The rates of a Class 1.0 Type I FORMAT_TYPE: a continuous range (bSamFreqType 0) or a list.
struct Class1Rates {
    const UCHAR *Table;
    ULONG Count; // 0: continuous, Table holds the lower and the upper bound

    explicit Class1Rates(const UCHAR *formatType)
        : Table(formatType + USB_AUDIO_FORMAT_SAM_FREQ1),
          Count(formatType[USB_AUDIO_FORMAT_SAM_FREQ_TYPE1])
    {
    }
    ULONG At(ULONG index) const { return UsbAudioRead24(Table + index * USB_AUDIO_SAM_FREQ_SIZE); }
    BOOLEAN Continuous() const { return Count == 0; }
    BOOLEAN Accepts(ULONG rate) const
    {
        if (Continuous()) {
            return At(0) <= rate && rate <= At(1);
        }
        for (ULONG i = 0; i < Count; ++i) {
            if (At(i) == rate) {
                return TRUE;
            }
        }
        return FALSE;
    }
};

SettingFormat Class2Format(const AlternateSettingInfo &setting)
{
    return {setting.AsGeneral[USB_AUDIO_AS_CHANNELS2],
            setting.FormatType[USB_AUDIO_FORMAT_BIT_RESOLUTION2],
            setting.FormatType[USB_AUDIO_FORMAT_SUBSLOT_SIZE2] * 8U};
}

SettingFormat Class1Format(const AlternateSettingInfo &setting)
{
    return {setting.FormatType[USB_AUDIO_FORMAT_CHANNELS1],
            setting.FormatType[USB_AUDIO_FORMAT_BIT_RESOLUTION1],
            setting.FormatType[USB_AUDIO_FORMAT_SUBFRAME_SIZE1] * 8U};
}

BOOLEAN HasSamplingFrequencyControl(const AlternateSettingInfo &setting)
{
    return setting.EpGeneral != nullptr && (setting.EpGeneral[USB_AUDIO_EP_GENERAL_ATTRIBUTES] &
                                            USB_AUDIO_EP_SAMPLING_FREQUENCY_CONTROL) != 0;
}

// Whether a setting streams Type I PCM (the 8-bit kind when its resolution is 8 bits), and
// its format when it does.
BOOLEAN ReadPcmSetting(const AlternateSettingInfo &setting, BOOLEAN audioClass2,
                       SettingFormat *format)
{
    if (setting.DataEndpoint == nullptr || setting.AsGeneral == nullptr ||
        setting.FormatType == nullptr || !IsTypeIFormat(setting, audioClass2)) {
        return FALSE;
    }
    if (audioClass2) {
        *format = Class2Format(setting);
        const ULONG formats = UsbAudioReadUlong(setting.AsGeneral + USB_AUDIO_AS_FORMATS2);
        return (formats & (format->Resolution == 8 ? kFormatPcm8 : kFormatPcm)) != 0;
    }
    *format = Class1Format(setting);
    const USHORT tag = UsbAudioReadUshort(setting.AsGeneral + USB_AUDIO_AS_FORMAT_TAG1);
    return tag == (format->Resolution == 8 ? kFormatTagPcm8 : kFormatTagPcm);
}

void KeepSmallest(PULONG value, ULONG candidate)
{
    if (*value == 0 || candidate < *value) {
        *value = candidate;
    }
}

void KeepLargest(PULONG value, ULONG candidate)
{
    if (candidate > *value) {
        *value = candidate;
    }
}

} // namespace

NTSTATUS CUSBAudioCL::GetStreamCapabilities(AudioStreamingInterface *Interface, PULONG MaxChannels,
                                            PULONG MinBits, PULONG MaxBits, PULONG MinRate,
                                            PULONG MaxRate)
{
    PAGED_CODE();
    if (Interface == nullptr || MaxChannels == nullptr || MinBits == nullptr ||
        MaxBits == nullptr || MinRate == nullptr || MaxRate == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *MaxChannels = *MinBits = *MaxBits = *MinRate = *MaxRate = 0;
    if (IsAudioClass2) {
        CUSBAudioClockEntity *clock = GetStreamClock(Interface);
        if (clock != nullptr) {
            ULONG minimum = 0;
            ULONG maximum = 0;
            clock->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF);
            *MinRate = minimum;
            *MaxRate = maximum;
        }
    }
    for (ULONG i = 0; i < Interface->AlternateSettingCount; ++i) {
        const AlternateSettingInfo &setting = Interface->AlternateSettings[i];
        if (setting.AsGeneral == nullptr || setting.FormatType == nullptr) {
            continue;
        }
        if (IsAudioClass2) {
            if (!IsTypeIFormat(setting, TRUE)) {
                continue;
            }
            const SettingFormat format = Class2Format(setting);
            KeepLargest(MaxChannels, format.Channels);
            KeepSmallest(MinBits, format.ContainerBits);
            KeepLargest(MaxBits, format.ContainerBits);
            continue;
        }
        if (!IsTypeIFormat(setting, FALSE)) {
            continue;
        }
        const SettingFormat format = Class1Format(setting);
        KeepLargest(MaxChannels, format.Channels);
        KeepSmallest(MinBits, format.ContainerBits);
        KeepLargest(MaxBits, format.ContainerBits);
        const Class1Rates rates(setting.FormatType);
        if (rates.Continuous()) {
            KeepSmallest(MinRate, rates.At(0));
            KeepLargest(MaxRate, rates.At(1));
        } else {
            for (ULONG r = 0; r < rates.Count; ++r) {
                KeepSmallest(MinRate, rates.At(r));
                KeepLargest(MaxRate, rates.At(r));
            }
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::GetClass1RateBounds(AudioStreamingInterface *Interface, PULONG Lower,
                                          PULONG Upper)
{
    PAGED_CODE();
    if (Upper == nullptr) {
        return STATUS_SUCCESS;
    }
    if (Interface == nullptr || Lower == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG lower = *Lower;
    const ULONG upper = *Upper;
    // Each bound moves towards the other from the opposite end.
    ULONG newLower = upper;
    ULONG newUpper = lower;
    NTSTATUS status = STATUS_SUCCESS;
    for (ULONG i = 1; i < Interface->AlternateSettingCount; ++i) {
        const AlternateSettingInfo &setting = Interface->AlternateSettings[i];
        if (setting.FormatType == nullptr) {
            continue;
        }
        if (!IsTypeIFormat(setting, FALSE)) {
            status = STATUS_INVALID_PARAMETER;
            continue;
        }
        const Class1Rates rates(setting.FormatType);
        if (rates.Continuous()) {
            // A continuous range reaches as far into [lower, upper] as it overlaps it.
            const ULONG from = rates.At(0);
            const ULONG to = rates.At(1);
            if (from <= upper && to >= lower && from <= to) {
                const ULONG inLower = from > lower ? from : lower;
                const ULONG inUpper = to < upper ? to : upper;
                if (inLower < newLower) {
                    newLower = inLower;
                }
                if (inUpper > newUpper) {
                    newUpper = inUpper;
                }
            }
            continue;
        }
        for (ULONG r = 0; r < rates.Count; ++r) {
            const ULONG rate = rates.At(r);
            if (rate >= lower && rate < newLower) {
                newLower = rate;
            }
            if (rate <= upper && rate > newUpper) {
                newUpper = rate;
            }
        }
    }
    *Lower = newLower;
    *Upper = newUpper;
    return status;
}

BOOLEAN CUSBAudioCL::ReadsBackClass1Rate(AudioStreamingInterface *Interface, ULONG Setting,
                                         ULONG Rate)
{
    PAGED_CODE();
    const AlternateSettingInfo &setting = Interface->AlternateSettings[Setting];
    // A format check must leave the selected format as it was: the probe ends in the setting
    // that was current before it (setting 0 unless a format had been selected).
    const ULONG previous = Interface->CurrentAlternateSetting;
    if (!NT_SUCCESS(SelectAlternate(Interface->InterfaceNumber, static_cast<UCHAR>(Setting)))) {
        return FALSE;
    }
    UCHAR current[kSamplingFrequencyLength] = {};
    ULONG returned = 0;
    const NTSTATUS status = SendClassOrVendorRequest(
        kEndpointGetRequestType, kGetCur, kSamplingFrequencyControl,
        setting.DataEndpoint->bEndpointAddress, sizeof(current), current, &returned);
    if (previous == 0 ||
        !NT_SUCCESS(SelectAlternate(Interface->InterfaceNumber, static_cast<UCHAR>(previous)))) {
        SelectAlternate(Interface->InterfaceNumber, 0);
        Interface->CurrentAlternateSetting = 0;
    }
    // The stored pipe information of the probe is gone.
    RefreshPipes();
    return NT_SUCCESS(status) && returned == sizeof(current) && UsbAudioRead24(current) == Rate;
}

BOOLEAN CUSBAudioCL::HasPcmSetting(const AudioStreamingInterface *Interface) const
{
    for (ULONG i = 1; i < Interface->AlternateSettingCount; ++i) {
        SettingFormat format;
        if (ReadPcmSetting(Interface->AlternateSettings[i], IsAudioClass2, &format)) {
            return TRUE;
        }
    }
    return FALSE;
}

NTSTATUS CUSBAudioCL::FindAlternateSetting(AudioStreamingInterface *Interface, ULONG Channels,
                                           ULONG Bits, ULONG Rate, PULONG OutChannels,
                                           PULONG OutBits, PULONG OutAlternateSetting)
{
    PAGED_CODE();
    if (Interface == nullptr || OutChannels == nullptr || OutBits == nullptr ||
        OutAlternateSetting == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (Channels == 0 || Bits == 0 || Rate == 0) {
        *OutChannels = Channels;
        *OutBits = 0;
        *OutAlternateSetting = 0;
        return STATUS_SUCCESS;
    }
    if (IsAudioClass2) {
        CUSBAudioClockEntity *clock = GetStreamClock(Interface);
        if (clock == nullptr) {
            return STATUS_NOT_SUPPORTED;
        }
        const NTSTATUS status = clock->IsSampleRateSupported(Rate);
        if (!NT_SUCCESS(status)) {
            QuenTrace(TRACE_LEVEL_ERROR, "clock refuses %lu Hz: 0x%08lX", Rate, status);
            return status;
        }
    }

    ULONG fallback = 0;
    SettingFormat fallbackFormat = {};
    for (ULONG i = 1; i < Interface->AlternateSettingCount; ++i) {
        const AlternateSettingInfo &setting = Interface->AlternateSettings[i];
        SettingFormat format;
        if (!ReadPcmSetting(setting, IsAudioClass2, &format)) {
            continue;
        }
        if (!IsAudioClass2) {
            const Class1Rates rates(setting.FormatType);
            if (!rates.Accepts(Rate)) {
                continue;
            }
            // A capture endpoint with a list of rates and no rate control runs at the rate it
            // reports; only a read-back tells which one.
            if (rates.Count > 1 && Interface->IsInput && !HasSamplingFrequencyControl(setting) &&
                !ReadsBackClass1Rate(Interface, i, Rate)) {
                continue;
            }
        }
        if (format.Channels == Channels && format.Resolution == Bits) {
            *OutChannels = Channels;
            *OutBits = format.ContainerBits;
            *OutAlternateSetting = i;
            return STATUS_SUCCESS;
        }
        // The fallback has the most channels and, among those, the widest container; the later
        // of two equal settings wins.
        if (fallback == 0 || format.Channels > fallbackFormat.Channels ||
            (format.Channels == fallbackFormat.Channels &&
             format.ContainerBits >= fallbackFormat.ContainerBits)) {
            fallback = i;
            fallbackFormat = format;
        }
    }
    if (fallback == 0) {
        QuenTrace(TRACE_LEVEL_ERROR, "no setting for %lu channels, %lu bits, %lu Hz", Channels,
                  Bits, Rate);
        return STATUS_NOT_SUPPORTED;
    }
    *OutChannels = fallbackFormat.Channels;
    *OutBits = fallbackFormat.ContainerBits;
    *OutAlternateSetting = fallback;
    return STATUS_SUCCESS;
}

AudioStreamingInterface *CUSBAudioCL::InterfaceFor(ULONG Direction) const
{
    return Direction == USB_AUDIO_DIRECTION_RENDER ? RenderInterface : CaptureInterface;
}

NTSTATUS CUSBAudioCL::SelectFormatForDirection(ULONG Direction, ULONG Channels, ULONG Bits,
                                               ULONG Rate)
{
    PAGED_CODE();
    AudioStreamingInterface *stream = InterfaceFor(Direction);
    if (stream == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG channels = 0;
    ULONG bits = 0;
    ULONG setting = 0;
    return FindAlternateSetting(stream, Channels, Bits, Rate, &channels, &bits, &setting);
}

NTSTATUS CUSBAudioCL::ApplyStreamingFormat(ULONG Direction, ULONG Channels, ULONG Bits, ULONG Rate,
                                           BOOLEAN Implicit, AudioStreamingInterface **Stream,
                                           PULONG OutChannels, PULONG OutBits,
                                           StreamGeometry *Geometry)
{
    PAGED_CODE();
    AudioStreamingInterface *stream = InterfaceFor(Direction);
    if (stream == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *Stream = stream;
    const BOOLEAN formatGiven = Channels != 0 && Bits != 0 && Rate != 0;

    if (stream == RenderInterface) {
        if (stream->FeedbackPipe != nullptr) {
            KIRQL oldIrql;
            KeAcquireSpinLock(&stream->FeedbackLock, &oldIrql);
            stream->CurrentFeedback = 0;
            stream->LatestFeedback = 0;
            KeReleaseSpinLock(&stream->FeedbackLock, oldIrql);
        }
        if (!Implicit && formatGiven) {
            // Without feedback, render packets follow the rate's pattern: only its rates play.
            const RatePatternEntry *pattern = FindRatePattern(Rate);
            if (pattern == nullptr) {
                QuenTrace(TRACE_LEVEL_ERROR, "no render pattern for %lu Hz", Rate);
                return STATUS_NOT_SUPPORTED;
            }
            CurrentRatePattern = pattern;
        }
    }

    ULONG setting = 0;
    NTSTATUS status =
        FindAlternateSetting(stream, Channels, Bits, Rate, OutChannels, OutBits, &setting);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (IsAudioClass2 && *OutChannels != 0 && *OutBits != 0 && Rate != 0) {
        CUSBAudioClockEntity *clock = GetStreamClock(stream);
        status = clock != nullptr ? clock->SetSampleRate(Rate) : STATUS_NOT_SUPPORTED;
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    status = SelectAlternate(stream->InterfaceNumber, static_cast<UCHAR>(setting));
    if (!NT_SUCCESS(status)) {
        return status;
    }
    stream->CurrentAlternateSetting = setting;
    status = RefreshPipes();
    if (!NT_SUCCESS(status)) {
        return status;
    }

    const AlternateSettingInfo &chosen = stream->AlternateSettings[setting];
    if (!IsAudioClass2 && formatGiven && chosen.DataEndpoint != nullptr &&
        chosen.FormatType[USB_AUDIO_FORMAT_SAM_FREQ_TYPE1] != 1) {
        const USHORT endpoint = chosen.DataEndpoint->bEndpointAddress;
        UCHAR rate[kSamplingFrequencyLength] = {static_cast<UCHAR>(Rate),
                                                static_cast<UCHAR>(Rate >> 8),
                                                static_cast<UCHAR>(Rate >> 16)};
        if (HasSamplingFrequencyControl(chosen)) {
            status =
                SendClassOrVendorRequest(kEndpointSetRequestType, kSetCur,
                                         kSamplingFrequencyControl, endpoint, sizeof(rate), rate);
            if (!NT_SUCCESS(status)) {
                return status;
            }
        } else if (stream->IsInput) {
            RtlZeroMemory(rate, sizeof(rate));
            ULONG returned = 0;
            status = SendClassOrVendorRequest(kEndpointGetRequestType, kGetCur,
                                              kSamplingFrequencyControl, endpoint, sizeof(rate),
                                              rate, &returned);
            if (!NT_SUCCESS(status)) {
                return status;
            }
            if (returned != sizeof(rate) || UsbAudioRead24(rate) != Rate) {
                QuenTrace(TRACE_LEVEL_ERROR, "endpoint 0x%02X runs at %lu Hz, not %lu Hz", endpoint,
                          UsbAudioRead24(rate), Rate);
                return STATUS_NOT_SUPPORTED;
            }
        }
    }

    ComputeStreamGeometry(formatGiven ? chosen.DataEndpoint : nullptr, HighSpeed, *OutChannels,
                          *OutBits, Rate, Geometry);
    stream->BytesPerFrame = Geometry->BytesPerFrame;
    stream->BytesPerPacket = Geometry->BytesPerPacket;
    stream->WholeSamples = Geometry->WholeSamples;
    stream->SampleRate = formatGiven ? Rate : 0;
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::SelectStreamingFormat(ULONG Direction, ULONG Channels, ULONG Bits, ULONG Rate,
                                            ULONG TransferMs, PULONG OutChannels, PULONG OutBits,
                                            PULONG OutTransferBytes)
{
    PAGED_CODE();
    if (OutChannels == nullptr || OutBits == nullptr || OutTransferBytes == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    AudioStreamingInterface *stream = nullptr;
    StreamGeometry geometry;
    const NTSTATUS status = ApplyStreamingFormat(Direction, Channels, Bits, Rate, FALSE, &stream,
                                                 OutChannels, OutBits, &geometry);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (stream == RenderInterface) {
        PatternPosition = 0;
        RenderServiceInterval = geometry.ServiceInterval;
        RenderTransferMs = TransferMs;
    }
    if (stream->FeedbackPipe != nullptr) {
        const ULONG nominal =
            NominalFeedback(Rate, HighSpeed, stream->IsInput, geometry.ServiceInterval);
        KIRQL oldIrql;
        KeAcquireSpinLock(&stream->FeedbackLock, &oldIrql);
        stream->LatestFeedback = nominal;
        KeReleaseSpinLock(&stream->FeedbackLock, oldIrql);
    }
    *OutTransferBytes = TransferMs * geometry.MaxBytesPerMs;
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::SelectStreamingFormatImplicit(
    ULONG Direction, ULONG Channels, ULONG Bits, ULONG Rate, ULONG TransferMs, PULONG OutChannels,
    PULONG OutBits, PULONG OutNominalTransferBytes, PLONG OutFramesBelowNominal,
    PLONG OutFramesAboveNominal, PULONG OutTransferBytes)
{
    PAGED_CODE();
    if (OutChannels == nullptr || OutBits == nullptr || OutNominalTransferBytes == nullptr ||
        OutFramesBelowNominal == nullptr || OutFramesAboveNominal == nullptr ||
        OutTransferBytes == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    AudioStreamingInterface *stream = nullptr;
    StreamGeometry geometry;
    const NTSTATUS status = ApplyStreamingFormat(Direction, Channels, Bits, Rate, TRUE, &stream,
                                                 OutChannels, OutBits, &geometry);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    if (stream == RenderInterface) {
        RenderTransferMs = TransferMs;
    }
    *OutNominalTransferBytes = 0;
    *OutFramesBelowNominal = 0;
    *OutFramesAboveNominal = 0;
    const LONGLONG t = geometry.BytesPerFrame;
    if (t != 0) {
        // Packets run from one frame short (when the rate divides exactly) to one frame long.
        const LONGLONG o = geometry.BytesPerPacket;
        const LONGLONG longest = t + o;
        const LONGLONG shortest = geometry.WholeSamples ? o - t : o;
        const LONGLONG packets = LONGLONG(TransferMs) * (HighSpeed ? 8 : 1);
        const LONGLONG nominal =
            t * (LONGLONG(Rate) * geometry.ServiceInterval * TransferMs / 1000);
        *OutNominalTransferBytes = static_cast<ULONG>(nominal);
        *OutFramesBelowNominal = static_cast<LONG>(-((nominal - packets * shortest) / t));
        *OutFramesAboveNominal = static_cast<LONG>((packets * longest - nominal) / t);
    }
    *OutTransferBytes = TransferMs * geometry.MaxBytesPerMs;
    return STATUS_SUCCESS;
}

#include "function/usb_audio_clock_source.h"

#include "driver_trace.h"
#include "function/usb_audio_descriptors.h"
#include "usb/usb_audio_cl.h"

// A RANGE reply: wNumSubRanges, then per subrange dMIN, dMAX and dRES (32 bits each).
#define RANGE_HEADER_SIZE 2
#define RANGE_SUBRANGE_SIZE 12
#define RANGE_PROBE_SIZE 16
// The second request's length must fit the setup packet's 16-bit wLength.
#define RANGE_MAX_SUBRANGES ((0xFFFF - RANGE_HEADER_SIZE) / RANGE_SUBRANGE_SIZE)

// bmControls bit 2: the clock validity control is readable.
#define CLOCK_VALIDITY_READABLE 0x04

namespace {

struct RateSubrange {
    ULONG Minimum;
    ULONG Maximum;
    ULONG Resolution;
};

RateSubrange SubrangeAt(const UCHAR *Reply, ULONG Index)
{
    const UCHAR *at = Reply + RANGE_HEADER_SIZE + Index * RANGE_SUBRANGE_SIZE;
    return {UsbAudioReadUlong(at), UsbAudioReadUlong(at + 4), UsbAudioReadUlong(at + 8)};
}

} // namespace

CUSBAudioClockSource::CUSBAudioClockSource(CUSBAudioCL *AudioCL, PUCHAR Descriptor)
    : CUSBAudioClockEntity(AudioCL, Descriptor)
{
}

NTSTATUS CUSBAudioClockSource::Link() { return LinkClock(); }

NTSTATUS CUSBAudioClockSource::GetName(PCHAR Buffer, ULONG Size)
{
    return FormatName(Buffer, Size, "ClockSource");
}

int CUSBAudioClockSource::GetSourceId(ULONG Index)
{
    UNREFERENCED_PARAMETER(Index);
    return -1;
}

NTSTATUS CUSBAudioClockSource::GetSampleRate(PULONG Rate)
{
    PAGED_CODE();
    UCHAR value[4] = {};
    ULONG returned = 0;
    const NTSTATUS status = AudioCL->SendAudioClassRequest(
        USB_AUDIO_REQUEST_TYPE_GET, USB_AUDIO_REQUEST_CUR, USB_AUDIO_CS_SAM_FREQ_CONTROL, 0,
        GetId(), sizeof(value), value, &returned);
    if (!NT_SUCCESS(status))
        return status;
    if (returned != sizeof(value)) {
        QuenTrace(TRACE_LEVEL_ERROR, "clock %u: rate of %lu bytes", GetId(), returned);
        return STATUS_NOT_SUPPORTED;
    }
    *Rate = UsbAudioReadUlong(value);
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioClockSource::SetSampleRate(ULONG Rate)
{
    PAGED_CODE();
    UCHAR value[4];
    UsbAudioWriteUlong(value, Rate);
    return AudioCL->SendAudioClassRequest(USB_AUDIO_REQUEST_TYPE_SET, USB_AUDIO_REQUEST_CUR,
                                          USB_AUDIO_CS_SAM_FREQ_CONTROL, 0, GetId(), sizeof(value),
                                          value);
}

NTSTATUS CUSBAudioClockSource::ReadRateRange(PUCHAR *Reply, PULONG Count)
{
    PAGED_CODE();
    *Reply = nullptr;
    *Count = 0;

    // First only wNumSubRanges is of interest.
    UCHAR probe[RANGE_PROBE_SIZE] = {};
    ULONG returned = 0;
    NTSTATUS status = AudioCL->SendAudioClassRequest(
        USB_AUDIO_REQUEST_TYPE_GET, USB_AUDIO_REQUEST_RANGE, USB_AUDIO_CS_SAM_FREQ_CONTROL, 0,
        GetId(), sizeof(probe), probe, &returned);
    if (!NT_SUCCESS(status))
        return status;
    const ULONG count = returned >= RANGE_HEADER_SIZE ? UsbAudioReadUshort(probe) : 0;
    if (count == 0 || count > RANGE_MAX_SUBRANGES) {
        QuenTrace(TRACE_LEVEL_ERROR, "clock %u announces %lu subranges", GetId(), count);
        return STATUS_NOT_SUPPORTED;
    }

    const ULONG length = RANGE_HEADER_SIZE + count * RANGE_SUBRANGE_SIZE;
    auto reply = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPoolNx, length, USBA_POOL_TAG));
    if (reply == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(reply, length);
    status = AudioCL->SendAudioClassRequest(USB_AUDIO_REQUEST_TYPE_GET, USB_AUDIO_REQUEST_RANGE,
                                            USB_AUDIO_CS_SAM_FREQ_CONTROL, 0, GetId(), length,
                                            reply, &returned);
    if (NT_SUCCESS(status) && returned != length) {
        QuenTrace(TRACE_LEVEL_ERROR, "clock %u: RANGE of %lu subranges in %lu bytes", GetId(),
                  count, returned);
        status = STATUS_NOT_SUPPORTED;
    }
    if (NT_SUCCESS(status)) {
        for (ULONG i = 0; i < count; ++i) {
            const RateSubrange subrange = SubrangeAt(reply, i);
            if (subrange.Minimum == 0 || subrange.Maximum < subrange.Minimum) {
                QuenTrace(TRACE_LEVEL_ERROR, "clock %u subrange %lu of %lu is %lu-%lu", GetId(), i,
                          count, subrange.Minimum, subrange.Maximum);
                status = STATUS_NOT_SUPPORTED;
                break;
            }
        }
    }
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(reply, USBA_POOL_TAG);
        return status;
    }
    *Reply = reply;
    *Count = count;
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioClockSource::GetSampleRateRange(PULONG Minimum, PULONG Maximum, ULONG LowerBound,
                                                  ULONG UpperBound)
{
    PAGED_CODE();
    *Minimum = 0;
    *Maximum = 0;
    PUCHAR reply;
    ULONG count;
    const NTSTATUS status = ReadRateRange(&reply, &count);
    if (!NT_SUCCESS(status))
        return status;
    for (ULONG i = 0; i < count; ++i) {
        const RateSubrange subrange = SubrangeAt(reply, i);
        if (*Minimum == 0 || (subrange.Minimum < *Minimum && subrange.Minimum >= LowerBound))
            *Minimum = subrange.Minimum;
        if (*Maximum == 0 || (subrange.Maximum > *Maximum && subrange.Maximum <= UpperBound))
            *Maximum = subrange.Maximum;
    }
    ExFreePoolWithTag(reply, USBA_POOL_TAG);
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioClockSource::IsSampleRateSupported(ULONG Rate)
{
    PAGED_CODE();
    PUCHAR reply;
    ULONG count;
    NTSTATUS status = ReadRateRange(&reply, &count);
    if (!NT_SUCCESS(status))
        return status;
    status = STATUS_NOT_SUPPORTED;
    for (ULONG i = 0; i < count; ++i) {
        const RateSubrange subrange = SubrangeAt(reply, i);
        if (Rate < subrange.Minimum || Rate > subrange.Maximum)
            continue;
        if (subrange.Maximum == subrange.Minimum ||
            (subrange.Resolution != 0 && (Rate - subrange.Minimum) % subrange.Resolution == 0)) {
            status = STATUS_SUCCESS;
            break;
        }
    }
    ExFreePoolWithTag(reply, USBA_POOL_TAG);
    return status;
}

BOOLEAN CUSBAudioClockSource::IsValid()
{
    PAGED_CODE();
    if ((Descriptor[USB_AUDIO_CLOCK_SOURCE_CONTROLS] & CLOCK_VALIDITY_READABLE) == 0)
        return TRUE;
    UCHAR valid = 0;
    ULONG returned = 0;
    const NTSTATUS status = AudioCL->SendAudioClassRequest(
        USB_AUDIO_REQUEST_TYPE_GET, USB_AUDIO_REQUEST_CUR, USB_AUDIO_CS_CLOCK_VALID_CONTROL, 0,
        GetId(), sizeof(valid), &valid, &returned);
    return NT_SUCCESS(status) && returned == sizeof(valid) && valid != 0;
}

#include "function/usb_audio_feature_unit.h"

#include "driver_trace.h"
#include "function/usb_audio_descriptors.h"
#include "usb/usb_audio_cl.h"

// A channel's control bit map is read as one 32-bit value at most.
#define FEATURE_UNIT_MAX_CONTROL_BYTES 4

CUSBAudioFeatureUnit::CUSBAudioFeatureUnit(CUSBAudioCL *AudioCL, PUCHAR Descriptor)
    : CUSBAudioEntity(AudioCL, Descriptor), SourceEntity(nullptr)
{
}

NTSTATUS CUSBAudioFeatureUnit::Link()
{
    SourceEntity = AudioCL->FindEntity(Descriptor[USB_AUDIO_FEATURE_UNIT_SOURCE]);
    if (SourceEntity == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "feature unit %u: no source entity %u", GetId(),
                  Descriptor[USB_AUDIO_FEATURE_UNIT_SOURCE]);
        return STATUS_NOT_SUPPORTED;
    }
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioFeatureUnit::GetName(PCHAR Buffer, ULONG Size)
{
    return FormatName(Buffer, Size, "Feature");
}

int CUSBAudioFeatureUnit::GetSourceId(ULONG Index)
{
    UNREFERENCED_PARAMETER(Index);
    return Descriptor[USB_AUDIO_FEATURE_UNIT_SOURCE];
}

ULONG CUSBAudioFeatureUnit::GetChannelCount() const
{
    // The parse admits only descriptors that hold whole channel entries, at least the master's,
    // and a non-zero bControlSize.
    const ULONG length = Descriptor[0];
    if (AudioCL->IsAudioClass2)
        return (length - USB_AUDIO_FEATURE_UNIT_FIXED2) / USB_AUDIO_FEATURE_UNIT_CONTROL_SIZE2;
    return (length - USB_AUDIO_FEATURE_UNIT_FIXED1) /
           Descriptor[USB_AUDIO_FEATURE_UNIT_CONTROL_SIZE1];
}

BOOLEAN CUSBAudioFeatureUnit::IsControlSupported(ULONG Channel, ULONG Control, ULONG Access) const
{
    if (Channel >= GetChannelCount())
        return FALSE;
    if (AudioCL->IsAudioClass2) {
        // Two bits per control: readable, then writable.
        if (Control >= 16)
            return FALSE;
        const ULONG controls = UsbAudioReadUlong(Descriptor + USB_AUDIO_FEATURE_UNIT_CONTROLS2 +
                                                 Channel * USB_AUDIO_FEATURE_UNIT_CONTROL_SIZE2);
        if (Access == FEATURE_UNIT_ACCESS_READ)
            return (controls >> (2 * Control) & 1) != 0;
        if (Access == FEATURE_UNIT_ACCESS_WRITE)
            return (controls >> (2 * Control + 1) & 1) != 0;
        return FALSE;
    }
    // One bit per control, for reading and writing alike.
    const ULONG size = Descriptor[USB_AUDIO_FEATURE_UNIT_CONTROL_SIZE1];
    const ULONG bytes =
        size < FEATURE_UNIT_MAX_CONTROL_BYTES ? size : FEATURE_UNIT_MAX_CONTROL_BYTES;
    if (Control >= bytes * 8)
        return FALSE;
    const UCHAR *map = Descriptor + USB_AUDIO_FEATURE_UNIT_CONTROLS1 + Channel * size;
    return (map[Control / 8] >> (Control % 8) & 1) != 0;
}

BOOLEAN CUSBAudioFeatureUnit::HasControl(ULONG Control) const
{
    ULONG channels = GetChannelCount();
    if (channels > 255)
        channels = 255;
    for (ULONG channel = 0; channel < channels; ++channel) {
        if (IsControlSupported(channel, Control, FEATURE_UNIT_ACCESS_READ))
            return TRUE;
    }
    return FALSE;
}

BOOLEAN CUSBAudioFeatureUnit::IsRequestAccepted(ULONG Control, UCHAR Request, ULONG Length) const
{
    if (Control == FEATURE_UNIT_CONTROL_MUTE)
        return Request == FEATURE_UNIT_REQUEST_CUR && Length == 1;
    if (Control != FEATURE_UNIT_CONTROL_VOLUME)
        return FALSE;
    if (AudioCL->IsAudioClass2) {
        return (Request == FEATURE_UNIT_REQUEST_CUR && Length == 2) ||
               (Request == FEATURE_UNIT_REQUEST_RANGE && Length == 8);
    }
    return Request >= FEATURE_UNIT_REQUEST_CUR && Request <= FEATURE_UNIT_REQUEST_RES &&
           Length == 2;
}

NTSTATUS CUSBAudioFeatureUnit::ControlRequest(UCHAR Channel, ULONG Control, UCHAR Direction,
                                              UCHAR Request, PVOID Buffer, ULONG Length)
{
    PAGED_CODE();
    if (Direction != FEATURE_UNIT_DIRECTION_GET && Direction != FEATURE_UNIT_DIRECTION_SET)
        return STATUS_NOT_SUPPORTED;
    if (!IsRequestAccepted(Control, Request, Length)) {
        QuenTrace(TRACE_LEVEL_WARNING, "feature unit %u: control %lu request %u length %lu refused",
                  GetId(), Control, Request, Length);
        return STATUS_NOT_SUPPORTED;
    }
    const BOOLEAN get = Direction == FEATURE_UNIT_DIRECTION_GET;
    if (!IsControlSupported(Channel, Control,
                            get ? FEATURE_UNIT_ACCESS_READ : FEATURE_UNIT_ACCESS_WRITE)) {
        QuenTrace(TRACE_LEVEL_WARNING, "feature unit %u: control %lu not announced on channel %u",
                  GetId(), Control, Channel);
        return STATUS_NOT_SUPPORTED;
    }
    const UCHAR request = AudioCL->IsAudioClass2 ? Request : UCHAR(Direction | Request);
    ULONG returned = 0;
    const NTSTATUS status = AudioCL->SendAudioClassRequest(
        get ? USB_AUDIO_REQUEST_TYPE_GET : USB_AUDIO_REQUEST_TYPE_SET, request, UCHAR(Control + 1),
        Channel, GetId(), Length, Buffer, &returned);
    // A reading must fill the value: what a short answer leaves out is not the device's.
    if (NT_SUCCESS(status) && get && returned != Length) {
        QuenTrace(TRACE_LEVEL_ERROR, "feature unit %u: %lu of %lu bytes", GetId(), returned,
                  Length);
        return STATUS_NOT_SUPPORTED;
    }
    return status;
}

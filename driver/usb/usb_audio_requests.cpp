// CUSBAudioCL: audio class requests to entities, volume and mute, the native-DSD vendor request
// and the wait for a stable render clock.
#include "usb/usb_audio_cl.h"

#include "driver_trace.h"
#include "function/audio_streaming_interface.h"
#include "function/usb_audio_clock_entity.h"
#include "function/usb_audio_feature_unit.h"
#include "function/usb_audio_terminal.h"

namespace {

// Native DSD mode switch: vendor, interface, host to device; bRequest 0.
const UCHAR kDsdModeRequestType = 0x41;
const UCHAR kDsdModeRequest = 0x00;

// Audio Class 2.0 RANGE of a 16-bit control: wNumSubRanges, then MIN, MAX, RES of each subrange.
const ULONG kVolumeRangeLength = 8;

SHORT ReadShort(const UCHAR *bytes) { return static_cast<SHORT>(bytes[0] | bytes[1] << 8); }

} // namespace

NTSTATUS CUSBAudioCL::SendAudioClassRequest(UCHAR RequestType, UCHAR Request, UCHAR ControlSelector,
                                            UCHAR Channel, UCHAR EntityId, ULONG Length,
                                            PVOID Buffer, PULONG BytesTransferred)
{
    PAGED_CODE();
    if (AudioControlInterface == nullptr) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    const USHORT value = static_cast<USHORT>(ControlSelector << 8 | Channel);
    const USHORT index =
        static_cast<USHORT>(EntityId << 8 | AudioControlInterface->bInterfaceNumber);
    const NTSTATUS status = SendClassOrVendorRequest(RequestType, Request, value, index, Length,
                                                     Buffer, BytesTransferred);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR,
                  "bmRequestType 0x%02X bRequest 0x%02X wValue 0x%04X wIndex 0x%04X: 0x%08lX",
                  RequestType, Request, value, index, status);
    }
    return status;
}

NTSTATUS CUSBAudioCL::SetVolume(CUSBAudioFeatureUnit *FeatureUnit, UCHAR Channel, SHORT Value)
{
    PAGED_CODE();
    if (FeatureUnit == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    UCHAR buffer[2] = {static_cast<UCHAR>(Value),
                       static_cast<UCHAR>(static_cast<USHORT>(Value) >> 8)};
    return FeatureUnit->ControlRequest(Channel, FEATURE_UNIT_CONTROL_VOLUME,
                                       FEATURE_UNIT_DIRECTION_SET, FEATURE_UNIT_REQUEST_CUR, buffer,
                                       sizeof(buffer));
}

NTSTATUS CUSBAudioCL::GetVolume(CUSBAudioFeatureUnit *FeatureUnit, UCHAR Channel, SHORT *Value)
{
    PAGED_CODE();
    if (FeatureUnit == nullptr || Value == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    UCHAR buffer[2] = {};
    const NTSTATUS status = FeatureUnit->ControlRequest(
        Channel, FEATURE_UNIT_CONTROL_VOLUME, FEATURE_UNIT_DIRECTION_GET, FEATURE_UNIT_REQUEST_CUR,
        buffer, sizeof(buffer));
    if (NT_SUCCESS(status)) {
        *Value = ReadShort(buffer);
    }
    return status;
}

NTSTATUS CUSBAudioCL::GetVolumeRange(CUSBAudioFeatureUnit *FeatureUnit, UCHAR Channel,
                                     SHORT *Minimum, SHORT *Maximum, SHORT *Resolution)
{
    PAGED_CODE();
    if (FeatureUnit == nullptr || Minimum == nullptr || Maximum == nullptr ||
        Resolution == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (IsAudioClass2) {
        // Only the first subrange is used, however many the device reports.
        UCHAR range[kVolumeRangeLength] = {};
        const NTSTATUS status = FeatureUnit->ControlRequest(
            Channel, FEATURE_UNIT_CONTROL_VOLUME, FEATURE_UNIT_DIRECTION_GET,
            FEATURE_UNIT_REQUEST_RANGE, range, sizeof(range));
        if (NT_SUCCESS(status)) {
            *Minimum = ReadShort(range + 2);
            *Maximum = ReadShort(range + 4);
            *Resolution = ReadShort(range + 6);
        }
        return status;
    }
    const struct {
        UCHAR Request;
        SHORT *Value;
    } requests[] = {{FEATURE_UNIT_REQUEST_MIN, Minimum},
                    {FEATURE_UNIT_REQUEST_MAX, Maximum},
                    {FEATURE_UNIT_REQUEST_RES, Resolution}};
    for (const auto &request : requests) {
        UCHAR buffer[2] = {};
        const NTSTATUS status = FeatureUnit->ControlRequest(
            Channel, FEATURE_UNIT_CONTROL_VOLUME, FEATURE_UNIT_DIRECTION_GET, request.Request,
            buffer, sizeof(buffer));
        if (!NT_SUCCESS(status)) {
            return status;
        }
        *request.Value = ReadShort(buffer);
    }
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::SetMute(CUSBAudioFeatureUnit *FeatureUnit, UCHAR Value)
{
    PAGED_CODE();
    if (FeatureUnit == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    return FeatureUnit->ControlRequest(0, FEATURE_UNIT_CONTROL_MUTE, FEATURE_UNIT_DIRECTION_SET,
                                       FEATURE_UNIT_REQUEST_CUR, &Value, sizeof(Value));
}

NTSTATUS CUSBAudioCL::GetMute(CUSBAudioFeatureUnit *FeatureUnit, UCHAR *Value)
{
    PAGED_CODE();
    if (FeatureUnit == nullptr || Value == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    UCHAR mute = 0;
    const NTSTATUS status =
        FeatureUnit->ControlRequest(0, FEATURE_UNIT_CONTROL_MUTE, FEATURE_UNIT_DIRECTION_GET,
                                    FEATURE_UNIT_REQUEST_CUR, &mute, sizeof(mute));
    if (NT_SUCCESS(status)) {
        *Value = mute;
    }
    return status;
}

NTSTATUS CUSBAudioCL::SendDsdModeToInterface(AudioStreamingInterface *Stream, USHORT Value)
{
    PAGED_CODE();
    const NTSTATUS status = SendClassOrVendorRequest(kDsdModeRequestType, kDsdModeRequest, Value,
                                                     Stream->InterfaceNumber, 0, nullptr);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "interface %u refused mode %u: 0x%08lX",
                  Stream->InterfaceNumber, Value, status);
        return status;
    }
    Stream->VendorRequestValue = Value;
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::SendDsdModeRequest(USHORT Value)
{
    PAGED_CODE();
    for (AudioStreamingInterface *stream = StreamingInterfaceList; stream != nullptr;
         stream = stream->Next) {
        const NTSTATUS status = SendDsdModeToInterface(stream, Value);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::RestoreDsdModes()
{
    PAGED_CODE();
    for (AudioStreamingInterface *stream = StreamingInterfaceList; stream != nullptr;
         stream = stream->Next) {
        const NTSTATUS status =
            SendDsdModeToInterface(stream, static_cast<USHORT>(stream->VendorRequestValue));
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    return STATUS_SUCCESS;
}

BOOLEAN CUSBAudioCL::IsClockStable(ULONG TimeoutMs)
{
    PAGED_CODE();
    if (!IsAudioClass2) {
        return TRUE;
    }
    CUSBAudioClockEntity *clock = nullptr;
    if (RenderInterface != nullptr && RenderInterface->Terminal != nullptr) {
        clock = RenderInterface->Terminal->GetClockEntity();
    }
    if (clock == nullptr) {
        // Nothing to wait for: no answer will ever come.
        QuenTrace(TRACE_LEVEL_ERROR, "no render clock");
        return FALSE;
    }

    KTIMER timeout;
    KeInitializeTimer(&timeout);
    LARGE_INTEGER due;
    due.QuadPart = -10000LL * TimeoutMs; // relative, 100 ns units
    KeSetTimer(&timeout, due, nullptr);
    BOOLEAN stable = clock->IsValid();
    while (!stable && !KeReadStateTimer(&timeout)) {
        LARGE_INTEGER pause;
        pause.QuadPart = -10000LL; // 1 ms
        KeDelayExecutionThread(KernelMode, FALSE, &pause);
        stable = clock->IsValid();
    }
    KeCancelTimer(&timeout);
    if (!stable) {
        QuenTrace(TRACE_LEVEL_ERROR, "render clock not valid within %lu ms", TimeoutMs);
    }
    return stable;
}

// CUSBAudioCL: construction, configuration and pipe resolution.
#include "usb/usb_audio_cl.h"

#include "driver_trace.h"
#include "function/audio_streaming_interface.h"
#include "function/usb_audio_descriptors.h"
#include "usb/usb_device_quirks.h"

namespace {

// Feedback periods outside this range (milliseconds) are clamped into it.
const ULONG kMinFeedbackPeriodMs = 4;
const ULONG kMaxFeedbackPeriodMs = 1024;

ULONG ClampFeedbackPeriod(ULONG period)
{
    return period < kMinFeedbackPeriodMs   ? kMinFeedbackPeriodMs
           : period > kMaxFeedbackPeriodMs ? kMaxFeedbackPeriodMs
                                           : period;
}

// 2^exponent milliseconds divided by divisor, clamped (exponents beyond the range cannot
// overflow the shift).
ULONG PowerOfTwoFeedbackPeriod(ULONG exponent, ULONG divisor)
{
    return exponent > 20 ? kMaxFeedbackPeriodMs : ClampFeedbackPeriod((1UL << exponent) / divisor);
}

} // namespace

CUSBAudioCL::CUSBAudioCL()
    : IsAudioClass2(FALSE), DsdCapable(FALSE), AudioControlInterface(nullptr),
      ClassSpecificHeader(nullptr), EntityList(nullptr), StreamingInterfaceList(nullptr),
      StreamingInterfaceCount(0), RenderInterface(nullptr), CaptureInterface(nullptr),
      CurrentRatePattern(nullptr), PatternPosition(0), RenderServiceInterval(1)
{
}

CUSBAudioCL::~CUSBAudioCL() { FreeFunctionModel(); }

void CUSBAudioCL::OnTransferComplete(NTSTATUS Status, PURB Urb, USB_TRANSFER_CONTEXT *Context)
{
    // Runs for every completion at DISPATCH_LEVEL: the streaming engine acts through each
    // transfer's own callback, so nothing is done (or traced) here.
    UNREFERENCED_PARAMETER(Status);
    UNREFERENCED_PARAMETER(Urb);
    UNREFERENCED_PARAMETER(Context);
}

PUSBD_INTERFACE_LIST_ENTRY CUSBAudioCL::BuildConfigurationInterfaceList(PULONG Count)
{
    PAGED_CODE();
    *Count = 0;
    if (AudioControlInterface == nullptr) {
        return nullptr;
    }
    const SIZE_T size = (StreamingInterfaceCount + 2) * sizeof(USBD_INTERFACE_LIST_ENTRY);
    auto list = static_cast<PUSBD_INTERFACE_LIST_ENTRY>(
        ExAllocatePoolWithTag(NonPagedPoolNx, size, USBA_POOL_TAG));
    if (list == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(list, size);
    ULONG count = 0;
    list[count++].InterfaceDescriptor = AudioControlInterface;
    for (AudioStreamingInterface *stream = StreamingInterfaceList; stream != nullptr;
         stream = stream->Next) {
        list[count++].InterfaceDescriptor = stream->AlternateSettings[0].InterfaceDescriptor;
    }
    *Count = count;
    return list;
}

NTSTATUS CUSBAudioCL::SelectConfiguration()
{
    PAGED_CODE();
    QuenTrace(TRACE_LEVEL_VERBOSE, "entry");
    if (ConfigurationDescriptor == nullptr) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    ULONG count = 0;
    PUSBD_INTERFACE_LIST_ENTRY list = (Quirks() & USB_QUIRK_CONFIGURE_ALL_INTERFACES) != 0
                                          ? CreateInterfaceList(&count)
                                          : BuildConfigurationInterfaceList(&count);
    if (list == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = ConfigurationRequest(list, count);
    if (NT_SUCCESS(status)) {
        for (AudioStreamingInterface *stream = StreamingInterfaceList; stream != nullptr;
             stream = stream->Next) {
            stream->CurrentAlternateSetting = 0;
            // The configuration already put every interface into setting 0; this only refreshes
            // the stored interface information.
            SelectAlternate(stream->InterfaceNumber, 0);
        }
        status = RefreshPipes();
    }
    ExFreePoolWithTag(list, USBA_POOL_TAG);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "failed, status 0x%08lX", status);
    }
    return status;
}

NTSTATUS CUSBAudioCL::RefreshPipes()
{
    // The other direction may be streaming while one is reconfigured: its pipes are written
    // once, with the values they already hold, never cleared on the way.
    NTSTATUS status = STATUS_SUCCESS;
    for (AudioStreamingInterface *stream = StreamingInterfaceList; stream != nullptr;
         stream = stream->Next) {
        if (stream->CurrentAlternateSetting >= stream->AlternateSettingCount) {
            stream->DataPipe = nullptr;
            stream->FeedbackPipe = nullptr;
            status = STATUS_NOT_SUPPORTED;
            continue;
        }
        const AlternateSettingInfo &setting =
            stream->AlternateSettings[stream->CurrentAlternateSetting];

        PUSBD_PIPE_INFORMATION data = nullptr;
        if (setting.DataEndpoint != nullptr) {
            data = FindPipe(setting.DataEndpoint->bEndpointAddress);
            if (data == nullptr) {
                QuenTrace(TRACE_LEVEL_ERROR, "interface %u: no pipe for data endpoint 0x%02X",
                          stream->InterfaceNumber, setting.DataEndpoint->bEndpointAddress);
                status = STATUS_NOT_SUPPORTED;
            } else {
                ValidatePipeInterval(data);
            }
        }
        stream->DataPipe = data;

        if (setting.FeedbackEndpoint == nullptr) {
            stream->FeedbackPipe = nullptr;
            continue;
        }
        PUSBD_PIPE_INFORMATION feedback = FindPipe(setting.FeedbackEndpoint->bEndpointAddress);
        if (feedback == nullptr) {
            QuenTrace(TRACE_LEVEL_ERROR, "interface %u: no pipe for feedback endpoint 0x%02X",
                      stream->InterfaceNumber, setting.FeedbackEndpoint->bEndpointAddress);
            stream->FeedbackPipe = nullptr;
            status = STATUS_NOT_SUPPORTED;
            continue;
        }
        ValidatePipeInterval(feedback);
        stream->FeedbackPipe = feedback;
        const ULONG interval = feedback->Interval == 0 ? 1 : feedback->Interval;
        if (IsAudioClass2) {
            stream->FeedbackPeriodMs = PowerOfTwoFeedbackPeriod(interval - 1, HighSpeed ? 8 : 1);
        } else if (setting.FeedbackEndpoint->bLength >= USB_AUDIO_ENDPOINT_LENGTH1) {
            const PUCHAR bytes = reinterpret_cast<PUCHAR>(setting.FeedbackEndpoint);
            stream->FeedbackPeriodMs =
                PowerOfTwoFeedbackPeriod(bytes[USB_AUDIO_ENDPOINT_REFRESH1], 1);
        } else {
            stream->FeedbackPeriodMs = ClampFeedbackPeriod(feedback->Interval);
        }
        QuenTrace(TRACE_LEVEL_VERBOSE, "interface %u: feedback every %lu ms",
                  stream->InterfaceNumber, stream->FeedbackPeriodMs);
    }
    return status;
}

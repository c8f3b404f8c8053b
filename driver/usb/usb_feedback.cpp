// CUSBAudioCL: reading the render feedback endpoint. Each read covers a few milliseconds of
// packets; its completion averages them into one 16.16 value for the render thread.
#include "usb/usb_audio_cl.h"

#include "driver_trace.h"
#include "function/audio_streaming_interface.h"
#include "usb/feedback_packet.h"
#include "usb/stream_geometry.h"

namespace {

// A feedback read covers this many milliseconds of packets.
const ULONG kFeedbackReadMs = 4;

} // namespace

ULONG CUSBAudioCL::GetFeedbackTransferBytes() const
{
    const AudioStreamingInterface *render = RenderInterface;
    if (render == nullptr || render->FeedbackPipe == nullptr) {
        QuenTrace(TRACE_LEVEL_WARNING, "no render feedback pipe");
        return 0;
    }
    const PUSBD_PIPE_INFORMATION pipe = render->FeedbackPipe;
    ULONG packetsPerMs = 1;
    if (HighSpeed) {
        // Interval 1 to 4 (kept so by the pipe validation): 8, 4, 2 or 1 packets a millisecond.
        const ULONG interval = pipe->Interval < 1 ? 1 : pipe->Interval > 4 ? 4 : pipe->Interval;
        packetsPerMs = 1UL << (4 - interval);
    }
    return kFeedbackReadMs * pipe->MaximumPacketSize * packetsPerMs;
}

void CUSBAudioCL::ResynchronizeFeedback(ULONG Nominal)
{
    AudioStreamingInterface *render = RenderInterface;
    if (render == nullptr) {
        return;
    }
    KIRQL oldIrql;
    KeAcquireSpinLock(&render->FeedbackLock, &oldIrql);
    render->FeedbackFraction = 0;
    render->LatestFeedback = Nominal;
    render->CurrentFeedback = 0;
    KeReleaseSpinLock(&render->FeedbackLock, oldIrql);
}

NTSTATUS CUSBAudioCL::RecvFeedback(PVOID Buffer, ULONG Length, PUSB_TRANSFER_CALLBACK Callback,
                                   PVOID Context)
{
    const AudioStreamingInterface *render = RenderInterface;
    const PUSBD_PIPE_INFORMATION pipe = render != nullptr ? render->FeedbackPipe : nullptr;
    if (pipe == nullptr || pipe->PipeType != UsbdPipeTypeIsochronous ||
        pipe->MaximumPacketSize == 0 || (Length != 0 && Buffer == nullptr)) {
        QuenTrace(TRACE_LEVEL_ERROR, "no isochronous render feedback pipe to read");
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG maximum = pipe->MaximumPacketSize;
    const ULONG packets =
        Length > maximum ? static_cast<ULONG>((ULONGLONG(Length) + maximum - 1) / maximum) : 1;
    USB_TRANSFER_CONTEXT *context;
    PURB urb;
    const NTSTATUS allocated = AllocateIsoTransfer(packets, Callback, Context, &context, &urb);
    if (!NT_SUCCESS(allocated)) {
        return allocated;
    }
    auto &iso = urb->UrbIsochronousTransfer;
    iso.PipeHandle = pipe->PipeHandle;
    iso.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
    iso.TransferBuffer = Buffer;
    iso.TransferBufferLength = Length;
    for (ULONG i = 0; i < packets; ++i) {
        iso.IsoPacket[i].Offset = i * maximum;
    }
    const NTSTATUS status = SubmitIrpWithCompletion(urb, context, _RecvFeedbackCompletionRoutine);
    if (!NT_SUCCESS(status)) {
        FreeTransferUrb(urb);
        FreeTransferContext(context);
    }
    return status;
}

NTSTATUS CUSBAudioCL::_RecvFeedbackCompletionRoutine(PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                                     PVOID Context)
{
    UNREFERENCED_PARAMETER(DeviceObject);
    auto *context = static_cast<USB_TRANSFER_CONTEXT *>(Context);
    if (context == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "IRP %p without a transfer context", Irp);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    // Only CUSBAudioCL::RecvFeedback sends with this routine.
    auto *owner = static_cast<CUSBAudioCL *>(context->Owner);
    PURB urb = context->Urb;
    const auto &iso = urb->UrbIsochronousTransfer;
    const NTSTATUS status = Irp->IoStatus.Status;
    ULONG value = 0;
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "IRP status 0x%08lX", status);
        owner->TraceFailedUrb(urb);
        const PUCHAR bytes = UsbTransferBufferAddress(urb);
        if (bytes != nullptr && iso.TransferBufferLength >= 4) {
            QuenTrace(TRACE_LEVEL_ERROR, "data %02X %02X %02X %02X", bytes[0], bytes[1], bytes[2],
                      bytes[3]);
        }
    } else if (iso.TransferBufferLength == 0) {
        QuenTrace(TRACE_LEVEL_WARNING, "feedback read of 0 bytes");
    } else {
        const PUCHAR bytes = UsbTransferBufferAddress(urb);
        if (bytes == nullptr) {
            QuenTrace(TRACE_LEVEL_ERROR, "feedback buffer not mapped");
        } else {
            const AudioStreamingInterface *render = owner->RenderInterface;
            const ULONG nominal = render != nullptr
                                      ? NominalFeedback(render->SampleRate, owner->HighSpeed, FALSE,
                                                        owner->RenderServiceInterval)
                                      : 0;
            value = AverageFeedbackPackets(&iso, bytes, nominal);
        }
    }

    return owner->FinishTransfer(Irp, context, status, value);
}

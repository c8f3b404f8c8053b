// CUSBAudioCL: render packet scheduling. How many packets a render transfer has and how many
// bytes each carries, for the three ways the render clock can be known: the device's explicit
// feedback, the rate's fixed pattern, or the capture stream (implicit feedback). The
// accumulator and the pattern position carry over from one transfer to the next.
#include "usb/usb_audio_cl.h"

#include "driver_trace.h"
#include "function/audio_streaming_interface.h"
#include "usb/rate_pattern_table.h"
#include "usb/render_packet_sizer.h"
#include "usb/usb_device_quirks.h"

namespace {

// Usage type of an isochronous endpoint (bmAttributes bits 5-4): implicit feedback data.
const UCHAR kUsageTypeMask = 0x30;
const UCHAR kUsageImplicitFeedbackData = 0x20;

// Bytes of the payload length in front of every length-prefixed packet.
const ULONG kLengthPrefixBytes = 4;

// The samples per frame (full speed) or per microframe (high speed) of a rate.
RenderPattern PatternFor(const RatePatternEntry &Entry, BOOLEAN HighSpeed)
{
    return HighSpeed ? RenderPattern{Entry.HighSpeedPattern, Entry.HighSpeedLength}
                     : RenderPattern{Entry.FullSpeedPattern, Entry.FullSpeedLength};
}

} // namespace

BOOLEAN CUSBAudioCL::RenderFollowsCapture() const
{
    const AudioStreamingInterface *capture = CaptureInterface;
    if (capture == nullptr || capture->AlternateSettingCount < 2) {
        return FALSE;
    }
    const PUSB_ENDPOINT_DESCRIPTOR endpoint = capture->AlternateSettings[1].DataEndpoint;
    return endpoint != nullptr &&
                   (endpoint->bmAttributes & kUsageTypeMask) == kUsageImplicitFeedbackData
               ? TRUE
               : FALSE;
}

ULONG CUSBAudioCL::GetRenderTransferBytes(ULONG Feedback) const
{
    const AudioStreamingInterface *render = RenderInterface;
    if (render == nullptr) {
        return 0;
    }
    const ULONG w = RenderServiceInterval == 0 ? 1 : RenderServiceInterval;
    const ULONG steps = HighSpeed ? RenderTransferMs * (8 / w) * w : RenderTransferMs * w;
    ULONG samples = 0;
    if (render->FeedbackPipe != nullptr) {
        samples = FeedbackSamples(render->FeedbackFraction, Feedback, steps);
    } else if (CurrentRatePattern != nullptr) {
        samples =
            PatternSamples(PatternFor(*CurrentRatePattern, HighSpeed), PatternPosition, steps);
    }
    const ULONGLONG bytes = ULONGLONG(samples) * render->BytesPerFrame;
    return bytes > MAXULONG ? MAXULONG : static_cast<ULONG>(bytes);
}

NTSTATUS CUSBAudioCL::SubmitRenderTransfer(PMDL Mdl, ULONG Length, PUSB_TRANSFER_CALLBACK Callback,
                                           PVOID Context)
{
    AudioStreamingInterface *render = RenderInterface;
    if (render == nullptr || render->DataPipe == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "no render data pipe");
        return STATUS_NOT_SUPPORTED;
    }
    if (Mdl == nullptr || MmGetMdlByteCount(Mdl) < Length) {
        return STATUS_INVALID_PARAMETER;
    }
    if (Length == 0) {
        QuenTrace(TRACE_LEVEL_WARNING, "render transfer of 0 bytes");
    }
    const RenderPacketGeometry geometry = {render->BytesPerFrame, RenderServiceInterval, HighSpeed};
    const BOOLEAN implicit = RenderFollowsCapture();
    const BOOLEAN explicitFeedback = !implicit && render->FeedbackPipe != nullptr;
    const BOOLEAN framed = !implicit && (Quirks() & USB_QUIRK_LENGTH_PREFIXED_PACKETS) != 0;
    const BOOLEAN patterned = !implicit && (!explicitFeedback || framed);
    if (geometry.BytesPerFrame == 0 || (patterned && CurrentRatePattern == nullptr)) {
        QuenTrace(TRACE_LEVEL_ERROR, "no render format selected");
        return STATUS_INVALID_DEVICE_STATE;
    }
    RenderPattern pattern = {nullptr, 0};
    if (patterned) {
        pattern = PatternFor(*CurrentRatePattern, HighSpeed);
    }
    // One reading of the feedback value sizes both the count and the packets.
    ULONG feedback = 0;
    if (explicitFeedback) {
        KIRQL oldIrql;
        KeAcquireSpinLock(&render->FeedbackLock, &oldIrql);
        feedback = render->CurrentFeedback;
        KeReleaseSpinLock(&render->FeedbackLock, oldIrql);
    }

    ImplicitPacketCounts implicitCounts = {0, 0, 0};
    ULONG packets = 0;
    if (implicit) {
        implicitCounts = CountImplicitPackets(geometry, Length, RenderTransferMs,
                                              render->BytesPerPacket, render->WholeSamples);
        packets = implicitCounts.Total();
    } else if (explicitFeedback) {
        packets = CountFeedbackPackets(geometry, Length, feedback, render->FeedbackFraction);
    } else {
        packets = CountPatternPackets(geometry, Length, pattern, PatternPosition);
    }
    USB_TRANSFER_CONTEXT *context;
    PURB urb;
    const NTSTATUS allocated = AllocateIsoTransfer(packets, Callback, Context, &context, &urb);
    if (!NT_SUCCESS(allocated)) {
        return allocated;
    }
    auto &iso = urb->UrbIsochronousTransfer;
    iso.PipeHandle = render->DataPipe->PipeHandle;
    iso.TransferFlags = USBD_TRANSFER_DIRECTION_OUT | USBD_START_ISO_TRANSFER_ASAP;

    // The scheduling state moves on only for a transfer that is sent.
    const USHORT fraction = render->FeedbackFraction;
    const ULONG position = PatternPosition;
    if (framed) {
        const ULONGLONG size = ULONGLONG(packets) * kLengthPrefixBytes + Length;
        const auto audio = static_cast<const UCHAR *>(
            size <= MAXULONG ? MmGetSystemAddressForMdlSafe(Mdl, NormalPagePriority) : nullptr);
        if (audio != nullptr) {
            context->AuxiliaryBuffer = ExAllocatePoolWithTag(
                NonPagedPoolNx, static_cast<SIZE_T>(size), USB_FRAMING_POOL_TAG);
        }
        if (context->AuxiliaryBuffer == nullptr) {
            QuenTrace(TRACE_LEVEL_ERROR, "no framing buffer of %llu bytes", size);
            FreeTransferUrb(urb);
            FreeTransferContext(context);
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        iso.TransferBuffer = context->AuxiliaryBuffer;
        iso.TransferBufferLength = FrameLengthPrefixedPackets(
            geometry, audio, Length, pattern, &PatternPosition,
            static_cast<PUCHAR>(context->AuxiliaryBuffer), iso.IsoPacket, packets);
    } else {
        iso.TransferBufferMDL = Mdl;
        iso.TransferBufferLength = Length;
        if (implicit) {
            LayoutImplicitPackets(geometry, Length, render->BytesPerPacket, render->WholeSamples,
                                  implicitCounts, iso.IsoPacket);
        } else if (explicitFeedback) {
            LayoutFeedbackPackets(geometry, Length, feedback, &render->FeedbackFraction,
                                  iso.IsoPacket, packets);
        } else {
            LayoutPatternPackets(geometry, Length, pattern, &PatternPosition, iso.IsoPacket,
                                 packets);
        }
    }

    const NTSTATUS status = SubmitIrp(urb, context);
    if (!NT_SUCCESS(status)) {
        render->FeedbackFraction = fraction;
        PatternPosition = position;
        FreeTransferUrb(urb);
        FreeTransferContext(context);
    }
    return status;
}

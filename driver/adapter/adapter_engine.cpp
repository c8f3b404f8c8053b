// CAdapterUsbAudio: what the render and capture engines share. In-flight counting with the idle
// events, draining and aborting a direction's pipes, the reset requests of the completion
// routines, device removal, the back-off of repeated recoveries and the byte conversions
// between client and device frames.
#include "adapter/adapter_usb_audio.h"

#include "adapter/frame_conversion.h"
#include "driver_trace.h"
#include "function/audio_streaming_interface.h"

namespace {

// Idle waits after the pipes were aborted go in steps of this length, each traced.
const LONGLONG kIdleStepMs = 1000;

// Recoveries closer together than this count as one storm.
const LONGLONG kStormGapMs = 2000;
// The pause before the second recovery of a storm, doubling with every further one.
const LONGLONG kFirstBackOffMs = 10;
const LONGLONG kLongestBackOffMs = 1000;

LARGE_INTEGER RelativeMs(LONGLONG Milliseconds)
{
    LARGE_INTEGER interval;
    interval.QuadPart = -10000LL * Milliseconds;
    return interval;
}

} // namespace

BOOLEAN IsDeviceGoneStatus(NTSTATUS Status)
{
    return Status == STATUS_NO_SUCH_DEVICE || Status == STATUS_DELETE_PENDING ||
                   Status == STATUS_DEVICE_NOT_CONNECTED
               ? TRUE
               : FALSE;
}

void CAdapterUsbAudio::InFlightIncrement(BOOLEAN Capture)
{
    ADAPTER_STREAM &stream = StreamOf(Capture);
    KLOCK_QUEUE_HANDLE lockHandle;
    KeAcquireInStackQueuedSpinLock(&stream.InFlightLock, &lockHandle);
    if (++stream.InFlight == 1) {
        KeClearEvent(&stream.IdleEvent);
    }
    KeReleaseInStackQueuedSpinLock(&lockHandle);
}

void CAdapterUsbAudio::InFlightDecrement(BOOLEAN Capture)
{
    // The last thing a transfer does with the adapter: once idle is signalled, the thread may
    // free what the transfers used.
    ADAPTER_STREAM &stream = StreamOf(Capture);
    KLOCK_QUEUE_HANDLE lockHandle;
    KeAcquireInStackQueuedSpinLock(&stream.InFlightLock, &lockHandle);
    if (--stream.InFlight == 0) {
        KeSetEvent(&stream.IdleEvent, IO_NO_INCREMENT, FALSE);
    }
    KeReleaseInStackQueuedSpinLock(&lockHandle);
}

ADAPTER_TRANSFER *CAdapterUsbAudio::TakeChainTransfer(PUCHAR Buffer, ADAPTER_TRANSFER *Transfer,
                                                      ULONG Length)
{
    if (Buffer == nullptr && Length != 0) {
        Buffer = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPoolNx, Length, USBA_POOL_TAG));
    }
    if (Buffer != nullptr && Transfer == nullptr) {
        Transfer =
            static_cast<ADAPTER_TRANSFER *>(ExAllocateFromNPagedLookasideList(&TransferList));
        if (Transfer != nullptr) {
            RtlZeroMemory(Transfer, sizeof(*Transfer));
        }
    }
    if (Buffer == nullptr || Transfer == nullptr) {
        FreeChainTransfer(Buffer, Transfer);
        return nullptr;
    }
    Transfer->Buffer = Buffer;
    Transfer->Size = Length;
    Transfer->Adapter = this;
    return Transfer;
}

void CAdapterUsbAudio::FreeChainTransfer(PUCHAR Buffer, ADAPTER_TRANSFER *Transfer)
{
    if (Transfer != nullptr) {
        ExFreeToNPagedLookasideList(&TransferList, Transfer);
    }
    if (Buffer != nullptr) {
        ExFreePoolWithTag(Buffer, USBA_POOL_TAG);
    }
}

NTSTATUS CAdapterUsbAudio::AbortPipes(BOOLEAN Capture)
{
    PAGED_CODE();
    if (!Capture) {
        return Usb.RenderPipeAbort();
    }
    AudioStreamingInterface *capture = Usb.CaptureInterface;
    return capture != nullptr ? Usb.AbortPipe(capture->DataPipe) : STATUS_INVALID_PARAMETER;
}

void CAdapterUsbAudio::WaitForIdle(BOOLEAN Capture, ULONG DrainMs)
{
    PAGED_CODE();
    ADAPTER_STREAM &stream = StreamOf(Capture);
    LARGE_INTEGER timeout = RelativeMs(DrainMs);
    if (KeWaitForSingleObject(&stream.IdleEvent, Executive, KernelMode, FALSE, &timeout) !=
        STATUS_TIMEOUT) {
        return;
    }
    QuenTrace(TRACE_LEVEL_WARNING, "%s transfers did not drain in %lu ms: aborting",
              Capture ? "capture" : "render", DrainMs);
    AbortPipes(Capture);
    timeout = RelativeMs(kIdleStepMs);
    while (KeWaitForSingleObject(&stream.IdleEvent, Executive, KernelMode, FALSE, &timeout) ==
           STATUS_TIMEOUT) {
        QuenTrace(TRACE_LEVEL_ERROR, "%s transfers still in flight after the abort",
                  Capture ? "capture" : "render");
    }
}

void CAdapterUsbAudio::RequestReset(BOOLEAN Capture, NTSTATUS Status)
{
    ADAPTER_STREAM &stream = StreamOf(Capture);
    InterlockedCompareExchange(&stream.ResetStatus, Status, STATUS_SUCCESS);
    KeSetEvent(&stream.ResetEvent, IO_NO_INCREMENT, FALSE);
}

BOOLEAN CAdapterUsbAudio::NoteDeviceGone(BOOLEAN Capture, NTSTATUS Status)
{
    if (!IsDeviceGoneStatus(Status)) {
        return FALSE;
    }
    ADAPTER_STREAM &stream = StreamOf(Capture);
    if (InterlockedCompareExchange(&stream.DeviceGone, Status, 0) == 0) {
        QuenTrace(TRACE_LEVEL_ERROR, "%s: device gone, status 0x%08lX",
                  Capture ? "capture" : "render", Status);
        ReportStreamError(Capture, Status);
    }
    return TRUE;
}

void CAdapterUsbAudio::BackOffAfterRecovery(BOOLEAN Capture)
{
    PAGED_CODE();
    ADAPTER_STREAM &stream = StreamOf(Capture);
    const NTSTATUS cause = InterlockedExchange(&stream.ResetStatus, STATUS_SUCCESS);
    QuenTrace(TRACE_LEVEL_WARNING, "%s recovered from status 0x%08lX",
              Capture ? "capture" : "render", cause);
    ReportStreamError(Capture, cause);

    LARGE_INTEGER frequency;
    const LONGLONG now = KeQueryPerformanceCounter(&frequency).QuadPart;
    if (stream.Recoveries != 0 &&
        now - stream.LastRecovery > kStormGapMs * frequency.QuadPart / 1000) {
        stream.Recoveries = 0;
    }
    stream.LastRecovery = now;
    if (++stream.Recoveries < 2) {
        return;
    }
    const ULONG doublings = stream.Recoveries - 2;
    LONGLONG pause = kLongestBackOffMs;
    if (doublings < 7 && (kFirstBackOffMs << doublings) < kLongestBackOffMs) {
        pause = kFirstBackOffMs << doublings;
    }
    // A stop ends the pause.
    LARGE_INTEGER timeout = RelativeMs(pause);
    KeWaitForSingleObject(&stream.StopEvent, Executive, KernelMode, FALSE, &timeout);
}

void CAdapterUsbAudio::ReportStreamError(BOOLEAN Capture, NTSTATUS Status)
{
    PMINIPORTUSBAUDIONOTIFY miniport = Miniport;
    if (miniport != nullptr && !NT_SUCCESS(Status)) {
        miniport->SetStreamError(Capture ? TRUE : FALSE, Status);
    }
}

void CAdapterUsbAudio::NotifyStream(BOOLEAN Capture)
{
    PMINIPORTUSBAUDIONOTIFY miniport = Miniport;
    if (miniport != nullptr) {
        miniport->NotifyStream(Capture ? TRUE : FALSE);
    }
}

void CAdapterUsbAudio::WaitForStop(BOOLEAN Capture)
{
    PAGED_CODE();
    KeWaitForSingleObject(&StreamOf(Capture).StopEvent, Executive, KernelMode, FALSE, nullptr);
}

ULONG CAdapterUsbAudio::CurrentFrame()
{
    ULONG frame = 0;
    if (Usb.BusInterface.QueryBusTime != nullptr) {
        Usb.BusInterface.QueryBusTime(Usb.BusInterface.BusContext, &frame);
    }
    return frame;
}

ULONG CAdapterUsbAudio::ClientBytesFor(BOOLEAN Capture, ULONG DeviceBytes) const
{
    const ADAPTER_STREAM &stream = Streams[Capture ? ADAPTER_CAPTURE : ADAPTER_RENDER];
    return ConvertedByteCount(DeviceBytes, stream.DeviceFormat.BytesPerFrame,
                              stream.ClientFormat.BytesPerFrame);
}

ULONG CAdapterUsbAudio::DeviceBytesFor(BOOLEAN Capture, ULONG ClientBytes) const
{
    const ADAPTER_STREAM &stream = Streams[Capture ? ADAPTER_CAPTURE : ADAPTER_RENDER];
    return ConvertedByteCount(ClientBytes, stream.ClientFormat.BytesPerFrame,
                              stream.DeviceFormat.BytesPerFrame);
}

// CAdapterUsbAudio: the capture engine. One system thread per started capture stream turns
// units of the capture slot semaphore into chains of capture transfers; each completion
// converts what arrived into the regions of the capture queue, tells the stream, and
// resubmits. With an implicit feedback endpoint the capture stream also clocks render: it
// counts how far each transfer was from nominal, and its transfers run whether or not captured
// data is wanted.
#include "adapter/adapter_usb_audio.h"

#include "adapter/frame_conversion.h"
#include "driver_trace.h"
#include "function/audio_streaming_interface.h"

namespace {

// The first capture transfer after a (re)start is scheduled this many frames ahead.
const ULONG kCaptureStartFrames = 7;

// Above the transfers' own length, how long a recovering stream waits for its transfers before
// it aborts them again.
const ULONG kDrainMarginMs = 100;

} // namespace

VOID CAdapterUsbAudio::StreamInThread(PVOID Context)
{
    PAGED_CODE();
    auto adapter = static_cast<CAdapterUsbAudio *>(Context);
    ADAPTER_STREAM &capture = adapter->Streams[ADAPTER_CAPTURE];
    PVOID commands[] = {&capture.StopEvent, &capture.ResetEvent, &capture.RunEvent};
    for (;;) {
        if (capture.DeviceGone != 0) {
            adapter->WaitForStop(TRUE);
            break;
        }
        KeWaitForSingleObject(&capture.SlotSemaphore, Executive, KernelMode, FALSE, nullptr);
        NTSTATUS command;
        if (adapter->IsImplicitMode()) {
            // Render needs the capture clock: only a stop or a reset holds the transfers back.
            LARGE_INTEGER now;
            now.QuadPart = 0;
            command = KeWaitForMultipleObjects(2, commands, WaitAny, Executive, KernelMode, FALSE,
                                               &now, nullptr);
            if (command == STATUS_TIMEOUT) {
                command = STATUS_WAIT_2;
            }
        } else {
            command = KeWaitForMultipleObjects(ARRAYSIZE(commands), commands, WaitAny, Executive,
                                               KernelMode, FALSE, nullptr, nullptr);
        }
        if (command != STATUS_WAIT_2) {
            KeReleaseSemaphore(&capture.SlotSemaphore, IO_NO_INCREMENT, 1, FALSE);
            if (command == STATUS_WAIT_0) {
                break;
            }
            if (command == STATUS_WAIT_1) {
                adapter->RecoverCapture();
            }
            continue;
        }
        adapter->InFlightIncrement(TRUE);
        adapter->SendCaptureTransfer(nullptr, nullptr);
    }
    // Nothing captured from here on is wanted.
    if (capture.DeviceGone == 0 && capture.InFlight != 0) {
        adapter->AbortPipes(TRUE);
    }
    adapter->WaitForIdle(TRUE,
                         capture.TransfersInFlight * capture.FramesPerTransfer + kDrainMarginMs);
    if (capture.DeviceGone == 0) {
        adapter->Usb.ResetPipe(adapter->Usb.CaptureInterface->DataPipe);
    }
    KeSetEvent(&capture.ExitEvent, IO_NO_INCREMENT, FALSE);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

void CAdapterUsbAudio::RecoverCapture()
{
    PAGED_CODE();
    ADAPTER_STREAM &capture = Streams[ADAPTER_CAPTURE];
    const BOOLEAN gone = NoteDeviceGone(TRUE, AbortPipes(TRUE)) || capture.DeviceGone != 0;
    WaitForIdle(TRUE, capture.TransfersInFlight * capture.FramesPerTransfer + kDrainMarginMs);
    if (!gone) {
        const NTSTATUS status = Usb.ResetPipe(Usb.CaptureInterface->DataPipe);
        if (!NT_SUCCESS(status)) {
            QuenTrace(TRACE_LEVEL_WARNING, "capture pipe reset failed, status 0x%08lX", status);
        }
    }
    KeClearEvent(&capture.ResetEvent);
    KIRQL oldIrql;
    KeAcquireSpinLock(&CaptureScheduleLock, &oldIrql);
    CaptureRestart = TRUE;
    KeReleaseSpinLock(&CaptureScheduleLock, oldIrql);
    if (!gone) {
        BackOffAfterRecovery(TRUE);
    }
}

ULONG CAdapterUsbAudio::NextCaptureStartFrame()
{
    // Transfers go as soon as possible; the schedule is kept for the diagnostics.
    const ULONG frame = CurrentFrame();
    KIRQL oldIrql;
    KeAcquireSpinLock(&CaptureScheduleLock, &oldIrql);
    ULONG next;
    if (CaptureRestart) {
        CaptureRestart = FALSE;
        next = frame + kCaptureStartFrames;
    } else {
        next = CaptureNextStartFrame + Streams[ADAPTER_CAPTURE].FramesPerTransfer;
        if (LONG(next - frame) < 0) {
            QuenTrace(TRACE_LEVEL_WARNING, "capture schedule behind the bus at frame %lu", frame);
            next = frame + kCaptureStartFrames;
        }
    }
    CaptureNextStartFrame = next;
    KeReleaseSpinLock(&CaptureScheduleLock, oldIrql);
    return next;
}

void CAdapterUsbAudio::SendCaptureTransfer(PUCHAR Buffer, ADAPTER_TRANSFER *Transfer)
{
    ADAPTER_STREAM &capture = Streams[ADAPTER_CAPTURE];
    const BOOLEAN wanted = KeReadStateEvent(&capture.StopEvent) == 0 &&
                           KeReadStateEvent(&capture.ResetEvent) == 0 && capture.DeviceGone == 0 &&
                           (IsImplicitMode() || KeReadStateEvent(&capture.RunEvent) != 0);
    if (wanted) {
        ADAPTER_TRANSFER *transfer = TakeChainTransfer(Buffer, Transfer, capture.BytesPerTransfer);
        Buffer = transfer != nullptr ? transfer->Buffer : nullptr;
        Transfer = transfer;
        NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
        if (transfer != nullptr) {
            transfer->StartFrame = NextCaptureStartFrame();
            // The slot and the in-flight unit travel with the transfer.
            status =
                Usb.SubmitCaptureTransfer(transfer->Buffer, transfer->Size, CaptureTransferComplete,
                                          transfer, transfer->StartFrame);
            if (NT_SUCCESS(status)) {
                return;
            }
        }
        // The thread would try again at once: the recovery's back-off paces the retries.
        QuenTrace(TRACE_LEVEL_ERROR, "capture transfer not started, status 0x%08lX", status);
        RequestReset(TRUE, status);
    }
    FreeChainTransfer(Buffer, Transfer);
    KeReleaseSemaphore(&capture.SlotSemaphore, IO_NO_INCREMENT, 1, FALSE);
    InFlightDecrement(TRUE);
}

void CAdapterUsbAudio::CaptureTransferComplete(NTSTATUS Status, ULONG Bytes, PVOID Context)
{
    auto transfer = static_cast<ADAPTER_TRANSFER *>(Context);
    CAdapterUsbAudio *adapter = transfer->Adapter;
    if (!NT_SUCCESS(Status)) {
        if (Status == STATUS_DEVICE_NOT_CONNECTED) {
            adapter->HaltStream(TRUE);
        }
        adapter->NoteDeviceGone(TRUE, Status);
        adapter->RequestReset(TRUE, Status);
    } else {
        if (adapter->IsImplicitMode() &&
            KeReadStateEvent(&adapter->Streams[ADAPTER_RENDER].RunEvent) != 0) {
            adapter->AccumulateCaptureFrames(Bytes);
        }
        if (KeReadStateEvent(&adapter->Streams[ADAPTER_CAPTURE].RunEvent) != 0) {
            adapter->CopyCapturedData(transfer->Buffer, Bytes);
        }
    }
    adapter->SendCaptureTransfer(transfer->Buffer, transfer);
}

void CAdapterUsbAudio::AccumulateCaptureFrames(ULONG Bytes)
{
    const ADAPTER_STREAM &capture = Streams[ADAPTER_CAPTURE];
    const LONG frameBytes = LONG(capture.DeviceFormat.BytesPerFrame);
    if (frameBytes == 0) {
        return;
    }
    // How many frames this transfer was longer (positive) or shorter than nominal; a transfer
    // outside the possible range (a missed one) tells nothing about the clock.
    const LONG frames = (LONG(Bytes) - LONG(capture.ImplicitBaseBytes)) / frameBytes;
    if (frames < capture.ImplicitMinimumFrames || frames > capture.ImplicitMaximumFrames) {
        return;
    }
    KIRQL oldIrql;
    KeAcquireSpinLock(&AccumulationLock, &oldIrql);
    AccumulatedCaptureFrames += frames;
    KeReleaseSpinLock(&AccumulationLock, oldIrql);
}

void CAdapterUsbAudio::CopyCapturedData(const UCHAR *Data, ULONG Bytes)
{
    ADAPTER_STREAM &capture = Streams[ADAPTER_CAPTURE];
    const ADAPTER_FORMAT &client = capture.ClientFormat;
    const ADAPTER_FORMAT &device = capture.DeviceFormat;
    PUCHAR last = nullptr;
    KLOCK_QUEUE_HANDLE lockHandle;
    KeAcquireInStackQueuedSpinLock(&capture.QueueLock, &lockHandle);
    // Captured data that finds no queued region is dropped.
    ULONG remaining = ClientBytesFor(TRUE, Bytes);
    while (remaining != 0 && !IsListEmpty(&capture.Queue)) {
        ADAPTER_QUEUE_ENTRY *entry =
            CONTAINING_RECORD(capture.Queue.Flink, ADAPTER_QUEUE_ENTRY, Link);
        const ULONG taken = entry->Remaining < remaining ? entry->Remaining : remaining;
        const ULONG consumed = DeviceBytesFor(TRUE, taken);
        ConvertFrames(entry->Current, Data, consumed, client.Channels, client.BitsPerSample,
                      device.Channels, device.BitsPerSample);
        entry->Remaining -= taken;
        entry->Current += taken;
        last = entry->Current;
        if (entry->Remaining == 0) {
            RemoveHeadList(&capture.Queue);
            ExFreeToNPagedLookasideList(&QueueEntryList, entry);
        }
        remaining -= taken;
        Data += consumed;
    }
    PMINIPORTUSBAUDIONOTIFY miniport = Miniport;
    if (last != nullptr && miniport != nullptr) {
        miniport->SetCapturePosition(last);
    }
    KeReleaseInStackQueuedSpinLock(&lockHandle);
    // The stream hears of every completion, one that brought nothing too.
    NotifyStream(TRUE);
}

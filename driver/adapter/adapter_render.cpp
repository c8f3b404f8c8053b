// CAdapterUsbAudio: the render engine. One system thread per started render stream turns the
// regions queued in the render queue into isochronous OUT transfers sized by the device's
// explicit feedback (or the rate pattern, or the capture stream that clocks an implicit
// feedback device), and recovers from failed transfers by aborting and resetting the pipes.
//
// A slot is one chain of transfers: a unit in the render slot semaphore, or a transfer in
// flight. The thread turns a unit into a transfer while the stream runs; a completed transfer
// refills its slot at once from its completion, so no refill waits for a thread or a work item.
// A chain that cannot go on (the stream paused, an ASIO host late, a failure) gives its unit
// back to the semaphore instead of ending, and the thread takes it up again. There are never
// more slots than transfer contexts.
#include "adapter/adapter_usb_audio.h"

#include "adapter/frame_conversion.h"
#include "driver_trace.h"
#include "function/audio_streaming_interface.h"

namespace {

// The unit a render thread holds between its two waits.
enum RenderUnit { RenderUnitNone, RenderUnitSlot, RenderUnitFeedback };

// Above the transfers' own length, how long a stopping or recovering stream waits for its
// transfers before it aborts them.
const ULONG kDrainMarginMs = 100;

// Silence in the device's samples: unsigned 8-bit samples centre on 0x80.
UCHAR SilenceByte(ULONG Bits) { return Bits == 8 ? 0x80 : 0x00; }

} // namespace

VOID CAdapterUsbAudio::StreamOutWithExplicitFeedbackEndpointThread(PVOID Context)
{
    static_cast<CAdapterUsbAudio *>(Context)->RunRenderThread(TRUE);
}

VOID CAdapterUsbAudio::StreamOutThread(PVOID Context)
{
    static_cast<CAdapterUsbAudio *>(Context)->RunRenderThread(FALSE);
}

void CAdapterUsbAudio::RunRenderThread(BOOLEAN ExplicitFeedback)
{
    PAGED_CODE();
    ADAPTER_STREAM &render = Streams[ADAPTER_RENDER];
    PVOID units[] = {&render.SlotSemaphore, &FeedbackSlotSemaphore};
    PVOID commands[] = {&render.StopEvent, &render.ResetEvent, &render.RunEvent};
    for (;;) {
        if (render.DeviceGone != 0) {
            // Nothing more can be sent; the stream ends when its pin stops it.
            WaitForStop(FALSE);
            break;
        }
        const NTSTATUS wait =
            KeWaitForMultipleObjects(ExplicitFeedback ? 2 : 1, units, WaitAny, Executive,
                                     KernelMode, FALSE, nullptr, nullptr);
        RenderUnit unit = RenderUnitNone;
        if (wait == STATUS_WAIT_0) {
            unit = RenderUnitSlot;
        } else if (wait == STATUS_WAIT_1) {
            unit = RenderUnitFeedback;
        } else {
            QuenTrace(TRACE_LEVEL_ERROR, "unit wait returned 0x%08lX", wait);
        }
        const NTSTATUS command = KeWaitForMultipleObjects(
            ARRAYSIZE(commands), commands, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr);
        if (command != STATUS_WAIT_2 || unit == RenderUnitNone) {
            if (unit != RenderUnitNone) {
                KeReleaseSemaphore(unit == RenderUnitSlot ? &render.SlotSemaphore
                                                          : &FeedbackSlotSemaphore,
                                   IO_NO_INCREMENT, 1, FALSE);
            }
            if (command == STATUS_WAIT_0) {
                break;
            }
            if (command == STATUS_WAIT_1) {
                RecoverRender();
            }
            continue;
        }
        InFlightIncrement(FALSE);
        if (unit == RenderUnitSlot) {
            SendRenderTransfer();
        } else {
            ExplicitFeedbackStart(nullptr, nullptr);
        }
    }
    FinishRenderThread();
    KeSetEvent(&render.ExitEvent, IO_NO_INCREMENT, FALSE);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

void CAdapterUsbAudio::FinishRenderThread()
{
    PAGED_CODE();
    ADAPTER_STREAM &render = Streams[ADAPTER_RENDER];
    // What is in flight plays out; what is still queued waits for the next run, and the
    // interface keeps its setting until the stream stops.
    WaitForIdle(FALSE, render.TransfersInFlight * render.FramesPerTransfer + kDrainMarginMs);
    DeleteRenderTransfers();
}

NTSTATUS CAdapterUsbAudio::AllocateRenderTransfers()
{
    PAGED_CODE();
    const ADAPTER_STREAM &render = Streams[ADAPTER_RENDER];
    const ULONG bytes = render.BytesPerTransfer;
    RenderTransferCount = 0;
    if (bytes == 0) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    for (ULONG i = 0; i < render.TransfersInFlight; ++i) {
        auto transfer =
            static_cast<ADAPTER_TRANSFER *>(ExAllocateFromNPagedLookasideList(&TransferList));
        if (transfer == nullptr) {
            continue;
        }
        RtlZeroMemory(transfer, sizeof(*transfer));
        transfer->Buffer =
            static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPoolNx, bytes, USBA_POOL_TAG));
        if (transfer->Buffer != nullptr) {
            transfer->Mdl = IoAllocateMdl(transfer->Buffer, bytes, FALSE, FALSE, nullptr);
        }
        if (transfer->Mdl == nullptr) {
            // The stream runs with fewer transfers.
            if (transfer->Buffer != nullptr) {
                ExFreePoolWithTag(transfer->Buffer, USBA_POOL_TAG);
            }
            ExFreeToNPagedLookasideList(&TransferList, transfer);
            continue;
        }
        MmBuildMdlForNonPagedPool(transfer->Mdl);
        transfer->Adapter = this;
        ExInterlockedInsertTailList(&FreeRenderTransferList, &transfer->Link,
                                    &FreeRenderTransferLock);
        ++RenderTransferCount;
    }
    if (RenderTransferCount == 0) {
        QuenTrace(TRACE_LEVEL_ERROR, "no render transfer could be allocated");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return STATUS_SUCCESS;
}

void CAdapterUsbAudio::DeleteRenderTransfers()
{
    // Every transfer is back on the free list: none is in flight.
    PLIST_ENTRY link;
    while ((link = ExInterlockedRemoveHeadList(&FreeRenderTransferList, &FreeRenderTransferLock)) !=
           nullptr) {
        auto transfer = CONTAINING_RECORD(link, ADAPTER_TRANSFER, Link);
        IoFreeMdl(transfer->Mdl);
        ExFreePoolWithTag(transfer->Buffer, USBA_POOL_TAG);
        ExFreeToNPagedLookasideList(&TransferList, transfer);
    }
    RenderTransferCount = 0;
}

void CAdapterUsbAudio::ReleaseRenderSlot()
{
    const LONG count = InterlockedIncrement(&RenderSlotCount);
    if (count <= LONG(RenderTransferCount)) {
        KeReleaseSemaphore(&Streams[ADAPTER_RENDER].SlotSemaphore, IO_NO_INCREMENT, 1, FALSE);
    } else {
        InterlockedDecrement(&RenderSlotCount);
    }
}

void CAdapterUsbAudio::SendRenderTransfer()
{
    KLOCK_QUEUE_HANDLE lockHandle;
    KeAcquireInStackQueuedSpinLock(&RenderStreamLock, &lockHandle);
    ADAPTER_TRANSFER *transfer = nullptr;
    if (SubmitNextRenderTransfer(&transfer)) {
        // The slot and the in-flight unit travel with the transfer.
        KeReleaseInStackQueuedSpinLock(&lockHandle);
        return;
    }
    // The chain waits: its slot goes back to the semaphore, a partly filled transfer to the head
    // of the free list.
    if (transfer != nullptr) {
        ExInterlockedInsertHeadList(&FreeRenderTransferList, &transfer->Link,
                                    &FreeRenderTransferLock);
    }
    KeReleaseSemaphore(&Streams[ADAPTER_RENDER].SlotSemaphore, IO_NO_INCREMENT, 1, FALSE);
    KeReleaseInStackQueuedSpinLock(&lockHandle);
    InFlightDecrement(FALSE);
}

BOOLEAN CAdapterUsbAudio::SubmitNextRenderTransfer(ADAPTER_TRANSFER **Taken)
{
    ADAPTER_STREAM &render = Streams[ADAPTER_RENDER];
    const BOOLEAN running = KeReadStateEvent(&render.RunEvent) != 0;
    if (KeReadStateEvent(&render.ResetEvent) != 0 || render.DeviceGone != 0 ||
        (KeReadStateEvent(&render.StopEvent) != 0 && IsRenderQueueEmpty())) {
        return FALSE;
    }
    PLIST_ENTRY link =
        ExInterlockedRemoveHeadList(&FreeRenderTransferList, &FreeRenderTransferLock);
    if (link == nullptr) {
        return FALSE;
    }
    ADAPTER_TRANSFER *transfer = CONTAINING_RECORD(link, ADAPTER_TRANSFER, Link);
    *Taken = transfer;
    if (transfer->Size == 0) {
        if (!running) {
            return FALSE;
        }
        transfer->Size = SizeRenderTransfer(transfer);
        if (transfer->Size == 0) {
            return FALSE;
        }
        const ULONG step = ClientBytesFor(FALSE, transfer->Size);
        if (IsAsioMode(FALSE) && !AsioRenderFlowing &&
            ULONG(RenderQueuedBytes) < 2 * (AsioHalfBytes > step ? AsioHalfBytes : step)) {
            // Transfers start with two halves and two transfers queued: what goes beyond the
            // first half and transfer covers the time the host takes for its next half, so
            // the bus stream does not stop again at once.
            transfer->Size = 0;
            PauseAsioRender();
            return FALSE;
        }
    } else if (!running && transfer->Filled == 0 && IsRenderQueueEmpty()) {
        transfer->Size = 0;
        return FALSE;
    } else if (!running && IsAsioMode(FALSE) && KeReadStateEvent(&render.StopEvent) == 0) {
        // Waiting for the ASIO host, a partly filled transfer waits for its next half: sent
        // short, its packets would last longer than the frames they carry.
        return FALSE;
    }
    if (transfer->Size > render.BytesPerTransfer || transfer->Size < transfer->Filled) {
        QuenTrace(TRACE_LEVEL_ERROR, "transfer of %lu bytes, %lu filled, buffers of %lu",
                  transfer->Size, transfer->Filled, render.BytesPerTransfer);
        transfer->Size = 0;
        transfer->Filled = 0;
        RequestReset(FALSE, STATUS_INVALID_BUFFER_SIZE);
        return FALSE;
    }

    const ADAPTER_FORMAT &client = render.ClientFormat;
    const ADAPTER_FORMAT &device = render.DeviceFormat;
    ULONG need = ClientBytesFor(FALSE, transfer->Size - transfer->Filled);
    PUCHAR destination = transfer->Buffer + transfer->Filled;
    PUCHAR last = nullptr;
    while (running && need != 0) {
        ADAPTER_QUEUE_ENTRY *entry = RenderQueueHead();
        if (entry == nullptr) {
            break;
        }
        const ULONG taken = entry->Remaining < need ? entry->Remaining : need;
        ConvertFrames(destination, entry->Current, taken, device.Channels, device.BitsPerSample,
                      client.Channels, client.BitsPerSample);
        const ULONG converted = DeviceBytesFor(FALSE, taken);
        transfer->Filled += converted;
        destination += converted;
        need -= taken;
        InterlockedExchangeAdd(&RenderQueuedBytes, -LONG(taken));
        entry->Remaining -= taken;
        entry->Current += taken;
        last = entry->Current;
        if (entry->Remaining == 0) {
            RemoveRenderQueueHead();
        }
    }
    PMINIPORTUSBAUDIONOTIFY miniport = Miniport;
    if (last != nullptr && miniport != nullptr) {
        miniport->SetRenderPosition(last);
        miniport->NotifyStream(FALSE);
    }
    if (need != 0 && running) {
        if (IsAsioMode(FALSE)) {
            PauseAsioRender(); // the ASIO side is late
            return FALSE;
        }
        // The queue ran dry: silence completes the transfer, and the play position moves on by
        // exactly the silence, as it would over a buffer the hardware plays regardless.
        RtlFillMemory(destination, transfer->Size - transfer->Filled,
                      SilenceByte(device.BitsPerSample));
        transfer->Filled = transfer->Size;
        if (miniport != nullptr) {
            miniport->AdvanceRenderPosition(need);
            miniport->NotifyStream(FALSE);
        }
    }
    // A stopping stream sends what it has, and nothing when it has nothing.
    transfer->Size = transfer->Filled;
    if (transfer->Size == 0) {
        return FALSE;
    }
    transfer->StartFrame = CurrentFrame();
    RenderSubmitter = PsGetCurrentThreadId();
    const NTSTATUS status =
        Usb.SubmitRenderTransfer(transfer->Mdl, transfer->Size, RenderTransferComplete, transfer);
    RenderSubmitter = nullptr;
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "submission failed, status 0x%08lX", status);
        RequestReset(FALSE, status);
        return FALSE;
    }
    *Taken = nullptr;
    AsioRenderFlowing = TRUE;
    return TRUE;
}

void CAdapterUsbAudio::PauseAsioRender()
{
    AsioRenderFlowing = FALSE;
    KeClearEvent(&Streams[ADAPTER_RENDER].RunEvent);
    // A host that runs on render's own signals is asked for the next half; in duplex capture's
    // signals ask for it.
    PMINIPORTUSBAUDIONOTIFY miniport = Miniport;
    if (KeReadStateEvent(&Streams[ADAPTER_CAPTURE].RunEvent) == 0 && miniport != nullptr) {
        miniport->BufferToggle();
    }
}

ULONG CAdapterUsbAudio::SizeRenderTransfer(ADAPTER_TRANSFER *Transfer)
{
    ADAPTER_STREAM &render = Streams[ADAPTER_RENDER];
    ULONG clientBytes = 0;
    if (IsImplicitMode()) {
        // The nominal transfer, corrected by the frames the capture stream ran ahead or behind.
        clientBytes = ClientBytesFor(FALSE, render.ImplicitBaseBytes);
        if (clientBytes != 0) {
            LONG frames = render.ImplicitMinimumFrames;
            KeAcquireSpinLockAtDpcLevel(&AccumulationLock);
            const LONG accumulated = AccumulatedCaptureFrames;
            if (accumulated >= frames) {
                frames = accumulated < render.ImplicitMaximumFrames ? accumulated
                                                                    : render.ImplicitMaximumFrames;
            }
            AccumulatedCaptureFrames = accumulated - frames;
            KeReleaseSpinLockFromDpcLevel(&AccumulationLock);
            const LONGLONG total =
                LONGLONG(clientBytes) + LONGLONG(frames) * render.ClientFormat.BytesPerFrame;
            clientBytes = total > 0 ? static_cast<ULONG>(total) : 0;
        }
        if (clientBytes == 0) {
            RequestReset(FALSE, STATUS_INVALID_DEVICE_STATE);
            return 0;
        }
    } else {
        ULONG feedback = 0;
        AudioStreamingInterface *stream = Usb.RenderInterface;
        if (stream->FeedbackPipe != nullptr) {
            KeAcquireSpinLockAtDpcLevel(&stream->FeedbackLock);
            stream->CurrentFeedback = stream->LatestFeedback;
            feedback = stream->CurrentFeedback;
            KeReleaseSpinLockFromDpcLevel(&stream->FeedbackLock);
        }
        Transfer->Feedback = feedback;
        clientBytes = ClientBytesFor(FALSE, Usb.GetRenderTransferBytes(feedback));
    }
    ULONG size = DeviceBytesFor(FALSE, clientBytes);
    if (size > render.BytesPerTransfer) {
        // The device asks for more than its endpoint carries: the most the buffer holds goes.
        QuenTrace(TRACE_LEVEL_WARNING, "%lu bytes asked for, %lu sent", size,
                  render.BytesPerTransfer);
        const ULONG frameBytes = render.DeviceFormat.BytesPerFrame;
        size = render.BytesPerTransfer - render.BytesPerTransfer % frameBytes;
    }
    return size;
}

void CAdapterUsbAudio::RenderTransferComplete(NTSTATUS Status, ULONG Bytes, PVOID Context)
{
    auto transfer = static_cast<ADAPTER_TRANSFER *>(Context);
    CAdapterUsbAudio *adapter = transfer->Adapter;
    ADAPTER_STREAM &render = adapter->Streams[ADAPTER_RENDER];
    if (!NT_SUCCESS(Status) || Bytes == 0) {
        adapter->NoteDeviceGone(FALSE, Status);
        adapter->RequestReset(FALSE, NT_SUCCESS(Status) ? STATUS_UNSUCCESSFUL : Status);
    }
    transfer->Size = 0;
    transfer->Filled = 0;
    ExInterlockedInsertTailList(&adapter->FreeRenderTransferList, &transfer->Link,
                                &adapter->FreeRenderTransferLock);
    // The chain goes on from here, with nothing to wait for; but a transfer the stack completed
    // inside its own submission finds the render stream lock held by that submission, so its
    // slot goes to the thread, as does the slot of a failed one.
    if (NT_SUCCESS(Status) && Bytes != 0 && adapter->RenderSubmitter != PsGetCurrentThreadId()) {
        adapter->SendRenderTransfer();
        return;
    }
    KeReleaseSemaphore(&render.SlotSemaphore, IO_NO_INCREMENT, 1, FALSE);
    adapter->InFlightDecrement(FALSE);
}

void CAdapterUsbAudio::RecoverRender()
{
    PAGED_CODE();
    ADAPTER_STREAM &render = Streams[ADAPTER_RENDER];
    const NTSTATUS aborted = Usb.RenderPipeAbort();
    const BOOLEAN gone = NoteDeviceGone(FALSE, aborted) || render.DeviceGone != 0;
    WaitForIdle(FALSE, render.TransfersInFlight * render.FramesPerTransfer + kDrainMarginMs);
    AudioStreamingInterface *stream = Usb.RenderInterface;
    if (!gone) {
        NTSTATUS status = Usb.ResetPipe(stream->DataPipe);
        if (!NT_SUCCESS(status)) {
            QuenTrace(TRACE_LEVEL_WARNING, "data pipe reset failed, status 0x%08lX", status);
        }
        Usb.ResynchronizeFeedback(NominalRenderFeedback());
        if (stream->FeedbackPipe != nullptr) {
            status = Usb.ResetPipe(stream->FeedbackPipe);
            if (!NT_SUCCESS(status)) {
                QuenTrace(TRACE_LEVEL_WARNING, "feedback pipe reset failed, status 0x%08lX",
                          status);
            }
        }
    }
    FeedbackErrorCount = 0;
    KeClearEvent(&render.ResetEvent);

    KLOCK_QUEUE_HANDLE lockHandle;
    KeAcquireInStackQueuedSpinLock(&RenderStreamLock, &lockHandle);
    // A fragment filled before the failure would play out of place afterwards.
    KeAcquireSpinLockAtDpcLevel(&FreeRenderTransferLock);
    for (PLIST_ENTRY link = FreeRenderTransferList.Flink; link != &FreeRenderTransferList;
         link = link->Flink) {
        ADAPTER_TRANSFER *transfer = CONTAINING_RECORD(link, ADAPTER_TRANSFER, Link);
        transfer->Size = 0;
        transfer->Filled = 0;
    }
    KeReleaseSpinLockFromDpcLevel(&FreeRenderTransferLock);
    PMINIPORTUSBAUDIONOTIFY miniport = Miniport;
    if (IsAsioMode(FALSE)) {
        // The ASIO cycle starts over from the next output-ready.
        if (miniport != nullptr) {
            miniport->ClearBuffer(FALSE);
        }
        FlushRenderQueueLocked();
        PauseAsioRender();
    }
    KeReleaseInStackQueuedSpinLock(&lockHandle);
    if (!gone) {
        BackOffAfterRecovery(FALSE);
    }
}

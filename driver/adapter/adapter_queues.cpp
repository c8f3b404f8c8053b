// CAdapterUsbAudio: the render and capture queues. The stream hands the engine regions of its
// cyclic buffer: data to play (render) or room for captured data (capture). Entries come from a
// lookaside list; a region that finds none is dropped, and the stream is told.
//
// The render queue takes entries from producers that may already hold the render stream lock
// (the ASIO path queues from inside a notification), so it has its own lock and interlocked
// list operations; the render engine is its only consumer and works on its head under the
// render stream lock. The capture queue is filled and consumed under its queued spin lock.
#include "adapter/adapter_usb_audio.h"

#include "driver_trace.h"

ADAPTER_QUEUE_ENTRY *CAdapterUsbAudio::NewQueueEntry(BOOLEAN Capture, PUCHAR Start, ULONG Length)
{
    // Whole frames only: a partial one would shift every later sample.
    const ULONG frameBytes = StreamOf(Capture).ClientFormat.BytesPerFrame;
    const ULONG length = frameBytes != 0 ? Length - Length % frameBytes : 0;
    if (Start == nullptr || length == 0) {
        return nullptr;
    }
    auto entry =
        static_cast<ADAPTER_QUEUE_ENTRY *>(ExAllocateFromNPagedLookasideList(&QueueEntryList));
    if (entry == nullptr) {
        // The region is lost to the stream (a capture region for good: nothing hands it back),
        // so the stream hears of it.
        QuenTrace(TRACE_LEVEL_ERROR, "no queue entry: %lu bytes dropped", length);
        ReportStreamError(Capture, STATUS_INSUFFICIENT_RESOURCES);
        return nullptr;
    }
    entry->Start = Start;
    entry->Current = Start;
    entry->Remaining = length;
    return entry;
}

STDMETHODIMP_(void) CAdapterUsbAudio::QueueRenderBuffer(PUCHAR Start, ULONG Length)
{
    ADAPTER_QUEUE_ENTRY *entry = NewQueueEntry(FALSE, Start, Length);
    if (entry == nullptr) {
        return;
    }
    ADAPTER_STREAM &render = Streams[ADAPTER_RENDER];
    InterlockedExchangeAdd(&RenderQueuedBytes, LONG(entry->Remaining));
    InterlockedExchangeAdd(&RenderQueuedTotal, LONG(entry->Remaining));
    ExInterlockedInsertTailList(&render.Queue, &entry->Link, &render.QueueLock);
}

STDMETHODIMP_(void) CAdapterUsbAudio::QueueCaptureBuffer(PUCHAR Start, ULONG Length)
{
    ADAPTER_QUEUE_ENTRY *entry = NewQueueEntry(TRUE, Start, Length);
    if (entry == nullptr) {
        return;
    }
    ADAPTER_STREAM &capture = Streams[ADAPTER_CAPTURE];
    KLOCK_QUEUE_HANDLE lockHandle;
    KeAcquireInStackQueuedSpinLock(&capture.QueueLock, &lockHandle);
    InsertTailList(&capture.Queue, &entry->Link);
    KeReleaseInStackQueuedSpinLock(&lockHandle);
}

ADAPTER_QUEUE_ENTRY *CAdapterUsbAudio::RenderQueueHead()
{
    ADAPTER_STREAM &render = Streams[ADAPTER_RENDER];
    ADAPTER_QUEUE_ENTRY *head = nullptr;
    KIRQL oldIrql;
    KeAcquireSpinLock(&render.QueueLock, &oldIrql);
    if (!IsListEmpty(&render.Queue)) {
        head = CONTAINING_RECORD(render.Queue.Flink, ADAPTER_QUEUE_ENTRY, Link);
    }
    KeReleaseSpinLock(&render.QueueLock, oldIrql);
    return head;
}

BOOLEAN CAdapterUsbAudio::IsRenderQueueEmpty() { return RenderQueueHead() == nullptr; }

void CAdapterUsbAudio::RemoveRenderQueueHead()
{
    // The engine is the queue's only consumer: the head it worked on is still the head.
    ADAPTER_STREAM &render = Streams[ADAPTER_RENDER];
    PLIST_ENTRY head = ExInterlockedRemoveHeadList(&render.Queue, &render.QueueLock);
    if (head != nullptr) {
        ExFreeToNPagedLookasideList(&QueueEntryList,
                                    CONTAINING_RECORD(head, ADAPTER_QUEUE_ENTRY, Link));
    }
}

void CAdapterUsbAudio::FlushRenderQueueLocked()
{
    ADAPTER_STREAM &render = Streams[ADAPTER_RENDER];
    PLIST_ENTRY link;
    while ((link = ExInterlockedRemoveHeadList(&render.Queue, &render.QueueLock)) != nullptr) {
        ExFreeToNPagedLookasideList(&QueueEntryList,
                                    CONTAINING_RECORD(link, ADAPTER_QUEUE_ENTRY, Link));
    }
    InterlockedExchange(&RenderQueuedBytes, 0);
}

void CAdapterUsbAudio::FlushRenderQueue()
{
    KLOCK_QUEUE_HANDLE lockHandle;
    KeAcquireInStackQueuedSpinLock(&RenderStreamLock, &lockHandle);
    FlushRenderQueueLocked();
    KeReleaseInStackQueuedSpinLock(&lockHandle);
}

void CAdapterUsbAudio::FlushCaptureQueue()
{
    ADAPTER_STREAM &capture = Streams[ADAPTER_CAPTURE];
    LIST_ENTRY flushed;
    InitializeListHead(&flushed);
    KLOCK_QUEUE_HANDLE lockHandle;
    KeAcquireInStackQueuedSpinLock(&capture.QueueLock, &lockHandle);
    while (!IsListEmpty(&capture.Queue)) {
        InsertTailList(&flushed, RemoveHeadList(&capture.Queue));
    }
    KeReleaseInStackQueuedSpinLock(&lockHandle);
    while (!IsListEmpty(&flushed)) {
        ExFreeToNPagedLookasideList(&QueueEntryList, CONTAINING_RECORD(RemoveHeadList(&flushed),
                                                                       ADAPTER_QUEUE_ENTRY, Link));
    }
}

void CAdapterUsbAudio::FlushQueue(BOOLEAN Capture)
{
    if (Capture) {
        FlushCaptureQueue();
    } else {
        FlushRenderQueue();
    }
}

// CAdapterUsbAudio: the adapter's share of the ASIO half-buffer exchange. The stream toggles the
// half it hands over and the ASIO host reports its output ready; the adapter records when both
// happened, lets render transfers run on output-ready and asks the stream for data when the
// render queue is empty.
#include "adapter/adapter_usb_audio.h"

#include "driver_trace.h"

namespace {

// The output delay the ASIO host may ask for, in milliseconds (USB frames).
const ULONG kMinimumOutputDelay = 2;
const ULONG kMaximumOutputDelay = 768;

} // namespace

STDMETHODIMP_(void) CAdapterUsbAudio::BufferToggle()
{
    LastToggleCounter = KeQueryPerformanceCounter(nullptr).QuadPart;
    ToggleFrame = CurrentFrame();
}

STDMETHODIMP_(void) CAdapterUsbAudio::OutputReady()
{
    KLOCK_QUEUE_HANDLE lockHandle;
    KeAcquireInStackQueuedSpinLock(&RenderStreamLock, &lockHandle);
    ReadyFrame = CurrentFrame();
    if (ReadyFrame - ToggleFrame > OutputDelayFrames) {
        QuenTrace(TRACE_LEVEL_WARNING, "output ready %lu frames after the toggle",
                  ReadyFrame - ToggleFrame);
    }
    KeSetEvent(&Streams[ADAPTER_RENDER].RunEvent, IO_SOUND_INCREMENT, FALSE);
    // The reported half goes into the ring now, even with data still queued: left for the
    // engine's next notification, a second output-ready before it would merge with this one and
    // a half would be lost, and the host could already be writing the half again.
    NotifyStream(FALSE);
    const LONG total = RenderQueuedTotal;
    AsioHalfBytes = ULONG(total) - ULONG(AsioReadyTotal);
    AsioReadyTotal = total;
    LastReadyCounter = KeQueryPerformanceCounter(nullptr).QuadPart;
    KeReleaseInStackQueuedSpinLock(&lockHandle);
}

STDMETHODIMP_(void) CAdapterUsbAudio::RenderNotify()
{
    if (IsRenderQueueEmpty()) {
        NotifyStream(FALSE);
    }
}

STDMETHODIMP_(void) CAdapterUsbAudio::OutputDelay(ULONG Milliseconds)
{
    KLOCK_QUEUE_HANDLE lockHandle;
    KeAcquireInStackQueuedSpinLock(&RenderStreamLock, &lockHandle);
    OutputDelayFrames = Milliseconds < kMinimumOutputDelay   ? kMinimumOutputDelay
                        : Milliseconds > kMaximumOutputDelay ? kMaximumOutputDelay
                                                             : Milliseconds;
    KeReleaseInStackQueuedSpinLock(&lockHandle);
}

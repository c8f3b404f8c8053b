// CAdapterUsbAudio: explicit feedback reception. Three feedback reads stay in flight while the
// render stream runs, each re-armed from its own completion; every completion publishes the
// device's rate for render packet sizing and tops the render slots up, which is what starts
// render data after a start. Values that cannot be right give way to the nominal rate.
#include "adapter/adapter_usb_audio.h"

#include "adapter/feedback_validation.h"
#include "driver_trace.h"
#include "function/audio_streaming_interface.h"
#include "usb/stream_geometry.h"

namespace {

// Consecutive failed reads after which the render pipes are recovered.
const LONG kFailuresBeforeRecovery = 3;

} // namespace

ULONG CAdapterUsbAudio::NominalRenderFeedback() const
{
    const AudioStreamingInterface *render = Usb.RenderInterface;
    if (render == nullptr) {
        return 0;
    }
    // At high speed the device reports samples per microframe whatever the data endpoint's
    // interval, and packet sizing spends the value per microframe: the nominal value is per
    // microframe too.
    return NominalFeedback(render->SampleRate, Usb.HighSpeed, FALSE, 1);
}

void CAdapterUsbAudio::ExplicitFeedbackStart(PUCHAR Buffer, ADAPTER_TRANSFER *Transfer)
{
    ADAPTER_STREAM &render = Streams[ADAPTER_RENDER];
    const BOOLEAN wanted = KeReadStateEvent(&render.ResetEvent) == 0 &&
                           KeReadStateEvent(&render.StopEvent) == 0 &&
                           KeReadStateEvent(&render.RunEvent) != 0 && render.DeviceGone == 0;
    if (wanted) {
        ADAPTER_TRANSFER *read =
            TakeChainTransfer(Buffer, Transfer, Usb.GetFeedbackTransferBytes());
        Buffer = read != nullptr ? read->Buffer : nullptr;
        Transfer = read;
        NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
        if (read != nullptr) {
            // The feedback unit and the render in-flight unit travel with the read.
            status = Usb.RecvFeedback(read->Buffer, read->Size, RecvFeedbackCompletion, read);
            if (NT_SUCCESS(status)) {
                return;
            }
        }
        // The thread would try again at once: the recovery's back-off paces the retries.
        QuenTrace(TRACE_LEVEL_ERROR, "feedback read not started, status 0x%08lX", status);
        RequestReset(FALSE, status);
    }
    FreeChainTransfer(Buffer, Transfer);
    KeReleaseSemaphore(&FeedbackSlotSemaphore, IO_NO_INCREMENT, 1, FALSE);
    InFlightDecrement(FALSE);
}

void CAdapterUsbAudio::RecvFeedbackCompletion(NTSTATUS Status, ULONG Value, PVOID Context)
{
    auto transfer = static_cast<ADAPTER_TRANSFER *>(Context);
    CAdapterUsbAudio *adapter = transfer->Adapter;
    if (!NT_SUCCESS(Status)) {
        if (adapter->NoteDeviceGone(FALSE, Status)) {
            adapter->RequestReset(FALSE, Status);
        } else if (Status != STATUS_CANCELLED &&
                   InterlockedIncrement(&adapter->FeedbackErrorCount) >= kFailuresBeforeRecovery &&
                   InterlockedExchange(&adapter->FeedbackFallback, 1) == 0) {
            // One recovery; if the reads keep failing after it, render goes on at the nominal
            // rate the recovery set until a read succeeds again.
            adapter->RequestReset(FALSE, Status);
        }
    } else {
        adapter->FeedbackErrorCount = 0;
        adapter->FeedbackFallback = 0;
        AudioStreamingInterface *render = adapter->Usb.RenderInterface;
        if (render != nullptr && render->FeedbackPipe != nullptr) {
            const ULONG value = ValidFeedbackValue(Value, adapter->NominalRenderFeedback());
            KIRQL oldIrql;
            KeAcquireSpinLock(&render->FeedbackLock, &oldIrql);
            render->LatestFeedback = value;
            KeReleaseSpinLock(&render->FeedbackLock, oldIrql);
        }
    }
    // Top the slots up before the read ends or re-arms: that may be the adapter's last touch.
    for (ULONG i = 0; i < adapter->Streams[ADAPTER_RENDER].TransfersInFlight; ++i) {
        adapter->ReleaseRenderSlot();
    }
    adapter->ExplicitFeedbackStart(transfer->Buffer, transfer);
}

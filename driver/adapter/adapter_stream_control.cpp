// CAdapterUsbAudio: stream control. Formats, start, pause, stop and release of each direction,
// the streaming threads' lifecycle and native DSD switching, all serialised by the
// stream-control mutex. Per direction the adapter is idle (no thread, stop event signalled),
// running (thread, stop event clear) or stopping (stop event set, thread still ending).
//
// With an implicit feedback endpoint the render clock follows the capture stream: both threads
// start together when the first direction starts and stop together when the last one pauses,
// and both directions share one client format.
#include "adapter/adapter_usb_audio.h"

#include "driver_trace.h"
#include "function/audio_streaming_interface.h"

namespace {

// How long a started render stream waits for the device clock to lock to a new rate; clocks
// with a PLL take hundreds of milliseconds.
const ULONG kClockLockMs = 1000;

// Render transfers the thread without feedback endpoint starts with.
const ULONG kPlainRenderSlots = 3;

// A thread that is told to stop is waited for in steps of this length, each one traced.
const LONGLONG kThreadStopStepMs = 10000;

BOOLEAN SameFormat(const ADAPTER_FORMAT &A, const ADAPTER_FORMAT &B)
{
    return A.Channels == B.Channels && A.BitsPerSample == B.BitsPerSample &&
           A.SampleRate == B.SampleRate;
}

// Formats the engine converts: whole-byte samples of 8 to 32 bits.
BOOLEAN IsStreamableFormat(ULONG Channels, ULONG Bits, ULONG Rate)
{
    return Channels != 0 && Channels <= 0xFF && Rate != 0 && Bits % 8 == 0 && Bits >= 8 &&
           Bits <= 32;
}

ULONG UsbDirection(BOOLEAN Capture)
{
    return Capture ? USB_AUDIO_DIRECTION_CAPTURE : USB_AUDIO_DIRECTION_RENDER;
}

} // namespace

ADAPTER_STREAM &CAdapterUsbAudio::StreamOf(BOOLEAN Capture)
{
    return Streams[Capture ? ADAPTER_CAPTURE : ADAPTER_RENDER];
}

void CAdapterUsbAudio::LockStreamControl()
{
    KeWaitForSingleObject(&StreamControlMutex, Executive, KernelMode, FALSE, nullptr);
}

void CAdapterUsbAudio::UnlockStreamControl() { KeReleaseMutex(&StreamControlMutex, FALSE); }

BOOLEAN CAdapterUsbAudio::IsAsioMode(BOOLEAN Capture)
{
    PMINIPORTUSBAUDIONOTIFY miniport = Miniport;
    return miniport != nullptr && miniport->IsAsioMode(Capture ? TRUE : FALSE) ? TRUE : FALSE;
}

BOOLEAN CAdapterUsbAudio::IsThreadRunning(BOOLEAN Capture)
{
    ADAPTER_STREAM &stream = StreamOf(Capture);
    return stream.Thread != nullptr && KeReadStateEvent(&stream.StopEvent) == 0 ? TRUE : FALSE;
}

BOOLEAN CAdapterUsbAudio::IsDsdOnly(BOOLEAN Capture) const
{
    // A direction that only offers DSD cannot serve the WaveCyclic port, which delivers PCM.
    AudioStreamingInterface *stream = InterfaceFor(Capture);
    return stream != nullptr && !Usb.HasPcmSetting(stream) ? TRUE : FALSE;
}

void CAdapterUsbAudio::ReadTransferParameters(BOOLEAN Capture)
{
    PAGED_CODE();
    PERFORMANCE_PARAMETERS parameters;
    RtlZeroMemory(&parameters, sizeof(parameters));
    ReadPerformanceParameters(
        Capture ? PERFORMANCE_DIRECTION_CAPTURE : PERFORMANCE_DIRECTION_RENDER, &parameters);
    ADAPTER_STREAM &stream = StreamOf(Capture);
    stream.FramesPerTransfer =
        Capture ? parameters.CaptureFramesPerTransfer : parameters.RenderFramesPerTransfer;
    stream.TransfersInFlight =
        Capture ? parameters.CaptureTransfersInFlight : parameters.RenderTransfersInFlight;
}

// ---- Formats ----------------------------------------------------------------------------------

STDMETHODIMP_(NTSTATUS)
CAdapterUsbAudio::SetFormat(BOOLEAN Capture, ULONG Channels, ULONG Bits, ULONG Rate)
{
    PAGED_CODE();
    FlushQueue(Capture);
    return ChangeFormat(Capture, Channels, Bits, Rate);
}

STDMETHODIMP_(NTSTATUS)
CAdapterUsbAudio::ChangeFormat(BOOLEAN Capture, ULONG Channels, ULONG Bits, ULONG Rate)
{
    PAGED_CODE();
    if (!IsStreamableFormat(Channels, Bits, Rate)) {
        QuenTrace(TRACE_LEVEL_ERROR, "%lu channels, %lu bits, %lu Hz: not a stream format",
                  Channels, Bits, Rate);
        return STATUS_INVALID_PARAMETER;
    }
    const ADAPTER_FORMAT format = {Channels, Bits, Rate, Channels * (Bits / 8)};
    LockStreamControl();
    const NTSTATUS status = ChangeFormatLocked(Capture, format);
    UnlockStreamControl();
    return status;
}

NTSTATUS CAdapterUsbAudio::ChangeFormatLocked(BOOLEAN Capture, const ADAPTER_FORMAT &Format)
{
    ADAPTER_STREAM &stream = StreamOf(Capture);
    if (SameFormat(stream.ClientFormat, Format)) {
        stream.FormatSet = TRUE;
        return STATUS_SUCCESS;
    }
    const BOOLEAN implicit = IsImplicitMode();
    stream.SettingSelected = FALSE;
    if (implicit) {
        // One clock drives both directions: a partner stream keeps its format.
        const ADAPTER_STREAM &partner = StreamOf(!Capture);
        if (partner.FormatSet && !SameFormat(partner.ClientFormat, Format)) {
            return STATUS_UNSUCCESSFUL;
        }
        if (IsThreadRunning(FALSE) || IsThreadRunning(TRUE)) {
            return STATUS_UNSUCCESSFUL;
        }
        // Threads told to stop may still have transfers on the interfaces.
        WaitForStopStreamThreads();
    } else {
        if (IsThreadRunning(Capture)) {
            return STATUS_UNSUCCESSFUL;
        }
        WaitForStopStreamThread(Capture);
    }
    NTSTATUS status = Usb.SelectFormatForDirection(UsbDirection(Capture), Format.Channels,
                                                   Format.BitsPerSample, Format.SampleRate);
    if (NT_SUCCESS(status) && implicit) {
        status = Usb.SelectFormatForDirection(UsbDirection(!Capture), Format.Channels,
                                              Format.BitsPerSample, Format.SampleRate);
    }
    if (!NT_SUCCESS(status)) {
        return status;
    }
    stream.ClientFormat = Format;
    if (implicit) {
        StreamOf(!Capture).ClientFormat = Format;
    }
    stream.FormatSet = TRUE;
    return STATUS_SUCCESS;
}

STDMETHODIMP_(void) CAdapterUsbAudio::ReleaseStream(BOOLEAN Capture)
{
    PAGED_CODE();
    LockStreamControl();
    ADAPTER_STREAM &stream = StreamOf(Capture);
    ADAPTER_STREAM &partner = StreamOf(!Capture);
    stream.FormatSet = FALSE;
    if (!IsImplicitMode()) {
        WaitForStopStreamThread(Capture);
        RtlZeroMemory(&stream.ClientFormat, sizeof(stream.ClientFormat));
    } else {
        if (!stream.Started && !partner.Started) {
            WaitForStopStreamThreads();
        }
        // A partner stream still needs the shared format.
        if (!partner.FormatSet) {
            RtlZeroMemory(&stream.ClientFormat, sizeof(stream.ClientFormat));
            RtlZeroMemory(&partner.ClientFormat, sizeof(partner.ClientFormat));
        }
    }
    // The regions point into the stream's buffer, which goes with the stream.
    FlushQueue(Capture);
    UnlockStreamControl();
}

// ---- Start, run, pause, stop --------------------------------------------------------------------

STDMETHODIMP_(NTSTATUS) CAdapterUsbAudio::StartStream(BOOLEAN Capture)
{
    PAGED_CODE();
    LockStreamControl();
    const NTSTATUS status = StartStreamLocked(Capture);
    UnlockStreamControl();
    return status;
}

NTSTATUS CAdapterUsbAudio::StartStreamLocked(BOOLEAN Capture)
{
    const BOOLEAN implicit = IsImplicitMode();
    if (!implicit) {
        WaitForStopStreamThread(Capture);
    }
    const BOOLEAN asio = IsAsioMode(Capture);
    if (!asio && IsDsdOnly(Capture)) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (!asio && NativeDsdSupported) {
        // The WaveCyclic port delivers PCM; a device that another stream keeps in native DSD
        // mode cannot play it.
        const NTSTATUS status = SetDsdNativeModeLocked(0);
        if (status == STATUS_DEVICE_BUSY) {
            return status;
        }
    }
    if (implicit) {
        return StartImplicitStreamsLocked(Capture);
    }
    ADAPTER_STREAM &stream = StreamOf(Capture);
    if (stream.ClientFormat.BytesPerFrame == 0) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    ReadTransferParameters(Capture);
    PrepareDirection(Capture);
    // A run after a pause keeps the setting: selecting it again restarts the device's stream,
    // which drops what its FIFO still holds of the data played before the pause.
    NTSTATUS status = STATUS_SUCCESS;
    if (!stream.SettingSelected || stream.SelectedFramesPerTransfer != stream.FramesPerTransfer) {
        status = SelectStreamFormat(Capture);
    }
    if (NT_SUCCESS(status)) {
        stream.SettingSelected = TRUE;
        stream.SelectedFramesPerTransfer = stream.FramesPerTransfer;
        status = StartStreamThread(Capture);
    }
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "%s start failed, status 0x%08lX",
                  Capture ? "capture" : "render", status);
        ResetInterface(Capture);
    }
    return status;
}

NTSTATUS CAdapterUsbAudio::StartImplicitStreamsLocked(BOOLEAN Capture)
{
    ADAPTER_STREAM &stream = StreamOf(Capture);
    if (stream.Started) {
        return STATUS_SUCCESS;
    }
    if (IsThreadRunning(FALSE) && IsThreadRunning(TRUE)) {
        // The partner's start runs the pair already.
        stream.Started = TRUE;
        return STATUS_SUCCESS;
    }
    if (Streams[ADAPTER_RENDER].ClientFormat.BytesPerFrame == 0 ||
        Streams[ADAPTER_CAPTURE].ClientFormat.BytesPerFrame == 0) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    WaitForStopStreamThreads();
    ReadTransferParameters(FALSE);
    ReadTransferParameters(TRUE);
    PrepareDirection(TRUE);
    PrepareDirection(FALSE);
    NTSTATUS status = SelectStreamFormat(TRUE);
    if (NT_SUCCESS(status)) {
        status = SelectStreamFormat(FALSE);
    }
    if (NT_SUCCESS(status)) {
        status = StartStreamThread(TRUE);
        if (NT_SUCCESS(status)) {
            status = StartStreamThread(FALSE);
        }
        if (!NT_SUCCESS(status)) {
            WaitForStopStreamThreads();
        }
    }
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "implicit feedback start failed, status 0x%08lX", status);
        ResetInterfaces();
        return status;
    }
    stream.Started = TRUE;
    return STATUS_SUCCESS;
}

void CAdapterUsbAudio::PrepareDirection(BOOLEAN Capture)
{
    ADAPTER_STREAM &stream = StreamOf(Capture);
    // What the previous run left behind: data waits for RunStream.
    KeClearEvent(&stream.ResetEvent);
    KeClearEvent(&stream.RunEvent);
    stream.DeviceGone = 0;
    stream.ResetStatus = STATUS_SUCCESS;
    stream.Recoveries = 0;
    if (Capture) {
        KeInitializeSemaphore(&stream.SlotSemaphore, LONG(stream.TransfersInFlight),
                              LONG(stream.TransfersInFlight));
        KIRQL oldIrql;
        KeAcquireSpinLock(&CaptureScheduleLock, &oldIrql);
        CaptureNextStartFrame = 0;
        CaptureRestart = TRUE;
        KeReleaseSpinLock(&CaptureScheduleLock, oldIrql);
    } else {
        FeedbackErrorCount = 0;
        FeedbackFallback = 0;
        KIRQL oldIrql;
        KeAcquireSpinLock(&AccumulationLock, &oldIrql);
        AccumulatedCaptureFrames = 0;
        KeReleaseSpinLock(&AccumulationLock, oldIrql);
    }
}

NTSTATUS CAdapterUsbAudio::SelectStreamFormat(BOOLEAN Capture)
{
    PAGED_CODE();
    ADAPTER_STREAM &stream = StreamOf(Capture);
    const ADAPTER_FORMAT &client = stream.ClientFormat;
    ULONG channels = 0;
    ULONG bits = 0;
    ULONG bytes = 0;
    NTSTATUS status;
    if (IsImplicitMode()) {
        status = Usb.SelectStreamingFormatImplicit(
            UsbDirection(Capture), client.Channels, client.BitsPerSample, client.SampleRate,
            stream.FramesPerTransfer, &channels, &bits, &stream.ImplicitBaseBytes,
            &stream.ImplicitMinimumFrames, &stream.ImplicitMaximumFrames, &bytes);
    } else {
        status = Usb.SelectStreamingFormat(UsbDirection(Capture), client.Channels,
                                           client.BitsPerSample, client.SampleRate,
                                           stream.FramesPerTransfer, &channels, &bits, &bytes);
    }
    if (!NT_SUCCESS(status)) {
        return status;
    }
    stream.DeviceFormat = {channels, bits, client.SampleRate, channels * (bits / 8)};
    stream.BytesPerTransfer = bytes;
    if (!Capture) {
        // Packet sizing starts from the nominal rate until the device reports its own.
        Usb.ResynchronizeFeedback(NominalRenderFeedback());
    }
    return STATUS_SUCCESS;
}

void CAdapterUsbAudio::ResetInterface(BOOLEAN Capture)
{
    PAGED_CODE();
    ADAPTER_STREAM &stream = StreamOf(Capture);
    stream.SettingSelected = FALSE;
    ULONG channels = 0;
    ULONG bits = 0;
    ULONG bytes = 0;
    if (IsImplicitMode()) {
        ULONG base = 0;
        LONG below = 0;
        LONG above = 0;
        Usb.SelectStreamingFormatImplicit(UsbDirection(Capture), 0, 0, 0, stream.FramesPerTransfer,
                                          &channels, &bits, &base, &below, &above, &bytes);
    } else {
        Usb.SelectStreamingFormat(UsbDirection(Capture), 0, 0, 0, stream.FramesPerTransfer,
                                  &channels, &bits, &bytes);
    }
}

void CAdapterUsbAudio::ResetInterfaces()
{
    ResetInterface(FALSE);
    ResetInterface(TRUE);
}

STDMETHODIMP_(NTSTATUS) CAdapterUsbAudio::PauseStream(BOOLEAN Capture)
{
    PAGED_CODE();
    if (Capture) {
        FlushCaptureQueue();
    }
    LockStreamControl();
    ADAPTER_STREAM &stream = StreamOf(Capture);
    // The position stays where the data stopped; what is queued plays after the next run.
    KeClearEvent(&stream.RunEvent);
    if (IsImplicitMode()) {
        stream.Started = FALSE;
        if (!Streams[ADAPTER_RENDER].Started && !Streams[ADAPTER_CAPTURE].Started) {
            StopStreamThreads();
        }
    } else {
        StopStreamThread(Capture);
    }
    UnlockStreamControl();
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS) CAdapterUsbAudio::StopStream(BOOLEAN Capture)
{
    PAGED_CODE();
    // The stream starts over at the beginning of its buffer: what was queued is stale.
    FlushQueue(Capture);
    // A paused stream kept its setting, so that the device played out what it had been sent; a
    // stopped one gives the bus bandwidth back.
    LockStreamControl();
    if (IsImplicitMode()) {
        if (!Streams[ADAPTER_RENDER].Started && !Streams[ADAPTER_CAPTURE].Started) {
            WaitForStopStreamThreads();
            ResetInterfaces();
        }
    } else if (!IsThreadRunning(Capture)) {
        WaitForStopStreamThread(Capture);
        ResetInterface(Capture);
    }
    UnlockStreamControl();
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS) CAdapterUsbAudio::RunStream(BOOLEAN Capture)
{
    KIRQL oldIrql;
    if (Capture) {
        KeSetEvent(&Streams[ADAPTER_CAPTURE].RunEvent, IO_NO_INCREMENT, FALSE);
    } else {
        KeAcquireSpinLock(&AccumulationLock, &oldIrql);
        AccumulatedCaptureFrames = 0;
        KeReleaseSpinLock(&AccumulationLock, oldIrql);
        KeSetEvent(&Streams[ADAPTER_RENDER].RunEvent, IO_SOUND_INCREMENT, FALSE);
    }
    KeAcquireSpinLock(&CaptureScheduleLock, &oldIrql);
    CaptureRestart = TRUE;
    KeReleaseSpinLock(&CaptureScheduleLock, oldIrql);
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS) CAdapterUsbAudio::HaltStream(BOOLEAN Capture)
{
    ADAPTER_STREAM &stream = StreamOf(Capture);
    KeClearEvent(&stream.RunEvent);
    if (!Capture && KeGetCurrentIrql() < DISPATCH_LEVEL) {
        LARGE_INTEGER timeout;
        timeout.QuadPart = -10000LL * 1000; // 1 s
        KeWaitForSingleObject(&stream.IdleEvent, Executive, KernelMode, FALSE, &timeout);
    }
    return STATUS_SUCCESS;
}

// ---- Threads ----------------------------------------------------------------------------------

NTSTATUS CAdapterUsbAudio::StartStreamThread(BOOLEAN Capture)
{
    PAGED_CODE();
    ADAPTER_STREAM &stream = StreamOf(Capture);
    KeClearEvent(&stream.StopEvent);
    KeClearEvent(&stream.ExitEvent);
    PKSTART_ROUTINE routine = StreamInThread;
    if (!Capture) {
        if (!Usb.IsClockStable(kClockLockMs)) {
            KeSetEvent(&stream.StopEvent, IO_NO_INCREMENT, FALSE);
            return STATUS_UNSUCCESSFUL;
        }
        const NTSTATUS status = AllocateRenderTransfers();
        if (!NT_SUCCESS(status)) {
            KeSetEvent(&stream.StopEvent, IO_NO_INCREMENT, FALSE);
            return status;
        }
        // With a feedback endpoint the first feedback completion creates the slots; without,
        // a few exist from the start. All of them exist when capture paces render, and for an
        // ASIO host: its halves come at the pace of its own signals (of capture's, in duplex),
        // so a start held back for the device's first feedback would stay queued as latency
        // for the whole stream; the first transfers are sized by the nominal feedback.
        const BOOLEAN explicitFeedback = Usb.RenderInterface->FeedbackPipe != nullptr;
        ULONG slots = RenderTransferCount;
        if (!IsImplicitMode() && !IsAsioMode(FALSE)) {
            slots = explicitFeedback                          ? 0
                    : RenderTransferCount < kPlainRenderSlots ? RenderTransferCount
                                                              : kPlainRenderSlots;
        }
        RenderSlotCount = LONG(slots);
        AsioRenderFlowing = FALSE;
        AsioHalfBytes = 0;
        AsioReadyTotal = RenderQueuedTotal;
        KeInitializeSemaphore(&stream.SlotSemaphore, LONG(slots), LONG(stream.TransfersInFlight));
        const LONG feedbackReads = explicitFeedback ? ADAPTER_FEEDBACK_READS : 0;
        KeInitializeSemaphore(&FeedbackSlotSemaphore, feedbackReads, ADAPTER_FEEDBACK_READS);
        routine = explicitFeedback ? StreamOutWithExplicitFeedbackEndpointThread : StreamOutThread;
    }

    HANDLE handle = nullptr;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    NTSTATUS status = PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, &attributes, nullptr,
                                           nullptr, routine, this);
    if (!NT_SUCCESS(status)) {
        KeSetEvent(&stream.StopEvent, IO_NO_INCREMENT, FALSE);
        if (!Capture) {
            DeleteRenderTransfers();
        }
        return status;
    }
    PVOID thread = nullptr;
    status = ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode,
                                       &thread, nullptr);
    if (!NT_SUCCESS(status)) {
        // Nobody could wait for the thread later: it ends now, before the adapter can go.
        KeSetEvent(&stream.StopEvent, IO_NO_INCREMENT, FALSE);
        if (!Capture) {
            ReleaseRenderSlot();
        }
        KeWaitForSingleObject(&stream.ExitEvent, Executive, KernelMode, FALSE, nullptr);
        ZwClose(handle);
        return status;
    }
    // Neither direction's transfers may wait behind ordinary work: 32 ms of audio is all the
    // device holds.
    KeSetPriorityThread(static_cast<PKTHREAD>(thread), LOW_REALTIME_PRIORITY);
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile *>(&stream.Thread), thread);
    ZwClose(handle);
    return STATUS_SUCCESS;
}

void CAdapterUsbAudio::StopStreamThread(BOOLEAN Capture)
{
    ADAPTER_STREAM &stream = StreamOf(Capture);
    KeClearEvent(&stream.RunEvent);
    KeSetEvent(&stream.StopEvent, IO_NO_INCREMENT, FALSE);
}

void CAdapterUsbAudio::StopStreamThreads()
{
    if (Streams[ADAPTER_RENDER].Thread != nullptr) {
        StopStreamThread(FALSE);
    }
    if (Streams[ADAPTER_CAPTURE].Thread != nullptr) {
        StopStreamThread(TRUE);
    }
}

void CAdapterUsbAudio::WaitForStopStreamThread(BOOLEAN Capture)
{
    PAGED_CODE();
    ADAPTER_STREAM &stream = StreamOf(Capture);
    auto thread = static_cast<PKTHREAD>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile *>(&stream.Thread), nullptr));
    if (thread == nullptr) {
        return;
    }
    StopStreamThread(Capture);
    if (!Capture) {
        // A thread waiting for a slot wakes to see the stop.
        ReleaseRenderSlot();
    }
    LARGE_INTEGER step;
    step.QuadPart = -10000LL * kThreadStopStepMs;
    while (KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, &step) == STATUS_TIMEOUT) {
        QuenTrace(TRACE_LEVEL_WARNING, "%s thread still ending", Capture ? "capture" : "render");
        if (!Capture) {
            ReleaseRenderSlot();
        }
    }
    ObDereferenceObject(thread);
}

void CAdapterUsbAudio::WaitForStopStreamThreads()
{
    WaitForStopStreamThread(FALSE);
    WaitForStopStreamThread(TRUE);
}

// ---- Native DSD ---------------------------------------------------------------------------------

STDMETHODIMP_(NTSTATUS) CAdapterUsbAudio::SetDsdNativeMode(USHORT Mode)
{
    PAGED_CODE();
    if (!NativeDsdSupported) {
        return STATUS_NOT_SUPPORTED;
    }
    LockStreamControl();
    const NTSTATUS status = SetDsdNativeModeLocked(Mode);
    UnlockStreamControl();
    return status;
}

NTSTATUS CAdapterUsbAudio::SetDsdNativeModeLocked(USHORT Mode)
{
    BOOLEAN switched = TRUE;
    for (AudioStreamingInterface *stream = Usb.StreamingInterfaceList; stream != nullptr;
         stream = stream->Next) {
        if (stream->VendorRequestValue != Mode) {
            switched = FALSE;
        }
    }
    if (switched) {
        return STATUS_SUCCESS;
    }
    // The switch changes how the device reads every stream: never under a running one.
    if (IsThreadRunning(FALSE) || IsThreadRunning(TRUE)) {
        QuenTrace(TRACE_LEVEL_WARNING, "mode %u refused while a stream runs", Mode);
        return STATUS_DEVICE_BUSY;
    }
    WaitForStopStreamThreads();
    return Usb.SendDsdModeRequest(Mode);
}

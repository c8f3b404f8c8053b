// CMiniportWaveCyclicStreamUsbAudio: creation and destruction, formats, the KS states, positions
// and the timing notification of a stream that serves the WaveCyclic port.
#include "wave/miniport_wave_cyclic_stream_usb_audio.h"

#include "driver_trace.h"
#include "usb/usb_cl.h"
#include "wave/miniport_wave_cyclic_usb_audio.h"
#include "wave/ring_position.h"

namespace {

// The ASIO output delay a new stream sets, in milliseconds.
const ULONG kInitialOutputDelayMs = 128;

const LONGLONG k100nsPerSecond = 10000000;

} // namespace

CMiniportWaveCyclicStreamUsbAudio::CMiniportWaveCyclicStreamUsbAudio(PUNKNOWN UnknownOuter)
    : CUnknown(UnknownOuter), State(KSSTATE_STOP), Miniport(nullptr), PinId(ULONG(-1)),
      Capture(FALSE), Initialised(FALSE), Format(), NotificationFrames(0), Buffer(nullptr),
      AllocatedSize(0), BufferBytes(0), Position(0), ReadPosition(0), WritePosition(0),
      CaptureQueued(0), Event(nullptr), EventHandle(nullptr), OutputReadyFlag(0)
{
    KeInitializeSpinLock(&QueueLock);
}

CMiniportWaveCyclicStreamUsbAudio::~CMiniportWaveCyclicStreamUsbAudio()
{
    PAGED_CODE();
    // Down to STOP one step at a time: the engine lets go of the ring on the way.
    while (State != KSSTATE_STOP) {
        SetState(KSSTATE(State - 1));
    }
    if (Initialised) {
        Miniport->Adapter()->ReleaseStream(Capture);
    }
    if (Miniport != nullptr) {
        Miniport->StreamGone(Capture, this);
    }
    FreeBuffer();
    AsioBuffer.Free();
    if (Event != nullptr) {
        ObDereferenceObject(Event);
        Event = nullptr;
    }
    EventHandle = nullptr;
}

STDMETHODIMP_(NTSTATUS)
CMiniportWaveCyclicStreamUsbAudio::NonDelegatingQueryInterface(REFIID Interface, PVOID *Object)
{
    PAGED_CODE();
    if (Object == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (IsEqualGUIDAligned(Interface, IID_IUnknown) ||
        IsEqualGUIDAligned(Interface, IID_IMiniportWaveCyclicStream)) {
        *Object = PVOID(PMINIPORTWAVECYCLICSTREAM(this));
    } else if (IsEqualGUIDAligned(Interface, IID_IDmaChannel)) {
        *Object = PVOID(PDMACHANNEL(this));
    } else {
        *Object = nullptr;
        return STATUS_INVALID_PARAMETER;
    }
    PUNKNOWN(*Object)->AddRef();
    return STATUS_SUCCESS;
}

NTSTATUS CMiniportWaveCyclicStreamUsbAudio::Init(CMiniportWaveCyclicUsbAudio *OwningMiniport,
                                                 ULONG Pin, BOOLEAN CaptureFlag,
                                                 PKSDATAFORMAT DataFormat)
{
    PAGED_CODE();
    Miniport = OwningMiniport;
    PinId = Pin;
    Capture = CaptureFlag ? TRUE : FALSE;
    State = KSSTATE_STOP;
    ResetPositions();
    WAVE_STREAM_FORMAT format;
    if (!ReadWaveStreamFormat(DataFormat, &format)) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    NTSTATUS status = AllocateBuffer(WaveCyclicBufferBytes(format), nullptr);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = Miniport->Adapter()->SetFormat(Capture, format.Channels, format.BitsPerSample,
                                            format.SampleRate);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    Initialised = TRUE;
    Format = format;
    Miniport->OutputDelay(kInitialOutputDelayMs);
    return STATUS_SUCCESS;
}

// ---- Format -------------------------------------------------------------------------------------

STDMETHODIMP_(NTSTATUS) CMiniportWaveCyclicStreamUsbAudio::SetFormat(PKSDATAFORMAT DataFormat)
{
    PAGED_CODE();
    WAVE_STREAM_FORMAT format;
    if (State == KSSTATE_RUN || !ReadWaveStreamFormat(DataFormat, &format)) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    // The host's channel buffers are laid out for the frame they were made for.
    if (IsAsioMode() &&
        (format.Channels != Format.Channels || format.BitsPerSample != Format.BitsPerSample)) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (format.Channels == Format.Channels && format.BitsPerSample == Format.BitsPerSample &&
        format.SampleRate == Format.SampleRate) {
        return STATUS_SUCCESS;
    }
    // The new ring first: a format change that cannot get one changes nothing.
    const ULONG size = WaveCyclicBufferBytes(format);
    auto ring = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPoolNx, size, USBA_POOL_TAG));
    if (ring == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    // ChangeFormat waits for a thread still ending and refuses what the device cannot play,
    // leaving the queue alone; SetFormat with the format now current only takes back what the
    // queue still holds of the old ring.
    PADAPTERUSBAUDIO adapter = Miniport->Adapter();
    NTSTATUS status =
        adapter->ChangeFormat(Capture, format.Channels, format.BitsPerSample, format.SampleRate);
    if (NT_SUCCESS(status)) {
        status =
            adapter->SetFormat(Capture, format.Channels, format.BitsPerSample, format.SampleRate);
    }
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(ring, USBA_POOL_TAG);
        return status;
    }
    if (Buffer != nullptr) {
        ExFreePoolWithTag(Buffer, USBA_POOL_TAG);
    }
    Buffer = ring;
    AllocatedSize = size;
    BufferBytes = size;
    Format = format;
    // Device channels the ASIO host has no buffer for are played from the ring as it is.
    Silence(Buffer, AllocatedSize);
    ResetPositions();
    return STATUS_SUCCESS;
}

STDMETHODIMP_(ULONG)
CMiniportWaveCyclicStreamUsbAudio::SetNotificationFreq(ULONG Interval, PULONG FrameSize)
{
    NotificationFrames = ULONG(ULONGLONG(Interval) * Format.SampleRate / 1000);
    if (FrameSize != nullptr) {
        *FrameSize = Format.BlockAlign * NotificationFrames;
    }
    return Interval;
}

// ---- States -------------------------------------------------------------------------------------

STDMETHODIMP_(NTSTATUS) CMiniportWaveCyclicStreamUsbAudio::SetState(KSSTATE NewState)
{
    PAGED_CODE();
    if (NewState < KSSTATE_STOP || NewState > KSSTATE_RUN) {
        return STATUS_INVALID_PARAMETER;
    }
    const KSSTATE from = State;
    if (NewState == from) {
        return STATUS_SUCCESS;
    }
    if (NewState != from + 1 && NewState != from - 1) {
        return STATUS_INVALID_PARAMETER;
    }
    PADAPTERUSBAUDIO adapter = Miniport->Adapter();
    switch (NewState) {
    case KSSTATE_STOP:
        // StopStream waits for a thread still ending: nothing moves the positions after it.
        adapter->StopStream(Capture);
        ResetPositions();
        State = KSSTATE_STOP;
        return STATUS_SUCCESS;
    case KSSTATE_ACQUIRE:
    case KSSTATE_PAUSE:
        if (from == KSSTATE_RUN) {
            KIRQL oldIrql;
            KeAcquireSpinLock(&QueueLock, &oldIrql);
            State = KSSTATE_PAUSE;
            KeReleaseSpinLock(&QueueLock, oldIrql);
            adapter->PauseStream(Capture);
        } else {
            State = NewState;
        }
        return STATUS_SUCCESS;
    default: return Run();
    }
}

NTSTATUS CMiniportWaveCyclicStreamUsbAudio::Run()
{
    PADAPTERUSBAUDIO adapter = Miniport->Adapter();
    NTSTATUS status = adapter->StartStream(Capture);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "%s start failed, status 0x%08lX",
                  Capture ? "capture" : "render", status);
        return status;
    }
    if (Capture) {
        QueueCaptureRing();
    } else {
        Miniport->ClearToggleFlag();
        InterlockedExchange(&OutputReadyFlag, 0);
    }
    if (Capture || !IsAsioMode()) {
        status = adapter->RunStream(Capture);
        if (!NT_SUCCESS(status)) {
            adapter->PauseStream(Capture);
            return status;
        }
        KIRQL oldIrql;
        KeAcquireSpinLock(&QueueLock, &oldIrql);
        State = KSSTATE_RUN;
        KeReleaseSpinLock(&QueueLock, oldIrql);
        return STATUS_SUCCESS;
    }
    // ASIO render: the host is asked for its first half; its output-ready lets the transfers
    // run. RUN comes first so that an output-ready right after the signal is taken.
    State = KSSTATE_RUN;
    if (Event != nullptr) {
        AsioBuffer.ResetPosition();
        AsioFlip();
        Miniport->BufferToggle();
    }
    return STATUS_SUCCESS;
}

void CMiniportWaveCyclicStreamUsbAudio::ResetPositions()
{
    InterlockedExchange(&Position, 0);
    InterlockedExchange(&ReadPosition, 0);
    InterlockedExchange(&WritePosition, 0);
    CaptureQueued = 0;
}

// ---- Positions ----------------------------------------------------------------------------------

STDMETHODIMP_(NTSTATUS) CMiniportWaveCyclicStreamUsbAudio::GetPosition(PULONG Offset)
{
    if (Offset == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *Offset = ULONG(InterlockedCompareExchange(&Position, 0, 0));
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS)
CMiniportWaveCyclicStreamUsbAudio::NormalizePhysicalPosition(PLONGLONG PhysicalPosition)
{
    const LONGLONG bytesPerSecond = LONGLONG(Format.BlockAlign) * Format.SampleRate;
    if (PhysicalPosition == nullptr || bytesPerSecond == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    // Whole seconds apart, so that long streams do not overflow.
    const LONGLONG bytes = *PhysicalPosition;
    *PhysicalPosition = bytes / bytesPerSecond * k100nsPerSecond +
                        bytes % bytesPerSecond * k100nsPerSecond / bytesPerSecond;
    return STATUS_SUCCESS;
}

void CMiniportWaveCyclicStreamUsbAudio::SetEnginePosition(PUCHAR Pointer)
{
    if (Buffer == nullptr || Pointer < Buffer || Pointer > RingEnd()) {
        QuenTrace(TRACE_LEVEL_ERROR, "position outside the cyclic buffer");
        return;
    }
    const LONG offset = LONG(RingOffset(Buffer, AllocatedSize, Pointer));
    InterlockedExchange(&Position, offset);
    InterlockedExchange(Capture ? &WritePosition : &ReadPosition, offset);
}

void CMiniportWaveCyclicStreamUsbAudio::ClearRing()
{
    InterlockedExchange(&ReadPosition, WritePosition);
    InterlockedExchange(&OutputReadyFlag, 0);
}

void CMiniportWaveCyclicStreamUsbAudio::SetStreamError(NTSTATUS Status)
{
    if (IsAsioMode() && IsDeviceGoneStatus(Status)) {
        AsioBuffer.SetDeviceStatus(Status);
        // A host waiting for its next half would wait for ever: it is woken to see the status.
        if (Event != nullptr) {
            KeSetEvent(Event, IO_SOUND_INCREMENT, FALSE);
        }
    }
}

// ---- Silence and timing -------------------------------------------------------------------------

STDMETHODIMP_(void) CMiniportWaveCyclicStreamUsbAudio::Silence(PVOID Target, ULONG ByteCount)
{
    UCHAR silence = 0;
    if (Format.BitsPerSample == 8) {
        silence = 0x80;
    } else if (IsAsioMode() && AsioIsDsdSampleType(AsioBuffer.SampleType())) {
        silence = 0xAA;
    }
    RtlFillMemory(Target, ByteCount, silence);
}

void CMiniportWaveCyclicStreamUsbAudio::TimingNotification()
{
    if (IsAsioMode()) {
        if (Capture) {
            AsioCaptureNotification();
        } else {
            AsioRenderNotification();
        }
        return;
    }
    if (Capture) {
        RequeueCaptured();
    }
    Miniport->Port()->Notify(Miniport->ServiceGroup());
}

// ---- Capture regions ----------------------------------------------------------------------------

void CMiniportWaveCyclicStreamUsbAudio::QueueCaptureRing()
{
    KIRQL oldIrql;
    KeAcquireSpinLock(&QueueLock, &oldIrql);
    CaptureQueued = ULONG(Position);
    QueueRegion(CaptureQueued, AllocatedSize);
    KeReleaseSpinLock(&QueueLock, oldIrql);
}

void CMiniportWaveCyclicStreamUsbAudio::RequeueCaptured()
{
    // Under the lock with the state: a pause takes the queue back, and what is filled after it
    // waits for the ring to be handed over again at the next run.
    KIRQL oldIrql;
    KeAcquireSpinLock(&QueueLock, &oldIrql);
    const ULONG written = ULONG(Position);
    if (State == KSSTATE_RUN && written != CaptureQueued) {
        QueueRegion(CaptureQueued, RingDistance(CaptureQueued, written, AllocatedSize));
        CaptureQueued = written;
    }
    KeReleaseSpinLock(&QueueLock, oldIrql);
}

void CMiniportWaveCyclicStreamUsbAudio::QueueRegion(ULONG Offset, ULONG Bytes)
{
    PADAPTERUSBAUDIO adapter = Miniport->Adapter();
    const ULONG first = RingPiece(Offset, Bytes, AllocatedSize);
    if (first != 0) {
        Capture ? adapter->QueueCaptureBuffer(Buffer + Offset, first)
                : adapter->QueueRenderBuffer(Buffer + Offset, first);
    }
    if (Bytes != first) {
        Capture ? adapter->QueueCaptureBuffer(Buffer, Bytes - first)
                : adapter->QueueRenderBuffer(Buffer, Bytes - first);
    }
}

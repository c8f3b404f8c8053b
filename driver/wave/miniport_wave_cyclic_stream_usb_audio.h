// CMiniportWaveCyclicStreamUsbAudio: the stream of one pin instance. It owns the cyclic buffer
// port class sees as the stream's DMA buffer (the stream is its own IDmaChannel) and connects
// that buffer to the adapter's streaming engine: what port class writes into it (CopyTo) is
// queued for render; for capture the whole buffer is queued, and every region the engine has
// filled is queued again behind the rest, so that the engine writes round the buffer the way a
// device's DMA would, whether or not port class reads everything in time. The KS states become
// the adapter's start, run, pause and stop.
//
// A stream whose ASIO buffers are set up (through the private property set) serves an ASIO
// host instead: its timing notification moves the host's halves in and out of the cyclic
// buffer and flips them.
//
// Positions are offsets in the cyclic buffer, exchanged atomically: render, the next byte the
// device takes; capture, the next byte the engine writes. The buffer is replaced only by a
// format change, which is refused while the stream runs and first makes the engine let go of
// every region of the old buffer.
#pragma once

#include "quen_driver_platform.h"

#include "asio/asio_device_buffer.h"
#include "wave/wave_stream_format.h"

class CMiniportWaveCyclicUsbAudio;

class CMiniportWaveCyclicStreamUsbAudio : public IMiniportWaveCyclicStream,
                                          public IDmaChannel,
                                          public CUnknown {
public:
    DECLARE_STD_UNKNOWN();
    explicit CMiniportWaveCyclicStreamUsbAudio(PUNKNOWN UnknownOuter);
    ~CMiniportWaveCyclicStreamUsbAudio();

    // ---- IMiniportWaveCyclicStream ------------------------------------------------------------
    IMP_IMiniportWaveCyclicStream;

    // ---- IDmaChannel ----------------------------------------------------------------------------
    IMP_IDmaChannel;

    // ---- For the miniport -----------------------------------------------------------------------
    NTSTATUS Init(CMiniportWaveCyclicUsbAudio *Miniport, ULONG PinId, BOOLEAN Capture,
                  PKSDATAFORMAT DataFormat);
    // The engine moved on: data or room was handed over, or a half is due.
    void TimingNotification();
    // The engine's position: render, just past the bytes it has taken; capture, just past the
    // bytes it has written.
    void SetEnginePosition(PUCHAR Pointer);
    // The ring is empty again (an ASIO render recovery).
    void ClearRing();
    BOOLEAN IsAsioMode() const { return AsioBuffer.ChannelCount() != 0 ? TRUE : FALSE; }
    void SetStreamError(NTSTATUS Status);
    // The ASIO half index, which a duplex render stream takes over from its capture stream.
    ULONG AsioHalf() const { return AsioBuffer.CurrentHalf(); }
    void SetAsioHalf(ULONG Half) { AsioBuffer.SetCurrentHalf(Half); }
    // The ASIO host's event, or null; read under the miniport's stream lock.
    PKEVENT AsioEvent() const { return Event; }
    // Replaces the event and returns the old one; under the miniport's stream lock.
    PKEVENT SwapAsioEvent(PKEVENT NewEvent);
    // The private property set of the ASIO host (wave_stream_asio_properties.cpp).
    NTSTATUS AsioProperty(PPCPROPERTY_REQUEST Request);

private:
    // The private property set's requests.
    NTSTATUS AsioSetBuffers(PPCPROPERTY_REQUEST Request);
    NTSTATUS AsioGetBuffers(PPCPROPERTY_REQUEST Request);
    NTSTATUS AsioRegisterEvent(HANDLE Handle);
    NTSTATUS AsioUnregisterEvent(HANDLE Handle);

    // ASIO mode (wave_stream_asio.cpp).
    void AsioCaptureNotification();
    void AsioRenderNotification();
    void CopyToAsioBuffer(PUCHAR Source, ULONG Bytes);
    void CopyFromAsioBuffer(PUCHAR Destination, ULONG Bytes);
    // Frames of the device the host hands over per half (a one-bit DSD byte stream packs four
    // samples into each 32-bit device sample).
    ULONG AsioHalfBytes() const;
    void AsioFlip();

    // The state steps, one neighbour at a time.
    NTSTATUS Run();
    void ResetPositions();
    // Capture: hands the engine the whole ring, starting at the write position.
    void QueueCaptureRing();
    // Capture: hands the engine again what it has filled since the last time.
    void RequeueCaptured();
    // Queues a region of the ring, split at its end, for the direction.
    void QueueRegion(ULONG Offset, ULONG Bytes);
    PUCHAR RingEnd() const { return Buffer + AllocatedSize; }

    volatile KSSTATE State;
    CMiniportWaveCyclicUsbAudio *Miniport; // not referenced: it outlives its streams
    ULONG PinId;
    BOOLEAN Capture;
    BOOLEAN Initialised;
    WAVE_STREAM_FORMAT Format;
    ULONG NotificationFrames;

    PUCHAR Buffer;
    ULONG AllocatedSize; // the ring size of every wrap-around
    ULONG BufferBytes;   // the size port class set

    volatile LONG Position;
    volatile LONG ReadPosition;  // the next byte to read
    volatile LONG WritePosition; // the next byte to write
    // Capture: the end of what has been handed to the engine.
    ULONG CaptureQueued;
    // Capture: the queued regions' bookkeeping against the state.
    KSPIN_LOCK QueueLock;

    CAsioDeviceBuffer AsioBuffer;
    PKEVENT Event; // referenced
    HANDLE EventHandle;
    volatile LONG OutputReadyFlag;
};

typedef CMiniportWaveCyclicStreamUsbAudio *PCMINIPORTWAVECYCLICSTREAMUSBAUDIO;

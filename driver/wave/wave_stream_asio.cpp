// CMiniportWaveCyclicStreamUsbAudio serving an ASIO host: its timing notification moves the
// host's halves between the cyclic buffer and the shared channel buffers and flips them. The
// read position is the next byte to take out of the ring and the write position the next byte
// to write, so equal positions mean an empty ring; render keeps one frame free so that a full
// ring never looks empty.
#include "wave/miniport_wave_cyclic_stream_usb_audio.h"

#include "driver_trace.h"
#include "wave/miniport_wave_cyclic_usb_audio.h"
#include "wave/ring_position.h"

ULONG CMiniportWaveCyclicStreamUsbAudio::AsioHalfBytes() const
{
    const ULONGLONG samples = AsioDeviceSamplesPerHalf(
        AsioBuffer.HalfSamples(), AsioBuffer.SampleType(), Format.BitsPerSample / 8);
    const ULONGLONG bytes = samples * Format.BlockAlign;
    return bytes < AllocatedSize ? ULONG(bytes) : AllocatedSize;
}

void CMiniportWaveCyclicStreamUsbAudio::AsioFlip() { AsioBuffer.Flip(); }

void CMiniportWaveCyclicStreamUsbAudio::AsioCaptureNotification()
{
    const ULONG read = ULONG(ReadPosition);
    const ULONG available = RingDistance(read, ULONG(WritePosition), AllocatedSize);
    const ULONG half = AsioDeviceSamplesPerHalf(AsioBuffer.HalfSamples(), AsioBuffer.SampleType(),
                                                Format.BitsPerSample / 8);
    const ULONG position = AsioBuffer.Position();
    const ULONGLONG need = ULONGLONG(position < half ? half - position : 0) * Format.BlockAlign;
    const ULONG take = need < available ? ULONG(need) : available;
    CopyToAsioBuffer(Buffer + read, take);
    if (take >= need) {
        AsioBuffer.ResetPosition();
        AsioFlip();
        Miniport->BufferToggle();
        if (Event != nullptr) {
            KeSetEvent(Event, IO_SOUND_INCREMENT, FALSE);
        }
    }
    InterlockedExchange(&ReadPosition, LONG(RingAdvance(read, take, AllocatedSize)));
}

void CMiniportWaveCyclicStreamUsbAudio::AsioRenderNotification()
{
    if (State != KSSTATE_RUN) {
        QuenTrace(TRACE_LEVEL_VERBOSE, "ASIO render notification in state %d", State);
        return;
    }
    const ULONG half = AsioHalfBytes();
    const ULONG reserve = Format.BlockAlign;
    ULONG available = RingDistance(ULONG(ReadPosition), ULONG(WritePosition), AllocatedSize);
    if (InterlockedExchange(&OutputReadyFlag, 0) == 1) {
        // The host has filled the half it was signalled for: it becomes current and goes into
        // the ring behind what is queued, if it fits.
        AsioBuffer.ResetPosition();
        AsioFlip();
        Miniport->ClearToggleFlag();
        if (AllocatedSize - reserve - available >= half) {
            const ULONG write = ULONG(WritePosition);
            CopyFromAsioBuffer(Buffer + write, half);
            InterlockedExchange(&WritePosition, LONG(RingAdvance(write, half, AllocatedSize)));
            available += half;
        } else {
            QuenTrace(TRACE_LEVEL_WARNING, "no room for an ASIO half: %lu of %lu bytes queued",
                      available, AllocatedSize);
        }
    }
    // The next half is asked for once the ring holds at most one half: the device then runs
    // about two halves ahead of the host, as a double buffer does, not a whole ring.
    if (Event != nullptr && available <= half && AllocatedSize - reserve - available >= half) {
        Miniport->BufferToggle();
    }
}

void CMiniportWaveCyclicStreamUsbAudio::CopyToAsioBuffer(PUCHAR Source, ULONG Bytes)
{
    const ULONG offset = ULONG(Source - Buffer);
    const ULONG first = RingPiece(offset, Bytes, AllocatedSize);
    const ULONG frame = Format.BlockAlign;
    AsioBuffer.MoveOutOfDevice(Source, first / frame, frame, Format.BitsPerSample);
    AsioBuffer.MoveOutOfDevice(Buffer, (Bytes - first) / frame, frame, Format.BitsPerSample);
    QueueRegion(offset, Bytes);
}

void CMiniportWaveCyclicStreamUsbAudio::CopyFromAsioBuffer(PUCHAR Destination, ULONG Bytes)
{
    if (Bytes > AllocatedSize) {
        QuenTrace(TRACE_LEVEL_ERROR, "an ASIO half of %lu bytes does not fit a %lu-byte ring",
                  Bytes, AllocatedSize);
        return;
    }
    const ULONG offset = ULONG(Destination - Buffer);
    const ULONG first = RingPiece(offset, Bytes, AllocatedSize);
    const ULONG frame = Format.BlockAlign;
    AsioBuffer.MoveIntoDevice(Destination, first / frame, frame, Format.BitsPerSample);
    AsioBuffer.MoveIntoDevice(Buffer, (Bytes - first) / frame, frame, Format.BitsPerSample);
    QueueRegion(offset, Bytes);
}

// CAsioDeviceBuffer: the ASIO host's buffers of one wave stream. Once the host has asked for
// them, a block of non-paged memory holds a shared header and both halves of every requested
// channel, mapped into the host's process; the stream's timing path moves samples between its
// interleaved frames and the current half of every channel, and flips the halves.
//
// Buffers are allocated through the private property set, which is not served yet: until then
// a stream never has any (ChannelCount() is 0) and is never in ASIO mode.
#pragma once

#include "quen_driver_platform.h"

// The one-bit DSD sample types, whose silence is 0xAA.
#define ASIO_SAMPLE_TYPE_DSD_INT8_LSB1 32
#define ASIO_SAMPLE_TYPE_DSD_INT8_MSB1 33

class CAsioDeviceBuffer {
public:
    CAsioDeviceBuffer();
    ~CAsioDeviceBuffer();
    CAsioDeviceBuffer(const CAsioDeviceBuffer &) = delete;
    CAsioDeviceBuffer &operator=(const CAsioDeviceBuffer &) = delete;

    // Channels with buffers; 0 while none exist (the stream then serves the WaveCyclic port).
    ULONG ChannelCount() const { return Channels; }
    // The ASIO sample type of the first channel (0 while none exists).
    ULONG FirstSampleType() const { return FirstType; }
    // Samples per channel in one half.
    ULONG HalfSamples() const { return Half; }
    // Samples already moved in the current half.
    ULONG Position() const { return Moved; }
    void ResetPosition() { Moved = 0; }
    ULONG CurrentHalf() const { return Current; }
    void SetCurrentHalf(ULONG Half) { Current = Half & 1; }
    // The other half becomes current; the shared header shows the new index and one more
    // toggle before anyone is signalled.
    void Flip();
    // Tells the host that its device is gone.
    void SetDeviceStatus(NTSTATUS Status);

    // Moves Samples frames of Bits-bit samples, Stride bytes apart, from the current half of
    // every channel into the device frames at Frames (render), or out of them (capture); the
    // position advances by Samples.
    void MoveIntoDevice(PUCHAR Frames, ULONG Samples, ULONG Stride, ULONG Bits);
    void MoveOutOfDevice(const UCHAR *Frames, ULONG Samples, ULONG Stride, ULONG Bits);

    // Releases the buffers; safe when there are none.
    void Free();

private:
    ULONG Channels;
    ULONG FirstType;
    ULONG Half;
    ULONG Moved;
    ULONG Current;
    // The header at the start of the shared block: current half, toggle count, device
    // status; null while there is no block.
    volatile LONG *SharedHeader;
};

// CAsioDeviceBuffer: the ASIO host's buffers of one wave stream. Once the host has asked for
// them, a block of whole non-paged pages holds a shared header and both halves of every
// requested channel, zeroed and mapped into the host's process only; the stream's timing path
// moves samples between its interleaved frames and the current half of every channel, and flips
// the halves.
//
// CAsioBuffer: one channel of it, with its place in the device frame and its two halves.
#pragma once

#include "quen_driver_platform.h"

#include "asio/asio_buffer_request.h"
#include "asio/asio_sample_conversion.h"

class CAsioDeviceBuffer;

class CAsioBuffer {
public:
    // Zeroed memory is an unset channel.
    void Init(CAsioDeviceBuffer *Owner, ULONG ChannelIndex, ULONG SampleType, ULONG TotalSamples,
              PUCHAR KernelAddress, PUCHAR UserAddress);
    // Both halves := the type's silence.
    void FillSilence();
    ULONG Index() const { return ChannelIndex; }
    // The samples at Position of the owner's current half, for device samples of DeviceBytes.
    PUCHAR CurrentSamples(ULONG DeviceBytes) const;
    // One reply entry (ASIO_CHANNEL_BUFFER or ASIO_CHANNEL_BUFFER32, whose addresses are cut to
    // their width); the kernel addresses stay 0.
    template <class ENTRY>
    void Reply(ENTRY *Entry) const
    {
        using Address = decltype(+Entry->UserHalf[0]);
        Entry->ChannelIndex = ChannelIndex;
        Entry->SampleType = SampleType;
        Entry->HalfSamples = TotalSamples / 2;
        for (ULONG half = 0; half < 2; ++half) {
            Entry->KernelHalf[half] = 0;
            Entry->UserHalf[half] = Address(ULONG_PTR(UserHalf[half]));
        }
    }

private:
    ULONG ChannelIndex;
    ULONG SampleType;
    ULONG TotalSamples;
    PUCHAR KernelHalf[2];
    PUCHAR UserHalf[2];
    CAsioDeviceBuffer *Owner;
};

class CAsioDeviceBuffer {
public:
    CAsioDeviceBuffer();
    ~CAsioDeviceBuffer();
    CAsioDeviceBuffer(const CAsioDeviceBuffer &) = delete;
    CAsioDeviceBuffer &operator=(const CAsioDeviceBuffer &) = delete;

    // Allocates the block for a checked request (Layout from AsioCheckBufferRequest) and maps
    // it into the current process, which must be the host's. STATUS_SUCCESS or
    // STATUS_INSUFFICIENT_RESOURCES (nothing kept); STATUS_INVALID_DEVICE_REQUEST while buffers
    // exist.
    NTSTATUS AllocateAndMapForUserSpace(const ASIO_BUFFER_REQUEST *Request,
                                        const ASIO_BUFFER_LAYOUT &Layout);
    // Writes one reply entry per channel into Value (44 bytes each, 28 for a 32-bit caller) and
    // silences every half again. STATUS_INVALID_DEVICE_REQUEST without buffers or room.
    NTSTATUS Reply(PVOID Value, ULONG ValueBytes, BOOLEAN Caller32Bit);

    // Whether the current process may use the buffers: the one they are mapped into, or any
    // while there are none.
    BOOLEAN IsOwnedByCurrentProcess() const
    {
        return Block == nullptr || OwnerProcess == PsGetCurrentProcess() ? TRUE : FALSE;
    }
    // Channels with buffers; 0 while none exist (the stream then serves the WaveCyclic port).
    ULONG ChannelCount() const { return Channels; }
    // The ASIO sample type of every channel (0 while none exists).
    ULONG SampleType() const { return Type; }
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
    // position advances by Samples. Never moves beyond the end of a half.
    void MoveIntoDevice(PUCHAR Frames, ULONG Samples, ULONG Stride, ULONG Bits);
    void MoveOutOfDevice(const UCHAR *Frames, ULONG Samples, ULONG Stride, ULONG Bits);

    // Unmaps and releases the buffers; safe when there are none. Runs in the host's process.
    void Free();

private:
    // The samples a move may still take from the current half.
    ULONG MovableSamples(ULONG Samples, ULONG DeviceBytes) const;
    // Whether whole frames can be moved: the channels are the device channels 0 to n - 1 of a
    // dense frame, of a type the frame conversion takes.
    BOOLEAN MovesWholeFrames(ULONG Stride, ULONG DeviceBytes) const;
    void Move(BOOLEAN Capture, PUCHAR Frames, ULONG Samples, ULONG Stride, ULONG Bits);

    volatile ULONG Channels; // published last, withdrawn first
    ULONG Type;
    ULONG Half;
    ULONG Moved;
    ULONG Current;
    CAsioBuffer *ChannelArray;     // owned, in request order
    CAsioBuffer **ByDeviceChannel; // owned; device channel k's channel, when they are a set
    PUCHAR Block;                  // owned, whole pages
    ULONG BlockBytes;
    PMDL Mdl;                    // owned
    PVOID UserAddress;           // the block's view in the host's process
    PEPROCESS OwnerProcess;      // the process of that view
    volatile LONG *SharedHeader; // the block's header; null while there is no block
};

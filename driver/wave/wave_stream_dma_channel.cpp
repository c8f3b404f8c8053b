// CMiniportWaveCyclicStreamUsbAudio as its own IDmaChannel: the cyclic buffer is ordinary
// non-paged pool. What port class copies into it is queued for the render engine; what it
// copies out is the capture engine's, which keeps writing round the buffer on its own.
#include "wave/miniport_wave_cyclic_stream_usb_audio.h"

#include "driver_trace.h"
#include "usb/usb_cl.h"
#include "wave/miniport_wave_cyclic_usb_audio.h"
#include "wave/ring_position.h"

STDMETHODIMP_(NTSTATUS)
CMiniportWaveCyclicStreamUsbAudio::AllocateBuffer(ULONG Size, PPHYSICAL_ADDRESS Constraint)
{
    UNREFERENCED_PARAMETER(Constraint);
    // Only a stopped stream's engine holds no region of the buffer.
    if (Size == 0 || State != KSSTATE_STOP) {
        return STATUS_INVALID_PARAMETER;
    }
    auto ring = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPoolNx, Size, USBA_POOL_TAG));
    if (ring == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    FreeBuffer();
    Buffer = ring;
    AllocatedSize = Size;
    BufferBytes = Size;
    return STATUS_SUCCESS;
}

STDMETHODIMP_(void) CMiniportWaveCyclicStreamUsbAudio::FreeBuffer()
{
    if (State != KSSTATE_STOP) {
        QuenTrace(TRACE_LEVEL_ERROR, "the buffer of a stream in state %d is kept", State);
        return;
    }
    if (Buffer != nullptr) {
        ExFreePoolWithTag(Buffer, USBA_POOL_TAG);
    }
    Buffer = nullptr;
    AllocatedSize = 0;
    BufferBytes = 0;
}

STDMETHODIMP_(ULONG) CMiniportWaveCyclicStreamUsbAudio::TransferCount() { return AllocatedSize; }

STDMETHODIMP_(ULONG) CMiniportWaveCyclicStreamUsbAudio::MaximumBufferSize()
{
    return WaveCyclicBufferBytes(Format);
}

STDMETHODIMP_(ULONG) CMiniportWaveCyclicStreamUsbAudio::AllocatedBufferSize()
{
    return AllocatedSize;
}

STDMETHODIMP_(ULONG) CMiniportWaveCyclicStreamUsbAudio::BufferSize() { return BufferBytes; }

STDMETHODIMP_(void) CMiniportWaveCyclicStreamUsbAudio::SetBufferSize(ULONG Size)
{
    if (Size <= AllocatedSize) {
        BufferBytes = Size;
    }
}

STDMETHODIMP_(PVOID) CMiniportWaveCyclicStreamUsbAudio::SystemAddress() { return Buffer; }

STDMETHODIMP_(PHYSICAL_ADDRESS) CMiniportWaveCyclicStreamUsbAudio::PhysicalAddress()
{
    // No device reads the buffer by DMA: its system address stands in.
    PHYSICAL_ADDRESS address;
    address.QuadPart = LONGLONG(ULONG_PTR(Buffer));
    return address;
}

STDMETHODIMP_(PADAPTER_OBJECT) CMiniportWaveCyclicStreamUsbAudio::GetAdapterObject()
{
    return nullptr;
}

STDMETHODIMP_(void)
CMiniportWaveCyclicStreamUsbAudio::CopyTo(PVOID Destination, PVOID Source, ULONG ByteCount)
{
    auto target = static_cast<PUCHAR>(Destination);
    if (Buffer == nullptr || target < Buffer || target >= RingEnd() || ByteCount > AllocatedSize) {
        QuenTrace(TRACE_LEVEL_ERROR, "%lu bytes to copy outside the cyclic buffer", ByteCount);
        return;
    }
    const ULONG offset = ULONG(target - Buffer);
    const ULONG first = RingPiece(offset, ByteCount, AllocatedSize);
    RtlCopyMemory(target, Source, first);
    RtlCopyMemory(Buffer, static_cast<PUCHAR>(Source) + first, ByteCount - first);
    QueueRegion(offset, ByteCount);
    if (State == KSSTATE_RUN) {
        Miniport->Adapter()->RenderNotify();
    }
}

STDMETHODIMP_(void)
CMiniportWaveCyclicStreamUsbAudio::CopyFrom(PVOID Destination, PVOID Source, ULONG ByteCount)
{
    auto source = static_cast<PUCHAR>(Source);
    if (Buffer == nullptr || source < Buffer || source >= RingEnd() || ByteCount > AllocatedSize) {
        QuenTrace(TRACE_LEVEL_ERROR, "%lu bytes to copy from outside the cyclic buffer", ByteCount);
        return;
    }
    const ULONG offset = ULONG(source - Buffer);
    const ULONG first = RingPiece(offset, ByteCount, AllocatedSize);
    RtlCopyMemory(Destination, source, first);
    RtlCopyMemory(static_cast<PUCHAR>(Destination) + first, Buffer, ByteCount - first);
}

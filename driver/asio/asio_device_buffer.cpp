// CAsioDeviceBuffer: what the wave stream's ASIO path needs of the host's buffers. The buffers
// themselves (the block, its user mapping and the channel table with its converters) are made
// by the private property set's buffer request, which is not served yet; so no channel exists
// and the moves only count.
#include "asio/asio_device_buffer.h"

namespace {

// The shared header's fields, in 32-bit words.
const ULONG kHeaderCurrentHalf = 0;
const ULONG kHeaderToggleCount = 1;
const ULONG kHeaderDeviceStatus = 2;

} // namespace

CAsioDeviceBuffer::CAsioDeviceBuffer()
    : Channels(0), FirstType(0), Half(0), Moved(0), Current(0), SharedHeader(nullptr)
{
}

CAsioDeviceBuffer::~CAsioDeviceBuffer()
{
    Free();
    Moved = 0;
    Current = 0;
}

void CAsioDeviceBuffer::Flip()
{
    Current = 1 - Current;
    if (SharedHeader != nullptr) {
        InterlockedExchange(&SharedHeader[kHeaderCurrentHalf], LONG(Current));
        InterlockedIncrement(&SharedHeader[kHeaderToggleCount]);
    }
}

void CAsioDeviceBuffer::SetDeviceStatus(NTSTATUS Status)
{
    if (SharedHeader != nullptr) {
        InterlockedExchange(&SharedHeader[kHeaderDeviceStatus], Status);
    }
}

void CAsioDeviceBuffer::MoveIntoDevice(PUCHAR Frames, ULONG Samples, ULONG Stride, ULONG Bits)
{
    UNREFERENCED_PARAMETER(Frames);
    UNREFERENCED_PARAMETER(Stride);
    UNREFERENCED_PARAMETER(Bits);
    Moved += Samples;
}

void CAsioDeviceBuffer::MoveOutOfDevice(const UCHAR *Frames, ULONG Samples, ULONG Stride,
                                        ULONG Bits)
{
    UNREFERENCED_PARAMETER(Frames);
    UNREFERENCED_PARAMETER(Stride);
    UNREFERENCED_PARAMETER(Bits);
    Moved += Samples;
}

void CAsioDeviceBuffer::Free()
{
    Channels = 0;
    FirstType = 0;
    Half = 0;
    SharedHeader = nullptr;
}

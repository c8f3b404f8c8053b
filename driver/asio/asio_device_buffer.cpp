// CAsioDeviceBuffer and CAsioBuffer: the shared block and its channels. The block is whole pages
// of its own, so the host's view shows nothing but the header and the halves; it is zeroed
// before it is mapped, and replies carry user addresses only.
#include "asio/asio_device_buffer.h"

#include "asio/asio_frame_conversion.h"
#include "asio/asio_user_mapping.h"
#include "driver_trace.h"
#include "usb/usb_cl.h"

namespace {

// The shared header's fields, in 32-bit words.
const ULONG kHeaderCurrentHalf = 0;
const ULONG kHeaderToggleCount = 1;
const ULONG kHeaderDeviceStatus = 2;

const UCHAR kDsdSilence = 0xAA;
// Device samples are 1 to 4 bytes; the converters' entries cover bits 8 to 39.
const ULONG kMinimumBits = 8;
const ULONG kMaximumBits = 39;

} // namespace

// ---- CAsioBuffer --------------------------------------------------------------------------------

void CAsioBuffer::Init(CAsioDeviceBuffer *OwnerBuffer, ULONG Index, ULONG Type, ULONG Total,
                       PUCHAR KernelAddress, PUCHAR UserAddress)
{
    const SIZE_T half = SIZE_T(AsioSampleSize(Type)) * (Total / 2);
    ChannelIndex = Index;
    SampleType = Type;
    TotalSamples = Total;
    KernelHalf[0] = KernelAddress;
    KernelHalf[1] = KernelAddress + half;
    UserHalf[0] = UserAddress;
    UserHalf[1] = UserAddress + half;
    Owner = OwnerBuffer;
    FillSilence();
}

void CAsioBuffer::FillSilence()
{
    const SIZE_T half = SIZE_T(AsioSampleSize(SampleType)) * (TotalSamples / 2);
    const UCHAR silence = AsioIsDsdSampleType(SampleType) ? kDsdSilence : 0;
    RtlFillMemory(KernelHalf[0], half, silence);
    RtlFillMemory(KernelHalf[1], half, silence);
}

PUCHAR CAsioBuffer::CurrentSamples(ULONG DeviceBytes) const
{
    const SIZE_T unit =
        SIZE_T(AsioSampleSize(SampleType)) * AsioSamplesPerDeviceSample(SampleType, DeviceBytes);
    return KernelHalf[Owner->CurrentHalf()] + unit * Owner->Position();
}

// ---- CAsioDeviceBuffer --------------------------------------------------------------------------

CAsioDeviceBuffer::CAsioDeviceBuffer()
    : Channels(0), Type(0), Half(0), Moved(0), Current(0), ChannelArray(nullptr),
      ByDeviceChannel(nullptr), Block(nullptr), BlockBytes(0), Mdl(nullptr), UserAddress(nullptr),
      OwnerProcess(nullptr), SharedHeader(nullptr)
{
}

CAsioDeviceBuffer::~CAsioDeviceBuffer()
{
    Free();
    Moved = 0;
    Current = 0;
}

NTSTATUS CAsioDeviceBuffer::AllocateAndMapForUserSpace(const ASIO_BUFFER_REQUEST *Request,
                                                       const ASIO_BUFFER_LAYOUT &Layout)
{
    if (Channels != 0 || Block != nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "the stream has ASIO buffers already");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    const ULONG count = Layout.ChannelCount;
    Block = static_cast<PUCHAR>(
        ExAllocatePoolWithTag(NonPagedPoolNx, Layout.BlockBytes, USBA_POOL_TAG));
    ChannelArray = static_cast<CAsioBuffer *>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(CAsioBuffer) * count, USBA_POOL_TAG));
    ByDeviceChannel = static_cast<CAsioBuffer **>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(CAsioBuffer *) * count, USBA_POOL_TAG));
    if (Block != nullptr) {
        BlockBytes = Layout.BlockBytes;
        RtlZeroMemory(Block, BlockBytes);
        Mdl = IoAllocateMdl(Block, BlockBytes, FALSE, FALSE, nullptr);
    }
    if (Mdl != nullptr) {
        MmBuildMdlForNonPagedPool(Mdl);
        OwnerProcess = PsGetCurrentProcess();
        UserAddress = AsioMapIntoCurrentProcess(Mdl);
    }
    if (UserAddress == nullptr || ChannelArray == nullptr || ByDeviceChannel == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "no memory or mapping for %lu bytes of ASIO buffers",
                  Layout.BlockBytes);
        Free();
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(ChannelArray, sizeof(CAsioBuffer) * count);
    RtlZeroMemory(ByDeviceChannel, sizeof(CAsioBuffer *) * count);
    const SIZE_T bytes = SIZE_T(AsioSampleSize(Layout.SampleType)) * Layout.TotalSamples;
    PUCHAR kernel = Block + sizeof(ASIO_SHARED_HEADER);
    PUCHAR user = static_cast<PUCHAR>(UserAddress) + sizeof(ASIO_SHARED_HEADER);
    BOOLEAN wholeFrames = TRUE;
    for (ULONG i = 0; i < count; ++i) {
        const ULONG index = Request->Channels[i].ChannelIndex;
        ChannelArray[i].Init(this, index, Layout.SampleType, Layout.TotalSamples, kernel, user);
        kernel += bytes;
        user += bytes;
        // The device channels 0 to n - 1, each once, make whole frames.
        if (index >= count || ByDeviceChannel[index] != nullptr) {
            wholeFrames = FALSE;
        } else {
            ByDeviceChannel[index] = &ChannelArray[i];
        }
    }
    if (!wholeFrames) {
        ExFreePoolWithTag(ByDeviceChannel, USBA_POOL_TAG);
        ByDeviceChannel = nullptr;
    }
    SharedHeader = reinterpret_cast<volatile LONG *>(Block);
    Type = Layout.SampleType;
    Half = Layout.TotalSamples / 2;
    Moved = 0;
    Current = 0;
    InterlockedExchange(reinterpret_cast<volatile LONG *>(&Channels), LONG(count));
    return STATUS_SUCCESS;
}

NTSTATUS CAsioDeviceBuffer::Reply(PVOID Value, ULONG ValueBytes, BOOLEAN Caller32Bit)
{
    const ULONG count = Channels;
    const ULONGLONG entry =
        Caller32Bit ? sizeof(ASIO_CHANNEL_BUFFER32) : sizeof(ASIO_CHANNEL_BUFFER);
    if (count == 0 || Value == nullptr || ValueBytes < entry * count) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    for (ULONG i = 0; i < count; ++i) {
        if (Caller32Bit) {
            ChannelArray[i].Reply(static_cast<ASIO_CHANNEL_BUFFER32 *>(Value) + i);
        } else {
            ChannelArray[i].Reply(static_cast<ASIO_CHANNEL_BUFFER *>(Value) + i);
        }
        ChannelArray[i].FillSilence();
    }
    return STATUS_SUCCESS;
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

ULONG CAsioDeviceBuffer::MovableSamples(ULONG Samples, ULONG DeviceBytes) const
{
    const ULONG half = AsioDeviceSamplesPerHalf(Half, Type, DeviceBytes);
    const ULONG left = Moved < half ? half - Moved : 0;
    return Samples < left ? Samples : left;
}

BOOLEAN CAsioDeviceBuffer::MovesWholeFrames(ULONG Stride, ULONG DeviceBytes) const
{
    return ByDeviceChannel != nullptr && Channels <= ASIO_FRAME_CHANNELS_MAX &&
                   Stride == Channels * DeviceBytes && AsioFrameConversionFits(Type, DeviceBytes)
               ? TRUE
               : FALSE;
}

void CAsioDeviceBuffer::Move(BOOLEAN Capture, PUCHAR Frames, ULONG Samples, ULONG Stride,
                             ULONG Bits)
{
    const ULONG count = Channels;
    if (count == 0 || Bits < kMinimumBits || Bits > kMaximumBits) {
        Moved += Samples;
        return;
    }
    const ULONG width = Bits / 8;
    const ULONG samples = MovableSamples(Samples, width);
    if (MovesWholeFrames(Stride, width)) {
        PUCHAR halves[ASIO_FRAME_CHANNELS_MAX];
        for (ULONG k = 0; k < count; ++k) {
            halves[k] = ByDeviceChannel[k]->CurrentSamples(width);
        }
        if (Capture) {
            AsioDeinterleaveFrames(halves, Frames, count, samples, Type, width);
        } else {
            AsioInterleaveFrames(Frames, halves, count, samples, Type, width);
        }
        Moved += Samples;
        return;
    }
    const PASIO_SAMPLE_CONVERTER convert = AsioSampleConverter(Capture, width, Type);
    for (ULONG i = 0; i < count; ++i) {
        const CAsioBuffer &channel = ChannelArray[i];
        // A channel outside the frame (the format changed under the buffers) moves nothing.
        if ((ULONGLONG(channel.Index()) + 1) * width > Stride) {
            continue;
        }
        PUCHAR device = Frames + SIZE_T(width) * channel.Index();
        if (Capture) {
            convert(device, channel.CurrentSamples(width), samples, Stride);
        } else {
            convert(channel.CurrentSamples(width), device, samples, Stride);
        }
    }
    Moved += Samples;
}

void CAsioDeviceBuffer::MoveIntoDevice(PUCHAR Frames, ULONG Samples, ULONG Stride, ULONG Bits)
{
    Move(FALSE, Frames, Samples, Stride, Bits);
}

void CAsioDeviceBuffer::MoveOutOfDevice(const UCHAR *Frames, ULONG Samples, ULONG Stride,
                                        ULONG Bits)
{
    // Capture only reads the frames.
    Move(TRUE, const_cast<PUCHAR>(Frames), Samples, Stride, Bits);
}

void CAsioDeviceBuffer::Free()
{
    InterlockedExchange(reinterpret_cast<volatile LONG *>(&Channels), 0);
    SharedHeader = nullptr;
    if (UserAddress != nullptr && PsGetCurrentProcess() != OwnerProcess) {
        // Unmapping here would hit another process's address space, and freeing the pages
        // would leave the host's view on freed memory: the block is given up instead.
        QuenTrace(TRACE_LEVEL_ERROR, "ASIO buffers released outside their process: %lu bytes lost",
                  BlockBytes);
        UserAddress = nullptr;
        Mdl = nullptr;
        Block = nullptr;
    }
    if (UserAddress != nullptr) {
        MmUnmapLockedPages(UserAddress, Mdl);
        UserAddress = nullptr;
    }
    if (Mdl != nullptr) {
        IoFreeMdl(Mdl);
        Mdl = nullptr;
    }
    if (Block != nullptr) {
        ExFreePoolWithTag(Block, USBA_POOL_TAG);
        Block = nullptr;
    }
    if (ChannelArray != nullptr) {
        ExFreePoolWithTag(ChannelArray, USBA_POOL_TAG);
        ChannelArray = nullptr;
    }
    if (ByDeviceChannel != nullptr) {
        ExFreePoolWithTag(ByDeviceChannel, USBA_POOL_TAG);
        ByDeviceChannel = nullptr;
    }
    OwnerProcess = nullptr;
    BlockBytes = 0;
    Type = 0;
    Half = 0;
}

#include "asio/asio_buffer_request.h"

#include "asio/asio_sample_conversion.h"
#include "driver_trace.h"

namespace {

// The shared block never exceeds this: far above any real buffer (7680 samples of 8 channels of
// 8 bytes is under 1 MiB), far below what would strain non-paged pool.
const ULONGLONG kMaximumBlockBytes = 64ull * 1024 * 1024;

NTSTATUS Refuse(PCSTR What, ULONGLONG Value)
{
    QuenTrace(TRACE_LEVEL_ERROR, "ASIO buffer request refused: %s (%I64u)", What, Value);
    return STATUS_INVALID_DEVICE_REQUEST;
}

} // namespace

ULONG AsioDeviceSamplesPerHalf(ULONG HalfSamples, ULONG SampleType, ULONG DeviceBytes)
{
    return HalfSamples / AsioSamplesPerDeviceSample(SampleType, DeviceBytes);
}

NTSTATUS AsioCheckBufferRequest(const VOID *Instance, ULONG InstanceBytes,
                                const ASIO_STREAM_LIMITS &Limits, ASIO_BUFFER_LAYOUT *Layout)
{
    if (Instance == nullptr || InstanceBytes < sizeof(ASIO_BUFFER_REQUEST)) {
        return Refuse("instance smaller than one channel", InstanceBytes);
    }
    const ASIO_BUFFER_REQUEST *request = static_cast<const ASIO_BUFFER_REQUEST *>(Instance);
    const ULONG count = request->ChannelCount;
    const ULONG total = request->TotalSamples;
    if (count == 0 || count > Limits.DeviceChannels) {
        return Refuse("channel count", count);
    }
    if (ASIO_BUFFER_REQUEST_HEADER_BYTES + ULONGLONG(count) * sizeof(ASIO_CHANNEL_REQUEST) >
        InstanceBytes) {
        return Refuse("instance smaller than its channels", InstanceBytes);
    }
    if (total == 0 || total % 2 != 0) {
        return Refuse("total samples", total);
    }
    const ULONG type = request->Channels[0].SampleType;
    if (type >= ASIO_SAMPLE_TYPE_COUNT) {
        return Refuse("sample type", type);
    }
    for (ULONG i = 0; i < count; ++i) {
        if (request->Channels[i].SampleType != type) {
            return Refuse("mixed sample types", request->Channels[i].SampleType);
        }
        if (request->Channels[i].ChannelIndex >= Limits.DeviceChannels) {
            return Refuse("device channel", request->Channels[i].ChannelIndex);
        }
    }
    const ULONG frames = AsioDeviceSamplesPerHalf(total / 2, type, Limits.DeviceBytes);
    if (frames == 0 || frames > Limits.RingFrames / 2) {
        return Refuse("device frames per half", frames);
    }
    const ULONGLONG block =
        sizeof(ASIO_SHARED_HEADER) + ULONGLONG(count) * AsioSampleSize(type) * total;
    if (block > kMaximumBlockBytes) {
        return Refuse("block size", block);
    }
    Layout->ChannelCount = count;
    Layout->TotalSamples = total;
    Layout->SampleType = type;
    Layout->BlockBytes = ULONG(ROUND_TO_PAGES(block));
    return STATUS_SUCCESS;
}

// The check of a buffer request from an ASIO host, which is hostile input: every size is
// computed in 64 bits and bounded by what the stream can move, before anything is allocated.
#pragma once

#include "quen_driver_platform.h"

#include "asio/asio_private_properties.h"

// What a request must fit: the stream's device frame and cyclic buffer.
typedef struct {
    ULONG DeviceChannels;
    ULONG DeviceBytes; // per sample
    ULONG RingFrames;
} ASIO_STREAM_LIMITS;

// What a checked request asks for; the channel entries stay in the request.
typedef struct {
    ULONG ChannelCount;
    ULONG TotalSamples;
    ULONG SampleType; // every channel's
    ULONG BlockBytes; // the shared block: header and every channel's halves, whole pages
} ASIO_BUFFER_LAYOUT;

// Checks the instance data of a buffer request against the stream. Refusals are
// STATUS_INVALID_DEVICE_REQUEST: the instance too small for its channel count, no channel or
// more than the device frame has, an odd or zero sample count, a sample type outside the
// ASIO numbering or differing between channels, a device channel the frame lacks, a half
// larger than half the cyclic buffer, or a block beyond the limit.
NTSTATUS AsioCheckBufferRequest(const VOID *Instance, ULONG InstanceBytes,
                                const ASIO_STREAM_LIMITS &Limits, ASIO_BUFFER_LAYOUT *Layout);

// Device samples per channel that one half of a channel of this type fills (a DSD byte stream
// packs four of its bytes into each 4-byte device sample).
ULONG AsioDeviceSamplesPerHalf(ULONG HalfSamples, ULONG SampleType, ULONG DeviceBytes);

// The private property set between the ASIO driver and the kernel driver: its items, and the
// packed records that cross the boundary (the buffer request, the reply entries for 64-bit and
// 32-bit callers, and the header at the start of the shared block). Both sides of the boundary
// use it: the includer brings the Windows base types (kernel or user-mode headers) first.
#pragma once

// {8A41D2C7-5E93-4F0B-B61A-3C72E9D05F18}; defined once in driver_guids.cpp.
DEFINE_GUID(KSPROPSETID_AsioPrivate, 0x8A41D2C7L, 0x5E93, 0x4F0B, 0xB6, 0x1A, 0x3C, 0x72, 0xE9,
            0xD0, 0x5F, 0x18);

typedef enum {
    KSPROPERTY_ASIO_BUFFERS = 0,
    KSPROPERTY_ASIO_REGISTER_EVENT = 1,
    KSPROPERTY_ASIO_UNREGISTER_EVENT = 2,
    KSPROPERTY_ASIO_OUTPUT_READY = 3,
    KSPROPERTY_ASIO_OUTPUT_DELAY = 4,
    KSPROPERTY_ASIO_DSD_NATIVE_MODE = 256
} KSPROPERTY_ASIO_PRIVATE;

#pragma pack(push, 1)

// One channel of a buffer request.
typedef struct {
    ULONG SampleType;
    ULONG ChannelIndex;
} ASIO_CHANNEL_REQUEST;

// The instance data of a buffer request: ChannelCount entries follow the fixed part.
typedef struct {
    ULONG ChannelCount;
    ULONG TotalSamples;
    ASIO_CHANNEL_REQUEST Channels[1];
} ASIO_BUFFER_REQUEST, *PASIO_BUFFER_REQUEST;

// One reply entry for a 64-bit caller. The kernel address fields are always 0: no kernel
// address reaches user mode.
typedef struct {
    ULONG ChannelIndex;
    ULONG SampleType;
    ULONG HalfSamples;
    ULONGLONG KernelHalf[2];
    ULONGLONG UserHalf[2];
} ASIO_CHANNEL_BUFFER, *PASIO_CHANNEL_BUFFER;

// The same for a 32-bit caller, whose addresses are 32 bits.
typedef struct {
    ULONG ChannelIndex;
    ULONG SampleType;
    ULONG HalfSamples;
    ULONG KernelHalf[2];
    ULONG UserHalf[2];
} ASIO_CHANNEL_BUFFER32, *PASIO_CHANNEL_BUFFER32;

// The first bytes of the shared block.
typedef struct {
    LONG CurrentHalf;
    LONG ToggleCount;
    LONG DeviceStatus;
    ULONG Reserved;
} ASIO_SHARED_HEADER, *PASIO_SHARED_HEADER;

#pragma pack(pop)

static_assert(sizeof(ASIO_CHANNEL_REQUEST) == 8, "an ASIO channel request is 8 bytes");
static_assert(sizeof(ASIO_BUFFER_REQUEST) == 16,
              "an ASIO buffer request with one channel is 16 bytes");
static_assert(sizeof(ASIO_CHANNEL_BUFFER) == 44, "a 64-bit ASIO reply entry is 44 bytes");
static_assert(sizeof(ASIO_CHANNEL_BUFFER32) == 28, "a 32-bit ASIO reply entry is 28 bytes");
static_assert(sizeof(ASIO_SHARED_HEADER) == 16, "the ASIO shared header is 16 bytes");

// The fixed part of a buffer request, before its channel entries.
#define ASIO_BUFFER_REQUEST_HEADER_BYTES 8

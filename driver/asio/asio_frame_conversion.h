// Whole-frame conversion between the ASIO buffers of every channel of a device frame and the
// device's interleaved frames, in one pass per half. It gives exactly the bytes of the
// per-channel converters (the same placement rule), but reads or writes whole frames; stereo
// and multiples of four channels run on SSE2 (the baseline of x64, usable in kernel code
// without saving extended state).
#pragma once

#include "quen_driver_platform.h"

// The most channels a whole frame is converted for.
#define ASIO_FRAME_CHANNELS_MAX 32

// Whether whole frames can be converted for this ASIO sample type and device sample width: the
// integer types (16, 24 and 32-bit) against 2, 3 and 4-byte device samples.
BOOLEAN AsioFrameConversionFits(ULONG SampleType, ULONG DeviceBytes);

// Render: Samples frames of ChannelCount device samples of DeviceBytes each, written densely at
// Frames; device channel k comes from Channels[k], contiguous samples of SampleType.
void AsioInterleaveFrames(PUCHAR Frames, const UCHAR *const *Channels, ULONG ChannelCount,
                          ULONG Samples, ULONG SampleType, ULONG DeviceBytes);

// Capture: the reverse; device channel k of every frame goes to Channels[k].
void AsioDeinterleaveFrames(PUCHAR const *Channels, const UCHAR *Frames, ULONG ChannelCount,
                            ULONG Samples, ULONG SampleType, ULONG DeviceBytes);

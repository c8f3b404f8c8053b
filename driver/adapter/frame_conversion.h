// Sample container conversion between the client format of a stream (what the WaveCyclic or
// ASIO side writes or reads) and the device format of its alternate setting. Samples are
// little-endian; both sides move whole frames only.
#pragma once

#include "quen_driver_platform.h"

// The bytes of the whole frames in Bytes, counted in the other side's frame size: Bytes /
// FromFrameBytes x ToFrameBytes; 0 when either frame size is 0.
ULONG ConvertedByteCount(ULONG Bytes, ULONG FromFrameBytes, ULONG ToFrameBytes);

// Converts the whole frames in SourceBytes bytes of Source (SourceChannels samples of
// SourceBits each) into Destination (DestinationChannels samples of DestinationBits). A wider
// destination sample gets the source bytes at its top, padded below; a narrower one keeps the
// source's top bytes. 8-bit samples are unsigned, wider ones signed. Destination channels
// without a source channel get silence; source channels beyond the destination's are skipped.
// Equal formats are copied unchanged.
void ConvertFrames(PUCHAR Destination, const UCHAR *Source, ULONG SourceBytes,
                   ULONG DestinationChannels, ULONG DestinationBits, ULONG SourceChannels,
                   ULONG SourceBits);

// Packet geometry of an isochronous audio stream: how often the data endpoint is served, how many
// bytes a frame of samples takes, the nominal packet and the most the endpoint carries per
// millisecond. Integer arithmetic only; values too large for 32 bits saturate.
#pragma once

#include "quen_driver_platform.h"

struct StreamGeometry {
    ULONG ServiceInterval;  // w: (micro)frames from one packet to the next
    ULONG BytesPerFrame;    // t: one sample of every channel
    ULONG SamplesPerPacket; // whole samples per service interval
    ULONG BytesPerPacket;   // o: nominal packet
    BOOLEAN WholeSamples;   // the rate gives a whole number of samples per service interval
    ULONG MaxBytesPerMs;    // v: what wMaxPacketSize allows in one millisecond
};

// The geometry of Channels x Bits (container bits) at Rate on DataEndpoint. A zero format (or no
// endpoint) gives zeros with a service interval of 1.
void ComputeStreamGeometry(const USB_ENDPOINT_DESCRIPTOR *DataEndpoint, BOOLEAN HighSpeed,
                           ULONG Channels, ULONG Bits, ULONG Rate, StreamGeometry *Geometry);

// The nominal 16.16 feedback value (samples per packet interval) at Rate: per frame at full
// speed; at high speed per service interval for render and per microframe for capture.
ULONG NominalFeedback(ULONG Rate, BOOLEAN HighSpeed, BOOLEAN Capture, ULONG ServiceInterval);

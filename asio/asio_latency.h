// The latencies the driver reports to hosts, in the host's sample frames: what a sample spends
// between the host's buffer and the converter, worked out from the buffer and the kernel driver's
// transfer settings (the machine's "Sample Device Performance" values).
#pragma once

#include "quen_asio_platform.h"

struct AsioLatencies {
    LONG input;
    LONG output;
};

// For a host buffer of BufferSamples at Rate samples a second (DSD: DSD samples).
AsioLatencies EstimateAsioLatencies(ULONG BufferSamples, double Rate);

// The descriptor report: a device's descriptors, read through the emulated USB stack, decoded
// field by field as a driver engineer reads them (standard descriptors, the audio class's
// control and streaming descriptors of both class versions, endpoints with their role and
// timing, strings). Malformed bytes are shown as what they are; decoding never reads past a
// descriptor's bLength or past what the device returned.
#pragma once

#include "stack_descriptor_reader.h"

#include <cstdio>

namespace sim {

// Returns false when not even the device descriptor could be read.
bool PrintDescriptorReport(StackDescriptorReader &reader, bool highSpeed, std::FILE *out);

} // namespace sim

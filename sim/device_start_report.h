// The device start report: the driver's own device start (CUSBAudioCL::Initialize,
// SelectConfiguration and BuildFilter, as the adapter runs them) on a driver device object
// attached above the device's PDO, and what it built: speed, class version, DSD capability,
// entities and their links, streaming interfaces with every alternate setting, data ranges, and
// the filter's pins, nodes and connections drawn as its signal chains. A refused device shows
// the status and the step that refused it, with the driver's failure trace.
#pragma once

#include "kernel/machine.h"

#include <ntddk.h>

#include <cstdio>

namespace sim {

// Runs on the calling emulated thread (PASSIVE_LEVEL). Returns the status of the first step
// that failed, or STATUS_SUCCESS; everything the driver allocated is freed before it returns.
NTSTATUS PrintDeviceStartReport(host::Machine &machine, PDEVICE_OBJECT physicalDevice,
                                std::FILE *out);

} // namespace sim

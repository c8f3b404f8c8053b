// NTSTATUS values as a reader wants them: the name Windows headers give them, and the hex.
#pragma once

#include <ntdef.h>

#include <string>

namespace sim {

// The STATUS_ name of a status the host headers define, or null.
const char *NtStatusName(NTSTATUS status);
// "STATUS_NOT_SUPPORTED (0xC00000BB)", or the hex alone for an unnamed status.
std::string NtStatusText(NTSTATUS status);

} // namespace sim

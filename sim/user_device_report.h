// The audio devices as user mode sees them: the KSCATEGORY_AUDIO interfaces SetupAPI lists, each
// with its device (description, instance id, hardware ids) and its filter as the KS client
// library opens it: the streaming pins with their direction, name and audio ranges. Runs in a
// user process of the machine (its Win32 calls are that process's).
#pragma once

#include <cstdio>

namespace sim {

// Returns the number of interfaces listed.
unsigned PrintUserModeDevices(std::FILE *out);

} // namespace sim

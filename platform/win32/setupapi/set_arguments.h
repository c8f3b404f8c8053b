// The checks every SetupAPI entry point makes on its first arguments: the set behind a handle of
// the calling process, and the device an SP_DEVINFO_DATA names in it. A failure sets the last
// error as SetupAPI does.
#pragma once

#include "caller.h"
#include "device_info_set.h"

namespace host::win32 {

// ERROR_INVALID_HANDLE when the handle names no set of the process.
DeviceInfoSet *SetOf(Caller &caller, HDEVINFO handle);
// ERROR_INVALID_USER_BUFFER for a missing or wrongly sized structure, ERROR_INVALID_PARAMETER
// when it names no device of the set.
bool DeviceOf(const DeviceInfoSet &set, PSP_DEVINFO_DATA data, size_t *device);

} // namespace host::win32

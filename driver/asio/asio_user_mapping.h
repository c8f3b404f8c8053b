// The view of a block's locked pages in the current process, kept apart because Windows raises
// an exception instead of returning null when such a view cannot be made.
#pragma once

#include "quen_driver_platform.h"

// Maps the pages the MDL describes into the current (user) process, cached.
// Null when no view can be made.
PVOID AsioMapIntoCurrentProcess(PMDL Mdl);

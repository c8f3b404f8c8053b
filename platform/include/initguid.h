// Host version of <initguid.h>. On Windows, including it makes DEFINE_GUID emit the GUID
// objects in that one translation unit; on the host every DEFINE_GUID is already an inline
// variable, so there is nothing left to switch on.
#pragma once

#include "ntdef.h"

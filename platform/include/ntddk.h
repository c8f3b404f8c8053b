// Host version of <ntddk.h>: everything of <wdm.h>; the driver includes this one.
#pragma once

#include "wdm.h"

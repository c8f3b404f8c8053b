// Host version of <winioctl.h>: user mode's view of I/O control codes.
#pragma once

#include "devioctl.h"

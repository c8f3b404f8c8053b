// The platform headers of the co-installer, which the device installer calls with DIF codes.
// Co-installer sources include this header instead of any Windows header.
#pragma once

#include <windows.h>
#include <setupapi.h>

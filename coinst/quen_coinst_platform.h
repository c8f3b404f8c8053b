// The platform headers of the co-installer, which the device installer calls with DIF codes.
// Co-installer sources include this header instead of any Windows header.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <evntrace.h>

// Newer than mingw-w64's setupapi.h.
#ifndef DIF_FINISHINSTALL_ACTION
#define DIF_FINISHINSTALL_ACTION 0x0000002B
#endif

// The ASIO driver's trace lines ("QUEN_ASIO" provider): written to the debugger output. No
// behaviour depends on them.
#pragma once

#include "quen_asio_platform.h"

void AsioTrace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The name of an ASIO error code, for trace lines.
const char *AsioErrorName(LONG error);

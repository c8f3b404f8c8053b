// The driver's one tracing macro. Entry, exit and failure of operations are written under the
// name of the function that traces; on Windows and on the host alike the lines go to the kernel
// debugger output (DbgPrintEx), which the host machine keeps in its debug log. No behaviour
// depends on it.
#pragma once

#include "quen_driver_platform.h"

// Levels, from the most to the least important.
#define TRACE_LEVEL_ERROR DPFLTR_ERROR_LEVEL
#define TRACE_LEVEL_WARNING DPFLTR_WARNING_LEVEL
#define TRACE_LEVEL_INFORMATION DPFLTR_TRACE_LEVEL
#define TRACE_LEVEL_VERBOSE DPFLTR_INFO_LEVEL

// QuenTrace(level, "format", arguments...): one line, prefixed with the driver and function name.
#define QuenTrace(level, format, ...)                                                              \
    DbgPrintEx(DPFLTR_IHVAUDIO_ID, (level), "norvane_quen_audio: %s: " format "\n", __FUNCTION__,  \
               ##__VA_ARGS__)

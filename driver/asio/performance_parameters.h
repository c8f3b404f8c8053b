// The performance parameters: for each direction, how many milliseconds (USB frames) one
// isochronous transfer covers and how many transfers are kept in flight. Read from the machine
// key "\Registry\Machine\SOFTWARE\ZEL\Sample Device Performance", values "param1" to "param4".
#pragma once

#include "quen_driver_platform.h"

// The driver-wide record the streaming code reads.
struct PERFORMANCE_PARAMETERS {
    ULONG RenderFramesPerTransfer;
    ULONG RenderTransfersInFlight;
    ULONG CaptureFramesPerTransfer;
    ULONG CaptureTransfersInFlight;
};
static_assert(sizeof(PERFORMANCE_PARAMETERS) == 16, "four 32-bit values");

#define PERFORMANCE_DIRECTION_RENDER 0
#define PERFORMANCE_DIRECTION_CAPTURE 1

// Defaults and limits.
#define PERFORMANCE_RENDER_FRAMES_DEFAULT 4
#define PERFORMANCE_CAPTURE_FRAMES_DEFAULT 1
#define PERFORMANCE_TRANSFERS_DEFAULT 8
#define PERFORMANCE_FRAMES_MAX 5
#define PERFORMANCE_TRANSFERS_MAX 20

// What ReadPerformanceParameterPair had to correct (bits of a non-negative result).
#define PERFORMANCE_KEY_UNREADABLE 1      // both defaults used
#define PERFORMANCE_FIRST_ZERO 2          // first value 0: its default used
#define PERFORMANCE_FIRST_ABOVE_LIMIT 4   // first value above 5: 5 used
#define PERFORMANCE_SECOND_ZERO 8         // second value 0: the first value's default used
#define PERFORMANCE_SECOND_ABOVE_LIMIT 16 // second value above 20: 20 used
// Negative results: nothing is written.
#define PERFORMANCE_MISSING_OUTPUT (-1)
#define PERFORMANCE_BAD_FIRST_DEFAULT (-2)

// Reads "param1"/"param2" (render) or "param3"/"param4" (capture) with FirstDefault (1 to 5)
// for the first value and 8 for the second. PASSIVE_LEVEL.
int ReadPerformanceParameterPair(ULONG Direction, PULONG First, PULONG Second, ULONG FirstDefault);

// Reads one direction's pair into the record; a pair that cannot be read gets its defaults.
// Returns ReadPerformanceParameterPair's result. PASSIVE_LEVEL.
int ReadPerformanceParameters(ULONG Direction, PERFORMANCE_PARAMETERS *Parameters);

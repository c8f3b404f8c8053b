// The render rates the driver can schedule without feedback, with the number of samples each
// 1 ms frame (full speed) or 125 us microframe (high speed) carries. A pattern is used
// cyclically and spreads a fractional rate such as 44100 Hz evenly: entry i holds
// ceil((i + 1) * rate / F) - ceil(i * rate / F) for F = 1000 or 8000, so the first entry takes the
// rounded-up share.
#pragma once

#include "quen_driver_platform.h"

struct RatePatternEntry {
    ULONG Rate; // Hz
    ULONG FullSpeedLength;
    const ULONG *FullSpeedPattern;
    ULONG HighSpeedLength;
    const ULONG *HighSpeedPattern;
};

#define RATE_PATTERN_COUNT 13

// From 384000 Hz down to 8000 Hz.
extern const RatePatternEntry RatePatternTable[RATE_PATTERN_COUNT];

// The entry of a rate, or null when the rate is not in the table.
const RatePatternEntry *FindRatePattern(ULONG Rate);

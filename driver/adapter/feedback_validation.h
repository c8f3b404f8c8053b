// Which explicit feedback values the render engine believes. A value is the 16.16 number of
// samples the device consumes per (micro)frame; it is taken when it is at least one sample and
// within one sample of the nominal value, and replaced by the nominal value otherwise (a
// missing reading, 0, included).
#pragma once

#include "quen_driver_platform.h"

// One sample, 16.16.
#define FEEDBACK_ONE_SAMPLE 0x10000UL

ULONG ValidFeedbackValue(ULONG Value, ULONG Nominal);

// The trace of a filter description: its pins with their terminals and categories, its nodes
// with their types and units, and its connections.
#pragma once

#include "quen_driver_platform.h"

void TraceFilterDescription(const PCFILTER_DESCRIPTOR *Filter);

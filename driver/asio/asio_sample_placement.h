// The one rule behind every integer sample conversion: a sample of From bytes becomes To bytes
// by keeping its top bytes (narrowing) or by zero bytes below it (widening). Little-endian.
#pragma once

#include "quen_driver_platform.h"

template <ULONG From, ULONG To>
inline void PlaceSample(const UCHAR *In, PUCHAR Out)
{
    if constexpr (To <= From) {
        RtlCopyMemory(Out, In + (From - To), To);
    } else {
        RtlZeroMemory(Out, To - From);
        RtlCopyMemory(Out + (To - From), In, From);
    }
}

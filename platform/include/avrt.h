// Host version of <avrt.h>: the multimedia class scheduler (MMCSS) calls of avrt.dll.
#pragma once

#include "winbase.h"

typedef enum _AVRT_PRIORITY {
    AVRT_PRIORITY_VERYLOW = -2,
    AVRT_PRIORITY_LOW,
    AVRT_PRIORITY_NORMAL,
    AVRT_PRIORITY_HIGH,
    AVRT_PRIORITY_CRITICAL
} AVRT_PRIORITY,
    *PAVRT_PRIORITY;

extern "C" {

HANDLE WINAPI AvSetMmThreadCharacteristicsW(LPCWSTR TaskName, LPDWORD TaskIndex);
HANDLE WINAPI AvSetMmThreadCharacteristicsA(LPCSTR TaskName, LPDWORD TaskIndex);
BOOL WINAPI AvRevertMmThreadCharacteristics(HANDLE AvrtHandle);
BOOL WINAPI AvSetMmThreadPriority(HANDLE AvrtHandle, AVRT_PRIORITY Priority);

} // extern "C"

#ifdef UNICODE
#define AvSetMmThreadCharacteristics AvSetMmThreadCharacteristicsW
#else
#define AvSetMmThreadCharacteristics AvSetMmThreadCharacteristicsA
#endif

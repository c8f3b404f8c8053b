// Host version of <mmsystem.h>: winmm's multimedia timer calls.
#pragma once

#include "winbase.h"

typedef UINT MMRESULT;

#define TIMERR_NOERROR 0
#define TIMERR_BASE 96
#define TIMERR_NOCANDO (TIMERR_BASE + 1)

extern "C" {

DWORD WINAPI timeGetTime(void);
MMRESULT WINAPI timeBeginPeriod(UINT uPeriod);
MMRESULT WINAPI timeEndPeriod(UINT uPeriod);

} // extern "C"

// winmm: the multimedia timer's clock, in milliseconds since boot on the machine's virtual clock.
// The timer resolution calls are accepted; virtual time has no coarser resolution to refine.
#include "caller.h"

#include <mmsystem.h>

using namespace host::win32;

extern "C" {

DWORD WINAPI timeGetTime(void)
{
    return DWORD(CallerOf("timeGetTime").machine.Clock().Now() / 10000);
}

MMRESULT WINAPI timeBeginPeriod(UINT uPeriod)
{
    return uPeriod == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod(UINT uPeriod)
{
    return uPeriod == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR;
}

} // extern "C"

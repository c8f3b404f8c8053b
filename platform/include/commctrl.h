// Host version of <commctrl.h>: what the control panel's sources name of the common controls
// (the trackbar). The controls themselves are drawn only by the Windows build.
#pragma once

#include "winuser.h"

typedef struct tagINITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;

#define ICC_WIN95_CLASSES 0x000000FF

#define TRACKBAR_CLASSW L"msctls_trackbar32"
#define TBS_HORZ 0x0000
#define TBS_BOTH 0x0008
#define TBS_NOTICKS 0x0010
#define TBM_GETPOS (WM_USER)
#define TBM_SETPOS (WM_USER + 5)
#define TBM_SETRANGE (WM_USER + 6)

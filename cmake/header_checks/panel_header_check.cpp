// The control panel's platform header compiles on its own and together with the KS client
// library's (which is built into the panel).
#include "quen_panel_platform.h"
#include "quen_kslib_platform.h"

static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4 && sizeof(BOOL) == 4, "32-bit scalars");
static_assert(sizeof(WCHAR) == 2, "WCHAR is 16 bits");
static_assert(sizeof(HWND) == 8 && sizeof(WPARAM) == 8 && sizeof(LPARAM) == 8, "x64 message words");
static_assert(sizeof(LRESULT) == 8 && sizeof(INT_PTR) == 8, "x64 dialog results");
static_assert(sizeof(MSG) == 48 && sizeof(WNDCLASSEXW) == 80, "x64 message and class records");
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "the device-interface filter");

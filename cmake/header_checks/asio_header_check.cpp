// The ASIO driver's platform header compiles on its own and together with the KS client
// library's (which is built into the ASIO driver).
#include "quen_asio_platform.h"
#include "quen_kslib_platform.h"

static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4 && sizeof(BOOL) == 4, "32-bit scalars");
static_assert(sizeof(ULONG_PTR) == 8 && sizeof(HANDLE) == 8, "x64 pointers");
static_assert(sizeof(WCHAR) == 2, "WCHAR is 16 bits");
static_assert(sizeof(HRESULT) == 4, "HRESULT is 32 bits");
static_assert(sizeof(GUID) == 16 && sizeof(CLSID) == 16, "GUID layout");
static_assert(sizeof(KSPROPERTY) == 24, "KSPROPERTY layout");

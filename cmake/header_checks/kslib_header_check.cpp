// The KS client library's platform header compiles on its own and gives the Windows x64 layouts
// of the records the library exchanges with the kernel and SetupAPI.
#include "quen_kslib_platform.h"

static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4 && sizeof(BOOL) == 4, "32-bit scalars");
static_assert(sizeof(ULONG_PTR) == 8 && sizeof(HANDLE) == 8, "x64 pointers");
static_assert(sizeof(WCHAR) == 2, "WCHAR is 16 bits");
static_assert(sizeof(GUID) == 16, "GUID layout");
static_assert(sizeof(OVERLAPPED) == 32, "OVERLAPPED layout");
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "SP_DEVICE_INTERFACE_DATA layout");
static_assert(sizeof(KSPROPERTY) == 24, "KSPROPERTY layout");
static_assert(sizeof(KSP_PIN) == 32, "KSP_PIN layout");
static_assert(sizeof(KSMULTIPLE_ITEM) == 8, "KSMULTIPLE_ITEM layout");
static_assert(sizeof(KSPIN_CONNECT) == 72, "KSPIN_CONNECT layout");
static_assert(sizeof(KSDATAFORMAT) == 64, "KSDATAFORMAT layout");
static_assert(sizeof(KSDATARANGE_AUDIO) == 88, "KSDATARANGE_AUDIO layout");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is packed");
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40, "WAVEFORMATEXTENSIBLE layout");

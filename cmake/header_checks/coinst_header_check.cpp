// The co-installer's platform header compiles on its own and gives the Windows x64 layouts of
// the installer records the co-installer reads.
#include "quen_coinst_platform.h"

static_assert(sizeof(DWORD) == 4 && sizeof(BOOL) == 4, "32-bit scalars");
static_assert(sizeof(WCHAR) == 2, "WCHAR is 16 bits");
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA layout");
static_assert(sizeof(SP_DRVINFO_DATA_V2_W) == 1568, "SP_DRVINFO_DATA_V2_W layout");
static_assert(sizeof(COINSTALLER_CONTEXT_DATA) == 16, "COINSTALLER_CONTEXT_DATA layout");

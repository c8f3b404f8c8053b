// Host version of <olectl.h>: the self-registration entry points of an in-process server and
// their error codes.
#pragma once

#include "objbase.h"

#define SELFREG_E_FIRST MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0200)
#define SELFREG_E_TYPELIB (SELFREG_E_FIRST + 0)
#define SELFREG_E_CLASS (SELFREG_E_FIRST + 1)

STDAPI DllRegisterServer(void);
STDAPI DllUnregisterServer(void);

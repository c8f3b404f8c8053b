// Host version of <wtypes.h>: the string and identifier types COM calls exchange.
#pragma once

#include "windef.h"

typedef WCHAR OLECHAR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;
typedef CLSID *LPCLSID;
typedef IID *LPIID;

// The platform headers of the control panel: a Win32 dialog program with common controls that
// follows device arrival and removal. Panel sources include this header instead of any Windows
// header.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <commctrl.h>
#include <dbt.h>
#include <evntrace.h>

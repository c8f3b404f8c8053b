// Host version of <windows.h>: the Win32 base (kernel32 and advapi32's registry) as the
// user-mode deliverables see it. As with WIN32_LEAN_AND_MEAN, COM, multimedia and SetupAPI come
// from their own headers, which each deliverable's platform header includes.
#pragma once

#include "winbase.h"
#include "windef.h"
#include "winerror.h"
#include "winnt.h"
#include "winreg.h"

// Host version of <windows.h>: the Win32 base (kernel32, advapi32's registry, user32's windows
// and messages) as the user-mode deliverables see it. As with WIN32_LEAN_AND_MEAN, COM,
// multimedia, SetupAPI and device broadcasts (dbt.h) come from their own headers, which each
// deliverable's platform header includes.
#pragma once

#include "winbase.h"
#include "windef.h"
#include "winerror.h"
#include "winnt.h"
#include "winreg.h"
#include "winuser.h"

// regsvr32: runs a process that loads an in-process server and calls its DllRegisterServer (or
// with `unregister` its DllUnregisterServer), as the system's regsvr32 does.
#pragma once

#include <winerror.h>

#include <string>

namespace host::win32 {

class Subsystem;

// Returns the entry point's result, or the HRESULT of the Win32 error that kept it from being
// called (the module or the entry point missing). Waits for the process to end; the caller is an
// emulated thread.
HRESULT RegisterServer(Subsystem &win32, const std::u16string &modulePath, bool unregister);

} // namespace host::win32

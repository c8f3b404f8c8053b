// The system modules the emulation provides and, for each, the explicit list of the entry points
// it implements. GetProcAddress finds exports here; a name a module does not list is a verifier
// report (Windows would have it, the emulation does not).
#pragma once

#include <windef.h>

#include <cstddef>
#include <string>

namespace host::win32 {

struct SystemExport {
    const char *name;
    void *address;
};

struct SystemModule {
    const char16_t *name; // e.g. u"kernel32.dll"
    const SystemExport *exports;
    size_t exportCount;
    bool alwaysLoaded; // mapped into every process (kernel32, ntdll)
};

#define QUEN_SYSTEM_EXPORT(function)                                                               \
    {                                                                                              \
#function, reinterpret_cast < void *>(&function)                                           \
    }

// An entry point GetProcAddress returned, as the function type it has.
template <class Function>
Function FunctionFrom(FARPROC address)
{
    return reinterpret_cast<Function>(reinterpret_cast<void *>(address));
}

// Every system module; null-terminated.
extern const SystemModule *const kSystemModules[];

// The module of that file name (case-insensitive), or null.
const SystemModule *FindSystemModule(const std::u16string &fileName);
// The entry point of that name, or null.
void *FindSystemExport(const SystemModule &module, const char *name);

// The directory system modules live in.
extern const char16_t kSystemDirectory[];

} // namespace host::win32

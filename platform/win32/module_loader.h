// The loader of one process: the modules it has loaded, found by name or handle, with their load
// counts, DllMain notifications and exports.
//
// Two kinds of module exist. A system module (kernel32.dll, ksuser.dll, ...) is part of the
// emulation: its exports are the functions listed in its table (system_modules.h), and asking for
// one it does not list is a verifier report, since Windows would have it. Any other module is a
// file on the simulated disk whose host file is a shared library built for the host (a
// deliverable, or a test's own module); each process loads its own copy, so its globals are its
// own as on Windows, and its exports are the library's dynamic symbols (a version script made from
// the module's .def file keeps them to the exported names).
#pragma once

#include "system_modules.h"

#include <wdm/ke.h>
#include <windef.h>

#include <functional>
#include <list>
#include <memory>
#include <string>

namespace host::win32 {

class ProcessRecord;

typedef BOOL(WINAPI *DllEntryPoint)(HINSTANCE module, DWORD reason, LPVOID reserved);

class Module {
public:
    HMODULE Handle() { return reinterpret_cast<HMODULE>(this); }

    std::u16string path;                  // the Windows path it was loaded from
    const SystemModule *system = nullptr; // a system module's table, or null
    void *library = nullptr;              // the host copy, loaded
    int copy = -1;                        // the host copy's file (a memory file)
    DllEntryPoint dllMain = nullptr;
    ULONG loadCount = 0;
    bool pinned = false;     // never unloaded (the process image, kernel32)
    bool threadCalls = true; // DLL_THREAD_ATTACH/DETACH wanted
};

class ModuleList {
public:
    explicit ModuleList(ProcessRecord &process);
    // Unloads what is left without calling DllMain (a process that was terminated, or the
    // modules after DetachAll).
    ~ModuleList();
    ModuleList(const ModuleList &) = delete;
    ModuleList &operator=(const ModuleList &) = delete;

    // LoadLibraryExW: finds or loads the module and counts the load. Returns a Win32 error.
    DWORD Load(const std::u16string &name, HMODULE *module);
    DWORD Free(HMODULE module);
    // GetModuleHandleW: a loaded module by name (null: the process image); no load is counted.
    DWORD Find(const std::u16string &name, HMODULE *module);
    // The module an address lies in (GetModuleHandleExW with FROM_ADDRESS).
    DWORD FindByAddress(const void *address, HMODULE *module);
    DWORD Export(HMODULE module, const char *name, FARPROC *address);
    DWORD FileName(HMODULE module, std::u16string *path);
    DWORD DisableThreadCalls(HMODULE module);
    DWORD Pin(HMODULE module);

    // DLL_THREAD_ATTACH or DLL_THREAD_DETACH to every module that wants them.
    void NotifyThread(DWORD reason);
    // DLL_PROCESS_DETACH to every module, last loaded first (ExitProcess).
    void DetachAll();

private:
    class LoaderLock;
    Module *FindLocked(HMODULE module);
    // The module of a handle, the process image for null.
    Module *ModuleOfLocked(HMODULE module);
    // Runs `change` on the module of a handle under the loader lock.
    DWORD Change(HMODULE module, const std::function<void(Module &)> &change);
    Module *FindLoadedLocked(const std::u16string &path);
    // Where a name leads: a loaded module, a system module or an installed file.
    DWORD ResolveLocked(const std::u16string &name, std::u16string *path,
                        const SystemModule **system);
    DWORD LoadFileLocked(const std::u16string &path, std::unique_ptr<Module> *module);
    BOOL CallDllMain(Module &module, DWORD reason, LPVOID reserved);
    void Unload(Module &module);

    ProcessRecord &process_;
    KMUTEX lock_; // the loader lock: held while DllMain runs, as on Windows
    std::list<std::unique_ptr<Module>> modules_; // in load order, the process image first
};

} // namespace host::win32

// The in-process COM servers one process has loaded (each module once, for as long as COM keeps
// it), and the apartments its threads have entered, whose last exit unloads them.
#pragma once

#include <windef.h>

#include <mutex>
#include <string>
#include <vector>

namespace host::win32 {

class ProcessRecord;

class ComServers {
public:
    explicit ComServers(ProcessRecord &process) : process_(process) {}
    // Forgets the servers; the process's loader unloads what is left.
    ~ComServers() = default;
    ComServers(const ComServers &) = delete;
    ComServers &operator=(const ComServers &) = delete;

    // Loads the server module at `path` for COM (a second load of a server already held drops
    // the extra count). Returns a Win32 error.
    DWORD Load(const std::u16string &path, HMODULE *module);
    // CoFreeUnusedLibraries: servers whose DllCanUnloadNow says S_OK are freed.
    void FreeUnused();

    // A thread entered or left its apartment; the last one out frees every server.
    void ApartmentEntered();
    void ApartmentLeft();
    // Whether any thread of the process is in an apartment.
    bool AnyApartment();

private:
    void Free(std::vector<HMODULE> modules);

    ProcessRecord &process_;
    std::mutex lock_;
    std::vector<HMODULE> servers_;
    ULONG apartments_ = 0;
};

} // namespace host::win32

#include "com_servers.h"

#include "module_loader.h"
#include "process_record.h"

#include <objbase.h>

#include <algorithm>

namespace host::win32 {

DWORD ComServers::Load(const std::u16string &path, HMODULE *module)
{
    DWORD error = process_.Modules().Load(path, module);
    if (error != ERROR_SUCCESS)
        return error;
    bool held;
    {
        std::lock_guard<std::mutex> guard(lock_);
        held = std::find(servers_.begin(), servers_.end(), *module) != servers_.end();
        if (!held)
            servers_.push_back(*module);
    }
    if (held)
        process_.Modules().Free(*module);
    return ERROR_SUCCESS;
}

void ComServers::FreeUnused()
{
    std::vector<HMODULE> candidates;
    {
        std::lock_guard<std::mutex> guard(lock_);
        candidates = servers_;
    }
    std::vector<HMODULE> unused;
    for (HMODULE module : candidates) {
        FARPROC canUnload = nullptr;
        if (process_.Modules().Export(module, "DllCanUnloadNow", &canUnload) != ERROR_SUCCESS)
            continue;
        if (FunctionFrom<HRESULT(STDAPICALLTYPE *)()>(canUnload)() == S_OK)
            unused.push_back(module);
    }
    Free(unused);
}

void ComServers::Free(std::vector<HMODULE> modules)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (HMODULE module : modules)
            servers_.erase(std::remove(servers_.begin(), servers_.end(), module), servers_.end());
    }
    for (HMODULE module : modules)
        process_.Modules().Free(module);
}

void ComServers::ApartmentEntered()
{
    std::lock_guard<std::mutex> guard(lock_);
    ++apartments_;
}

void ComServers::ApartmentLeft()
{
    std::vector<HMODULE> all;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (--apartments_ != 0)
            return;
        all = servers_;
    }
    Free(all);
}

bool ComServers::AnyApartment()
{
    std::lock_guard<std::mutex> guard(lock_);
    return apartments_ != 0;
}

} // namespace host::win32

#include "module_loader.h"

#include "process_record.h"
#include "win32_subsystem.h"

#include "kernel/machine.h"
#include "kernel/wide_string.h"

#include <winbase.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace host::win32 {

namespace {

std::u16string FileNameOf(const std::u16string &path)
{
    size_t slash = path.find_last_of(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

std::u16string DirectoryOf(const std::u16string &path)
{
    size_t slash = path.find_last_of(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

// LoadLibrary's reading of a name: forward slashes are backslashes, and a file name without an
// extension gets ".dll" (a trailing dot means "no extension, add none").
std::u16string CanonicalModuleName(const std::u16string &name)
{
    std::u16string path = name;
    for (char16_t &c : path)
        if (c == u'/')
            c = u'\\';
    std::u16string file = FileNameOf(path);
    if (!file.empty() && file.back() == u'.')
        path.pop_back();
    else if (file.find(u'.') == std::u16string::npos)
        path += u".dll";
    return path;
}

bool IsOrdinal(const char *name) { return reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF; }

// A private copy of a host file in memory: loading it makes a load of its own, with its own
// globals, however many processes load the same module.
int CopyToMemoryFile(const std::string &hostPath)
{
    std::ifstream in(hostPath, std::ios::binary);
    if (!in)
        return -1;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int fd = memfd_create("quen-module", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) {
            close(fd);
            return -1;
        }
        written += size_t(n);
    }
    return fd;
}

std::string MemoryFilePath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

} // namespace

// The loader lock: a kernel mutex, so a thread waiting for it is parked like any other wait.
class ModuleList::LoaderLock {
public:
    explicit LoaderLock(ModuleList &list) : list_(list)
    {
        KeWaitForSingleObject(&list_.lock_, Executive, KernelMode, FALSE, nullptr);
    }
    ~LoaderLock() { KeReleaseMutex(&list_.lock_, FALSE); }
    LoaderLock(const LoaderLock &) = delete;
    LoaderLock &operator=(const LoaderLock &) = delete;

private:
    ModuleList &list_;
};

ModuleList::ModuleList(ProcessRecord &process) : process_(process)
{
    KeInitializeMutex(&lock_, 0);
    auto image = std::make_unique<Module>();
    image->path = process.ImagePath();
    image->pinned = true;
    image->loadCount = 1;
    modules_.push_back(std::move(image));
    for (size_t i = 0; kSystemModules[i] != nullptr; ++i) {
        if (!kSystemModules[i]->alwaysLoaded)
            continue;
        auto module = std::make_unique<Module>();
        module->path = std::u16string(kSystemDirectory) + kSystemModules[i]->name;
        module->system = kSystemModules[i];
        module->pinned = true;
        module->loadCount = 1;
        modules_.push_back(std::move(module));
    }
}

ModuleList::~ModuleList()
{
    while (!modules_.empty()) {
        Unload(*modules_.back());
        modules_.pop_back();
    }
}

Module *ModuleList::FindLocked(HMODULE handle)
{
    for (auto &module : modules_)
        if (module->Handle() == handle)
            return module.get();
    return nullptr;
}

Module *ModuleList::ModuleOfLocked(HMODULE handle)
{
    return handle == nullptr ? modules_.front().get() : FindLocked(handle);
}

Module *ModuleList::FindLoadedLocked(const std::u16string &path)
{
    bool bare = path.find(u'\\') == std::u16string::npos;
    for (auto &module : modules_) {
        const std::u16string &candidate = bare ? FileNameOf(module->path) : module->path;
        if (EqualIgnoreCase(candidate, path))
            return module.get();
    }
    return nullptr;
}

DWORD ModuleList::ResolveLocked(const std::u16string &name, std::u16string *path,
                                const SystemModule **system)
{
    Subsystem &win32 = process_.Owner();
    std::u16string canonical = CanonicalModuleName(name);
    std::u16string file = FileNameOf(canonical);
    *system = nullptr;
    if (Module *loaded = FindLoadedLocked(canonical)) {
        *path = loaded->path;
        *system = loaded->system;
        return ERROR_SUCCESS;
    }
    const SystemModule *candidate =
        win32.SystemModuleHidden(file) ? nullptr : FindSystemModule(file);
    bool bare = canonical.find(u'\\') == std::u16string::npos;
    if (candidate != nullptr &&
        (bare || EqualIgnoreCase(DirectoryOf(canonical), kSystemDirectory))) {
        *path = std::u16string(kSystemDirectory) + candidate->name;
        *system = candidate;
        return ERROR_SUCCESS;
    }
    if (!bare) {
        if (!win32.HostFileOf(canonical))
            return ERROR_MOD_NOT_FOUND;
        *path = canonical;
        return ERROR_SUCCESS;
    }
    // The application's directory, then the system directory.
    for (const std::u16string &directory :
         {DirectoryOf(process_.ImagePath()), std::u16string(kSystemDirectory)}) {
        if (win32.HostFileOf(directory + file)) {
            *path = directory + file;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_MOD_NOT_FOUND;
}

DWORD ModuleList::LoadFileLocked(const std::u16string &path, std::unique_ptr<Module> *module)
{
    Machine &machine = process_.Owner().Owner();
    std::string hostPath = process_.Owner().HostFileOf(path).value_or("");
    int copy = CopyToMemoryFile(hostPath);
    if (copy < 0) {
        machine.Checks().Report(VerifierCheck::Usage, "module " + ToUtf8(path) +
                                                          ": its host file '" + hostPath +
                                                          "' cannot be read");
        return ERROR_MOD_NOT_FOUND;
    }
    void *library = dlopen(MemoryFilePath(copy).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::string why = dlerror();
        close(copy);
        // A module importing something the emulation does not implement: loudly.
        bool missingImport = why.find("undefined symbol") != std::string::npos;
        machine.Checks().Report(missingImport ? VerifierCheck::Unimplemented : VerifierCheck::Usage,
                                "module " + ToUtf8(path) + " cannot be loaded: " + why);
        return missingImport ? ERROR_PROC_NOT_FOUND : ERROR_BAD_EXE_FORMAT;
    }
    *module = std::make_unique<Module>();
    (*module)->path = path;
    (*module)->library = library;
    (*module)->copy = copy;
    (*module)->dllMain = reinterpret_cast<DllEntryPoint>(dlsym(library, "DllMain"));
    return ERROR_SUCCESS;
}

BOOL ModuleList::CallDllMain(Module &module, DWORD reason, LPVOID reserved)
{
    if (module.dllMain == nullptr)
        return TRUE;
    return module.dllMain(reinterpret_cast<HINSTANCE>(module.Handle()), reason, reserved);
}

void ModuleList::Unload(Module &module)
{
    if (module.library != nullptr)
        dlclose(module.library);
    if (module.copy >= 0)
        close(module.copy);
    module.library = nullptr;
    module.copy = -1;
}

DWORD ModuleList::Load(const std::u16string &name, HMODULE *handle)
{
    LoaderLock lock(*this);
    std::u16string path;
    const SystemModule *system;
    DWORD error = ResolveLocked(name, &path, &system);
    if (error != ERROR_SUCCESS)
        return error;
    if (Module *loaded = FindLoadedLocked(path)) {
        if (!loaded->pinned)
            ++loaded->loadCount;
        *handle = loaded->Handle();
        return ERROR_SUCCESS;
    }
    std::unique_ptr<Module> module;
    if (system != nullptr) {
        module = std::make_unique<Module>();
        module->path = path;
        module->system = system;
    } else {
        error = LoadFileLocked(path, &module);
        if (error != ERROR_SUCCESS)
            return error;
    }
    module->loadCount = 1;
    Module &added = *module;
    modules_.push_back(std::move(module));
    // A module whose DllMain refuses the attach is told to detach and is unloaded again.
    if (!CallDllMain(added, DLL_PROCESS_ATTACH, nullptr)) {
        CallDllMain(added, DLL_PROCESS_DETACH, nullptr);
        Unload(added);
        modules_.pop_back();
        return ERROR_DLL_INIT_FAILED;
    }
    *handle = added.Handle();
    return ERROR_SUCCESS;
}

DWORD ModuleList::Free(HMODULE handle)
{
    LoaderLock lock(*this);
    Module *module = FindLocked(handle);
    if (module == nullptr)
        return ERROR_MOD_NOT_FOUND;
    if (module->pinned || --module->loadCount != 0)
        return ERROR_SUCCESS;
    CallDllMain(*module, DLL_PROCESS_DETACH, nullptr);
    Unload(*module);
    modules_.remove_if([module](const std::unique_ptr<Module> &m) { return m.get() == module; });
    return ERROR_SUCCESS;
}

DWORD ModuleList::Find(const std::u16string &name, HMODULE *handle)
{
    LoaderLock lock(*this);
    Module *module =
        name.empty() ? modules_.front().get() : FindLoadedLocked(CanonicalModuleName(name));
    if (module == nullptr)
        return ERROR_MOD_NOT_FOUND;
    *handle = module->Handle();
    return ERROR_SUCCESS;
}

DWORD ModuleList::FindByAddress(const void *address, HMODULE *handle)
{
    Dl_info info;
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr)
        return ERROR_MOD_NOT_FOUND;
    LoaderLock lock(*this);
    for (auto &module : modules_) {
        if (module->copy >= 0 && MemoryFilePath(module->copy) == info.dli_fname) {
            *handle = module->Handle();
            return ERROR_SUCCESS;
        }
    }
    return ERROR_MOD_NOT_FOUND;
}

DWORD ModuleList::Export(HMODULE handle, const char *name, FARPROC *address)
{
    Machine &machine = process_.Owner().Owner();
    LoaderLock lock(*this);
    Module *module = ModuleOfLocked(handle);
    if (module == nullptr)
        return ERROR_MOD_NOT_FOUND;
    std::string moduleName = ToUtf8(FileNameOf(module->path));
    if (IsOrdinal(name)) {
        machine.Checks().Report(VerifierCheck::Unimplemented,
                                "GetProcAddress by ordinal " +
                                    std::to_string(reinterpret_cast<ULONG_PTR>(name)) + " in " +
                                    moduleName);
        return ERROR_PROC_NOT_FOUND;
    }
    void *found = nullptr;
    if (module->system != nullptr) {
        found = FindSystemExport(*module->system, name);
        if (found == nullptr)
            machine.Checks().Report(VerifierCheck::Unimplemented,
                                    moduleName + "!" + name + " is not emulated");
    } else if (module->library != nullptr) {
        found = dlsym(module->library, name);
    }
    if (found == nullptr)
        return ERROR_PROC_NOT_FOUND;
    *address = reinterpret_cast<FARPROC>(found);
    return ERROR_SUCCESS;
}

DWORD ModuleList::Change(HMODULE handle, const std::function<void(Module &)> &change)
{
    LoaderLock lock(*this);
    Module *module = ModuleOfLocked(handle);
    if (module == nullptr)
        return ERROR_MOD_NOT_FOUND;
    change(*module);
    return ERROR_SUCCESS;
}

DWORD ModuleList::FileName(HMODULE handle, std::u16string *path)
{
    return Change(handle, [path](Module &module) { *path = module.path; });
}

DWORD ModuleList::DisableThreadCalls(HMODULE handle)
{
    return Change(handle, [](Module &module) { module.threadCalls = false; });
}

DWORD ModuleList::Pin(HMODULE handle)
{
    return Change(handle, [](Module &module) { module.pinned = true; });
}

void ModuleList::NotifyThread(DWORD reason)
{
    LoaderLock lock(*this);
    for (auto &module : modules_)
        if (module->threadCalls)
            CallDllMain(*module, reason, nullptr);
}

void ModuleList::DetachAll()
{
    LoaderLock lock(*this);
    // A non-null reserved argument: the process is ending.
    for (auto it = modules_.rbegin(); it != modules_.rend(); ++it)
        CallDllMain(**it, DLL_PROCESS_DETACH, reinterpret_cast<LPVOID>(1));
}

} // namespace host::win32

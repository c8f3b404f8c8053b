#include "win32_subsystem.h"

#include "event_tracing.h"
#include "named_objects.h"
#include "process_record.h"
#include "user_requests.h"
#include "user32/device_broadcasts.h"
#include "user32/window_manager.h"
#include "user_threads.h"

#include "kernel/registry_store.h"
#include "kernel/wide_string.h"

#include <optional>

namespace host::win32 {

namespace {

// The file name of a Windows path: what follows the last backslash.
std::u16string FileNameOf(const std::u16string &path)
{
    size_t slash = path.find_last_of(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

} // namespace

Subsystem::Subsystem(Machine &machine)
    : machine_(machine), names_(std::make_unique<NamedObjects>()),
      windows_(std::make_unique<WindowManager>(machine)),
      tracing_(std::make_unique<EventTracing>()),
      broadcasts_(std::make_shared<DeviceBroadcasts>(machine, *windows_))
{
    KeInitializeEvent(&alwaysSignalled_, NotificationEvent, TRUE);
    // The multimedia class scheduler's tasks, as Windows 10 installs them.
    static const struct {
        const char16_t *name;
        ULONG priority;
        const char16_t *category;
    } kTasks[] = {
        {u"Audio", 6, u"Medium"},          {u"Capture", 5, u"Medium"},
        {u"Distribution", 4, u"Medium"},   {u"Games", 2, u"High"},
        {u"Playback", 3, u"Medium"},       {u"Pro Audio", 1, u"High"},
        {u"Window Manager", 5, u"Medium"},
    };
    RegistryStore &registry = machine.Registry();
    for (const auto &task : kTasks) {
        std::u16string key =
            u"\\REGISTRY\\MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\"
            u"Multimedia\\SystemProfile\\Tasks\\" +
            std::u16string(task.name);
        (void)registry.SetDword(key, u"Priority", task.priority);
        (void)registry.SetString(key, u"Scheduling Category", task.category);
    }
}

Subsystem::~Subsystem() { broadcasts_->Stop(); }

Subsystem &Subsystem::Of(Machine &machine)
{
    static const char *const kServiceName = "Win32 subsystem";
    static std::mutex making;
    std::lock_guard<std::mutex> guard(making);
    if (MachineService *service = machine.Service(kServiceName))
        return static_cast<Subsystem &>(*service);
    return static_cast<Subsystem &>(
        machine.AddService(kServiceName, std::make_unique<Subsystem>(machine)));
}

ProcessRecord &Subsystem::Process(PKPROCESS process)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::unique_ptr<ProcessRecord> &record = processes_[process];
    if (!record)
        record = std::make_unique<ProcessRecord>(
            *this, process, u"C:\\Windows\\System32\\" + FromUtf8(process->name) + u".exe");
    return *record;
}

PKPROCESS Subsystem::StartProcess(const std::string &name, const std::u16string &imagePath,
                                  std::function<DWORD()> main, bool is32Bit, PKTHREAD *mainThread)
{
    PKPROCESS process = machine_.CreateProcess(name, is32Bit);
    ProcessRecord *record;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto made = std::make_unique<ProcessRecord>(*this, process, imagePath);
        record = made.get();
        processes_[process] = std::move(made);
    }
    ObfReferenceObject(process); // the caller's
    PKTHREAD thread = StartUserThread(*record, name + " main", false, true, std::move(main));
    if (mainThread != nullptr)
        *mainThread = thread; // the caller's reference
    else
        ObfDereferenceObject(thread);
    return process;
}

void Subsystem::Terminate(PKPROCESS process, DWORD exitCode)
{
    Process(process).BeginExit(exitCode, nullptr, false);
    machine_.EndProcess(process);
}

void Subsystem::InstallFile(const std::u16string &windowsPath, const std::string &hostPath)
{
    std::lock_guard<std::mutex> guard(lock_);
    files_[Upcase(windowsPath)] = {windowsPath, hostPath};
}

std::optional<std::string> Subsystem::HostFileOf(const std::u16string &windowsPath)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = files_.find(Upcase(windowsPath));
    if (it == files_.end())
        return std::nullopt;
    return it->second.second;
}

void Subsystem::InstallProgram(const std::u16string &windowsPath, std::function<DWORD()> main)
{
    std::lock_guard<std::mutex> guard(lock_);
    programs_[Upcase(windowsPath)] = std::move(main);
}

std::optional<std::function<DWORD()>> Subsystem::ProgramAt(const std::u16string &windowsPath)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = programs_.find(Upcase(windowsPath));
    if (it == programs_.end())
        return std::nullopt;
    return it->second;
}

std::vector<std::u16string> Subsystem::InstalledFilesNamed(const std::u16string &fileName)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::u16string> paths;
    for (auto &[key, file] : files_)
        if (EqualIgnoreCase(FileNameOf(file.first), fileName))
            paths.push_back(file.first);
    return paths;
}

DWORD Subsystem::DeviceNodeNumber(const std::u16string &instanceId)
{
    std::lock_guard<std::mutex> guard(lock_);
    DWORD &number = deviceNodes_[Upcase(instanceId)];
    if (number == 0)
        number = DWORD(deviceNodes_.size());
    return number;
}

void Subsystem::HideSystemModule(const std::u16string &name)
{
    std::lock_guard<std::mutex> guard(lock_);
    hiddenModules_.insert(Upcase(name));
}

bool Subsystem::SystemModuleHidden(const std::u16string &name)
{
    std::lock_guard<std::mutex> guard(lock_);
    return hiddenModules_.count(Upcase(name)) != 0;
}

void Subsystem::ProcessEnding(PKPROCESS process)
{
    ProcessRecord *record;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = processes_.find(process);
        if (it == processes_.end())
            return;
        record = it->second.get();
    }
    record->BeginExit(0, nullptr, false);
    // The threads are waited for from an emulated thread (power-off runs on a bare host thread).
    std::optional<ThreadAttachment> reaper;
    if (CurrentThreadOrNull() == nullptr)
        reaper.emplace(machine_, "process reaper");
    EndOtherThreads(*record);
    record->Requests().Drain(nullptr);
    broadcasts_->ProcessEnded(process);
    windows_->ProcessEnded(process);
    tracing_->ProcessEnded(process);
}

void Subsystem::ProcessEnded(PKPROCESS process)
{
    std::unique_ptr<ProcessRecord> record;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = processes_.find(process);
        if (it == processes_.end())
            return;
        record = std::move(it->second);
        processes_.erase(it);
    }
}

} // namespace host::win32

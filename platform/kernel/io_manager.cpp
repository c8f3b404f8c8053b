#include "io_manager.h"

#include "machine.h"
#include "wide_string.h"

#include <cstdarg>
#include <cstdio>
#include <optional>

namespace host {

namespace {

const char *QueueName(size_t type)
{
    static const char *const names[MaximumWorkQueue] = {
        "critical work queue",     "delayed work queue",    "hypercritical work queue",
        "normal work queue",       "background work queue", "real-time work queue",
        "supercritical work queue"};
    return names[type];
}

} // namespace

IoManager::IoManager(Machine &machine) : machine_(machine)
{
    for (size_t type = 0; type < queues_.size(); ++type)
        queues_[type] = std::make_unique<WorkItemQueue>(machine, QueueName(type));
}

IoManager::~IoManager() { ReportLeakedIrps(); }

void IoManager::Shutdown()
{
    // The workers only wake through the emulation's waits, so stopping them needs an emulated
    // thread of this machine.
    std::optional<ThreadAttachment> stopper;
    PKTHREAD caller = CurrentThreadOrNull();
    if (caller == nullptr || caller->machine != &machine_)
        stopper.emplace(machine_, "I/O manager shutdown", false);
    for (auto &queue : queues_)
        queue->Stop();
}

size_t IoManager::ReportLeakedIrps()
{
    std::vector<std::pair<PIRP, IrpTracker::Record>> leaked = irps_.TakeAllocated();
    if (leaked.empty())
        return 0;
    std::string list;
    for (auto &[irp, record] : leaked) {
        char text[160];
        std::snprintf(text, sizeof text, " [%p: %d stack location(s), %s]",
                      static_cast<void *>(irp), irp->StackCount,
                      record.holder == IrpTracker::Holder::Lower ? "still pending in a driver"
                                                                 : "held by its owner");
        list += text;
        if (irp->Tail.Overlay.Thread != nullptr)
            ReleaseIrpBuffers(*this, irp, PASSIVE_LEVEL);
        KernelPool().Free(irp, kIrpTag, PASSIVE_LEVEL);
    }
    Report(VerifierCheck::Irp, "%zu IRP(s) allocated with IoAllocateIrp and never freed:%s",
           leaked.size(), list.c_str());
    return leaked.size();
}

Pool &IoManager::KernelPool() { return machine_.KernelPool(); }

WorkItemQueue *IoManager::Queue(WORK_QUEUE_TYPE type)
{
    if (type < 0 || type >= MaximumWorkQueue)
        return nullptr;
    return queues_[type].get();
}

bool IoManager::ClaimDeviceNameLocked(const std::u16string &name)
{
    return deviceNames_.emplace(name, nullptr).second;
}

void IoManager::BindDeviceNameLocked(const std::u16string &name, PDEVICE_OBJECT device)
{
    deviceNames_[name] = device;
}

void IoManager::ReleaseDeviceNameLocked(const std::u16string &name) { deviceNames_.erase(name); }

namespace {

// The longest key of `names` that is the whole of `upcasedPath` or a prefix of it that ends
// before a '\\'.
template <class Map>
typename Map::iterator LongestPrefix(Map &names, const std::u16string &upcasedPath)
{
    size_t end = upcasedPath.size();
    for (;;) {
        auto it = names.find(upcasedPath.substr(0, end));
        if (it != names.end())
            return it;
        if (end == 0)
            return names.end();
        end = upcasedPath.rfind(u'\\', end - 1);
        if (end == std::u16string::npos || end == 0)
            return names.end();
    }
}

} // namespace

PDEVICE_OBJECT IoManager::DeviceByPathLocked(const std::u16string &path, std::u16string *rest)
{
    auto it = LongestPrefix(deviceNames_, Upcase(path));
    if (it == deviceNames_.end() || it->second == nullptr)
        return nullptr;
    *rest = path.substr(it->first.size());
    return it->second;
}

bool IoManager::AddSymbolicLinkLocked(const std::u16string &link, const std::u16string &target)
{
    return symbolicLinks_.emplace(Upcase(link), target).second;
}

bool IoManager::RemoveSymbolicLinkLocked(const std::u16string &link)
{
    return symbolicLinks_.erase(Upcase(link)) != 0;
}

std::u16string IoManager::ResolveLinksLocked(const std::u16string &path)
{
    auto it = LongestPrefix(symbolicLinks_, Upcase(path));
    if (it == symbolicLinks_.end())
        return path;
    return it->second + path.substr(it->first.size());
}

void IoManager::FileOpened(PDEVICE_OBJECT device)
{
    std::lock_guard<std::mutex> guard(filesLock_);
    ++openFiles_[device];
}

void IoManager::FileClosed(PDEVICE_OBJECT device)
{
    std::function<void(PDEVICE_OBJECT)> handler;
    {
        std::lock_guard<std::mutex> guard(filesLock_);
        auto it = openFiles_.find(device);
        if (it == openFiles_.end() || --it->second != 0)
            return;
        openFiles_.erase(it);
        handler = lastFileClosed_;
    }
    if (handler)
        handler(device);
}

size_t IoManager::OpenFiles(PDEVICE_OBJECT device)
{
    std::lock_guard<std::mutex> guard(filesLock_);
    auto it = openFiles_.find(device);
    return it != openFiles_.end() ? it->second : 0;
}

void IoManager::SetLastFileClosedHandler(std::function<void(PDEVICE_OBJECT)> handler)
{
    std::lock_guard<std::mutex> guard(filesLock_);
    lastFileClosed_ = std::move(handler);
}

void IoManager::Report(VerifierCheck check, const char *format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    machine_.Checks().Report(check, text);
}

IoManager &CurrentIo(const char *entryPoint) { return CurrentThread(entryPoint)->machine->Io(); }

} // namespace host

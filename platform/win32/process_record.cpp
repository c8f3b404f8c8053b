#include "process_record.h"

#include "module_loader.h"
#include "ole32/com_servers.h"
#include "setupapi/device_info_set.h"
#include "user_requests.h"

#include <winbase.h>

namespace host::win32 {

ThreadRecord::ThreadRecord(PKTHREAD t) : thread(t)
{
    ObfReferenceObject(thread);
    KeInitializeEvent(&resumed, NotificationEvent, FALSE);
}

ThreadRecord::~ThreadRecord() { ObfDereferenceObject(thread); }

ProcessRecord::ProcessRecord(Subsystem &owner, PKPROCESS process, const std::u16string &imagePath)
    : owner_(owner), process_(process), imagePath_(imagePath)
{
    ObfReferenceObject(process_);
    modules_ = std::make_unique<ModuleList>(*this);
    com_ = std::make_unique<ComServers>(*this);
    requests_ = std::make_shared<UserRequests>();
}

ProcessRecord::~ProcessRecord()
{
    // COM servers are modules: forget them before the loader unloads what is left.
    com_.reset();
    modules_.reset();
    threads_.clear();
    ObfDereferenceObject(process_);
}

ThreadRecord &ProcessRecord::ThreadLocked(PKTHREAD thread)
{
    std::unique_ptr<ThreadRecord> &record = threads_[thread];
    if (!record)
        record = std::make_unique<ThreadRecord>(thread);
    return *record;
}

ThreadRecord *ProcessRecord::FindThreadLocked(PKTHREAD thread)
{
    auto it = threads_.find(thread);
    return it != threads_.end() ? it->second.get() : nullptr;
}

bool ProcessRecord::RemoveThread(PKTHREAD thread, const std::function<bool()> &othersLive)
{
    std::unique_ptr<ThreadRecord> record;
    std::lock_guard<std::mutex> guard(lock_);
    auto it = threads_.find(thread);
    if (it != threads_.end()) {
        record = std::move(it->second);
        threads_.erase(it);
    }
    for (auto &[other, r] : threads_)
        if (r->started)
            return false;
    return !othersLive();
}

std::vector<PKTHREAD> ProcessRecord::StartedThreads(PKTHREAD except)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<PKTHREAD> list;
    for (auto &[thread, record] : threads_) {
        if (!record->started || thread == except)
            continue;
        ObfReferenceObject(thread);
        list.push_back(thread);
    }
    return list;
}

bool ProcessRecord::BeginExit(DWORD exitCode, PKTHREAD exitingThread, bool detachDlls)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (exiting_)
        return false;
    exiting_ = true;
    exitingThread_ = exitingThread;
    detachDlls_ = detachDlls;
    process_->exitStatus = NTSTATUS(exitCode);
    return true;
}

bool ProcessRecord::Exiting()
{
    std::lock_guard<std::mutex> guard(lock_);
    return exiting_;
}

PKTHREAD ProcessRecord::ExitingThread()
{
    std::lock_guard<std::mutex> guard(lock_);
    return exitingThread_;
}

bool ProcessRecord::DetachDllsOnExit()
{
    std::lock_guard<std::mutex> guard(lock_);
    return detachDlls_;
}

PVOID ProcessRecord::AddDeviceInfoSet(std::unique_ptr<DeviceInfoSet> set)
{
    std::lock_guard<std::mutex> guard(lock_);
    PVOID handle = set.get();
    deviceInfoSets_[handle] = std::move(set);
    return handle;
}

DeviceInfoSet *ProcessRecord::FindDeviceInfoSet(PVOID handle)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = deviceInfoSets_.find(handle);
    return it != deviceInfoSets_.end() ? it->second.get() : nullptr;
}

bool ProcessRecord::RemoveDeviceInfoSet(PVOID handle)
{
    std::unique_ptr<DeviceInfoSet> set;
    std::lock_guard<std::mutex> guard(lock_);
    auto it = deviceInfoSets_.find(handle);
    if (it == deviceInfoSets_.end())
        return false;
    set = std::move(it->second);
    deviceInfoSets_.erase(it);
    return true;
}

DWORD ProcessRecord::PredefinedKey(ULONG_PTR key, const std::function<DWORD(HANDLE *)> &open,
                                   HANDLE *handle)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = predefinedKeys_.find(key);
    if (it != predefinedKeys_.end()) {
        *handle = it->second;
        return ERROR_SUCCESS;
    }
    DWORD error = open(handle);
    if (error == ERROR_SUCCESS)
        predefinedKeys_[key] = *handle;
    return error;
}

} // namespace host::win32

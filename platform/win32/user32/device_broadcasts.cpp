#include "device_broadcasts.h"

#include "window_manager.h"

#include "kernel/machine.h"
#include "pnp/pnp_manager.h"

#include <dbt.h>

#include <cstddef>
#include <optional>

namespace host::win32 {

DeviceBroadcasts::DeviceBroadcasts(Machine &machine, WindowManager &windows)
    : machine_(machine), windows_(windows)
{
    KeInitializeEvent(&work_, SynchronizationEvent, FALSE);
}

HDEVNOTIFY DeviceBroadcasts::Register(const std::shared_ptr<DeviceBroadcasts> &self,
                                      PKPROCESS process, HWND window, const GUID *interfaceClass)
{
    bool start;
    HDEVNOTIFY handle;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_)
            return nullptr;
        start = thread_ == nullptr;
        handle = reinterpret_cast<HDEVNOTIFY>(nextHandle_);
        nextHandle_ += 0x10;
        registrations_.push_back({handle, process, window, interfaceClass == nullptr,
                                  interfaceClass != nullptr ? *interfaceClass : GUID{}});
        if (start)
            thread_ = machine_.StartThread("device broadcasts", machine_.SystemProcess(),
                                           [this] { ThreadMain(); });
    }
    if (start)
        PnpManager::Of(machine_).Interfaces().SetUserModeSink(self);
    return handle;
}

bool DeviceBroadcasts::Unregister(PKPROCESS process, HDEVNOTIFY handle)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = registrations_.begin(); it != registrations_.end(); ++it) {
        if (it->handle == handle && it->process == process) {
            registrations_.erase(it);
            return true;
        }
    }
    return false;
}

void DeviceBroadcasts::ProcessEnded(PKPROCESS process)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = registrations_.begin(); it != registrations_.end();)
        it = it->process == process ? registrations_.erase(it) : std::next(it);
}

bool DeviceBroadcasts::StillRegistered(HDEVNOTIFY handle)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (const Registration &registration : registrations_)
        if (registration.handle == handle)
            return true;
    return false;
}

void DeviceBroadcasts::Stop()
{
    PKTHREAD thread;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        thread = thread_;
        thread_ = nullptr;
    }
    if (thread == nullptr)
        return;
    std::optional<ThreadAttachment> stopper;
    if (CurrentThreadOrNull() == nullptr)
        stopper.emplace(machine_, "device broadcasts stopper");
    KeSetEvent(&work_, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
    ObfDereferenceObject(thread);
}

void DeviceBroadcasts::InterfaceChanged(const GUID &interfaceClass, const std::u16string &path,
                                        bool arrival)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_)
            return;
        events_.push_back({interfaceClass, path, arrival});
    }
    KeSetEvent(&work_, IO_NO_INCREMENT, FALSE);
}

void DeviceBroadcasts::ThreadMain()
{
    for (;;) {
        KeWaitForSingleObject(&work_, Executive, KernelMode, FALSE, nullptr);
        for (;;) {
            Event event;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (stopping_ || events_.empty())
                    break;
                event = std::move(events_.front());
                events_.pop_front();
            }
            Broadcast(event);
        }
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_)
            break;
    }
    windows_.ThreadEnded(KeGetCurrentThread());
}

void DeviceBroadcasts::Broadcast(const Event &event)
{
    std::vector<Registration> recipients;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const Registration &registration : registrations_)
            if (registration.allClasses || registration.interfaceClass == event.interfaceClass)
                recipients.push_back(registration);
    }
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                        (event.path.size() + 1) * sizeof(WCHAR);
    for (const Registration &to : recipients) {
        if (!StillRegistered(to.handle))
            continue;
        // A record of its own for each window, gone once the window procedure has returned.
        std::vector<BYTE> record(size);
        auto broadcast = reinterpret_cast<PDEV_BROADCAST_DEVICEINTERFACE_W>(record.data());
        broadcast->dbcc_size = DWORD(size);
        broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        broadcast->dbcc_classguid = event.interfaceClass;
        std::copy(event.path.begin(), event.path.end(), broadcast->dbcc_name);
        LRESULT result;
        windows_.Send(to.window, WM_DEVICECHANGE,
                      event.arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                      reinterpret_cast<LPARAM>(broadcast), kSendTimeoutMs, &result);
    }
}

} // namespace host::win32

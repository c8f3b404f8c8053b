// Device-interface notifications to windows (RegisterDeviceNotificationW): the registrations of
// every process, and the thread that, like Windows's plug-and-play service, sends each window
// WM_DEVICECHANGE with DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE when an interface of a class
// it asked for is enabled or disabled. The message is sent, not posted: the window's thread
// handles it when it next retrieves messages, and the broadcast record (a
// DEV_BROADCAST_DEVICEINTERFACE_W with the interface's "\\?\" path) is the system's, valid only
// while the window procedure runs. A window that does not answer within kSendTimeoutMs, or has
// gone, is skipped; events are sent in the order the PnP manager reports them.
#pragma once

#include "pnp/device_interfaces.h"

#include <windows.h>

#include <deque>
#include <mutex>
#include <vector>

namespace host {
class Machine;
}

namespace host::win32 {

class WindowManager;

class DeviceBroadcasts : public InterfaceChangeSink {
public:
    static constexpr DWORD kSendTimeoutMs = 30000;

    DeviceBroadcasts(Machine &machine, WindowManager &windows);
    DeviceBroadcasts(const DeviceBroadcasts &) = delete;
    DeviceBroadcasts &operator=(const DeviceBroadcasts &) = delete;

    // A registration for a window of the process, for one interface class or (null) all.
    // `self` is this object's owner, which the PnP manager is given on first use.
    HDEVNOTIFY Register(const std::shared_ptr<DeviceBroadcasts> &self, PKPROCESS process,
                        HWND window, const GUID *interfaceClass);
    bool Unregister(PKPROCESS process, HDEVNOTIFY handle);
    // A process's registrations end with it.
    void ProcessEnded(PKPROCESS process);
    // Ends the sending thread (the machine powers off); events after this are dropped.
    void Stop();

    void InterfaceChanged(const GUID &interfaceClass, const std::u16string &path,
                          bool arrival) override;

private:
    struct Registration {
        HDEVNOTIFY handle;
        PKPROCESS process;
        HWND window;
        bool allClasses;
        GUID interfaceClass;
    };
    struct Event {
        GUID interfaceClass;
        std::u16string path;
        bool arrival;
    };

    void ThreadMain();
    void Broadcast(const Event &event);
    bool StillRegistered(HDEVNOTIFY handle);

    Machine &machine_;
    WindowManager &windows_;
    std::mutex lock_;
    std::vector<Registration> registrations_;
    std::deque<Event> events_;
    KEVENT work_;
    PKTHREAD thread_ = nullptr;
    bool stopping_ = false;
    ULONG_PTR nextHandle_ = 0x1000;
};

} // namespace host::win32

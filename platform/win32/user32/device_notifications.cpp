// user32: RegisterDeviceNotificationW and UnregisterDeviceNotification for windows and
// device-interface classes. Service recipients and handle (DBT_DEVTYP_HANDLE) filters are not
// emulated: they fail with ERROR_CALL_NOT_IMPLEMENTED and a verifier report.
#include "caller.h"
#include "user32/device_broadcasts.h"
#include "user32/window_manager.h"

#include <dbt.h>

using namespace host::win32;

namespace {

HDEVNOTIFY Fail(DWORD error)
{
    SetLastError(error);
    return nullptr;
}

HDEVNOTIFY NotEmulated(Caller &caller, const char *what)
{
    caller.machine.Checks().Report(host::VerifierCheck::Usage,
                                   std::string("RegisterDeviceNotificationW: ") + what +
                                       " is not emulated");
    return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

} // namespace

extern "C" {

HDEVNOTIFY WINAPI RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID NotificationFilter,
                                              DWORD Flags)
{
    Caller caller = CallerOf("RegisterDeviceNotificationW");
    if (Flags & ~DWORD(DEVICE_NOTIFY_SERVICE_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES))
        return Fail(ERROR_INVALID_PARAMETER);
    if (Flags & DEVICE_NOTIFY_SERVICE_HANDLE)
        return NotEmulated(caller, "a service recipient");
    auto header = static_cast<const DEV_BROADCAST_HDR *>(NotificationFilter);
    if (header == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (header->dbch_devicetype == DBT_DEVTYP_HANDLE)
        return NotEmulated(caller, "a handle filter");
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return Fail(ERROR_INVALID_DATA);
    if (header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W))
        return Fail(ERROR_INVALID_DATA);
    auto window = static_cast<HWND>(hRecipient);
    Window recipient;
    if (!caller.win32.Windows().Find(window, &recipient))
        return nullptr; // ERROR_INVALID_WINDOW_HANDLE
    const auto filter = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W *>(NotificationFilter);
    const GUID *interfaceClass =
        (Flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) ? nullptr : &filter->dbcc_classguid;
    const std::shared_ptr<DeviceBroadcasts> &broadcasts = caller.win32.Broadcasts();
    HDEVNOTIFY handle =
        broadcasts->Register(broadcasts, caller.thread->process, window, interfaceClass);
    if (handle == nullptr)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}

BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY Handle)
{
    Caller caller = CallerOf("UnregisterDeviceNotification");
    if (!caller.win32.Broadcasts()->Unregister(caller.thread->process, Handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

} // extern "C"

// Device interfaces of one machine: what IoRegisterDeviceInterface registers for a physical
// device object (an interface class, an optional reference string, a symbolic link name built
// from the device instance id), the symbolic link that IoSetDeviceInterfaceState makes while an
// interface is enabled, the registry keys user mode enumerates them through, and the arrival
// and removal notifications drivers register for.
//
// A link name is "\??\<instance id with '#' for '\'>#{class guid}", followed by "\<reference>"
// when there is a reference string; the symbolic link object covers the part before the
// reference string, so opening the full name reaches the device with the reference string as
// the file name.
#pragma once

#include <wdm.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace host {

class Machine;

// User mode's plug-and-play service, which the PnP manager tells of every interface of any class
// that is enabled or disabled, in order, on its thread.
class InterfaceChangeSink {
public:
    virtual ~InterfaceChangeSink() = default;
    // `path` is user mode's name of the interface ("\\?\...").
    virtual void InterfaceChanged(const GUID &interfaceClass, const std::u16string &path,
                                  bool arrival) = 0;
};

class DeviceInterfaces {
public:
    // `post` runs a job later on the PnP manager's thread (notification callbacks run there).
    DeviceInterfaces(Machine &machine, std::function<void(std::function<void()>)> post);
    ~DeviceInterfaces();

    NTSTATUS Register(PDEVICE_OBJECT pdo, const GUID &interfaceClass,
                      const std::u16string &reference, std::u16string *link);
    NTSTATUS SetState(const std::u16string &link, bool enable);
    // Links of the class (of one device if pdo is given), enabled ones only unless asked.
    std::vector<std::u16string> List(const GUID &interfaceClass, PDEVICE_OBJECT pdo,
                                     bool includeInactive);
    // Disables what a removed device left enabled; returns those links.
    std::vector<std::u16string> DisableAllOf(PDEVICE_OBJECT pdo);
    // The device object is gone: its registrations are dropped (the registry keeps them).
    void ForgetDevice(PDEVICE_OBJECT pdo);

    PVOID AddNotification(const GUID &interfaceClass, bool includeExisting, PDRIVER_OBJECT driver,
                          PDRIVER_NOTIFICATION_CALLBACK_ROUTINE callback, PVOID context);
    NTSTATUS RemoveNotification(PVOID entry);
    // Registrations a driver has not removed (its unload reports them).
    size_t NotificationsOf(PDRIVER_OBJECT driver);

    // The user-mode sink; it is no longer told anything once it has gone.
    void SetUserModeSink(std::weak_ptr<InterfaceChangeSink> sink);
    // User mode's name of a link: "\\?\" in place of "\??\".
    static std::u16string UserModePath(const std::u16string &link);

private:
    struct Interface {
        GUID interfaceClass;
        PDEVICE_OBJECT pdo;
        std::u16string instanceId;
        std::u16string reference;
        std::u16string linkObject; // the symbolic link object's name (without the reference)
        bool enabled = false;
    };
    struct Notification {
        GUID interfaceClass;
        PDRIVER_OBJECT driver;
        PDRIVER_NOTIFICATION_CALLBACK_ROUTINE callback;
        PVOID context;
        bool active = true;
    };

    static std::u16string LinkName(const Interface &entry);
    void NotifyLocked(const GUID &interfaceClass, const std::u16string &link, bool arrival);
    void Deliver(const std::shared_ptr<Notification> &to, const GUID &interfaceClass,
                 const std::u16string &link, bool arrival);
    // Counts the enabled interfaces behind a link object, which exists while there are any.
    void LinkObjectLocked(const Interface &entry, bool enable);
    NTSTATUS WriteRegistry(const Interface &entry);

    Machine &machine_;
    std::function<void(std::function<void()>)> post_;
    std::mutex lock_;
    std::map<std::u16string, Interface> interfaces_;   // by upcased link name
    std::map<std::u16string, size_t> linkObjectUsers_; // enabled interfaces per link object
    std::vector<std::shared_ptr<Notification>> notifications_;
    std::weak_ptr<InterfaceChangeSink> userMode_;
    // Held while a callback runs, so that a removed registration is never called afterwards.
    std::recursive_mutex delivering_;
};

} // namespace host

#include "device_interfaces.h"

#include "kernel/io_manager.h"
#include "kernel/machine.h"
#include "kernel/registry_store.h"
#include "kernel/wide_string.h"

#include <cstdio>

namespace host {

namespace {

const std::u16string kDeviceClasses =
    u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\";

std::u16string GuidText(const GUID &guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return FromUtf8(text);
}

std::u16string Mangled(const std::u16string &instanceId)
{
    std::u16string text = instanceId;
    for (char16_t &c : text)
        if (c == u'\\')
            c = u'#';
    return text;
}

} // namespace

std::u16string DeviceInterfaces::LinkName(const Interface &entry)
{
    return entry.linkObject + (entry.reference.empty() ? u"" : u"\\" + entry.reference);
}

DeviceInterfaces::DeviceInterfaces(Machine &machine,
                                   std::function<void(std::function<void()>)> post)
    : machine_(machine), post_(std::move(post))
{
}

DeviceInterfaces::~DeviceInterfaces() = default;

NTSTATUS DeviceInterfaces::Register(PDEVICE_OBJECT pdo, const GUID &interfaceClass,
                                    const std::u16string &reference, std::u16string *link)
{
    const std::u16string &instanceId = DeviceInstanceIdOf(pdo);
    if (instanceId.empty()) {
        // Windows stops with PNP_DETECTED_FATAL_ERROR (invalid PDO).
        machine_.Checks().Report(VerifierCheck::Usage,
                                 "IoRegisterDeviceInterface on a device object that is not a "
                                 "physical device object");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (reference.find(u'\\') != std::u16string::npos)
        return STATUS_INVALID_PARAMETER;
    Interface entry{interfaceClass, pdo, instanceId, reference, {}, false};
    entry.linkObject = u"\\??\\" + Mangled(instanceId) + u"#" + GuidText(interfaceClass);
    *link = LinkName(entry);
    std::lock_guard<std::mutex> guard(lock_);
    if (!interfaces_.emplace(Upcase(*link), entry).second)
        return STATUS_SUCCESS; // registering again gives the same name
    return WriteRegistry(entry);
}

NTSTATUS DeviceInterfaces::WriteRegistry(const Interface &entry)
{
    RegistryStore &registry = machine_.Registry();
    const std::u16string deviceName = entry.linkObject.substr(4); // without "\??\"
    const std::u16string deviceKey =
        kDeviceClasses + GuidText(entry.interfaceClass) + u"\\##?#" + deviceName;
    const std::u16string referenceKey = deviceKey + u"\\#" + entry.reference;
    NTSTATUS status = registry.SetString(deviceKey, u"DeviceInstance", entry.instanceId);
    if (NT_SUCCESS(status))
        status = registry.SetString(referenceKey, u"SymbolicLink", UserModePath(LinkName(entry)));
    if (NT_SUCCESS(status))
        status = registry.SetDword(referenceKey + u"\\Control", u"Linked", entry.enabled ? 1 : 0);
    return status;
}

void DeviceInterfaces::LinkObjectLocked(const Interface &entry, bool enable)
{
    IoManager &io = machine_.Io();
    size_t &users = linkObjectUsers_[Upcase(entry.linkObject)];
    std::lock_guard<std::mutex> tree(io.DeviceTreeLock());
    if (enable && users++ == 0)
        io.AddSymbolicLinkLocked(entry.linkObject, DeviceNameOf(entry.pdo));
    else if (!enable && --users == 0)
        io.RemoveSymbolicLinkLocked(entry.linkObject);
}

NTSTATUS DeviceInterfaces::SetState(const std::u16string &link, bool enable)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = interfaces_.find(Upcase(link));
    if (it == interfaces_.end())
        return STATUS_OBJECT_NAME_NOT_FOUND;
    Interface &entry = it->second;
    if (entry.enabled == enable)
        return STATUS_SUCCESS; // Windows answers a repeated state the same way
    if (enable && (DeviceNameOf(entry.pdo).empty() || HeaderOfObject(entry.pdo) == nullptr))
        return STATUS_INVALID_DEVICE_REQUEST;
    entry.enabled = enable;
    LinkObjectLocked(entry, enable);
    NotifyLocked(entry.interfaceClass, LinkName(entry), enable);
    return WriteRegistry(entry);
}

std::vector<std::u16string> DeviceInterfaces::List(const GUID &interfaceClass, PDEVICE_OBJECT pdo,
                                                   bool includeInactive)
{
    std::vector<std::u16string> links;
    std::lock_guard<std::mutex> guard(lock_);
    for (auto &[key, entry] : interfaces_) {
        if (entry.interfaceClass != interfaceClass || (pdo != nullptr && entry.pdo != pdo))
            continue;
        if (entry.enabled || includeInactive)
            links.push_back(LinkName(entry));
    }
    return links;
}

std::vector<std::u16string> DeviceInterfaces::DisableAllOf(PDEVICE_OBJECT pdo)
{
    std::vector<std::u16string> disabled;
    std::lock_guard<std::mutex> guard(lock_);
    for (auto &[key, entry] : interfaces_) {
        if (entry.pdo != pdo || !entry.enabled)
            continue;
        entry.enabled = false;
        LinkObjectLocked(entry, false);
        (void)WriteRegistry(entry); // the device is gone; its keys only record the state
        NotifyLocked(entry.interfaceClass, LinkName(entry), false);
        disabled.push_back(LinkName(entry));
    }
    return disabled;
}

void DeviceInterfaces::ForgetDevice(PDEVICE_OBJECT pdo)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = interfaces_.begin(); it != interfaces_.end();)
        it = it->second.pdo == pdo ? interfaces_.erase(it) : std::next(it);
}

std::u16string DeviceInterfaces::UserModePath(const std::u16string &link)
{
    return u"\\\\?\\" + link.substr(4);
}

void DeviceInterfaces::SetUserModeSink(std::weak_ptr<InterfaceChangeSink> sink)
{
    std::lock_guard<std::mutex> guard(lock_);
    userMode_ = std::move(sink);
}

void DeviceInterfaces::NotifyLocked(const GUID &interfaceClass, const std::u16string &link,
                                    bool arrival)
{
    if (!userMode_.expired())
        post_([sink = userMode_, interfaceClass, path = UserModePath(link), arrival] {
            if (std::shared_ptr<InterfaceChangeSink> to = sink.lock())
                to->InterfaceChanged(interfaceClass, path, arrival);
        });
    for (const std::shared_ptr<Notification> &to : notifications_)
        if (to->interfaceClass == interfaceClass)
            post_([this, to, interfaceClass, link, arrival] {
                Deliver(to, interfaceClass, link, arrival);
            });
}

void DeviceInterfaces::Deliver(const std::shared_ptr<Notification> &to, const GUID &interfaceClass,
                               const std::u16string &link, bool arrival)
{
    std::lock_guard<std::recursive_mutex> delivering(delivering_);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!to->active)
            return;
    }
    std::vector<WCHAR> characters(link.begin(), link.end());
    UNICODE_STRING name;
    name.Buffer = characters.data();
    name.Length = name.MaximumLength = USHORT(characters.size() * sizeof(WCHAR));
    DEVICE_INTERFACE_CHANGE_NOTIFICATION notification = {};
    notification.Version = 1;
    notification.Size = sizeof notification;
    notification.Event = arrival ? GUID_DEVICE_INTERFACE_ARRIVAL : GUID_DEVICE_INTERFACE_REMOVAL;
    notification.InterfaceClassGuid = interfaceClass;
    notification.SymbolicLinkName = &name;
    to->callback(&notification, to->context);
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        machine_.Checks().Report(VerifierCheck::Irql,
                                 "a PnP notification callback returned above PASSIVE_LEVEL");
}

PVOID DeviceInterfaces::AddNotification(const GUID &interfaceClass, bool includeExisting,
                                        PDRIVER_OBJECT driver,
                                        PDRIVER_NOTIFICATION_CALLBACK_ROUTINE callback,
                                        PVOID context)
{
    auto entry = std::make_shared<Notification>(
        Notification{interfaceClass, driver, callback, context, true});
    std::lock_guard<std::mutex> guard(lock_);
    notifications_.push_back(entry);
    if (includeExisting)
        for (auto &[key, existing] : interfaces_)
            if (existing.enabled && existing.interfaceClass == interfaceClass)
                post_([this, entry, interfaceClass, link = LinkName(existing)] {
                    Deliver(entry, interfaceClass, link, true);
                });
    return entry.get();
}

NTSTATUS DeviceInterfaces::RemoveNotification(PVOID entry)
{
    std::lock_guard<std::recursive_mutex> delivering(delivering_);
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = notifications_.begin(); it != notifications_.end(); ++it) {
        if (it->get() == entry) {
            (*it)->active = false;
            notifications_.erase(it);
            return STATUS_SUCCESS;
        }
    }
    machine_.Checks().Report(VerifierCheck::Usage,
                             "IoUnregisterPlugPlayNotificationEx with an unknown entry");
    return STATUS_INVALID_PARAMETER;
}

size_t DeviceInterfaces::NotificationsOf(PDRIVER_OBJECT driver)
{
    std::lock_guard<std::mutex> guard(lock_);
    size_t count = 0;
    for (const std::shared_ptr<Notification> &entry : notifications_)
        count += entry->driver == driver;
    return count;
}

} // namespace host

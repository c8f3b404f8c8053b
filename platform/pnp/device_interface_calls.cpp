// The kernel's device-interface and notification entry points, served by the PnP manager of the
// calling thread's machine. PASSIVE_LEVEL only.
#include "pnp_manager.h"

#include "kernel/passive_level.h"
#include "kernel/rtl_string_pool.h"
#include "kernel/wide_string.h"

#include <cstring>

namespace {

constexpr ULONG kInterfaceListTag = 0x69446f49; // "IoDi": lists IoGetDeviceInterfaces returns

host::PnpManager &Pnp(const char *entryPoint)
{
    return host::PnpManager::Of(host::EnterPassiveLevelCall(entryPoint));
}

// A UNICODE_STRING in paged pool, which its receiver frees with RtlFreeUnicodeString.
NTSTATUS ReturnString(const std::u16string &text, PUNICODE_STRING to)
{
    const size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    auto buffer = static_cast<PWCHAR>(host::AllocateRtlString(bytes));
    if (buffer == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    host::CopyToWide(text, buffer);
    buffer[text.size()] = 0;
    to->Buffer = buffer;
    to->Length = USHORT(text.size() * sizeof(WCHAR));
    to->MaximumLength = USHORT(bytes);
    return STATUS_SUCCESS;
}

} // namespace

extern "C" {

NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject,
                                   const GUID *InterfaceClassGuid, PUNICODE_STRING ReferenceString,
                                   PUNICODE_STRING SymbolicLinkName)
{
    host::PnpManager &pnp = Pnp("IoRegisterDeviceInterface");
    if (PhysicalDeviceObject == nullptr || InterfaceClassGuid == nullptr ||
        SymbolicLinkName == nullptr)
        return host::ReportBadPointer(pnp.Owner(), "IoRegisterDeviceInterface", "argument");
    std::u16string link;
    NTSTATUS status = pnp.Interfaces().Register(
        PhysicalDeviceObject, *InterfaceClassGuid,
        ReferenceString != nullptr ? host::ToU16(*ReferenceString) : std::u16string(), &link);
    return NT_SUCCESS(status) ? ReturnString(link, SymbolicLinkName) : status;
}

NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable)
{
    host::PnpManager &pnp = Pnp("IoSetDeviceInterfaceState");
    if (SymbolicLinkName == nullptr)
        return host::ReportBadPointer(pnp.Owner(), "IoSetDeviceInterfaceState", "SymbolicLinkName");
    return pnp.Interfaces().SetState(host::ToU16(*SymbolicLinkName), Enable != FALSE);
}

NTSTATUS IoGetDeviceInterfaces(const GUID *InterfaceClassGuid, PDEVICE_OBJECT PhysicalDeviceObject,
                               ULONG Flags, PWSTR *SymbolicLinkList)
{
    host::PnpManager &pnp = Pnp("IoGetDeviceInterfaces");
    if (InterfaceClassGuid == nullptr || SymbolicLinkList == nullptr)
        return host::ReportBadPointer(pnp.Owner(), "IoGetDeviceInterfaces", "argument");
    std::u16string list;
    for (const std::u16string &link :
         pnp.Interfaces().List(*InterfaceClassGuid, PhysicalDeviceObject,
                               (Flags & DEVICE_INTERFACE_INCLUDE_NONACTIVE) != 0))
        list += link + u'\0';
    list += u'\0';
    auto buffer = static_cast<PWSTR>(
        ExAllocatePoolWithTag(PagedPool, list.size() * sizeof(WCHAR), kInterfaceListTag));
    *SymbolicLinkList = buffer;
    if (buffer == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    host::CopyToWide(list, buffer);
    return STATUS_SUCCESS;
}

NTSTATUS IoRegisterPlugPlayNotification(IO_NOTIFICATION_EVENT_CATEGORY EventCategory,
                                        ULONG EventCategoryFlags, PVOID EventCategoryData,
                                        PDRIVER_OBJECT DriverObject,
                                        PDRIVER_NOTIFICATION_CALLBACK_ROUTINE CallbackRoutine,
                                        PVOID Context, PVOID *NotificationEntry)
{
    host::PnpManager &pnp = Pnp("IoRegisterPlugPlayNotification");
    if (EventCategoryData == nullptr || DriverObject == nullptr || CallbackRoutine == nullptr ||
        NotificationEntry == nullptr)
        return host::ReportBadPointer(pnp.Owner(), "IoRegisterPlugPlayNotification", "argument");
    if (EventCategory != EventCategoryDeviceInterfaceChange) {
        pnp.Owner().Checks().Report(host::VerifierCheck::Usage,
                                    "IoRegisterPlugPlayNotification: only device interface "
                                    "changes are emulated");
        return STATUS_NOT_SUPPORTED;
    }
    *NotificationEntry = pnp.Interfaces().AddNotification(
        *static_cast<const GUID *>(EventCategoryData),
        (EventCategoryFlags & PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES) != 0,
        DriverObject, CallbackRoutine, Context);
    return STATUS_SUCCESS;
}

NTSTATUS IoUnregisterPlugPlayNotificationEx(PVOID NotificationEntry)
{
    return Pnp("IoUnregisterPlugPlayNotificationEx")
        .Interfaces()
        .RemoveNotification(NotificationEntry);
}

} // extern "C"

// IoOpenDeviceRegistryKey: the hardware ("device") and software ("driver") keys of a device
// instance, opened as kernel handles. PASSIVE_LEVEL only.
//
// Device key: \Registry\Machine\SYSTEM\CurrentControlSet\Enum\<instance id>\Device Parameters,
// created on first use.
// Driver key: \Registry\Machine\SYSTEM\CurrentControlSet\Control\Class\<class guid>\<NNNN>. The
// instance key's "Driver" value ("{class guid}\NNNN") names it, as on Windows. An instance the
// PnP manager has not given one yet gets the lowest free NNNN of its class ("ClassGUID" value
// of the instance key; without one the media class, the class of this machine's audio
// devices), and "Driver" records it.
// PLUGPLAY_REGKEY_CURRENT_HWPROFILE moves either key below
// \Registry\Machine\SYSTEM\CurrentControlSet\Hardware Profiles\Current\System\CurrentControlSet.
#include "io_manager.h"
#include "machine.h"
#include "passive_level.h"
#include "registry_key_reference.h"
#include "wide_string.h"

#include <wdm/zw.h>

#include <cstdio>
#include <mutex>

using host::RegistryKey;
using host::RegistryStore;

namespace {

const std::u16string kControlSet = u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet";
const std::u16string kHardwareProfile =
    kControlSet + u"\\Hardware Profiles\\Current\\System\\CurrentControlSet";
const std::u16string kMediaClass = u"{4d36e96c-e325-11ce-bfc1-08002be10318}";

// A REG_SZ value of the instance key, without its terminator; empty if absent or not a string.
std::u16string ReadString(RegistryStore &store, const std::u16string &key,
                          const std::u16string &name)
{
    auto value = store.GetValue(key, name);
    if (!value || value->type != REG_SZ)
        return std::u16string();
    std::u16string text = host::FromUtf16Bytes(value->data);
    return text.substr(0, text.find(u'\0'));
}

// "{class guid}\NNNN" of the instance, assigning one if the instance has none yet.
NTSTATUS DriverKeyName(RegistryStore &store, const std::u16string &instanceKey,
                       std::u16string *name)
{
    // Serialises assignment, so two callers cannot hand out the same number.
    static std::mutex assigning;
    std::lock_guard<std::mutex> guard(assigning);
    *name = ReadString(store, instanceKey, u"Driver");
    if (!name->empty())
        return STATUS_SUCCESS;
    std::u16string classGuid = ReadString(store, instanceKey, u"ClassGUID");
    if (classGuid.empty())
        classGuid = kMediaClass;
    RegistryKey classKey;
    ULONG disposition;
    NTSTATUS status = store.CreateKey(nullptr, kControlSet + u"\\Control\\Class\\" + classGuid,
                                      true, u"", &classKey, &disposition);
    if (!NT_SUCCESS(status))
        return status;
    for (ULONG number = 0; number <= 9999; ++number) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04u", number);
        RegistryKey existing;
        if (store.OpenKey(classKey, host::FromUtf8(digits), &existing) !=
            STATUS_OBJECT_NAME_NOT_FOUND)
            continue;
        *name = classGuid + u"\\" + host::FromUtf8(digits);
        return store.SetValue(instanceKey, u"Driver", REG_SZ, host::ToUtf16Bytes(*name + u'\0'));
    }
    return STATUS_INSUFFICIENT_RESOURCES;
}

} // namespace

extern "C" NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType,
                                            ACCESS_MASK DesiredAccess, PHANDLE DeviceRegKey)
{
    const char *entry = "IoOpenDeviceRegistryKey";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    if (DeviceObject == nullptr)
        return host::ReportBadPointer(machine, entry, "DeviceObject");
    if (DeviceRegKey == nullptr)
        return host::ReportBadPointer(machine, entry, "DeviceRegKey");
    *DeviceRegKey = nullptr;
    const std::u16string &instanceId = host::DeviceInstanceIdOf(DeviceObject);
    if (instanceId.empty()) {
        // Windows stops with PNP_DETECTED_FATAL_ERROR (invalid PDO).
        machine.Checks().Report(host::VerifierCheck::Usage,
                                "IoOpenDeviceRegistryKey on a device object that is not a "
                                "physical device object");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    const ULONG kind = DevInstKeyType & ~ULONG(PLUGPLAY_REGKEY_CURRENT_HWPROFILE);
    if (kind != PLUGPLAY_REGKEY_DEVICE && kind != PLUGPLAY_REGKEY_DRIVER)
        return STATUS_INVALID_PARAMETER;
    ACCESS_MASK access;
    NTSTATUS status = host::KeyAccessFromRequest(DesiredAccess, &access);
    if (!NT_SUCCESS(status))
        return status;

    RegistryStore &store = machine.Registry();
    const std::u16string &base =
        (DevInstKeyType & PLUGPLAY_REGKEY_CURRENT_HWPROFILE) != 0 ? kHardwareProfile : kControlSet;
    std::u16string path;
    if (kind == PLUGPLAY_REGKEY_DEVICE) {
        path = base + u"\\Enum\\" + instanceId + u"\\Device Parameters";
    } else {
        std::u16string driver;
        status = DriverKeyName(store, kControlSet + u"\\Enum\\" + instanceId, &driver);
        if (!NT_SUCCESS(status))
            return status;
        path = base + u"\\Control\\Class\\" + driver;
    }
    RegistryKey key;
    ULONG disposition;
    status = store.CreateKey(nullptr, path, true, u"", &key, &disposition);
    if (!NT_SUCCESS(status))
        return status;
    return host::OpenKeyHandle(machine, key, access, true, DeviceRegKey);
}

#include "device_info_set.h"

#include "win32_subsystem.h"

#include "kernel/machine.h"
#include "kernel/registry_store.h"
#include "kernel/wide_string.h"

#include <objbase.h>

#include <iterator>

namespace host::win32 {

namespace {

const std::u16string kControlSet = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet";

std::u16string GuidText(const GUID &guid)
{
    WCHAR text[40];
    StringFromGUID2(guid, text, 40);
    return ToU16(text);
}

// A string value's text, up to its first terminator if it has one.
std::u16string StringOf(const std::optional<RegistryValue> &value)
{
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ))
        return u"";
    std::u16string text = FromUtf16Bytes(value->data);
    return text.substr(0, text.find(u'\0'));
}

// The registry value behind each device property SetupAPI reads from a device's Enum key.
const struct {
    DWORD property;
    const char16_t *value;
} kPropertyValues[] = {
    {SPDRP_DEVICEDESC, u"DeviceDesc"},
    {SPDRP_HARDWAREID, u"HardwareID"},
    {SPDRP_COMPATIBLEIDS, u"CompatibleIDs"},
    {SPDRP_SERVICE, u"Service"},
    {SPDRP_CLASS, u"Class"},
    {SPDRP_CLASSGUID, u"ClassGUID"},
    {SPDRP_DRIVER, u"Driver"},
    {SPDRP_MFG, u"Mfg"},
    {SPDRP_FRIENDLYNAME, u"FriendlyName"},
    {SPDRP_LOCATION_INFORMATION, u"LocationInformation"},
};

} // namespace

DWORD DevInstOf(Machine &machine, const std::u16string &instanceId)
{
    return Subsystem::Of(machine).DeviceNodeNumber(instanceId);
}

DeviceInfoSet::DeviceInfoSet(Machine &machine, const GUID &interfaceClass, bool presentOnly)
    : machine_(machine)
{
    RegistryStore &registry = machine.Registry();
    RegistryKey classKey;
    if (!NT_SUCCESS(registry.OpenKey(
            nullptr, kControlSet + u"\\Control\\DeviceClasses\\" + GuidText(interfaceClass),
            &classKey)))
        return;
    RegistryKeyInfo device;
    for (ULONG i = 0; NT_SUCCESS(registry.EnumerateKey(classKey, i, &device)); ++i) {
        std::u16string instanceId = StringOf(registry.GetValue(device.path, u"DeviceInstance"));
        RegistryKey deviceKey;
        if (instanceId.empty() || !NT_SUCCESS(registry.OpenKey(nullptr, device.path, &deviceKey)))
            continue;
        // One subkey per reference string ("#", "#Wave", ...), each an interface of the device.
        RegistryKeyInfo reference;
        for (ULONG j = 0; NT_SUCCESS(registry.EnumerateKey(deviceKey, j, &reference)); ++j) {
            if (reference.name.empty() || reference.name[0] != u'#')
                continue;
            std::u16string path = StringOf(registry.GetValue(reference.path, u"SymbolicLink"));
            std::optional<RegistryValue> linked =
                registry.GetValue(reference.path + u"\\Control", u"Linked");
            bool active = linked && linked->data.size() >= 1 && linked->data[0] != 0;
            if (path.empty() || (presentOnly && !active))
                continue;
            interfaces_.push_back({interfaceClass, path, active, AddDevice(instanceId)});
        }
    }
}

DeviceInfoSet::DeviceInfoSet(Machine &machine) : machine_(machine) {}

size_t DeviceInfoSet::AddDevice(const std::u16string &instanceId)
{
    for (size_t i = 0; i < devices_.size(); ++i)
        if (EqualIgnoreCase(devices_[i].instanceId, instanceId))
            return i;
    GUID classGuid = {};
    std::u16string text = StringOf(
        machine_.Registry().GetValue(kControlSet + u"\\Enum\\" + instanceId, u"ClassGUID"));
    if (!text.empty())
        CLSIDFromString(reinterpret_cast<LPCOLESTR>(text.c_str()), &classGuid);
    devices_.push_back({instanceId, classGuid, DevInstOf(machine_, instanceId), {}, {}});
    return devices_.size() - 1;
}

void DeviceInfoSet::Describe(size_t device, PSP_DEVINFO_DATA data) const
{
    data->ClassGuid = devices_[device].classGuid;
    data->DevInst = devices_[device].devInst;
    data->Reserved = device + 1;
}

bool DeviceInfoSet::Find(const SP_DEVINFO_DATA &data, size_t *device) const
{
    if (data.Reserved == 0 || data.Reserved > devices_.size() ||
        devices_[data.Reserved - 1].devInst != data.DevInst)
        return false;
    *device = data.Reserved - 1;
    return true;
}

DWORD DeviceInfoSet::Property(size_t device, DWORD property, DWORD *type,
                              std::vector<BYTE> *value) const
{
    if (property >= SPDRP_MAXIMUM_PROPERTY)
        return ERROR_INVALID_REG_PROPERTY;
    const char16_t *name = nullptr;
    for (const auto &entry : kPropertyValues)
        if (entry.property == property)
            name = entry.value;
    if (name == nullptr) {
        machine_.Checks().Report(VerifierCheck::Unimplemented,
                                 "SetupDiGetDeviceRegistryProperty of property " +
                                     std::to_string(property));
        return ERROR_INVALID_DATA;
    }
    std::optional<RegistryValue> stored =
        machine_.Registry().GetValue(kControlSet + u"\\Enum\\" + devices_[device].instanceId, name);
    if (!stored)
        return ERROR_INVALID_DATA;
    *type = stored->type;
    value->assign(stored->data.begin(), stored->data.end());
    return ERROR_SUCCESS;
}

} // namespace host::win32

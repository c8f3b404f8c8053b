#include "driver_package.h"

#include "kernel/registry_store.h"
#include "kernel/wide_string.h"

namespace host {

namespace {

const std::u16string kControlSet = u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet";

std::vector<UCHAR> MultiString(const std::vector<std::u16string> &strings)
{
    std::u16string text;
    for (const std::u16string &s : strings)
        text += s + u'\0';
    text += u'\0';
    return ToUtf16Bytes(text);
}

NTSTATUS WriteValues(RegistryStore &registry, const std::u16string &defaultKey,
                     const std::vector<PackageRegistryValue> &values)
{
    for (const PackageRegistryValue &value : values) {
        NTSTATUS status = registry.SetValue(value.key.empty() ? defaultKey : value.key, value.name,
                                            value.type, value.data);
        if (!NT_SUCCESS(status))
            return status;
    }
    return STATUS_SUCCESS;
}

} // namespace

PackageRegistryValue PackageRegistryValue::Dword(std::u16string key, std::u16string name,
                                                 ULONG value)
{
    std::vector<UCHAR> bytes(sizeof value);
    for (size_t i = 0; i < sizeof value; ++i)
        bytes[i] = UCHAR(value >> (8 * i));
    return {std::move(key), std::move(name), REG_DWORD, std::move(bytes)};
}

std::u16string ServiceKeyPath(const std::u16string &service)
{
    return kControlSet + u"\\Services\\" + service;
}

NTSTATUS InstallServiceKey(RegistryStore &registry, const DriverPackage &package)
{
    const std::u16string key = ServiceKeyPath(package.service);
    NTSTATUS status =
        registry.SetString(key, u"ImagePath", u"\\SystemRoot\\System32\\drivers\\" + package.image);
    if (NT_SUCCESS(status))
        status = registry.SetDword(key, u"Type", 1); // kernel driver
    if (NT_SUCCESS(status))
        status = registry.SetDword(key, u"Start", 3); // demand: loaded for its devices
    if (NT_SUCCESS(status))
        status = registry.SetDword(key, u"ErrorControl", 1);
    return NT_SUCCESS(status) ? WriteValues(registry, key, package.machineValues) : status;
}

NTSTATUS InstallDeviceInstance(RegistryStore &registry, const DriverPackage &package,
                               const std::u16string &instanceId,
                               const std::vector<std::u16string> &hardwareIds,
                               const std::vector<std::u16string> &compatibleIds)
{
    const std::u16string key = kControlSet + u"\\Enum\\" + instanceId;
    NTSTATUS status = registry.SetValue(key, u"HardwareID", REG_MULTI_SZ, MultiString(hardwareIds));
    if (NT_SUCCESS(status))
        status = registry.SetValue(key, u"CompatibleIDs", REG_MULTI_SZ, MultiString(compatibleIds));
    if (NT_SUCCESS(status) && !package.description.empty())
        status = registry.SetString(key, u"DeviceDesc", package.description);
    if (NT_SUCCESS(status))
        status = registry.SetString(key, u"Service", package.service);
    if (NT_SUCCESS(status))
        status = registry.SetString(key, u"ClassGUID", package.classGuid);
    return NT_SUCCESS(status)
               ? WriteValues(registry, key + u"\\Device Parameters", package.hardwareKeyValues)
               : status;
}

bool PackageMatches(const DriverPackage &package, const std::vector<std::u16string> &ids)
{
    for (const std::u16string &id : ids)
        for (const std::u16string &served : package.hardwareIds)
            if (EqualIgnoreCase(id, served))
                return true;
    return false;
}

} // namespace host

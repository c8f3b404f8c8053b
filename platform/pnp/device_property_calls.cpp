// IoGetDeviceProperty: what the PnP manager knows of a physical device object (its ids from the
// Enum key, its name, enumerator, class and driver key, its address on the bus).
#include "pnp_manager.h"

#include "kernel/io_manager.h"
#include "kernel/passive_level.h"
#include "kernel/registry_store.h"
#include "kernel/wide_string.h"

#include <cstring>

namespace {

const std::u16string kEnum = u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum\\";

// A string or multi-string value of the instance key, as stored.
bool EnumValue(host::Machine &machine, const std::u16string &instanceId, const char16_t *name,
               std::vector<UCHAR> *bytes)
{
    auto value = machine.Registry().GetValue(kEnum + instanceId, name);
    if (!value)
        return false;
    *bytes = value->data;
    return true;
}

std::vector<UCHAR> Terminated(const std::u16string &text)
{
    return host::ToUtf16Bytes(text + u'\0');
}

} // namespace

extern "C" NTSTATUS IoGetDeviceProperty(PDEVICE_OBJECT DeviceObject,
                                        DEVICE_REGISTRY_PROPERTY DeviceProperty, ULONG BufferLength,
                                        PVOID PropertyBuffer, PULONG ResultLength)
{
    const char *entry = "IoGetDeviceProperty";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    if (DeviceObject == nullptr || ResultLength == nullptr)
        return host::ReportBadPointer(machine, entry, "argument");
    *ResultLength = 0;
    const std::u16string &instanceId = host::DeviceInstanceIdOf(DeviceObject);
    if (instanceId.empty()) {
        machine.Checks().Report(host::VerifierCheck::Usage,
                                "IoGetDeviceProperty on a device object that is not a physical "
                                "device object");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    // Properties the device's Enum key holds, as stored there.
    static const struct {
        DEVICE_REGISTRY_PROPERTY property;
        const char16_t *value;
    } kEnumValues[] = {{DevicePropertyHardwareID, u"HardwareID"},
                       {DevicePropertyCompatibleIDs, u"CompatibleIDs"},
                       {DevicePropertyClassGuid, u"ClassGUID"},
                       {DevicePropertyDriverKeyName, u"Driver"}};
    std::vector<UCHAR> bytes;
    for (const auto &known : kEnumValues)
        if (known.property == DeviceProperty &&
            !EnumValue(machine, instanceId, known.value, &bytes))
            return STATUS_OBJECT_NAME_NOT_FOUND;
    switch (DeviceProperty) {
    case DevicePropertyHardwareID:
    case DevicePropertyCompatibleIDs:
    case DevicePropertyClassGuid:
    case DevicePropertyDriverKeyName: break;
    case DevicePropertyPhysicalDeviceObjectName:
        bytes = Terminated(host::DeviceNameOf(DeviceObject));
        break;
    case DevicePropertyEnumeratorName:
        bytes = Terminated(instanceId.substr(0, instanceId.find(u'\\')));
        break;
    case DevicePropertyAddress: {
        // The port a USB device sits on, as its bus driver reports it.
        ULONG port = 0;
        for (char16_t c : instanceId.substr(instanceId.rfind(u'\\') + 1))
            port = port * 10 + ULONG(c - u'0');
        bytes.resize(sizeof port);
        std::memcpy(bytes.data(), &port, sizeof port);
        break;
    }
    default: return STATUS_INVALID_PARAMETER_2;
    }
    *ResultLength = ULONG(bytes.size());
    if (BufferLength < bytes.size())
        return STATUS_BUFFER_TOO_SMALL;
    if (PropertyBuffer == nullptr)
        return host::ReportBadPointer(machine, entry, "PropertyBuffer");
    std::memcpy(PropertyBuffer, bytes.data(), bytes.size());
    return STATUS_SUCCESS;
}

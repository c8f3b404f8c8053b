// setupapi: device information sets of device interfaces (DIGCF_DEVICEINTERFACE), their interfaces,
// the paths to open them by, and their devices' properties and instance ids.
#include "set_arguments.h"
#include "status_errors.h"

#include "kernel/wide_string.h"

#include <setupapi.h>

#include <cstring>

using namespace host::win32;

namespace {

constexpr DWORD kDetailPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);

// The interface an SP_DEVICE_INTERFACE_DATA of the set names.
const DeviceInterfaceEntry *InterfaceOf(const DeviceInfoSet &set, PSP_DEVICE_INTERFACE_DATA data)
{
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    if (data->Reserved == 0 || data->Reserved > set.Interfaces().size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &set.Interfaces()[data->Reserved - 1];
}

// Copies `count` units into a caller's buffer of `capacity` units, reporting the units needed;
// ERROR_INSUFFICIENT_BUFFER when they do not fit.
template <class Unit>
BOOL CopyOut(const Unit *from, DWORD count, Unit *to, DWORD capacity, PDWORD required)
{
    if (required != nullptr)
        *required = count;
    if (to == nullptr || capacity < count) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(to, from, count * sizeof(Unit));
    return TRUE;
}

} // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID *ClassGuid, PCWSTR Enumerator, HWND, DWORD Flags)
{
    Caller caller = CallerOf("SetupDiGetClassDevsW");
    // Only sets of interfaces of one class are emulated, the kind the deliverables ask for.
    if (!(Flags & DIGCF_DEVICEINTERFACE) || (Flags & DIGCF_ALLCLASSES) || Enumerator != nullptr) {
        caller.machine.Checks().Report(host::VerifierCheck::Unimplemented,
                                       "SetupDiGetClassDevsW other than for the device "
                                       "interfaces of one class");
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (ClassGuid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto set =
        std::make_unique<DeviceInfoSet>(caller.machine, *ClassGuid, (Flags & DIGCF_PRESENT) != 0);
    return caller.process.AddDeviceInfoSet(std::move(set));
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    Caller caller = CallerOf("SetupDiDestroyDeviceInfoList");
    if (!caller.process.RemoveDeviceInfoSet(DeviceInfoSet)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData)
{
    Caller caller = CallerOf("SetupDiEnumDeviceInfo");
    host::win32::DeviceInfoSet *set = SetOf(caller, DeviceInfoSet);
    if (set == nullptr)
        return FALSE;
    if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (MemberIndex >= set->Devices().size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    set->Describe(MemberIndex, DeviceInfoData);
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID *InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData)
{
    Caller caller = CallerOf("SetupDiEnumDeviceInterfaces");
    host::win32::DeviceInfoSet *set = SetOf(caller, DeviceInfoSet);
    if (set == nullptr)
        return FALSE;
    if (InterfaceClassGuid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    size_t device = 0;
    if (DeviceInfoData != nullptr && !DeviceOf(*set, DeviceInfoData, &device))
        return FALSE;
    // The MemberIndex-th interface of the class (of that device, if one is given).
    DWORD seen = 0;
    const std::vector<DeviceInterfaceEntry> &interfaces = set->Interfaces();
    for (size_t i = 0; i < interfaces.size(); ++i) {
        if (interfaces[i].interfaceClass != *InterfaceClassGuid ||
            (DeviceInfoData != nullptr && interfaces[i].device != device))
            continue;
        if (seen++ != MemberIndex)
            continue;
        DeviceInterfaceData->InterfaceClassGuid = interfaces[i].interfaceClass;
        DeviceInterfaceData->Flags = interfaces[i].active ? SPINT_ACTIVE : 0;
        DeviceInterfaceData->Reserved = i + 1;
        return TRUE;
    }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData)
{
    Caller caller = CallerOf("SetupDiGetDeviceInterfaceDetailW");
    host::win32::DeviceInfoSet *set = SetOf(caller, DeviceInfoSet);
    if (set == nullptr)
        return FALSE;
    const DeviceInterfaceEntry *entry = InterfaceOf(*set, DeviceInterfaceData);
    if (entry == nullptr)
        return FALSE;
    if ((DeviceInterfaceDetailData == nullptr && DeviceInterfaceDetailDataSize != 0) ||
        (DeviceInterfaceDetailData != nullptr &&
         DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) ||
        (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    DWORD needed = kDetailPathOffset + DWORD(entry->path.size() + 1) * sizeof(WCHAR);
    if (RequiredSize != nullptr)
        *RequiredSize = needed;
    if (DeviceInterfaceDetailData == nullptr || DeviceInterfaceDetailDataSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(DeviceInterfaceDetailData->DevicePath, entry->path.c_str(),
                (entry->path.size() + 1) * sizeof(WCHAR));
    if (DeviceInfoData != nullptr)
        set->Describe(entry->device, DeviceInfoData);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    Caller caller = CallerOf("SetupDiGetDeviceRegistryPropertyW");
    host::win32::DeviceInfoSet *set = SetOf(caller, DeviceInfoSet);
    size_t device;
    if (set == nullptr || !DeviceOf(*set, DeviceInfoData, &device))
        return FALSE;
    DWORD type = REG_NONE;
    std::vector<BYTE> value;
    DWORD error = set->Property(device, Property, &type, &value);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    if (PropertyRegDataType != nullptr)
        *PropertyRegDataType = type;
    return CopyOut(value.data(), DWORD(value.size()), PropertyBuffer, PropertyBufferSize,
                   RequiredSize);
}

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize)
{
    Caller caller = CallerOf("SetupDiGetDeviceInstanceIdW");
    host::win32::DeviceInfoSet *set = SetOf(caller, DeviceInfoSet);
    size_t device;
    if (set == nullptr || !DeviceOf(*set, DeviceInfoData, &device))
        return FALSE;
    const std::u16string &id = set->Devices()[device].instanceId;
    return CopyOut(reinterpret_cast<const WCHAR *>(id.c_str()), DWORD(id.size() + 1),
                   DeviceInstanceId, DeviceInstanceIdSize, RequiredSize);
}

} // extern "C"

// setupapi: the device installer's driver lists as class installers and co-installers walk them:
// the compatible drivers of a device, the class drivers of the set, each driver's install
// parameters (its rank among them), and the device's install parameters.
#include "set_arguments.h"

#include <setupapi.h>

#include <cstring>

using namespace host::win32;

namespace {

// The list a request names: a device's compatible drivers, or the set's class drivers when no
// device is given.
std::vector<DriverNode> *ListOf(DeviceInfoSet &set, PSP_DEVINFO_DATA device, DWORD type)
{
    size_t index = 0;
    if (device != nullptr && !DeviceOf(set, device, &index))
        return nullptr;
    if (type == SPDIT_COMPATDRIVER && device != nullptr)
        return &set.Device(index).compatibleDrivers;
    if (type == SPDIT_CLASSDRIVER)
        return &set.ClassDrivers();
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

bool DriverDataSized(PSP_DRVINFO_DATA_A data)
{
    if (data != nullptr && (data->cbSize == sizeof(SP_DRVINFO_DATA_V2_A) ||
                            data->cbSize == sizeof(SP_DRVINFO_DATA_V1_A)))
        return true;
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return false;
}

// The driver node a driver install parameters request names, after checking both structures.
DriverNode *NodeOf(const char *entryPoint, HDEVINFO handle, PSP_DEVINFO_DATA device,
                   PSP_DRVINFO_DATA_A driver, PSP_DRVINSTALL_PARAMS params)
{
    Caller caller = CallerOf(entryPoint);
    DeviceInfoSet *set = SetOf(caller, handle);
    if (set == nullptr)
        return nullptr;
    if (driver == nullptr || params == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!DriverDataSized(driver))
        return nullptr;
    if (params->cbSize != sizeof(SP_DRVINSTALL_PARAMS)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    std::vector<DriverNode> *list = ListOf(*set, device, driver->DriverType);
    if (list == nullptr)
        return nullptr;
    DriverNode *node = FindDriver(*list, *driver);
    if (node == nullptr)
        SetLastError(ERROR_INVALID_PARAMETER);
    return node;
}

} // namespace

extern "C" {

BOOL WINAPI SetupDiEnumDriverInfoA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                   DWORD DriverType, DWORD MemberIndex,
                                   PSP_DRVINFO_DATA_A DriverInfoData)
{
    Caller caller = CallerOf("SetupDiEnumDriverInfoA");
    host::win32::DeviceInfoSet *set = SetOf(caller, DeviceInfoSet);
    if (set == nullptr || !DriverDataSized(DriverInfoData))
        return FALSE;
    std::vector<DriverNode> *list = ListOf(*set, DeviceInfoData, DriverType);
    if (list == nullptr)
        return FALSE;
    if (MemberIndex >= list->size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    DescribeDriver((*list)[MemberIndex], DriverType, MemberIndex, DriverInfoData);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams)
{
    Caller caller = CallerOf("SetupDiGetDeviceInstallParamsA");
    host::win32::DeviceInfoSet *set = SetOf(caller, DeviceInfoSet);
    if (set == nullptr)
        return FALSE;
    if (DeviceInstallParams == nullptr ||
        DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    size_t device = 0;
    if (DeviceInfoData != nullptr && !DeviceOf(*set, DeviceInfoData, &device))
        return FALSE;
    std::memset(reinterpret_cast<char *>(DeviceInstallParams) + sizeof(DWORD), 0,
                sizeof(SP_DEVINSTALL_PARAMS_A) - sizeof(DWORD));
    if (DeviceInfoData != nullptr) {
        const std::string &path = set->Device(device).driverPath;
        std::memcpy(DeviceInstallParams->DriverPath, path.c_str(),
                    std::min(path.size() + 1, size_t(MAX_PATH - 1)));
    }
    return TRUE;
}

BOOL WINAPI SetupDiGetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DRVINFO_DATA_A DriverInfoData,
                                           PSP_DRVINSTALL_PARAMS DriverInstallParams)
{
    DriverNode *node = NodeOf("SetupDiGetDriverInstallParamsA", DeviceInfoSet, DeviceInfoData,
                              DriverInfoData, DriverInstallParams);
    if (node == nullptr)
        return FALSE;
    *DriverInstallParams = {};
    DriverInstallParams->cbSize = sizeof(SP_DRVINSTALL_PARAMS);
    DriverInstallParams->Rank = node->rank;
    DriverInstallParams->Flags = node->flags;
    return TRUE;
}

BOOL WINAPI SetupDiSetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DRVINFO_DATA_A DriverInfoData,
                                           PSP_DRVINSTALL_PARAMS DriverInstallParams)
{
    DriverNode *node = NodeOf("SetupDiSetDriverInstallParamsA", DeviceInfoSet, DeviceInfoData,
                              DriverInfoData, DriverInstallParams);
    if (node == nullptr)
        return FALSE;
    node->rank = DriverInstallParams->Rank;
    node->flags = DriverInstallParams->Flags;
    return TRUE;
}

} // extern "C"

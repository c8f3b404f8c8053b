#include "set_arguments.h"

namespace host::win32 {

DeviceInfoSet *SetOf(Caller &caller, HDEVINFO handle)
{
    DeviceInfoSet *set = caller.process.FindDeviceInfoSet(handle);
    if (set == nullptr)
        SetLastError(ERROR_INVALID_HANDLE);
    return set;
}

bool DeviceOf(const DeviceInfoSet &set, PSP_DEVINFO_DATA data, size_t *device)
{
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return false;
    }
    if (!set.Find(*data, device)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

} // namespace host::win32

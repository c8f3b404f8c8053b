// setupapi.dll: the entry points the emulation implements.
#include "system_modules.h"

#include <setupapi.h>

#include <iterator>

namespace host::win32 {

namespace {

const SystemExport kExports[] = {
    QUEN_SYSTEM_EXPORT(SetupDiDestroyDeviceInfoList),
    QUEN_SYSTEM_EXPORT(SetupDiEnumDeviceInfo),
    QUEN_SYSTEM_EXPORT(SetupDiEnumDeviceInterfaces),
    QUEN_SYSTEM_EXPORT(SetupDiEnumDriverInfoA),
    QUEN_SYSTEM_EXPORT(SetupDiGetClassDevsW),
    QUEN_SYSTEM_EXPORT(SetupDiGetDeviceInstallParamsA),
    QUEN_SYSTEM_EXPORT(SetupDiGetDeviceInstanceIdW),
    QUEN_SYSTEM_EXPORT(SetupDiGetDeviceInterfaceDetailW),
    QUEN_SYSTEM_EXPORT(SetupDiGetDeviceRegistryPropertyW),
    QUEN_SYSTEM_EXPORT(SetupDiGetDriverInstallParamsA),
    QUEN_SYSTEM_EXPORT(SetupDiSetDriverInstallParamsA),
};

} // namespace

extern const SystemModule kSetupapiModule = {u"setupapi.dll", kExports, std::size(kExports), false};

} // namespace host::win32

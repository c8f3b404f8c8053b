// advapi32.dll: the entry points the emulation implements.
#include "system_modules.h"

#include <evntrace.h>
#include <winreg.h>

#include <iterator>

namespace host::win32 {

namespace {

const SystemExport kExports[] = {
    QUEN_SYSTEM_EXPORT(GetTraceEnableFlags),
    QUEN_SYSTEM_EXPORT(GetTraceEnableLevel),
    QUEN_SYSTEM_EXPORT(GetTraceLoggerHandle),
    QUEN_SYSTEM_EXPORT(RegCloseKey),
    QUEN_SYSTEM_EXPORT(RegCreateKeyExA),
    QUEN_SYSTEM_EXPORT(RegCreateKeyExW),
    QUEN_SYSTEM_EXPORT(RegDeleteKeyA),
    QUEN_SYSTEM_EXPORT(RegDeleteKeyExW),
    QUEN_SYSTEM_EXPORT(RegDeleteKeyW),
    QUEN_SYSTEM_EXPORT(RegDeleteTreeW),
    QUEN_SYSTEM_EXPORT(RegDeleteValueW),
    QUEN_SYSTEM_EXPORT(RegEnumKeyExA),
    QUEN_SYSTEM_EXPORT(RegEnumKeyExW),
    QUEN_SYSTEM_EXPORT(RegEnumValueW),
    QUEN_SYSTEM_EXPORT(RegFlushKey),
    QUEN_SYSTEM_EXPORT(RegNotifyChangeKeyValue),
    QUEN_SYSTEM_EXPORT(RegOpenKeyExA),
    QUEN_SYSTEM_EXPORT(RegOpenKeyExW),
    QUEN_SYSTEM_EXPORT(RegQueryInfoKeyW),
    QUEN_SYSTEM_EXPORT(RegQueryValueExA),
    QUEN_SYSTEM_EXPORT(RegQueryValueExW),
    QUEN_SYSTEM_EXPORT(RegSetValueExA),
    QUEN_SYSTEM_EXPORT(RegSetValueExW),
    QUEN_SYSTEM_EXPORT(RegisterTraceGuidsA),
    QUEN_SYSTEM_EXPORT(RegisterTraceGuidsW),
    QUEN_SYSTEM_EXPORT(TraceMessage),
    QUEN_SYSTEM_EXPORT(UnregisterTraceGuids),
};

} // namespace

extern const SystemModule kAdvapi32Module = {u"advapi32.dll", kExports, std::size(kExports), false};

} // namespace host::win32

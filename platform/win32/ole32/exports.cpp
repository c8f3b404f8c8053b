// ole32.dll: the entry points the emulation implements.
#include "system_modules.h"

#include <objbase.h>

#include <iterator>

namespace host::win32 {

namespace {

const SystemExport kExports[] = {
    QUEN_SYSTEM_EXPORT(CLSIDFromString),       QUEN_SYSTEM_EXPORT(CoCreateInstance),
    QUEN_SYSTEM_EXPORT(CoFreeUnusedLibraries), QUEN_SYSTEM_EXPORT(CoFreeUnusedLibrariesEx),
    QUEN_SYSTEM_EXPORT(CoGetClassObject),      QUEN_SYSTEM_EXPORT(CoInitialize),
    QUEN_SYSTEM_EXPORT(CoInitializeEx),        QUEN_SYSTEM_EXPORT(CoTaskMemAlloc),
    QUEN_SYSTEM_EXPORT(CoTaskMemFree),         QUEN_SYSTEM_EXPORT(CoTaskMemRealloc),
    QUEN_SYSTEM_EXPORT(CoUninitialize),        QUEN_SYSTEM_EXPORT(IIDFromString),
    QUEN_SYSTEM_EXPORT(StringFromCLSID),       QUEN_SYSTEM_EXPORT(StringFromGUID2),
    QUEN_SYSTEM_EXPORT(StringFromIID),
};

} // namespace

extern const SystemModule kOle32Module = {u"ole32.dll", kExports, std::size(kExports), false};

} // namespace host::win32

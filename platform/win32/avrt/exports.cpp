// avrt.dll: the entry points the emulation implements.
#include "system_modules.h"

#include <avrt.h>

#include <iterator>

namespace host::win32 {

namespace {

const SystemExport kExports[] = {
    QUEN_SYSTEM_EXPORT(AvRevertMmThreadCharacteristics),
    QUEN_SYSTEM_EXPORT(AvSetMmThreadCharacteristicsA),
    QUEN_SYSTEM_EXPORT(AvSetMmThreadCharacteristicsW),
    QUEN_SYSTEM_EXPORT(AvSetMmThreadPriority),
};

} // namespace

extern const SystemModule kAvrtModule = {u"avrt.dll", kExports, std::size(kExports), false};

} // namespace host::win32

// winmm.dll: the entry points the emulation implements.
#include "system_modules.h"

#include <mmsystem.h>

#include <iterator>

namespace host::win32 {

namespace {

const SystemExport kExports[] = {
    QUEN_SYSTEM_EXPORT(timeBeginPeriod),
    QUEN_SYSTEM_EXPORT(timeEndPeriod),
    QUEN_SYSTEM_EXPORT(timeGetTime),
};

} // namespace

extern const SystemModule kWinmmModule = {u"winmm.dll", kExports, std::size(kExports), false};

} // namespace host::win32

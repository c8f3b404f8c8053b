// ksuser.dll: the entry points the emulation implements.
#include "ks_create_pin.h"
#include "system_modules.h"

#include <iterator>

namespace host::win32 {

namespace {

const SystemExport kExports[] = {
    {"KsCreatePin", reinterpret_cast<void *>(&UserKsCreatePin)},
};

} // namespace

extern const SystemModule kKsuserModule = {u"ksuser.dll", kExports, std::size(kExports), false};

} // namespace host::win32

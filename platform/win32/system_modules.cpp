#include "system_modules.h"

#include "kernel/wide_string.h"

#include <cstring>

namespace host::win32 {

extern const SystemModule kKernel32Module;
extern const SystemModule kAdvapi32Module;
extern const SystemModule kOle32Module;
extern const SystemModule kWinmmModule;
extern const SystemModule kAvrtModule;
extern const SystemModule kSetupapiModule;
extern const SystemModule kKsuserModule;
extern const SystemModule kUser32Module;

const SystemModule *const kSystemModules[] = {
    &kKernel32Module, &kAdvapi32Module, &kOle32Module,  &kWinmmModule, &kAvrtModule,
    &kSetupapiModule, &kKsuserModule,   &kUser32Module, nullptr,
};

const char16_t kSystemDirectory[] = u"C:\\Windows\\System32\\";

const SystemModule *FindSystemModule(const std::u16string &fileName)
{
    for (size_t i = 0; kSystemModules[i] != nullptr; ++i)
        if (EqualIgnoreCase(kSystemModules[i]->name, fileName))
            return kSystemModules[i];
    return nullptr;
}

void *FindSystemExport(const SystemModule &module, const char *name)
{
    for (size_t i = 0; i < module.exportCount; ++i)
        if (std::strcmp(module.exports[i].name, name) == 0)
            return module.exports[i].address;
    return nullptr;
}

} // namespace host::win32

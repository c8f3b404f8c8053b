// Calls the co-installer's entry point as the device installer would, with every installation
// request and no device information, as on a machine where setup has nothing to offer: each
// request must answer NO_ERROR. Exit code 0 when all do.
#include <windows.h>
#include <setupapi.h>

#include <stdio.h>

typedef DWORD(CALLBACK *CoInstallerEntry)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA,
                                          PCOINSTALLER_CONTEXT_DATA);

int main()
{
    HMODULE module = LoadLibraryW(L"zelaudiocoinst.dll");
    if (module == nullptr) {
        printf("FAILED: zelaudiocoinst.dll loads (%lu)\n", GetLastError());
        return 1;
    }
    auto entry = reinterpret_cast<CoInstallerEntry>(
        reinterpret_cast<void *>(GetProcAddress(module, "CoInstallerEntryPoint")));
    if (entry == nullptr) {
        printf("FAILED: CoInstallerEntryPoint is exported\n");
        return 1;
    }
    int failures = 0;
    for (DI_FUNCTION code = DIF_SELECTDEVICE; code <= 0x2B; ++code) {
        COINSTALLER_CONTEXT_DATA context = {};
        DWORD result = entry(code, nullptr, nullptr, &context);
        if (result != NO_ERROR) {
            printf("FAILED: request 0x%02lx answers 0x%08lx\n", static_cast<unsigned long>(code),
                   result);
            ++failures;
        }
    }
    printf("%s: every installation request answers NO_ERROR\n", failures == 0 ? "ok" : "FAILED");
    FreeLibrary(module);
    return failures == 0 ? 0 : 1;
}

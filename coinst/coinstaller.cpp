// zelaudiocoinst: the module's entry point and the co-installer entry the device installer calls.
#include "coinst_trace.h"
#include "driver_ranking.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        CoinstTraceRegister();
    } else if (reason == DLL_PROCESS_DETACH)
        CoinstTraceUnregister();
    return TRUE;
}

// Every request gets NO_ERROR and no post-processing: the co-installer never stops an
// installation.
extern "C" DWORD CALLBACK CoInstallerEntryPoint(DI_FUNCTION installFunction, HDEVINFO set,
                                                PSP_DEVINFO_DATA device, PCOINSTALLER_CONTEXT_DATA)
{
    CoinstTrace(kTraceRequest, CoinstTraceRequest{installFunction});
    if (installFunction == DIF_SELECTBESTCOMPATDRV)
        RankPackageDriverFirst(set, device);
    return NO_ERROR;
}

#include "regsvr32.h"

#include "system_modules.h"
#include "win32_subsystem.h"

#include <objbase.h>

namespace host::win32 {

HRESULT RegisterServer(Subsystem &win32, const std::u16string &modulePath, bool unregister)
{
    PKPROCESS process = win32.StartProcess(
        "regsvr32", u"C:\\Windows\\System32\\regsvr32.exe", [modulePath, unregister] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            HRESULT result;
            HMODULE module = LoadLibraryW(reinterpret_cast<LPCWSTR>(modulePath.c_str()));
            if (module == nullptr) {
                result = HRESULT_FROM_WIN32(GetLastError());
            } else {
                FARPROC entry = GetProcAddress(module, unregister ? "DllUnregisterServer"
                                                                  : "DllRegisterServer");
                result = entry != nullptr ? FunctionFrom<HRESULT(STDAPICALLTYPE *)()>(entry)()
                                          : HRESULT_FROM_WIN32(GetLastError());
                FreeLibrary(module);
            }
            CoUninitialize();
            return DWORD(result);
        });
    KeWaitForSingleObject(process, Executive, KernelMode, FALSE, nullptr);
    HRESULT result = HRESULT(process->exitStatus);
    ObfDereferenceObject(process);
    return result;
}

} // namespace host::win32

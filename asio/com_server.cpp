// The library's entry points: DllMain, the class object, the unload check and the registration
// of the COM class and of the driver under HKEY_LOCAL_MACHINE\SOFTWARE\ASIO.
#include "com_base.h"

#include "asio_trace.h"
#include "asio_types.h"

#include <initializer_list>
#include <new>

namespace {

HINSTANCE moduleHandle;

const WCHAR kDriverName[] = L"Quen_Norvane_asio";
const WCHAR kThreadingModel[] = L"Apartment";
const WCHAR kAsioKey[] = L"SOFTWARE\\ASIO";
const WCHAR kAsioDriverKey[] = L"SOFTWARE\\ASIO\\Quen_Norvane_asio";
constexpr DWORD kPathUnits = 360;

ULONG Units(LPCWSTR text)
{
    ULONG units = 0;
    while (text[units] != 0)
        ++units;
    return units;
}

// Joins up to three parts with backslashes; false if they do not fit.
bool JoinPath(WCHAR (&path)[kPathUnits], LPCWSTR a, LPCWSTR b, LPCWSTR c = nullptr)
{
    ULONG length = 0;
    for (LPCWSTR part : {a, b, c}) {
        if (part == nullptr)
            continue;
        if (length != 0) {
            if (length + 1 >= kPathUnits)
                return false;
            path[length++] = L'\\';
        }
        ULONG units = Units(part);
        if (length + units >= kPathUnits)
            return false;
        for (ULONG i = 0; i < units; ++i)
            path[length++] = part[i];
    }
    path[length] = 0;
    return true;
}

// A REG_SZ written with its terminator, as every reader expects.
LSTATUS SetString(HKEY key, LPCWSTR name, LPCWSTR value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                          (Units(value) + 1) * sizeof(WCHAR));
}

bool KeyExists(HKEY root, LPCWSTR path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

LSTATUS DeleteTreeIfPresent(HKEY root, LPCWSTR path)
{
    LSTATUS status = RegDeleteTreeW(root, path);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

// Creates a key with values: name and value pairs, a null name for the default value.
LSTATUS CreateKeyWith(HKEY root, LPCWSTR path, std::initializer_list<LPCWSTR> values)
{
    HKEY key = nullptr;
    LSTATUS status =
        RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    for (auto item = values.begin(); item != values.end() && status == ERROR_SUCCESS; item += 2)
        status = SetString(key, item[0], item[1]);
    RegCloseKey(key);
    return status;
}

// The module's path and the class key "CLSID\{...}"; an internal failure code otherwise.
int Identify(WCHAR (&modulePath)[kPathUnits], WCHAR (&classKey)[kPathUnits])
{
    if (moduleHandle == nullptr)
        return -101;
    DWORD length = GetModuleFileNameW(moduleHandle, modulePath, kPathUnits);
    if (length == 0 || length >= kPathUnits)
        return -102;
    LPOLESTR text = nullptr;
    if (FAILED(StringFromCLSID(CLSID_ZelAsioDriver, &text)) || text == nullptr)
        return -103;
    bool joined = JoinPath(classKey, L"CLSID", text);
    CoTaskMemFree(text);
    return joined ? 0 : -104;
}

HRESULT Failed(const char *what, LONG code)
{
    AsioTrace("%s failed (%ld)", what, long(code));
    return SELFREG_E_CLASS;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        OutputDebugStringA("DLL_PROCESS_ATTACH\n\n");
        DisableThreadLibraryCalls(instance);
        moduleHandle = instance;
        for (int i = 0; i < g_cTemplates; ++i) {
            if (g_Templates[i].init != nullptr)
                g_Templates[i].init(TRUE);
        }
    } else if (reason == DLL_PROCESS_DETACH) {
        OutputDebugStringA("DLL_PROCESS_DETACH\n\n");
        for (int i = 0; i < g_cTemplates; ++i) {
            if (g_Templates[i].init != nullptr)
                g_Templates[i].init(FALSE);
        }
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IClassFactory))
        return E_NOINTERFACE;
    for (int i = 0; i < g_cTemplates; ++i) {
        if (!IsEqualGUID(rclsid, *g_Templates[i].clsid))
            continue;
        auto *factory = new (std::nothrow) CClassFactory(&g_Templates[i]);
        if (factory == nullptr)
            return E_OUTOFMEMORY;
        factory->AddRef();
        *ppv = factory;
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow(void)
{
    return CClassFactory::ServerLocks() > 0 || CBaseObject::ObjectCount() > 0 ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer(void)
{
    WCHAR modulePath[kPathUnits] = {};
    WCHAR classKey[kPathUnits] = {};
    WCHAR serverKey[kPathUnits] = {};
    int code = Identify(modulePath, classKey);
    if (code != 0 || !JoinPath(serverKey, classKey, L"InprocServer32"))
        return Failed("DllRegisterServer", code);

    // The class keys stay as they are when they already name this module.
    bool current = false;
    HKEY server = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, serverKey, 0, KEY_READ, &server) == ERROR_SUCCESS) {
        WCHAR registered[kPathUnits + 1] = {};
        DWORD size = kPathUnits * sizeof(WCHAR);
        DWORD type = 0;
        current = RegQueryValueExW(server, nullptr, nullptr, &type,
                                   reinterpret_cast<BYTE *>(registered), &size) == ERROR_SUCCESS &&
                  type == REG_SZ && lstrcmpiW(registered, modulePath) == 0;
        RegCloseKey(server);
    }
    LSTATUS status = ERROR_SUCCESS;
    if (!current) {
        status = DeleteTreeIfPresent(HKEY_CLASSES_ROOT, classKey);
        if (status == ERROR_SUCCESS)
            status = CreateKeyWith(HKEY_CLASSES_ROOT, classKey, {nullptr, kDriverName});
        if (status == ERROR_SUCCESS)
            status = CreateKeyWith(HKEY_CLASSES_ROOT, serverKey,
                                   {nullptr, modulePath, L"ThreadingModel", kThreadingModel});
    }
    if (status == ERROR_SUCCESS)
        status = DeleteTreeIfPresent(HKEY_LOCAL_MACHINE, kAsioDriverKey);
    if (status == ERROR_SUCCESS && !KeyExists(HKEY_LOCAL_MACHINE, kAsioKey))
        status = CreateKeyWith(HKEY_LOCAL_MACHINE, kAsioKey, {});
    if (status == ERROR_SUCCESS) {
        LPOLESTR text = nullptr;
        status = SUCCEEDED(StringFromCLSID(CLSID_ZelAsioDriver, &text)) ? ERROR_SUCCESS
                                                                        : ERROR_OUTOFMEMORY;
        if (status == ERROR_SUCCESS)
            status = CreateKeyWith(HKEY_LOCAL_MACHINE, kAsioDriverKey,
                                   {L"CLSID", text, L"Description", kDriverName});
        CoTaskMemFree(text);
    }
    return status == ERROR_SUCCESS ? S_OK : Failed("DllRegisterServer", status);
}

STDAPI DllUnregisterServer(void)
{
    WCHAR modulePath[kPathUnits] = {};
    WCHAR classKey[kPathUnits] = {};
    int code = Identify(modulePath, classKey);
    if (code != 0)
        return Failed("DllUnregisterServer", code);
    LSTATUS status = DeleteTreeIfPresent(HKEY_CLASSES_ROOT, classKey);
    if (status == ERROR_SUCCESS)
        status = DeleteTreeIfPresent(HKEY_LOCAL_MACHINE, kAsioDriverKey);
    return status == ERROR_SUCCESS ? S_OK : Failed("DllUnregisterServer", status);
}

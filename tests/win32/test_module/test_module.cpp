// A small in-process server for the loader and COM tests: DllMain writes the notifications it
// gets to the debugger, a global counter shows whose copy of the module a process runs, and one
// class, a counter object, registers itself and is activated through COM; it also stands in for
// a co-installer.
#include "test_module.h"

#include <olectl.h>
#include <windows.h>

#include <cstring>

namespace {

HINSTANCE module;
LONG objects;
LONG locks;
LONG counter;
TestCoInstallerHandler coInstaller;

void Record(const char *event)
{
    char line[64] = "quen_test_module: ";
    std::strncat(line, event, sizeof line - std::strlen(line) - 2);
    std::strcat(line, "\n");
    OutputDebugStringA(line);
}

constexpr WCHAR kClassKey[] = L"CLSID\\{F1D0C4A2-6B35-4E8A-9C21-7A5E3B904D11}";

class Counter : public IQuenTestCounter {
public:
    Counter() { InterlockedIncrement(&objects); }
    virtual ~Counter() { InterlockedDecrement(&objects); }

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IQuenTestCounter) {
            *ppv = static_cast<IQuenTestCounter *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return ULONG(left);
    }
    STDMETHODIMP_(LONG) Increment() override { return InterlockedIncrement(&value_); }

private:
    LONG references_ = 1;
    LONG value_ = 0;
};

class Factory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
    {
        *ppv = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        Counter *object = new Counter;
        HRESULT result = object->QueryInterface(riid, ppv);
        object->Release();
        return result;
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        lock ? InterlockedIncrement(&locks) : InterlockedDecrement(&locks);
        return S_OK;
    }
};

Factory factory;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH: {
        module = instance;
        Record("attach");
        HANDLE refuse = OpenEventW(SYNCHRONIZE, FALSE, QUEN_TEST_MODULE_REFUSE_EVENT);
        if (refuse != nullptr) {
            CloseHandle(refuse);
            return FALSE;
        }
        return TRUE;
    }
    case DLL_THREAD_ATTACH: Record("thread-attach"); return TRUE;
    case DLL_THREAD_DETACH: Record("thread-detach"); return TRUE;
    case DLL_PROCESS_DETACH: Record("detach"); return TRUE;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv)
{
    *ppv = nullptr;
    if (rclsid != CLSID_QuenTestCounter)
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow(void) { return objects == 0 && locks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer(void)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        return SELFREG_E_CLASS;
    HKEY server;
    WCHAR key[MAX_PATH];
    std::memcpy(key, kClassKey, sizeof kClassKey);
    std::memcpy(key + (sizeof kClassKey / sizeof(WCHAR) - 1), L"\\InprocServer32",
                sizeof L"\\InprocServer32");
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_WRITE, nullptr, &server,
                        nullptr) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    static const WCHAR model[] = L"Apartment";
    LSTATUS a = RegSetValueExW(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(path),
                               (length + 1) * sizeof(WCHAR));
    LSTATUS b = RegSetValueExW(server, L"ThreadingModel", 0, REG_SZ,
                               reinterpret_cast<const BYTE *>(model), sizeof model);
    RegCloseKey(server);
    return a == ERROR_SUCCESS && b == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer(void)
{
    return RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey) == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

extern "C" LONG WINAPI TestModuleIncrement() { return InterlockedIncrement(&counter); }

extern "C" void WINAPI TestModuleSetCoInstaller(TestCoInstallerHandler handler)
{
    coInstaller = handler;
}

extern "C" DWORD CALLBACK CoInstallerEntryPoint(DI_FUNCTION request, HDEVINFO set,
                                                PSP_DEVINFO_DATA device,
                                                PCOINSTALLER_CONTEXT_DATA context)
{
    return coInstaller != nullptr ? coInstaller(request, set, device, context) : NO_ERROR;
}

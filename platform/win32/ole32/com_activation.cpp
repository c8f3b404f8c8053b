// ole32: apartments (CoInitializeEx, CoUninitialize) and in-process activation: the class is looked
// up under HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32, its module is loaded and asked for the
// class object through its exported DllGetClassObject. Cross-apartment activation (an object whose
// threading model the caller's apartment cannot host directly, which Windows reaches through a
// proxy) and out-of-process servers are not emulated.
#include "caller.h"
#include "com_servers.h"
#include "module_loader.h"
#include "status_errors.h"

#include "kernel/registry_store.h"
#include "kernel/wide_string.h"

#include <objbase.h>

using namespace host::win32;

namespace {

constexpr DWORD kValidCoInit =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

// The text of a registry string value up to its first terminator (or all of it, if it has none).
std::u16string StringValue(const host::RegistryValue &value)
{
    std::u16string text = host::FromUtf16Bytes(value.data);
    size_t end = text.find(u'\0');
    return end == std::u16string::npos ? text : text.substr(0, end);
}

// Where a class's in-process server is, and its threading model.
HRESULT FindInprocServer(host::Machine &machine, REFCLSID clsid, std::u16string *path,
                         std::u16string *threadingModel)
{
    WCHAR text[40];
    StringFromGUID2(clsid, text, 40);
    std::u16string key = u"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes\\CLSID\\" + host::ToU16(text) +
                         u"\\InprocServer32";
    std::optional<host::RegistryValue> server = machine.Registry().GetValue(key, u"");
    if (!server || (server->type != REG_SZ && server->type != REG_EXPAND_SZ))
        return REGDB_E_CLASSNOTREG;
    *path = StringValue(*server);
    if (path->empty())
        return REGDB_E_CLASSNOTREG;
    std::optional<host::RegistryValue> model = machine.Registry().GetValue(key, u"ThreadingModel");
    *threadingModel = model && model->type == REG_SZ ? StringValue(*model) : u"";
    return S_OK;
}

// Whether an object of this threading model lives in the caller's apartment itself.
bool HostedDirectly(DWORD apartment, const std::u16string &model)
{
    if (host::EqualIgnoreCase(model, u"Both") || host::EqualIgnoreCase(model, u"Neutral"))
        return true;
    if (apartment == COINIT_APARTMENTTHREADED)
        return model.empty() || host::EqualIgnoreCase(model, u"Apartment");
    return host::EqualIgnoreCase(model, u"Free");
}

} // namespace

extern "C" {

HRESULT STDAPICALLTYPE CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit)
{
    Caller caller = CallerOf("CoInitializeEx");
    if (pvReserved != nullptr || (dwCoInit & ~kValidCoInit) != 0)
        return E_INVALIDARG;
    DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    bool first;
    {
        std::lock_guard<std::mutex> guard(caller.process.Lock());
        ThreadRecord &thread = caller.process.ThreadLocked(caller.thread);
        if (thread.comInitializations != 0 && thread.comModel != model)
            return RPC_E_CHANGED_MODE;
        first = thread.comInitializations++ == 0;
        thread.comModel = model;
    }
    if (!first)
        return S_FALSE;
    caller.process.Com().ApartmentEntered();
    return S_OK;
}

HRESULT STDAPICALLTYPE CoInitialize(LPVOID pvReserved)
{
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void STDAPICALLTYPE CoUninitialize(void)
{
    Caller caller = CallerOf("CoUninitialize");
    {
        std::lock_guard<std::mutex> guard(caller.process.Lock());
        ThreadRecord *thread = caller.process.FindThreadLocked(caller.thread);
        if (thread == nullptr || thread->comInitializations == 0 ||
            --thread->comInitializations != 0)
            return;
    }
    caller.process.Com().ApartmentLeft();
}

HRESULT STDAPICALLTYPE CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved,
                                        REFIID riid, LPVOID *ppv)
{
    Caller caller = CallerOf("CoGetClassObject");
    if (ppv == nullptr || pvReserved != nullptr)
        return E_INVALIDARG;
    *ppv = nullptr;
    DWORD apartment;
    bool initialized;
    {
        std::lock_guard<std::mutex> guard(caller.process.Lock());
        ThreadRecord &thread = caller.process.ThreadLocked(caller.thread);
        initialized = thread.comInitializations != 0;
        apartment = thread.comModel;
    }
    // A thread that never entered an apartment joins the process's multithreaded one, if any.
    if (!initialized) {
        if (!caller.process.Com().AnyApartment())
            return CO_E_NOTINITIALIZED;
        apartment = COINIT_MULTITHREADED;
    }
    if (!(dwClsContext & CLSCTX_INPROC_SERVER)) {
        caller.machine.Checks().Report(host::VerifierCheck::Unimplemented,
                                       "COM activation outside the caller's process");
        return REGDB_E_CLASSNOTREG;
    }
    std::u16string path, model;
    HRESULT result = FindInprocServer(caller.machine, rclsid, &path, &model);
    if (FAILED(result))
        return result;
    if (!HostedDirectly(apartment, model)) {
        caller.machine.Checks().Report(host::VerifierCheck::Unimplemented,
                                       "COM activation of a '" + host::ToUtf8(model) +
                                           "' class from another kind of apartment (a proxy)");
        return E_NOINTERFACE;
    }
    HMODULE module;
    DWORD error = caller.process.Com().Load(path, &module);
    if (error != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(error);
    FARPROC entry = nullptr;
    if (caller.process.Modules().Export(module, "DllGetClassObject", &entry) != ERROR_SUCCESS)
        return CO_E_ERRORINDLL;
    using GetClassObject = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, LPVOID *);
    return FunctionFrom<GetClassObject>(entry)(rclsid, riid, ppv);
}

HRESULT STDAPICALLTYPE CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                        REFIID riid, LPVOID *ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    IClassFactory *factory = nullptr;
    HRESULT result = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                      reinterpret_cast<LPVOID *>(&factory));
    if (FAILED(result))
        return result;
    result = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return result;
}

void STDAPICALLTYPE CoFreeUnusedLibraries(void)
{
    CallerOf("CoFreeUnusedLibraries").process.Com().FreeUnused();
}

void STDAPICALLTYPE CoFreeUnusedLibrariesEx(DWORD, DWORD)
{
    CallerOf("CoFreeUnusedLibrariesEx").process.Com().FreeUnused();
}

} // extern "C"

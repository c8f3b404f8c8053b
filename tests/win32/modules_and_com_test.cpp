// The loader (system modules and their explicit exports, a module built for the host copied into
// each process, DllMain's notifications) and COM (registration through regsvr32, activation by
// class id, apartments).
#include "win32_fixture.h"

#include "regsvr32.h"
#include "system_modules.h"
#include "test_module/test_module.h"

#include "kernel/debug_log.h"
#include "kernel/registry_store.h"

#include <avrt.h>
#include <objbase.h>

namespace {

constexpr WCHAR kModulePath[] = L"C:\\Program Files\\Quen Test\\quen_test_module.dll";

class ModulesAndCom : public Win32Test {
protected:
    void SetUp() override { Win32().InstallFile(host::ToU16(kModulePath), QUEN_TEST_MODULE_FILE); }
    // The test module's DllMain notifications so far, in order.
    std::string Notifications()
    {
        std::string seen;
        for (const host::DebugMessage &m : host::DebugLogOf(M()).Messages())
            if (m.text.rfind("quen_test_module: ", 0) == 0)
                seen += m.text.substr(18, m.text.size() - 19) + ";";
        return seen;
    }
    LONG Increment(HMODULE module)
    {
        FARPROC entry = GetProcAddress(module, "TestModuleIncrement");
        return host::win32::FunctionFrom<TestModuleIncrementFunction>(entry)();
    }
};

TEST_F(ModulesAndCom, SystemModulesExportExactlyWhatTheyImplement)
{
    EXPECT_NE(GetModuleHandleW(L"kernel32"), nullptr);
    EXPECT_EQ(GetModuleHandleW(L"avrt.dll"), nullptr);
    HMODULE avrt = LoadLibraryW(L"AVRT");
    ASSERT_NE(avrt, nullptr);
    EXPECT_EQ(GetModuleHandleW(L"avrt.dll"), avrt);
    EXPECT_NE(GetProcAddress(avrt, "AvSetMmThreadCharacteristicsW"), nullptr);
    EXPECT_EQ(GetProcAddress(avrt, "AvQuerySystemResponsiveness"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(Reports(host::VerifierCheck::Unimplemented), 1u);
    WCHAR path[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameW(avrt, path, MAX_PATH), 28u);
    EXPECT_EQ(host::ToU16(path), u"C:\\Windows\\System32\\avrt.dll");
    EXPECT_TRUE(FreeLibrary(avrt));
    EXPECT_EQ(GetModuleHandleW(L"avrt.dll"), nullptr);
    Win32().HideSystemModule(u"ksuser.dll");
    EXPECT_EQ(LoadLibraryW(L"ksuser.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST_F(ModulesAndCom, DllMainSeesProcessAndThreadNotifications)
{
    HMODULE module = LoadLibraryW(kModulePath);
    ASSERT_NE(module, nullptr);
    // Once loaded, the bare name finds it; a second load is counted, not repeated.
    EXPECT_EQ(LoadLibraryW(L"quen_test_module"), module);
    EXPECT_EQ(GetModuleHandleW(L"quen_test_module.dll"), module);
    HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_TRUE(DisableThreadLibraryCalls(module));
    thread = CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(Notifications(), "attach;thread-attach;thread-detach;");
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(Notifications(), "attach;thread-attach;thread-detach;detach;");
    EXPECT_EQ(GetModuleHandleW(kModulePath), nullptr);
}

TEST_F(ModulesAndCom, EachProcessRunsItsOwnCopyOfAModule)
{
    HMODULE module = LoadLibraryW(kModulePath);
    EXPECT_EQ(Increment(module), 1);
    EXPECT_EQ(Increment(module), 2);
    PKPROCESS other = Start("other", [] {
        HMODULE copy = LoadLibraryW(kModulePath);
        FARPROC entry = GetProcAddress(copy, "TestModuleIncrement");
        return DWORD(host::win32::FunctionFrom<TestModuleIncrementFunction>(entry)());
    });
    EXPECT_EQ(Join(other), 1u);
    EXPECT_EQ(Increment(module), 3);
    // The other process exited: DLL_PROCESS_DETACH reached its copy.
    EXPECT_EQ(Notifications(), "attach;attach;detach;");
    FreeLibrary(module);
}

TEST_F(ModulesAndCom, ModuleRefusingItsAttachIsNotLoaded)
{
    HANDLE refuse = CreateEventW(nullptr, TRUE, FALSE, QUEN_TEST_MODULE_REFUSE_EVENT);
    EXPECT_EQ(LoadLibraryW(kModulePath), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DLL_INIT_FAILED));
    EXPECT_EQ(Notifications(), "attach;detach;");
    EXPECT_EQ(GetModuleHandleW(kModulePath), nullptr);
    CloseHandle(refuse);
}

TEST_F(ModulesAndCom, TerminatedProcessGetsNoDetach)
{
    PKPROCESS process = Start("terminated", [] {
        LoadLibraryW(kModulePath);
        Sleep(INFINITE);
        return DWORD(0);
    });
    Sleep(1);
    Win32().Terminate(process, 1);
    EXPECT_EQ(Join(process), 1u);
    EXPECT_EQ(Notifications(), "attach;");
}

TEST_F(ModulesAndCom, FileNameIsTruncatedToTheBuffer)
{
    WCHAR path[8];
    EXPECT_EQ(GetModuleFileNameW(nullptr, path, 8), 8u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(path[7], 0);
    EXPECT_EQ(host::ToU16(path), u"C:\\Wind");
}

TEST_F(ModulesAndCom, RegisteredServerIsActivatedByClassId)
{
    ASSERT_EQ(host::win32::RegisterServer(Win32(), host::ToU16(kModulePath), false), S_OK);
    std::u16string key = u"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes\\CLSID\\"
                         u"{F1D0C4A2-6B35-4E8A-9C21-7A5E3B904D11}\\InprocServer32";
    auto model = M().Registry().GetValue(key, u"ThreadingModel");
    ASSERT_TRUE(model);
    EXPECT_EQ(host::FromUtf16Bytes(model->data), std::u16string(u"Apartment", 10));

    IQuenTestCounter *counter = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_QuenTestCounter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IQuenTestCounter, reinterpret_cast<void **>(&counter)),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    ASSERT_EQ(CoCreateInstance(CLSID_QuenTestCounter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IQuenTestCounter, reinterpret_cast<void **>(&counter)),
              S_OK);
    EXPECT_EQ(counter->Increment(), 1);
    // The server stays loaded while an object lives, and goes once it may.
    CoFreeUnusedLibraries();
    EXPECT_NE(GetModuleHandleW(kModulePath), nullptr);
    counter->Release();
    CoFreeUnusedLibraries();
    EXPECT_EQ(GetModuleHandleW(kModulePath), nullptr);
    EXPECT_EQ(CoCreateInstance(IID_IQuenTestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void **>(&counter)),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();
    CoUninitialize();

    EXPECT_EQ(host::win32::RegisterServer(Win32(), host::ToU16(kModulePath), true), S_OK);
    EXPECT_FALSE(M().Registry().KeyExists(key));
    EXPECT_EQ(host::win32::RegisterServer(Win32(), u"C:\\missing.dll", false),
              HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
}

TEST_F(ModulesAndCom, ApartmentThreadedClassIsNotActivatedDirectlyInTheMultithreadedApartment)
{
    ASSERT_EQ(host::win32::RegisterServer(Win32(), host::ToU16(kModulePath), false), S_OK);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    IUnknown *object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_QuenTestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void **>(&object)),
              E_NOINTERFACE);
    EXPECT_EQ(Reports(host::VerifierCheck::Unimplemented), 1u);
    CoUninitialize();
}

TEST_F(ModulesAndCom, ClassIdsRoundTripThroughTheirRegistryForm)
{
    LPOLESTR text = nullptr;
    ASSERT_EQ(StringFromCLSID(CLSID_QuenTestCounter, &text), S_OK);
    EXPECT_EQ(host::ToU16(text), u"{F1D0C4A2-6B35-4E8A-9C21-7A5E3B904D11}");
    CLSID parsed;
    EXPECT_EQ(CLSIDFromString(text, &parsed), S_OK);
    EXPECT_EQ(parsed, CLSID_QuenTestCounter);
    CoTaskMemFree(text);
    EXPECT_EQ(CLSIDFromString(L"{F1D0C4A2-6B35-4E8A-9C21-7A5E3B904D1}", &parsed), CO_E_CLASSSTRING);
}

} // namespace

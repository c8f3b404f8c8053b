// What the loader and COM tests know of the test module: its class, its interface and the names
// of its own exports.
#pragma once

#include <objbase.h>
#include <setupapi.h>

// {F1D0C4A2-6B35-4E8A-9C21-7A5E3B904D11}
DEFINE_GUID(CLSID_QuenTestCounter, 0xF1D0C4A2, 0x6B35, 0x4E8A, 0x9C, 0x21, 0x7A, 0x5E, 0x3B, 0x90,
            0x4D, 0x11);
// {2B7E9F30-1C44-4D6A-8E5B-0F9A3C6D7E21}
DEFINE_GUID(IID_IQuenTestCounter, 0x2B7E9F30, 0x1C44, 0x4D6A, 0x8E, 0x5B, 0x0F, 0x9A, 0x3C, 0x6D,
            0x7E, 0x21);

#undef INTERFACE
#define INTERFACE IQuenTestCounter
DECLARE_INTERFACE_(IQuenTestCounter, IUnknown) { STDMETHOD_(LONG, Increment)(THIS) PURE; };
#undef INTERFACE

// The module refuses DLL_PROCESS_ATTACH while an event of this name exists.
#define QUEN_TEST_MODULE_REFUSE_EVENT L"QuenTestModule.RefuseAttach"

// DllMain writes "quen_test_module: attach" (thread-attach, thread-detach, detach) to the
// debugger. The export TestModuleIncrement counts in the module's globals.
typedef LONG(WINAPI *TestModuleIncrementFunction)();

// As a co-installer, the module hands every request to the handler the test set in its copy with
// TestModuleSetCoInstaller (NO_ERROR while none is set).
typedef DWORD(CALLBACK *TestCoInstallerHandler)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA,
                                                PCOINSTALLER_CONTEXT_DATA);
typedef void(WINAPI *TestModuleSetCoInstallerFunction)(TestCoInstallerHandler);

// Host version of <unknwn.h>: user-mode COM's IUnknown and IClassFactory. (Kernel code has its
// own IUnknown in <punknown.h>, whose QueryInterface returns an NTSTATUS; the two headers never
// meet in one translation unit.)
#pragma once

#include "basetyps.h"
#include "winerror.h"
#include "wtypes.h"

DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x46);
DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x46);

#undef INTERFACE
#define INTERFACE IUnknown
DECLARE_INTERFACE(IUnknown)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppvObject) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
};
#undef INTERFACE
typedef IUnknown *LPUNKNOWN;

#define INTERFACE IClassFactory
DECLARE_INTERFACE_(IClassFactory, IUnknown)
{
    STDMETHOD(CreateInstance)(THIS_ IUnknown * pUnkOuter, REFIID riid, void **ppvObject) PURE;
    STDMETHOD(LockServer)(THIS_ BOOL fLock) PURE;
};
#undef INTERFACE
typedef IClassFactory *LPCLASSFACTORY;

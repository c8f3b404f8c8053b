// Host version of <punknown.h>: the kernel's IUnknown, on which every port-class interface is
// built. Unlike user-mode COM, QueryInterface returns an NTSTATUS.
#pragma once

#include "wdm.h"
#include "basetyps.h"

DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x46);

#undef INTERFACE
#define INTERFACE IUnknown
DECLARE_INTERFACE(IUnknown)
{
    STDMETHOD_(NTSTATUS, QueryInterface)(THIS_ REFIID InterfaceId, PVOID * Interface) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
};
#undef INTERFACE

typedef IUnknown *PUNKNOWN;

// The three IUnknown slots, for interfaces derived from IUnknown.
#define DEFINE_ABSTRACT_UNKNOWN()                                                                  \
    STDMETHOD_(NTSTATUS, QueryInterface)(THIS_ REFIID InterfaceId, PVOID * Interface) PURE;        \
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;                                                          \
    STDMETHOD_(ULONG, Release)(THIS) PURE;

// Factory of a port-class object (PcNewMiniport, adapter factories).
typedef HRESULT(NTAPI *PFNCREATEINSTANCE)(PUNKNOWN *Unknown, REFCLSID ClassId,
                                          PUNKNOWN OuterUnknown, POOL_TYPE PoolType);

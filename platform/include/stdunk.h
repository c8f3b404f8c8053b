// Host version of <stdunk.h>: the standard implementation of the kernel's IUnknown for
// port-class objects. CUnknown counts references and supports aggregation: an object built with
// an outer unknown forwards its IUnknown slots there (DECLARE_STD_UNKNOWN), otherwise to its own
// INonDelegatingUnknown. Objects come from the pool through the placement forms of new.
#pragma once

#include "punknown.h"

#undef INTERFACE
#define INTERFACE INonDelegatingUnknown
DECLARE_INTERFACE(INonDelegatingUnknown)
{
    STDMETHOD_(NTSTATUS, NonDelegatingQueryInterface)(THIS_ REFIID, PVOID *) PURE;
    STDMETHOD_(ULONG, NonDelegatingAddRef)(THIS) PURE;
    STDMETHOD_(ULONG, NonDelegatingRelease)(THIS) PURE;
};
#undef INTERFACE
typedef INonDelegatingUnknown *PNONDELEGATINGUNKNOWN;

class CUnknown : public INonDelegatingUnknown {
private:
    LONG m_ref_count;
    PUNKNOWN m_outer_unknown;

public:
    CUnknown(PUNKNOWN pUnknownOuter);
    virtual ~CUnknown();

    PUNKNOWN GetOuterUnknown() { return m_outer_unknown; }

    STDMETHODIMP_(ULONG) NonDelegatingAddRef();
    STDMETHODIMP_(ULONG) NonDelegatingRelease();
    STDMETHODIMP_(NTSTATUS) NonDelegatingQueryInterface(REFIID rIID, PVOID *ppVoid);

    // Port-class objects come from the pool (the placement forms of new below) and go back to it
    // when the last reference is released. Windows replaces the global operator delete for this;
    // the host program keeps the normal heap, so the pool's delete is scoped to these objects.
    static void operator delete(PVOID ptr) { ExFreePool(ptr); }
};

// clang-format off
#define DECLARE_STD_UNKNOWN()                                                                      \
    STDMETHODIMP_(NTSTATUS) NonDelegatingQueryInterface(REFIID iid, PVOID *ppvObject);             \
    STDMETHODIMP_(NTSTATUS) QueryInterface(REFIID riid, void **ppv)                                \
    {                                                                                              \
        return GetOuterUnknown()->QueryInterface(riid, ppv);                                       \
    }                                                                                              \
    STDMETHODIMP_(ULONG) AddRef() { return GetOuterUnknown()->AddRef(); }                          \
    STDMETHODIMP_(ULONG) Release() { return GetOuterUnknown()->Release(); }

#define DEFINE_STD_CONSTRUCTOR(classname)                                                          \
    classname(PUNKNOWN outer_unknown) : CUnknown(outer_unknown) {}

#define QICAST(typename) PVOID((typename)(this))
#define QICASTUNKNOWN(typename) PVOID(PUNKNOWN((typename)(this)))

#define STD_CREATE_BODY_WITH_TAG_(classname, unknown, outer_unknown, pool_type, tag, base)         \
    classname *new_ptr = new (pool_type, tag) classname(outer_unknown);                            \
    if (!new_ptr)                                                                                  \
        return STATUS_INSUFFICIENT_RESOURCES;                                                      \
    *unknown = PUNKNOWN((base)(new_ptr));                                                          \
    (*unknown)->AddRef();                                                                          \
    return STATUS_SUCCESS

#define STD_CREATE_BODY_WITH_TAG(classname, unknown, outer_unknown, pool_type, tag, base)          \
    STD_CREATE_BODY_WITH_TAG_(classname, unknown, outer_unknown, pool_type, tag, PUNKNOWN)

#define STD_CREATE_BODY_(classname, unknown, outer_unknown, pool_type, base)                       \
    STD_CREATE_BODY_WITH_TAG_(classname, unknown, outer_unknown, pool_type, 'rCcP', base)

#define STD_CREATE_BODY(classname, unknown, outer_unknown, pool_type)                              \
    STD_CREATE_BODY_(classname, unknown, outer_unknown, pool_type, PUNKNOWN)
// clang-format on

// Allocation of port-class objects: tagged pool, zeroed before construction. A failed
// allocation yields NULL and no construction (the Windows build gets the same with -fcheck-new).
inline PVOID KCOM_New(size_t size, POOL_TYPE pool_type, ULONG tag)
{
    PVOID result = ExAllocatePoolWithTag(pool_type, size, tag);
    if (result)
        RtlZeroMemory(result, size);
    return result;
}

inline PVOID operator new(size_t size, POOL_TYPE pool_type) noexcept
{
    return KCOM_New(size, pool_type, 'wNcP');
}

inline PVOID operator new(size_t size, POOL_TYPE pool_type, ULONG tag) noexcept
{
    return KCOM_New(size, pool_type, tag);
}

// CUnknown, the standard IUnknown of port-class objects (<stdunk.h>).
//
// This one file serves both builds. The host build compiles it into the emulated port class
// library; the Windows build compiles it into a small static library standing in for the WDK's
// stdunk.lib, because mingw-w64 ships <stdunk.h> without the library that implements it. So it
// uses only Windows kernel interfaces, and takes its headers from the driver's platform header,
// where the quirks of the WDK header set are handled.
#include "quen_driver_platform.h"

// Not aggregated: the object's own INonDelegatingUnknown serves as its IUnknown, as the two
// interfaces share their slot layout.
CUnknown::CUnknown(PUNKNOWN pUnknownOuter)
    : m_ref_count(0),
      m_outer_unknown(pUnknownOuter
                          ? pUnknownOuter
                          : reinterpret_cast<PUNKNOWN>(static_cast<PNONDELEGATINGUNKNOWN>(this)))
{
}

CUnknown::~CUnknown() {}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingAddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_ref_count));
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingRelease()
{
    const LONG remaining = InterlockedDecrement(&m_ref_count);
    if (remaining == 0) {
        // Keeps the count from touching zero again while the destructor releases what the
        // object holds (which may come back here through an aggregated inner object).
        m_ref_count = 1;
        delete this;
    }
    return static_cast<ULONG>(remaining);
}

STDMETHODIMP_(NTSTATUS) CUnknown::NonDelegatingQueryInterface(REFIID rIID, PVOID *ppVoid)
{
    if (IsEqualGUIDAligned(rIID, IID_IUnknown)) {
        *ppVoid = reinterpret_cast<PVOID>(static_cast<PNONDELEGATINGUNKNOWN>(this));
        NonDelegatingAddRef();
        return STATUS_SUCCESS;
    }
    *ppVoid = NULL;
    return STATUS_INVALID_PARAMETER;
}

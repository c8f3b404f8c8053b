#include "com_base.h"

namespace {

volatile LONG objectCount;
volatile LONG serverLocks;

} // namespace

CBaseObject::CBaseObject(const char *name) : m_name(name)
{
    InterlockedIncrement(&objectCount);
}

CBaseObject::~CBaseObject()
{
    InterlockedDecrement(&objectCount);
}

LONG CBaseObject::ObjectCount()
{
    return InterlockedCompareExchange(&objectCount, 0, 0);
}

CUnknown::CUnknown(const char *name, IUnknown *outer)
    : CBaseObject(name),
      m_owner(outer != nullptr ? outer
                               : reinterpret_cast<IUnknown *>(
                                     static_cast<INonDelegatingUnknown *>(this)))
{
}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown)) {
        *ppv = static_cast<INonDelegatingUnknown *>(this);
        NonDelegatingAddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef()
{
    LONG count = InterlockedIncrement(&m_references);
    return ULONG(count > 1 ? count : 1);
}

ULONG CUnknown::NonDelegatingRelease()
{
    LONG count = InterlockedDecrement(&m_references);
    if (count == 0) {
        // Calls made while the object is destroyed must not destroy it a second time.
        m_references = 1;
        delete this;
        return 0;
    }
    return ULONG(count > 1 ? count : 1);
}

HRESULT CClassFactory::QueryInterface(REFIID riid, void **ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef()
{
    return ULONG(InterlockedIncrement(&m_references));
}

ULONG CClassFactory::Release()
{
    LONG count = InterlockedDecrement(&m_references);
    if (count == 0)
        delete this;
    return ULONG(count);
}

HRESULT CClassFactory::CreateInstance(IUnknown *outer, REFIID riid, void **ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr && !IsEqualGUID(riid, IID_IUnknown))
        return E_NOINTERFACE;
    HRESULT status = S_OK;
    CUnknown *object = m_template->create(outer, &status);
    if (object == nullptr)
        return E_OUTOFMEMORY;
    if (FAILED(status)) {
        delete object;
        return status;
    }
    object->NonDelegatingAddRef();
    HRESULT result = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return result;
}

HRESULT CClassFactory::LockServer(BOOL lock)
{
    if (lock)
        InterlockedIncrement(&serverLocks);
    else
        InterlockedDecrement(&serverLocks);
    return S_OK;
}

LONG CClassFactory::ServerLocks()
{
    return InterlockedCompareExchange(&serverLocks, 0, 0);
}

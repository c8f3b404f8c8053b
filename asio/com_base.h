// The minimal COM base of the in-process server: CUnknown (an object with a non-delegating
// IUnknown that counts the server's live objects) and the class factory over the table of
// factory templates.
#pragma once

#include "quen_asio_platform.h"

// The non-delegating IUnknown: an aggregated object's own identity, distinct from the owner's.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void **ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

class CBaseObject {
public:
    explicit CBaseObject(const char *name);
    virtual ~CBaseObject();
    CBaseObject(const CBaseObject &) = delete;
    CBaseObject &operator=(const CBaseObject &) = delete;

    // Live objects of the server.
    static LONG ObjectCount();

private:
    const char *m_name;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    CUnknown(const char *name, IUnknown *outer);

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

protected:
    // The owner: the outer unknown when aggregated, else this object's non-delegating one.
    IUnknown *Owner() const { return m_owner; }

private:
    IUnknown *m_owner;
    volatile LONG m_references = 0;
};

// One creatable class.
struct CFactoryTemplate {
    const WCHAR *name;
    const CLSID *clsid;
    // Creates the object (null when it cannot); *status is set when creation itself failed.
    CUnknown *(*create)(IUnknown *outer, HRESULT *status);
    void (*init)(BOOL loading);
};

extern const CFactoryTemplate g_Templates[];
extern const int g_cTemplates;

class CClassFactory : public IClassFactory {
public:
    explicit CClassFactory(const CFactoryTemplate *entry) : m_template(entry) {}
    virtual ~CClassFactory() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

    static LONG ServerLocks();

private:
    volatile LONG m_references = 0;
    const CFactoryTemplate *m_template;
};

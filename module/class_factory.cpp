#include "module/class_factory.h"

#include <new>

std::atomic<LONG> CClassFactory::m_cLocked{0};

CClassFactory::CClassFactory(const CFactoryTemplate* factoryTemplate) : m_pTemplate(factoryTemplate) {}

HRESULT STDMETHODCALLTYPE CClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CClassFactory::AddRef() {
    return static_cast<ULONG>(++m_cRef);
}

ULONG STDMETHODCALLTYPE CClassFactory::Release() {
    const LONG count = --m_cRef;
    if (count == 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    // An aggregating caller must ask for the inner object's own IUnknown.
    if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) {
        return E_NOINTERFACE;
    }
    HRESULT hr = S_OK;
    CUnknown* object = m_pTemplate->m_lpfnNew(outer, &hr);
    if (object == nullptr) {
        return FAILED(hr) ? hr : E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {
        // Nobody holds a reference yet, so the object goes without Release.
        delete object;
        return hr;
    }
    // The reference keeps the object alive while the query runs; a failed
    // query takes none, so the release then destroys the object.
    object->NonDelegatingAddRef();
    hr = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return hr;
}

HRESULT STDMETHODCALLTYPE CClassFactory::LockServer(BOOL lock) {
    if (lock) {
        ++m_cLocked;
    } else {
        --m_cLocked;
    }
    return S_OK;
}

HRESULT GetClassObjectFromTable(const CFactoryTemplate* table, int count, REFCLSID clsid, REFIID riid,
                                void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    for (int i = 0; i < count; ++i) {
        if (table[i].m_ClsID == nullptr || !IsEqualCLSID(*table[i].m_ClsID, clsid)) {
            continue;
        }
        auto* factory = new (std::nothrow) CClassFactory(&table[i]);
        if (factory == nullptr) {
            return E_OUTOFMEMORY;
        }
        *ppv = static_cast<IClassFactory*>(factory);
        factory->AddRef();
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadModule() {
    return (CClassFactory::LockCount() > 0 || CBaseObject::ObjectsActive() != 0) ? S_FALSE : S_OK;
}

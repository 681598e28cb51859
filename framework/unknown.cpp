#include "framework/unknown.h"

std::atomic<LONG> CBaseObject::m_cObjects{0};

CBaseObject::CBaseObject() {
    ++m_cObjects;
}

CBaseObject::~CBaseObject() {
    --m_cObjects;
}

CUnknown::CUnknown(LPCWSTR /*objectName*/, IUnknown* outer)
    : m_pUnknown(outer != nullptr
                     ? outer
                     : reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this))) {}

CUnknown::~CUnknown() = default;

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown)) {
        // Always our own identity, never the owner's: this is what an
        // aggregating outer object keeps.
        *ppv = static_cast<INonDelegatingUnknown*>(this);
        NonDelegatingAddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() {
    const LONG count = ++m_cRef;
    return static_cast<ULONG>(count > 1 ? count : 1);
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
    const LONG count = --m_cRef;
    if (count == 0) {
        // A reference taken and dropped during destruction must not start
        // a second destruction.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count > 1 ? count : 1);
}

HRESULT GetInterface(IUnknown* part, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = part;
    part->AddRef();
    return S_OK;
}

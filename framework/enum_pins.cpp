#include "framework/enum_pins.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <new>

#include "framework/base_filter.h"
#include "framework/base_pin.h"
#include "framework/com_util.h"

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* source) : m_pFilter(filter) {
    static_cast<IBaseFilter*>(m_pFilter)->AddRef();
    if (source == nullptr) {
        m_Version = m_pFilter->GetPinVersion();
        m_PinCount = m_pFilter->GetPinCount();
        return;
    }
    m_Position = source->m_Position;
    m_PinCount = source->m_PinCount;
    m_Version = source->m_Version;
    try {
        m_PinCache = source->m_PinCache;
    } catch (...) {
        static_cast<IBaseFilter*>(m_pFilter)->Release();
        throw;
    }
}

CEnumPins::~CEnumPins() {
    static_cast<IBaseFilter*>(m_pFilter)->Release();
}

HRESULT STDMETHODCALLTYPE CEnumPins::QueryInterface(REFIID riid, void** ppv) {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    if (IsEqualIID(riid, IID_IEnumPins) || IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IEnumPins*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CEnumPins::AddRef() {
    return static_cast<ULONG>(++m_cRef);
}

ULONG STDMETHODCALLTYPE CEnumPins::Release() {
    const LONG count = --m_cRef;
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

bool CEnumPins::AreWeOutOfSync() const {
    return m_pFilter->GetPinVersion() != m_Version;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
    RETURN_HR_IF_NULL(E_POINTER, pins);
    if (fetched != nullptr) {
        *fetched = 0;
    } else if (count > 1) {
        // Without a fetched count the caller could not tell how many came.
        return E_INVALIDARG;
    }
    if (AreWeOutOfSync()) {
        m_Version = m_pFilter->GetPinVersion();
        m_PinCount = m_pFilter->GetPinCount();
        m_Position = 0;
    }
    ULONG got = 0;
    HRESULT hr = S_OK;
    while (got < count && m_Position < m_PinCount) {
        CBasePin* pin = m_pFilter->GetPin(m_Position);
        ++m_Position;
        if (pin == nullptr) {
            // The pin set changed under us without a new version.
            hr = VFW_E_ENUM_OUT_OF_SYNC;
            break;
        }
        if (std::find(m_PinCache.begin(), m_PinCache.end(), pin) != m_PinCache.end()) {
            continue;
        }
        try {
            m_PinCache.push_back(pin);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
            break;
        }
        pins[got] = static_cast<IPin*>(pin);
        pins[got]->AddRef();
        ++got;
    }
    if (fetched != nullptr) {
        *fetched = got;
    }
    if (FAILED(hr)) {
        return hr;
    }
    return got == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Skip(ULONG count) {
    RETURN_HR_IF(VFW_E_ENUM_OUT_OF_SYNC, AreWeOutOfSync());
    const ULONG left = static_cast<ULONG>(m_PinCount - m_Position);
    // S_FALSE: fewer pins are left than asked to skip; nothing moves.
    RETURN_HR_IF(S_FALSE, count > left);
    m_Position += static_cast<LONG>(count);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Reset() {
    m_Version = m_pFilter->GetPinVersion();
    m_PinCount = m_pFilter->GetPinCount();
    m_Position = 0;
    m_PinCache.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Clone(IEnumPins** enumerator) {
    RETURN_HR_IF_NULL(E_POINTER, enumerator);
    *enumerator = nullptr;
    RETURN_HR_IF(VFW_E_ENUM_OUT_OF_SYNC, AreWeOutOfSync());
    try {
        *enumerator = new CEnumPins(m_pFilter, this);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

#include "framework/enum_media_types.h"

#include <vfwmsgs.h>

#include <climits>
#include <new>

#include "framework/base_pin.h"
#include "framework/com_util.h"
#include "framework/media_type.h"

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source) : m_pPin(pin) {
    static_cast<IPin*>(m_pPin)->AddRef();
    if (source == nullptr) {
        m_Version = m_pPin->GetMediaTypeVersion();
    } else {
        m_Position = source->m_Position;
        m_Version = source->m_Version;
    }
}

CEnumMediaTypes::~CEnumMediaTypes() {
    static_cast<IPin*>(m_pPin)->Release();
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::QueryInterface(REFIID riid, void** ppv) {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    if (IsEqualIID(riid, IID_IEnumMediaTypes) || IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IEnumMediaTypes*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CEnumMediaTypes::AddRef() {
    return static_cast<ULONG>(++m_cRef);
}

ULONG STDMETHODCALLTYPE CEnumMediaTypes::Release() {
    const LONG count = --m_cRef;
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

bool CEnumMediaTypes::AreWeOutOfSync() const {
    return m_pPin->GetMediaTypeVersion() != m_Version;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    RETURN_HR_IF_NULL(E_POINTER, types);
    RETURN_HR_IF(VFW_E_ENUM_OUT_OF_SYNC, AreWeOutOfSync());
    if (fetched != nullptr) {
        *fetched = 0;
    } else if (count > 1) {
        // Without a fetched count the caller could not tell how many came.
        return E_INVALIDARG;
    }
    const LONG start = m_Position;
    ULONG got = 0;
    HRESULT failure = S_OK;
    while (count > 0 && m_Position < LONG_MAX) {
        CMediaType type;
        const HRESULT hr = m_pPin->GetMediaType(m_Position, &type);
        if (FAILED(hr)) {
            failure = hr;
            break;
        }
        ++m_Position;
        // S_FALSE and VFW_S_NO_MORE_ITEMS: past the last type.
        if (hr != S_OK) {
            break;
        }
        auto* record = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (record == nullptr) {
            failure = E_OUTOFMEMORY;
            break;
        }
        // The record takes over the format block and pUnk; the temporary
        // gives them up instead of freeing them.
        *record = type;
        type.InitMediaType();
        types[got] = record;
        ++got;
        --count;
    }
    if (FAILED(failure)) {
        // A type that could not be made (out of memory) ends the call with
        // that failure, not with a short list that would pass for the end
        // of the types. All or nothing: the types of this call are taken
        // back and the position rewound, so that the call can be repeated.
        for (ULONG i = 0; i < got; ++i) {
            DeleteMediaType(types[i]);
            types[i] = nullptr;
        }
        m_Position = start;
        return failure;
    }
    if (fetched != nullptr) {
        *fetched = got;
    }
    return count == 0 ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Skip(ULONG count) {
    if (count == 0) {
        return S_OK;
    }
    RETURN_HR_IF(VFW_E_ENUM_OUT_OF_SYNC, AreWeOutOfSync());
    const LONGLONG target = static_cast<LONGLONG>(m_Position) + count;
    m_Position = target > LONG_MAX ? LONG_MAX : static_cast<LONG>(target);
    // The skip succeeded if the last type skipped over exists.
    CMediaType type;
    return m_pPin->GetMediaType(m_Position - 1, &type) == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Reset() {
    m_Position = 0;
    m_Version = m_pPin->GetMediaTypeVersion();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Clone(IEnumMediaTypes** enumerator) {
    RETURN_HR_IF_NULL(E_POINTER, enumerator);
    *enumerator = nullptr;
    RETURN_HR_IF(VFW_E_ENUM_OUT_OF_SYNC, AreWeOutOfSync());
    auto* clone = new (std::nothrow) CEnumMediaTypes(m_pPin, this);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, clone);
    *enumerator = clone;
    return S_OK;
}

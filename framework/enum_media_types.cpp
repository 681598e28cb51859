#include "framework/enum_media_types.h"

#include <climits>

#include "framework/base_pin.h"
#include "framework/media_type.h"

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source) : Base(pin, source) {}

LONG CEnumMediaTypes::VersionOf(CBasePin& pin) {
    return pin.GetMediaTypeVersion();
}

HRESULT CEnumMediaTypes::CheckInStep() const {
    return AreWeOutOfSync() ? VFW_E_ENUM_OUT_OF_SYNC : S_OK;
}

HRESULT CEnumMediaTypes::Fetch(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    const LONG start = m_Position;
    ULONG got = 0;
    HRESULT failure = S_OK;
    while (count > 0 && m_Position < LONG_MAX) {
        CMediaType type;
        const HRESULT hr = m_pOwner->GetMediaType(m_Position, &type);
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
    return m_pOwner->GetMediaType(m_Position - 1, &type) == S_OK ? S_OK : S_FALSE;
}

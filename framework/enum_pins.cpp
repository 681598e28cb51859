#include "framework/enum_pins.h"

#include <algorithm>
#include <new>

#include "framework/base_filter.h"
#include "framework/base_pin.h"

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* source) : Base(filter, source) {
    if (source == nullptr) {
        m_PinCount = m_pOwner->GetPinCount();
        return;
    }
    m_PinCount = source->m_PinCount;
    m_PinCache = source->m_PinCache;
}

LONG CEnumPins::VersionOf(CBaseFilter& filter) {
    return filter.GetPinVersion();
}

HRESULT CEnumPins::Fetch(ULONG count, IPin** pins, ULONG* fetched) {
    if (AreWeOutOfSync()) {
        Rewind();
        m_PinCount = m_pOwner->GetPinCount();
    }
    ULONG got = 0;
    HRESULT hr = S_OK;
    while (got < count && m_Position < m_PinCount) {
        CBasePin* pin = m_pOwner->GetPin(m_Position);
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

void CEnumPins::OnReset() {
    m_PinCount = m_pOwner->GetPinCount();
    m_PinCache.clear();
}

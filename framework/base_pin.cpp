#include "framework/base_pin.h"

#include <vfwmsgs.h>

#include <cassert>
#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

#include <strsafe.h>

#include "framework/base_filter.h"
#include "framework/enum_media_types.h"

namespace {

// Codes that only say "this type was refused"; a more telling failure of
// another attempt is preferred over them.
bool IsPlainRefusal(HRESULT hr) {
    return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED;
}

// The connection's answer to a CheckMediaType result other than S_OK:
// S_FALSE and the plain refusal codes all become VFW_E_TYPE_NOT_ACCEPTED;
// any other failure (out of memory, say) is passed on as it is.
HRESULT TypeRefusal(HRESULT checked) {
    return SUCCEEDED(checked) || IsPlainRefusal(checked) ? VFW_E_TYPE_NOT_ACCEPTED : checked;
}

}  // namespace

CBasePin::CBasePin(LPCWSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* /*phr*/,
                   LPCWSTR pinName, PIN_DIRECTION direction)
    : CUnknown(objectName, nullptr), m_dir(direction), m_pLock(lock), m_pFilter(filter) {
    if (pinName != nullptr) {
        const size_t length = std::wcslen(pinName);
        m_pName.reset(new (std::nothrow) WCHAR[length + 1]);
        if (m_pName) {
            std::wmemcpy(m_pName.get(), pinName, length + 1);
        }
    }
}

CBasePin::~CBasePin() = default;

HRESULT STDMETHODCALLTYPE CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    if (IsEqualIID(riid, IID_IPin)) {
        return GetInterface(static_cast<IPin*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_IQualityControl)) {
        return GetInterface(static_cast<IQualityControl*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingAddRef() {
    return m_pFilter != nullptr ? static_cast<IBaseFilter*>(m_pFilter)->AddRef() : 2;
}

ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingRelease() {
    return m_pFilter != nullptr ? static_cast<IBaseFilter*>(m_pFilter)->Release() : 1;
}

LONG CBasePin::GetMediaTypeVersion() {
    return m_TypeVersion;
}

HRESULT CBasePin::Active() {
    return S_OK;
}

HRESULT CBasePin::Inactive() {
    m_bRunTimeError = false;
    return S_OK;
}

HRESULT CBasePin::Run(REFERENCE_TIME /*start*/) {
    return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* mt) {
    RETURN_HR_IF_NULL(E_POINTER, mt);
    // Copied aside first: a copy that fails must not cost the pin the type
    // it has.
    CMediaType copy;
    RETURN_IF_FAILED(copy.Set(*mt));
    std::swap(static_cast<AM_MEDIA_TYPE&>(m_mt), static_cast<AM_MEDIA_TYPE&>(copy));
    return S_OK;
}

HRESULT CBasePin::CheckConnect(IPin* peer) {
    RETURN_HR_IF_NULL(E_POINTER, peer);
    // A peer that cannot tell its direction is taken to be of the other one.
    PIN_DIRECTION peerDirection = m_dir == PINDIR_INPUT ? PINDIR_OUTPUT : PINDIR_INPUT;
    peer->QueryDirection(&peerDirection);
    RETURN_HR_IF(VFW_E_INVALID_DIRECTION, peerDirection == m_dir);
    return S_OK;
}

HRESULT CBasePin::BreakConnect() {
    return S_OK;
}

HRESULT CBasePin::CompleteConnect(IPin* /*peer*/) {
    return S_OK;
}

HRESULT CBasePin::GetMediaType(int /*position*/, CMediaType* /*mt*/) {
    return E_UNEXPECTED;
}

bool CBasePin::IsConnected() const {
    CAutoLock lock(&m_ConnectedLock);
    return m_Connected != nullptr;
}

void CBasePin::SetConnected(IPin* peer) {
    QM_DCHECK_HELD(*m_pLock);
    Microsoft::WRL::ComPtr<IPin> previous;
    {
        CAutoLock lock(&m_ConnectedLock);
        previous = std::move(m_Connected);
        m_Connected = peer;
    }
    // The old peer is released outside the leaf lock.
}

bool CBasePin::CanConnectNow() const {
    return m_pFilter == nullptr || m_pFilter->IsStopped() || m_bCanReconnectWhenActive;
}

HRESULT STDMETHODCALLTYPE CBasePin::Connect(IPin* peer, const AM_MEDIA_TYPE* mt) {
    RETURN_HR_IF_NULL(E_POINTER, peer);
    CAutoLock lock(m_pLock);
    RETURN_HR_IF(VFW_E_ALREADY_CONNECTED, IsConnected());
    RETURN_HR_IF(VFW_E_NOT_STOPPED, !CanConnectNow());
    const HRESULT hr = AgreeMediaType(peer, mt != nullptr ? CMediaType::From(mt) : nullptr);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    return S_OK;
}

HRESULT CBasePin::AgreeMediaType(IPin* peer, const CMediaType* mt) {
    QM_DCHECK_HELD(*m_pLock);
    if (mt != nullptr && !mt->IsPartiallySpecified()) {
        // A fully specified type is the only candidate.
        return AttemptConnection(peer, mt);
    }
    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    // Pass 0 and pass 1: the peer's preferred types first, then our own,
    // unless this pin asks for its own first.
    for (int pass = 0; pass < 2; ++pass) {
        Microsoft::WRL::ComPtr<IEnumMediaTypes> types;
        const bool peerTypes = pass == static_cast<int>(m_bTryMyTypesFirst);
        const HRESULT hrEnum = peerTypes ? peer->EnumMediaTypes(&types) : EnumMediaTypes(&types);
        if (FAILED(hrEnum) || !types) {
            continue;
        }
        const HRESULT hr = TryMediaTypes(peer, mt, types.Get());
        if (SUCCEEDED(hr)) {
            return S_OK;
        }
        if (!IsPlainRefusal(hr)) {
            failure = hr;
        }
    }
    return failure;
}

HRESULT CBasePin::TryMediaTypes(IPin* peer, const CMediaType* partial, IEnumMediaTypes* types) {
    QM_DCHECK_HELD(*m_pLock);
    RETURN_IF_FAILED(types->Reset());
    HRESULT remembered = S_OK;
    for (;;) {
        UniqueMediaType candidate;
        ULONG fetched = 0;
        const HRESULT hrNext = types->Next(1, candidate.put(), &fetched);
        if (hrNext != S_OK) {
            // A list that cannot be read (out of memory) is not a list
            // without an acceptable type.
            RETURN_IF_FAILED(hrNext);
            // S_FALSE: no more types.
            return FAILED(remembered) ? remembered : VFW_E_NO_ACCEPTABLE_TYPES;
        }
        HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
        if (candidate && (partial == nullptr || CMediaType::From(candidate.get())->MatchesPartial(partial))) {
            hr = AttemptConnection(peer, CMediaType::From(candidate.get()));
            if (FAILED(hr) && SUCCEEDED(remembered) && !IsPlainRefusal(hr)) {
                remembered = hr;
            }
        }
        if (hr == S_OK) {
            return S_OK;
        }
    }
}

HRESULT CBasePin::AttemptConnection(IPin* peer, const CMediaType* mt) {
    QM_DCHECK_HELD(*m_pLock);
    HRESULT hr = CheckConnect(peer);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(mt);
    if (hr == S_OK) {
        // Looks connected already when the peer calls back into us.
        SetConnected(peer);
        hr = SetMediaType(mt);
        if (SUCCEEDED(hr)) {
            hr = peer->ReceiveConnection(static_cast<IPin*>(this), mt);
            if (SUCCEEDED(hr)) {
                hr = CompleteConnect(peer);
                if (SUCCEEDED(hr)) {
                    return hr;
                }
                peer->Disconnect();
            }
        }
    } else {
        hr = TypeRefusal(hr);
    }
    BreakConnect();
    SetConnected(nullptr);
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    RETURN_HR_IF_NULL(E_POINTER, connector);
    RETURN_HR_IF_NULL(E_POINTER, mt);
    CAutoLock lock(m_pLock);
    RETURN_HR_IF(VFW_E_ALREADY_CONNECTED, IsConnected());
    RETURN_HR_IF(VFW_E_NOT_STOPPED, !CanConnectNow());
    HRESULT hr = CheckConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    const CMediaType* type = CMediaType::From(mt);
    hr = CheckMediaType(type);
    if (hr != S_OK) {
        BreakConnect();
        return TypeRefusal(hr);
    }
    SetConnected(connector);
    hr = SetMediaType(type);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(connector);
        if (SUCCEEDED(hr)) {
            return S_OK;
        }
    }
    SetConnected(nullptr);
    BreakConnect();
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::Disconnect() {
    CAutoLock lock(m_pLock);
    RETURN_HR_IF(VFW_E_NOT_STOPPED, m_pFilter != nullptr && !m_pFilter->IsStopped());
    // S_FALSE: there was no connection to break.
    RETURN_HR_IF(S_FALSE, !IsConnected());
    RETURN_IF_FAILED(BreakConnect());
    SetConnected(nullptr);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectedTo(IPin** pin) {
    RETURN_HR_IF_NULL(E_POINTER, pin);
    // The reference is taken under the lock that guards the pointer, so
    // that a Disconnect on another thread cannot release the peer first.
    CAutoLock lock(&m_ConnectedLock);
    *pin = m_Connected.Get();
    RETURN_HR_IF_NULL(VFW_E_NOT_CONNECTED, *pin);
    (*pin)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    RETURN_HR_IF_NULL(E_POINTER, mt);
    CAutoLock lock(MediaTypeLock());
    if (!IsConnected()) {
        static_cast<CMediaType*>(mt)->InitMediaType();
        return VFW_E_NOT_CONNECTED;
    }
    // A type without its format block is no answer: the failed copy is
    // reported, with an empty type, rather than passed off as the type.
    const HRESULT hr = CopyMediaType(mt, &m_mt);
    if (FAILED(hr)) {
        static_cast<CMediaType*>(mt)->InitMediaType();
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryPinInfo(PIN_INFO* info) {
    RETURN_HR_IF_NULL(E_POINTER, info);
    info->pFilter = m_pFilter;
    if (info->pFilter != nullptr) {
        info->pFilter->AddRef();
    }
    // Truncation to the 127 characters that fit is expected, not an error.
    ::StringCchCopyW(info->achName, ARRAYSIZE(info->achName), m_pName ? m_pName.get() : L"");
    info->dir = m_dir;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryDirection(PIN_DIRECTION* direction) {
    RETURN_HR_IF_NULL(E_POINTER, direction);
    *direction = m_dir;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryId(LPWSTR* id) {
    RETURN_HR_IF_NULL(E_POINTER, id);
    *id = nullptr;
    const WCHAR* name = m_pName ? m_pName.get() : L"";
    const size_t bytes = (std::wcslen(name) + 1) * sizeof(WCHAR);
    auto* copy = static_cast<WCHAR*>(::CoTaskMemAlloc(bytes));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, copy);
    std::memcpy(copy, name, bytes);
    *id = copy;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    RETURN_HR_IF_NULL(E_POINTER, mt);
    const HRESULT hr = CheckMediaType(CMediaType::From(mt));
    // A refusal is an answer (S_FALSE), not an error.
    return FAILED(hr) ? S_FALSE : hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
    RETURN_HR_IF_NULL(E_POINTER, enumerator);
    *enumerator = nullptr;
    auto* created = new (std::nothrow) CEnumMediaTypes(this, nullptr);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, created);
    *enumerator = created;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryInternalConnections(IPin** /*pins*/, ULONG* count) {
    RETURN_HR_IF_NULL(E_POINTER, count);
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePin::EndOfStream() {
    // Stream notifications flow downstream into input pins only.
    return m_dir == PINDIR_OUTPUT ? E_UNEXPECTED : S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::BeginFlush() {
    return m_dir == PINDIR_OUTPUT ? E_UNEXPECTED : S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::EndFlush() {
    return m_dir == PINDIR_OUTPUT ? E_UNEXPECTED : S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    m_tStart = start;
    m_tStop = stop;
    m_dRate = rate;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::Notify(IBaseFilter* /*self*/, Quality /*q*/) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePin::SetSink(IQualityControl* /*sink*/) {
    // Accepted and not kept: the pin sends no quality messages (Notify is
    // not implemented), so a sink would never hear from it.
    return S_OK;
}

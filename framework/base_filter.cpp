#include "framework/base_filter.h"

#include <evcode.h>
#include <vfwmsgs.h>

#include <cassert>
#include <cwchar>
#include <new>

#include <strsafe.h>

#include "framework/base_pin.h"
#include "framework/enum_pins.h"

CBaseFilter::CBaseFilter(LPCWSTR objectName, IUnknown* outer, CCritSec* lock, const CLSID* clsid)
    : CUnknown(objectName, outer), m_clsid(clsid != nullptr ? *clsid : GUID_NULL), m_pLock(lock) {}

CBaseFilter::~CBaseFilter() = default;

HRESULT STDMETHODCALLTYPE CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    if (IsEqualIID(riid, IID_IBaseFilter) || IsEqualIID(riid, IID_IMediaFilter) ||
        IsEqualIID(riid, IID_IPersist)) {
        return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_IAMovieSetup)) {
        return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE CBaseFilter::NonDelegatingRelease() {
    const LONG count = --m_cRef;
    if (count == 0) {
        // The count of 1 keeps references taken and dropped while stopping
        // and destroying (a worker's last delivery, a pin's AddRef) from
        // starting a second destruction.
        m_cRef = 1;
        // Its result cannot keep the object: the last reference is gone.
        // A failed Stop (an allocator that would not decommit) still ends
        // every worker, since Inactive ends it whatever the decommit says.
        Stop();
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count > 1 ? count : 1);
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME* streamTime) {
    RETURN_HR_IF_NULL(E_POINTER, streamTime);
    // The clock only changes through SetSyncSource, which a graph calls
    // while the filter is stopped and no worker asks for the time.
    IReferenceClock* clock = m_pClock.Get();
    RETURN_HR_IF_NULL(VFW_E_NO_CLOCK, clock);
    REFERENCE_TIME now = 0;
    RETURN_IF_FAILED(clock->GetTime(&now));
    *streamTime = now - m_tStart;
    return S_OK;
}

LONG CBaseFilter::GetPinVersion() {
    return m_PinVersion;
}

const AMOVIESETUP_FILTER* CBaseFilter::GetSetupData() {
    return nullptr;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetClassID(CLSID* clsid) {
    RETURN_HR_IF_NULL(E_POINTER, clsid);
    *clsid = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::DeactivatePins(int count) {
    QM_DCHECK_HELD(*m_pLock);
    HRESULT firstFailure = S_OK;
    // Every connected pin is deactivated, even after one has failed.
    for (int i = 0; i < count; ++i) {
        CBasePin* pin = GetPin(i);
        if (pin == nullptr) {
            break;
        }
        if (pin->IsConnected()) {
            const HRESULT hr = pin->Inactive();
            if (FAILED(hr) && SUCCEEDED(firstFailure)) {
                firstFailure = hr;
            }
        }
    }
    return firstFailure;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT firstFailure = S_OK;
    if (m_State != State_Stopped) {
        firstFailure = DeactivatePins(GetPinCount());
    }
    m_State = State_Stopped;
    return firstFailure;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin == nullptr) {
                break;
            }
            if (!pin->IsConnected()) {
                continue;
            }
            const HRESULT hr = pin->Active();
            if (FAILED(hr)) {
                // The filter stays Stopped, so no Stop would ever reach
                // the pins activated so far: take them back now, the one
                // that failed included, since it may have started some of
                // its work (a worker) before it failed.
                QM_IGNORE(DeactivatePins(i + 1), "the activation's failure is the one to report");
                return hr;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Run(REFERENCE_TIME start) {
    CAutoLock lock(m_pLock);
    m_tStart = start;
    if (m_State == State_Stopped) {
        // Through the interface, so that a derived Pause is honoured.
        RETURN_IF_FAILED(Pause());
    }
    if (m_State != State_Running) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin == nullptr) {
                break;
            }
            if (pin->IsConnected()) {
                RETURN_IF_FAILED(pin->Run(start));
            }
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetState(DWORD /*milliSecsTimeout*/, FILTER_STATE* state) {
    RETURN_HR_IF_NULL(E_POINTER, state);
    // State changes complete synchronously, so there is never an
    // intermediate state to wait for.
    *state = m_State;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::SetSyncSource(IReferenceClock* clock) {
    CAutoLock lock(m_pLock);
    // ComPtr takes the new reference before it drops the old one, so
    // setting the current clock again keeps it alive.
    m_pClock = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetSyncSource(IReferenceClock** clock) {
    RETURN_HR_IF_NULL(E_POINTER, clock);
    CAutoLock lock(m_pLock);
    *clock = m_pClock.Get();
    if (*clock != nullptr) {
        (*clock)->AddRef();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::EnumPins(IEnumPins** enumerator) {
    RETURN_HR_IF_NULL(E_POINTER, enumerator);
    *enumerator = nullptr;
    auto* created = new (std::nothrow) CEnumPins(this, nullptr);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, created);
    *enumerator = created;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
    RETURN_HR_IF_NULL(E_POINTER, pin);
    *pin = nullptr;
    RETURN_HR_IF_NULL(E_POINTER, id);
    // Pin ids are the 1-based positions that QueryId hands out; text that
    // is not a number reads as 0 and finds nothing.
    const int number = static_cast<int>(std::wcstol(id, nullptr, 10));
    CBasePin* found = number > 0 ? GetPin(number - 1) : nullptr;
    RETURN_HR_IF_NULL(VFW_E_NOT_FOUND, found);
    *pin = static_cast<IPin*>(found);
    (*pin)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    RETURN_HR_IF_NULL(E_POINTER, info);
    // Truncation to the 127 characters that fit is expected, not an error.
    ::StringCchCopyW(info->achName, ARRAYSIZE(info->achName), m_pName ? m_pName.get() : L"");
    info->pGraph = GetFilterGraph().Detach();
    return S_OK;
}

Microsoft::WRL::ComPtr<IFilterGraph> CBaseFilter::GetFilterGraph() const {
    CAutoLock lock(&m_GraphLock);
    return m_pGraph;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    CAutoLock lock(m_pLock);
    {
        CAutoLock graphLock(&m_GraphLock);
        m_pGraph = graph;
    }
    IMediaEventSink* sink = nullptr;
    if (graph != nullptr &&
        SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
        // Kept without a reference: the graph owns the sink and us.
        sink->Release();
    }
    m_pSink = sink;
    m_pName.reset();
    if (name != nullptr) {
        size_t length = 0;
        RETURN_HR_IF(E_INVALIDARG, FAILED(::StringCchLengthW(name, STRSAFE_MAX_CCH, &length)));
        std::unique_ptr<WCHAR[]> copy(new (std::nothrow) WCHAR[length + 1]);
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, copy);
        std::wmemcpy(copy.get(), name, length + 1);
        m_pName = std::move(copy);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryVendorInfo(LPWSTR* vendorInfo) {
    RETURN_HR_IF_NULL(E_POINTER, vendorInfo);
    *vendorInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Register() {
    return GetSetupData() == nullptr ? S_FALSE : E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Unregister() {
    return GetSetupData() == nullptr ? S_FALSE : E_NOTIMPL;
}

HRESULT CBaseFilter::NotifyEvent(long eventCode, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = m_pSink.load();
    RETURN_HR_IF_NULL(E_NOTIMPL, sink);
    if (eventCode == EC_COMPLETE) {
        // The graph counts completions per renderer filter.
        param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    }
    return sink->Notify(eventCode, param1, param2);
}

bool CBaseFilter::IsActive() {
    CAutoLock lock(m_pLock);
    return m_State == State_Paused || m_State == State_Running;
}

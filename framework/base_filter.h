// CBaseFilter: the generic DirectShow filter object. It keeps the filter
// state, the reference clock, the stream start offset and the graph
// membership, and passes state changes on to its pins.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <wrl/client.h>

#include <atomic>
#include <memory>

#include "framework/com_util.h"
#include "framework/unknown.h"

class CBasePin;
struct AMOVIESETUP_FILTER;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
public:
    // `lock` is the filter lock; it must outlive the filter and is not
    // used before the constructor returns.
    CBaseFilter(LPCWSTR objectName, IUnknown* outer, CCritSec* lock, const CLSID* clsid);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // Stops the filter before destroying it: a host may drop its last
    // reference while the filter is paused or running, and the pins'
    // workers must end while every part of the object still exists.
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // Current stream time: the clock's time minus the offset given to the
    // last Run. Takes no lock, so that worker threads may call it.
    [[nodiscard]] virtual HRESULT StreamTime(REFERENCE_TIME* streamTime);
    virtual LONG GetPinVersion();
    virtual int GetPinCount() = 0;
    // The pin at index n, not AddRef'd, or null outside 0..count-1.
    virtual CBasePin* GetPin(int n) = 0;
    // Registration record for IAMovieSetup; none by default.
    virtual const AMOVIESETUP_FILTER* GetSetupData();

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;

    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD milliSecsTimeout, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;

    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** enumerator) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* vendorInfo) override;

    // IAMovieSetup: with no registration record there is nothing to do
    // (S_FALSE). Registration of records goes through the module's
    // exports; a filter that wants it here overrides these two.
    HRESULT STDMETHODCALLTYPE Register() override;
    HRESULT STDMETHODCALLTYPE Unregister() override;

    // Sends an event to the graph's event sink. Takes no lock: the worker
    // thread calls it while a requester may hold the filter lock waiting
    // for that worker. E_NOTIMPL outside a graph.
    [[nodiscard]] HRESULT NotifyEvent(long eventCode, LONG_PTR param1, LONG_PTR param2);

    // Paused or running, read under the filter lock.
    bool IsActive();
    // Stopped; any thread, without a lock.
    bool IsStopped() const { return m_State.load() == State_Stopped; }

    // The graph the filter has joined, with a reference of its own for the
    // caller (null outside a graph); any thread. Pins use it to ask the
    // graph for a reconnection: the reference keeps the graph alive for
    // the call even when the application lets go of it meanwhile.
    Microsoft::WRL::ComPtr<IFilterGraph> GetFilterGraph() const;

protected:
    // Calls Inactive on the connected pins among the first `count`; the
    // first failure is returned, but every pin is deactivated. The caller
    // holds m_pLock.
    [[nodiscard]] HRESULT DeactivatePins(int count);

    // Changed under m_pLock; atomic because IsStopped and GetState read it
    // from any thread without the lock.
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    // Guarded by m_pLock, except where noted on the methods above.
    Microsoft::WRL::ComPtr<IReferenceClock> m_pClock;
    REFERENCE_TIME m_tStart = 0;
    const CLSID m_clsid;
    // The filter lock; for source filters also the state lock of the
    // filter and the lock of each pin.
    CCritSec* const m_pLock;
    std::unique_ptr<WCHAR[]> m_pName;
    // Not counted: the graph owns the filter, and a counted pointer back
    // would form a cycle. Written under m_pLock and m_GraphLock; read under
    // m_GraphLock, a leaf lock under which only a reference is taken, so
    // that readers never wait for m_pLock (Stop holds it while it waits for
    // the streaming threads).
    IFilterGraph* m_pGraph = nullptr;
    mutable CCritSec m_GraphLock;
    // Not counted for the same reason; atomic because the worker thread
    // reads it in NotifyEvent without the filter lock.
    std::atomic<IMediaEventSink*> m_pSink{nullptr};
    LONG m_PinVersion = 1;
};

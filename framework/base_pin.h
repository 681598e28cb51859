// CBasePin: the generic pin. It holds the connection (the peer and the
// agreed media type) and runs the connection protocol: agree a type with
// the peer, trying candidates in a fixed order, and attempt and undo
// connections.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <wrl/client.h>

#include <memory>

#include "framework/com_util.h"
#include "framework/media_type.h"
#include "framework/thread_checks.h"
#include "framework/unknown.h"

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    // The pin lives inside its filter's lifetime and has no reference count
    // of its own. The result slot is not written: a missing name copy only
    // leaves the pin nameless.
    CBasePin(LPCWSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName,
             PIN_DIRECTION direction);
    ~CBasePin() override;

    DECLARE_IUNKNOWN

    // Derived pins put their own interfaces in front of this routing and
    // call it for the rest.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // Both reach the owning filter: a reference on any pin interface keeps
    // the filter, and with it the pin, alive.
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    virtual LONG GetMediaTypeVersion();
    // Called by the filter (under the filter lock) for a connected pin as
    // the filter leaves or enters Stopped.
    [[nodiscard]] virtual HRESULT Active();
    [[nodiscard]] virtual HRESULT Inactive();
    [[nodiscard]] virtual HRESULT Run(REFERENCE_TIME start);
    virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
    // Makes `mt` the connection's type; derived pins call this from their
    // override.
    [[nodiscard]] virtual HRESULT SetMediaType(const CMediaType* mt);
    [[nodiscard]] virtual HRESULT CheckConnect(IPin* peer);
    [[nodiscard]] virtual HRESULT BreakConnect();
    [[nodiscard]] virtual HRESULT CompleteConnect(IPin* peer);
    // The pin's preferred types by position; S_OK while there is one.
    virtual HRESULT GetMediaType(int position, CMediaType* mt);

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* peer, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    // The pin's name as its id; source pins answer with their position.
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* self, Quality q) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

    // Any thread.
    bool IsConnected() const;
    // The peer, not AddRef'd; null while unconnected. For the pin's owner,
    // under m_pLock or on the streaming thread.
    IPin* GetConnected() const { return m_Connected.Get(); }
    PIN_DIRECTION GetDirection() const { return m_dir; }
    // The connection's media type; read it under the lock that guards it.
    const CMediaType& CurrentMediaType() const {
        QM_DCHECK_HELD(*MediaTypeLock());
        return m_mt;
    }
    const WCHAR* Name() const { return m_pName.get(); }

protected:
    // The lock under which the connection's type (m_mt) can be read:
    // m_pLock, or a leaf lock of a derived pin that holds it too whenever
    // it changes m_mt, so that ConnectionMediaType need not wait for m_pLock.
    virtual CCritSec* MediaTypeLock() const { return m_pLock; }
    // Makes `peer` (null: none) the connected pin; the caller holds m_pLock.
    void SetConnected(IPin* peer);
    // Connection helpers; the caller holds m_pLock.
    [[nodiscard]] HRESULT AgreeMediaType(IPin* peer, const CMediaType* mt);
    [[nodiscard]] HRESULT TryMediaTypes(IPin* peer, const CMediaType* partial, IEnumMediaTypes* types);
    [[nodiscard]] HRESULT AttemptConnection(IPin* peer, const CMediaType* mt);
    // Connect and ReceiveConnection refuse while the filter runs unless
    // reconnection while active is allowed.
    bool CanConnectNow() const;

    std::unique_ptr<WCHAR[]> m_pName;
    // The peer: set exactly while connected, and tentatively during an
    // attempt. Changes only through SetConnected, under m_pLock (while the
    // filter is stopped) and m_ConnectedLock; read under either. Queries
    // from other threads (ConnectedTo, IsConnected) take only the leaf
    // lock, never m_pLock, which Stop holds while it waits for the
    // streaming thread.
    Microsoft::WRL::ComPtr<IPin> m_Connected;
    // A leaf: nothing but reference counting happens under it.
    mutable CCritSec m_ConnectedLock;
    const PIN_DIRECTION m_dir;
    // The pin lock; for source pins the filter's state lock.
    CCritSec* const m_pLock;
    bool m_bRunTimeError = false;
    bool m_bCanReconnectWhenActive = false;
    bool m_bTryMyTypesFirst = false;
    // Not counted: the filter owns the pin.
    CBaseFilter* const m_pFilter;
    LONG m_TypeVersion = 1;
    // Guarded by m_pLock.
    CMediaType m_mt;
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = MAXLONGLONG;
    double m_dRate = 1.0;
};

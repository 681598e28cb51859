// Fakes for the faults a real downstream filter will not produce: a peer
// that refuses types, offers no allocator, refuses buffer properties or
// asks for no more samples; a peer of the wrong direction; an allocator
// whose GetBuffer fails. Each default behaves like a plain, willing input
// pin; a test derives and overrides only the method whose fault it needs.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <uuids.h>
#include <vfwmsgs.h>
#include <wrl/client.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "framework/media_type.h"
#include "tests/support/fake_com_object.h"

namespace qmtest {

// Every IPin method with a harmless default, over any FakeComObject base
// that lists IPin.
template <typename Base>
class PinStubs : public Base {
public:
    explicit PinStubs(PIN_DIRECTION direction = PINDIR_INPUT) : m_direction(direction) {}

    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override {
        if (connector == nullptr || mt == nullptr) {
            return E_POINTER;
        }
        {
            std::lock_guard<std::mutex> lock(m_typesLock);
            m_received.push_back(CMediaType(*mt));
        }
        if (!AcceptsType(*mt)) {
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        m_connected = connector;
        m_type = *mt;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override {
        ++m_disconnects;
        if (!m_connected) {
            return S_FALSE;
        }
        m_connected.Reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
        if (pin == nullptr) {
            return E_POINTER;
        }
        *pin = m_connected.Get();
        if (*pin == nullptr) {
            return VFW_E_NOT_CONNECTED;
        }
        (*pin)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mt) override {
        if (mt == nullptr) {
            return E_POINTER;
        }
        return m_connected ? CopyMediaType(mt, &m_type) : VFW_E_NOT_CONNECTED;
    }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override {
        if (info == nullptr) {
            return E_POINTER;
        }
        info->pFilter = nullptr;
        lstrcpynW(info->achName, L"Fake", MAX_PIN_NAME);
        info->dir = m_direction;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override {
        if (direction == nullptr) {
            return E_POINTER;
        }
        *direction = m_direction;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override {
        if (id != nullptr) {
            *id = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mt) override {
        return mt != nullptr && AcceptsType(*mt) ? S_OK : S_FALSE;
    }
    // No preferred types unless a test offers some.
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** enumerator) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override {
        ++m_endOfStreams;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // Types the peer will list in EnumMediaTypes, in order.
    void OfferTypes(std::vector<CMediaType> types) { m_offered = std::move(types); }
    // Types passed to ReceiveConnection, in order.
    std::vector<CMediaType> ReceivedTypes() {
        std::lock_guard<std::mutex> lock(m_typesLock);
        return m_received;
    }
    IPin* Connector() const { return m_connected.Get(); }
    LONG EndOfStreams() const { return m_endOfStreams.load(); }
    LONG Disconnects() const { return m_disconnects.load(); }
    LONG TypeEnumerations() const { return m_typeEnumerations.load(); }

protected:
    virtual bool AcceptsType(const AM_MEDIA_TYPE&) { return true; }

    const PIN_DIRECTION m_direction;
    Microsoft::WRL::ComPtr<IPin> m_connected;
    CMediaType m_type;
    std::vector<CMediaType> m_offered;
    std::mutex m_typesLock;
    std::vector<CMediaType> m_received;
    std::atomic<LONG> m_endOfStreams{0};
    std::atomic<LONG> m_disconnects{0};
    std::atomic<LONG> m_typeEnumerations{0};
};

// A media type list for a fake peer's EnumMediaTypes.
class FakeTypeEnumerator : public FakeComObject<IEnumMediaTypes> {
public:
    explicit FakeTypeEnumerator(std::vector<CMediaType> types) : m_types(std::move(types)) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        if (types == nullptr) {
            return E_POINTER;
        }
        ULONG got = 0;
        while (got < count && m_position < m_types.size()) {
            types[got++] = CreateMediaType(&m_types[m_position++]);
        }
        if (fetched != nullptr) {
            *fetched = got;
        }
        return got == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        m_position += count;
        return m_position <= m_types.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        m_position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes**) override { return E_NOTIMPL; }

private:
    std::vector<CMediaType> m_types;
    size_t m_position = 0;
};

template <typename Base>
HRESULT STDMETHODCALLTYPE PinStubs<Base>::EnumMediaTypes(IEnumMediaTypes** enumerator) {
    if (enumerator == nullptr) {
        return E_POINTER;
    }
    ++m_typeEnumerations;
    *enumerator = nullptr;
    if (m_offered.empty()) {
        return E_NOTIMPL;
    }
    *enumerator = MakeFake<FakeTypeEnumerator>(m_offered).Detach();
    return S_OK;
}

// A pin with IPin only: no transport interface. Its direction is chosen
// at construction, so it also plays an output pin on the other end.
class FakePeerPin : public PinStubs<FakeComObject<IPin>> {
public:
    using PinStubs::PinStubs;
};

// A willing input pin: takes any type, offers no allocator of its own
// unless given one, and accepts every sample.
class FakeInputPin : public PinStubs<FakeComObject<IPin, IMemInputPin>> {
public:
    FakeInputPin() : PinStubs(PINDIR_INPUT) {}

    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override {
        if (allocator == nullptr) {
            return E_POINTER;
        }
        *allocator = m_offeredAllocator.Get();
        if (*allocator == nullptr) {
            return VFW_E_NO_ALLOCATOR;
        }
        (*allocator)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL) override {
        m_notified = allocator;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override {
        if (props == nullptr || !m_hasRequirements) {
            return E_NOTIMPL;
        }
        *props = m_requirements;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        REFERENCE_TIME start = 0;
        REFERENCE_TIME end = 0;
        if (sample != nullptr && SUCCEEDED(sample->GetTime(&start, &end))) {
            std::lock_guard<std::mutex> lock(m_timesLock);
            m_times.push_back({start, end});
        }
        ++m_samples;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* processed) override {
        if (samples == nullptr || processed == nullptr) {
            return E_POINTER;
        }
        *processed = 0;
        for (long i = 0; i < count; ++i) {
            const HRESULT hr = Receive(samples[i]);
            if (hr != S_OK) {
                return hr;
            }
            ++*processed;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

    void OfferAllocator(IMemAllocator* allocator) { m_offeredAllocator = allocator; }
    void RequireAllocator(const ALLOCATOR_PROPERTIES& props) {
        m_requirements = props;
        m_hasRequirements = true;
    }
    IMemAllocator* NotifiedAllocator() const { return m_notified.Get(); }
    LONG Samples() const { return m_samples.load(); }
    std::vector<std::pair<REFERENCE_TIME, REFERENCE_TIME>> Times() {
        std::lock_guard<std::mutex> lock(m_timesLock);
        return m_times;
    }

protected:
    Microsoft::WRL::ComPtr<IMemAllocator> m_offeredAllocator;
    Microsoft::WRL::ComPtr<IMemAllocator> m_notified;
    ALLOCATOR_PROPERTIES m_requirements = {};
    bool m_hasRequirements = false;
    std::atomic<LONG> m_samples{0};
    std::mutex m_timesLock;
    std::vector<std::pair<REFERENCE_TIME, REFERENCE_TIME>> m_times;
};

// An allocator that passes everything to a real memory allocator; tests
// override the call whose failure they need.
class FakeAllocator : public FakeComObject<IMemAllocator> {
public:
    FakeAllocator() {
        ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&m_real));
    }

    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
        return m_real->SetProperties(request, actual);
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) override {
        return m_real->GetProperties(props);
    }
    HRESULT STDMETHODCALLTYPE Commit() override { return m_real->Commit(); }
    HRESULT STDMETHODCALLTYPE Decommit() override { return m_real->Decommit(); }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                        DWORD flags) override {
        ++m_getBufferCalls;
        return m_real->GetBuffer(sample, start, end, flags);
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) override { return m_real->ReleaseBuffer(sample); }

    bool ok() const { return m_real != nullptr; }
    LONG GetBufferCalls() const { return m_getBufferCalls.load(); }

protected:
    Microsoft::WRL::ComPtr<IMemAllocator> m_real;
    std::atomic<LONG> m_getBufferCalls{0};
};

}  // namespace qmtest

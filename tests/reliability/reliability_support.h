// Shared pieces of the reliability tests: the device made in-process
// through the module's own factory table, the process's resource counts,
// a watchdog that turns a hang into a failure, and fakes for the faults a
// real graph does not produce.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>
#include <string>
#include <vector>

#include "framework/base_pin.h"
#include "framework/media_type.h"
#include "tests/support/fake_com_object.h"
#include "tests/support/fake_pins.h"
#include "tests/support/graph_lookup.h"
#include "tests/support/message_pump.h"
#include "tests/support/resource_counts.h"
#include "tests/support/stored_settings.h"

namespace qmtest {

// The capture filter, created the way COM creates it (the module's class
// factory for CLSID_CaptureDevice), with one reference.
HRESULT CreateCaptureFilter(IBaseFilter** filter);
// The framework object behind the pin's IPin, for calls that are not on
// any interface (CheckMediaType). Not AddRef'd.
inline CBasePin* BasePinOf(IPin* pin) {
    return static_cast<CBasePin*>(pin);
}

// Calls each cycle `count` times, then measures. The counts before are
// taken after `warmUp` cycles, so that caches the platform fills on first
// use (fonts, stock objects, helper threads) are already there.
template <typename Cycle>
void MeasureAroundCycles(int warmUp, int count, Cycle&& cycle, ResourceCounts* before, ResourceCounts* after) {
    for (int i = 0; i < warmUp; ++i) {
        cycle(i);
    }
    *before = MeasureResources();
    for (int i = 0; i < count; ++i) {
        cycle(i);
        if (testing::Test::HasFatalFailure()) {
            return;
        }
    }
    *after = MeasureResources();
}

// Ends the process with a failure message if it is not disarmed within
// its time: a deadlocked test would otherwise hold the suite until CTest's
// own time-out, and could not clean up anyway.
class Watchdog {
public:
    Watchdog(const char* what, DWORD timeoutMs);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static DWORD WINAPI Watch(LPVOID self);
    std::string m_what;
    DWORD m_timeoutMs;
    HANDLE m_disarm;
    HANDLE m_thread;
};

// A graph stand-in for JoinFilterGraph that records the events a filter
// sends to the graph's event sink.
class RecordingGraph : public FakeComObject<IFilterGraph, IMediaEventSink> {
public:
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override {
        ++m_reconnects;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Notify(long code, LONG_PTR, LONG_PTR) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_events.push_back(code);
        return S_OK;
    }

    std::vector<long> Events() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_events;
    }
    LONG Reconnects() const { return m_reconnects.load(); }

private:
    std::mutex m_lock;
    std::vector<long> m_events;
    std::atomic<LONG> m_reconnects{0};
};

// A willing input pin that, unlike a real one, keeps no counted reference
// on the pin that connects to it. A filter connected to it can therefore be
// released by its last outside reference while it is still connected.
class UncountedPeerInputPin : public FakeInputPin {
public:
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override {
        const HRESULT hr = FakeInputPin::ReceiveConnection(connector, mt);
        m_connector = m_connected.Get();
        m_connected.Reset();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override {
        m_connector = nullptr;
        return S_OK;
    }
    // Nor on the allocator it is told about.
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
        if (pin == nullptr) {
            return E_POINTER;
        }
        *pin = nullptr;
        return VFW_E_NOT_CONNECTED;
    }

private:
    IPin* m_connector = nullptr;
};

// An allocator (forwarding to a real memory allocator) whose calls can be
// made to fail, counting what reaches it.
class FaultyAllocator : public FakeAllocator {
public:
    HRESULT STDMETHODCALLTYPE Commit() override {
        ++m_commits;
        return m_commitResult == S_OK ? FakeAllocator::Commit() : m_commitResult;
    }
    HRESULT STDMETHODCALLTYPE Decommit() override {
        ++m_decommits;
        return FakeAllocator::Decommit();
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                        DWORD flags) override {
        const LONG call = ++m_getBufferCalls;
        if (sample != nullptr && m_getBufferFailEvery != 0 && call % m_getBufferFailEvery == 0) {
            *sample = nullptr;
            return m_getBufferResult;
        }
        return m_real->GetBuffer(sample, start, end, flags);
    }

    // Commit answers `hr` (S_OK: the real allocator's answer).
    void FailCommit(HRESULT hr) { m_commitResult = hr; }
    // Every n-th GetBuffer answers `hr` (1: every call).
    void FailGetBuffer(LONG everyN, HRESULT hr) {
        m_getBufferFailEvery = everyN;
        m_getBufferResult = hr;
    }
    LONG Commits() const { return m_commits.load(); }
    LONG Decommits() const { return m_decommits.load(); }

private:
    HRESULT m_commitResult = S_OK;
    LONG m_getBufferFailEvery = 0;
    HRESULT m_getBufferResult = S_OK;
    std::atomic<LONG> m_commits{0};
    std::atomic<LONG> m_decommits{0};
};

// An input pin whose Receive answers a chosen code once, after a number of
// samples it takes normally, and takes every sample after that again.
class RefusingInputPin : public FakeInputPin {
public:
    RefusingInputPin(LONG acceptFirst, HRESULT refusal) : m_acceptFirst(acceptFirst), m_refusal(refusal) {}
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        if (m_refused.load() == 0 && m_samples.load() >= m_acceptFirst) {
            ++m_refused;
            return m_refusal;
        }
        return FakeInputPin::Receive(sample);
    }
    LONG Refused() const { return m_refused.load(); }

private:
    const LONG m_acceptFirst;
    const HRESULT m_refusal;
    std::atomic<LONG> m_refused{0};
};

// An input pin that refuses every media type.
class PickyInputPin : public FakeInputPin {
protected:
    bool AcceptsType(const AM_MEDIA_TYPE&) override { return false; }
};

}  // namespace qmtest

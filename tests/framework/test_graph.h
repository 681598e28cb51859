// A real filter graph the way a capture application builds one: the test
// source, the platform's sample grabber and null renderer, connected
// directly, controlled through IMediaControl.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "tests/framework/test_source.h"
#include "tests/support/fake_com_object.h"
#include "tests/support/graph_lookup.h"

namespace qmtest {

// Watches the samples that reach the grabber: counts them, checks that
// each starts where the previous one ended, and signals once a sample
// ends at or after a given stream time.
class SampleWatcher : public FakeComObject<ISampleGrabberCB> {
public:
    SampleWatcher() : m_reached(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~SampleWatcher() override { ::CloseHandle(m_reached); }

    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }

    // Starts a new run: counts from zero, expects the first sample at 0
    // and signals when a sample ends at or after `target`.
    void Restart(REFERENCE_TIME target);
    // Waits for the target to be reached; false after the timeout.
    bool WaitForTarget(DWORD timeoutMs = 30000) const {
        return ::WaitForSingleObject(m_reached, timeoutMs) == WAIT_OBJECT_0;
    }

    LONG Samples() const { return m_samples.load(); }
    LONG Gaps() const { return m_gaps.load(); }
    LONG Untimed() const { return m_untimed.load(); }
    LONG NotSyncPoints() const { return m_notSync.load(); }
    LONG WrongSizes() const { return m_wrongSizes.load(); }
    REFERENCE_TIME LastEnd() const { return m_lastEnd.load(); }

private:
    HANDLE m_reached;
    std::atomic<REFERENCE_TIME> m_target{0};
    std::atomic<REFERENCE_TIME> m_lastEnd{0};
    std::atomic<LONG> m_samples{0};
    std::atomic<LONG> m_gaps{0};
    std::atomic<LONG> m_untimed{0};
    std::atomic<LONG> m_notSync{0};
    std::atomic<LONG> m_wrongSizes{0};
};

// A platform filter by class id.
HRESULT CreateFilter(REFCLSID clsid, ComPtr<IBaseFilter>* filter);

// Connects an output pin straight to a new null renderer, without a graph.
HRESULT ConnectToNullRenderer(IPin* out, ComPtr<IBaseFilter>* renderer);
// Breaks a connection from both ends, so that neither pin keeps the other
// (and its filter) alive.
void Unhook(IPin* pin);

struct TestGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaFilter> mediaFilter;
    ComPtr<IMediaEventEx> events;
    ComPtr<TestSource> source;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IBaseFilter> renderer;
    ComPtr<SampleWatcher> watcher;
    ComPtr<IPin> grabberIn;
    ComPtr<IPin> grabberOut;
    ComPtr<IPin> rendererIn;

    // Graph, test source, grabber with watcher, null renderer; connected
    // source -> grabber -> renderer unless `connect` is false.
    HRESULT Build(bool connect = true);
    // Source straight into the null renderer, no grabber.
    HRESULT BuildDirect();
    // Runs the graph with no reference clock, so that the renderer takes
    // samples as fast as they come.
    HRESULT UseNoClock() { return mediaFilter->SetSyncSource(nullptr); }
    // The next event of the graph, or E_ABORT when none is queued.
    HRESULT NextEvent(long* code, LONG_PTR* param1, LONG_PTR* param2);
};

}  // namespace qmtest

// Graph plumbing for end-to-end tests: the registered module and a capture
// graph (source -> sample grabber -> null renderer) whose samples are
// recorded as they arrive.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <mutex>
#include <string>
#include <vector>

#include "tests/support/graph_lookup.h"
#include "tools/capture_client/sample_callback.h"

namespace qmtest {

// Registers the module beside the test program with regsvr32 for the
// lifetime of this object, and unregisters it afterwards.
class RegisteredModule {
public:
    RegisteredModule();
    ~RegisteredModule();
    RegisteredModule(const RegisteredModule&) = delete;
    RegisteredModule& operator=(const RegisteredModule&) = delete;

    // regsvr32's exit code for the registration (0 on success).
    DWORD exitCode() const { return m_exitCode; }
    static std::wstring ModulePath();
    // Runs regsvr32 /s [/u] on the module; returns its exit code.
    static DWORD RunRegsvr32(bool unregister);

private:
    DWORD m_exitCode;
};

struct RecordedSample {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
    HRESULT timeResult = E_FAIL;
    bool syncPoint = false;
    bool discontinuity = false;
    long size = 0;
    long actualLength = 0;
    // The thread that delivered it.
    DWORD thread = 0;
};

// Records every sample the grabber sees; keeps the pixels of the latest.
class SampleRecorder final : public CSampleCallback {
public:
    HRESULT STDMETHODCALLTYPE SampleCB(double time, IMediaSample* sample) override;

    std::vector<RecordedSample> samples() const;
    size_t count() const;
    // Pixels of the latest sample (copied under the lock).
    std::vector<BYTE> latestFrame() const;
    // Waits (pumping messages) until at least n samples arrived or the
    // time-out passed; returns whether they arrived.
    bool WaitForSamples(size_t n, DWORD timeoutMs) const;
    void Clear();

private:
    mutable std::mutex m_lock;
    std::vector<RecordedSample> m_samples;
    std::vector<BYTE> m_latest;
};

// source -> sample grabber (RGB24 video, or the subtype Build names) ->
// null renderer.
struct CaptureGraph {
    Microsoft::WRL::ComPtr<IGraphBuilder> graph;
    Microsoft::WRL::ComPtr<IMediaControl> control;
    Microsoft::WRL::ComPtr<IBaseFilter> source;
    Microsoft::WRL::ComPtr<IBaseFilter> grabberFilter;
    Microsoft::WRL::ComPtr<ISampleGrabber> grabber;
    Microsoft::WRL::ComPtr<IBaseFilter> renderer;
    SampleRecorder recorder;

    // Adds the filters; connects them through ICaptureGraphBuilder2::
    // RenderStream with PIN_CATEGORY_CAPTURE, or pin to pin.
    HRESULT Build(IBaseFilter* sourceFilter, bool throughCaptureGraphBuilder,
                  const GUID& subtype = MEDIASUBTYPE_RGB24);
    // The media type of the source pin's connection.
    HRESULT ConnectedType(AM_MEDIA_TYPE* mt) const;
    HRESULT Run();
    HRESULT Stop();
    ~CaptureGraph();
};

}  // namespace qmtest

// The device end to end: at each of the six sizes and the 30 fps setting,
// the filter streams through a real graph (sample grabber, null renderer)
// while it captures a 1280x720 window of another process. Prints the
// delivered frame rate, the intervals between sample arrivals, whether the
// sample times are contiguous, and whether the last frame shows the window
// (not the black standby picture).
//
// Usage: device_graph_bench [seconds per size]   (default 10)
#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "bench/support/child_window.h"
#include "capture/output_formats.h"
#include "capture/zrv_capture.h"
#include "framework/media_type.h"
#include "tests/support/capture_graph.h"
#include "tests/support/message_pump.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;
using namespace qmbench;

namespace {

constexpr REFERENCE_TIME kThirtyFps = 333333;

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Records arrival moments and sample times; keeps whether the latest frame
// had any picture in it.
class ArrivalRecorder final : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISampleGrabberCB)) {
            *ppv = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
        const double now = NowMs();
        REFERENCE_TIME start = 0;
        REFERENCE_TIME end = 0;
        sample->GetTime(&start, &end);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const long length = sample->GetActualDataLength();
        bool picture = false;
        for (long i = 0; data != nullptr && i < length; i += 997) {
            picture = picture || (data[i] != 0 && data[i] != 255);
        }
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_recording) {
            return S_OK;
        }
        if (!m_arrivals.empty() && start != m_lastEnd) {
            ++m_breaks;
        }
        m_lastEnd = end;
        m_arrivals.push_back(now);
        m_lastHadPicture = picture;
        return S_OK;
    }
    void Start() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_arrivals.clear();
        m_arrivals.reserve(4096);
        m_breaks = 0;
        m_recording = true;
    }
    void Finish(std::vector<double>& arrivals, int& breaks, bool& picture) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_recording = false;
        arrivals = m_arrivals;
        breaks = m_breaks;
        picture = m_lastHadPicture;
    }

private:
    std::mutex m_lock;
    bool m_recording = false;
    std::vector<double> m_arrivals;
    REFERENCE_TIME m_lastEnd = 0;
    int m_breaks = 0;
    bool m_lastHadPicture = false;
};

HRESULT RunSize(int index, double seconds) {
    HRESULT hr = S_OK;
    CUnknown* object = CZRV_Capture::CreateInstance(nullptr, &hr);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, object);
    ComPtr<IBaseFilter> filter;
    RETURN_IF_FAILED(object->NonDelegatingQueryInterface(IID_PPV_ARGS(&filter)));
    ComPtr<IAMStreamConfig> config;
    RETURN_IF_FAILED(filter.As(&config));
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    RETURN_IF_FAILED(config->GetStreamCaps(index, &mt, reinterpret_cast<BYTE*>(&caps)));
    reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->AvgTimePerFrame = kThirtyFps;
    hr = config->SetFormat(mt);
    DeleteMediaType(mt);
    RETURN_IF_FAILED(hr);

    CaptureGraph graph;
    RETURN_IF_FAILED(graph.Build(filter.Get(), false));
    ArrivalRecorder recorder;
    RETURN_IF_FAILED(graph.grabber->SetCallback(&recorder, 0));
    RETURN_IF_FAILED(graph.Run());
    PumpFor(1000);  // the window is found, and the first frames settle
    recorder.Start();
    PumpFor(static_cast<DWORD>(seconds * 1000.0));
    std::vector<double> arrivals;
    int breaks = 0;
    bool picture = false;
    recorder.Finish(arrivals, breaks, picture);
    graph.Stop();
    graph.grabber->SetCallback(nullptr, 0);

    std::vector<double> intervals;
    for (size_t i = 1; i < arrivals.size(); ++i) {
        intervals.push_back(arrivals[i] - arrivals[i - 1]);
    }
    const double span = arrivals.size() > 1 ? arrivals.back() - arrivals.front() : 0;
    const double fps = span > 0 ? static_cast<double>(arrivals.size() - 1) * 1000.0 / span : 0;
    std::printf("%5dx%-4d %6zu frames %7.3f fps   interval ms p50 %6.2f p90 %6.2f p99 %6.2f max %7.2f   "
                "times %s   picture %s\n",
                FrameSizeTable[index].width, FrameSizeTable[index].height, arrivals.size(), fps,
                Percentile(intervals, 0.5), Percentile(intervals, 0.9), Percentile(intervals, 0.99),
                Percentile(intervals, 1.0), breaks == 0 ? "contiguous" : "BROKEN", picture ? "window" : "STANDBY");
    return S_OK;
}

}  // namespace

int main(int argc, char** argv) {
    if (RunChildWindowIfAsked(argc, argv)) {
        return 0;
    }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    int result = 0;
    {
        RegistrySandbox sandbox;
        ChildProcessWindow child;
        if (!sandbox.ok() || FAILED(child.Start(BenchPicture::Application, 1280, 720))) {
            std::fprintf(stderr, "set-up failed\n");
            result = 1;
        } else {
            std::printf("device_graph_bench (%s): 30 fps setting, 1280x720 window in another process, "
                        "%.0f s per size\n",
                        sizeof(void*) == 8 ? "x64" : "x86", seconds);
            for (int i = 0; i < kFrameSizeTableCount; ++i) {
                const HRESULT hr = RunSize(i, seconds);
                if (FAILED(hr)) {
                    std::printf("size %d failed: 0x%08lx\n", i, static_cast<unsigned long>(hr));
                    result = 1;
                }
            }
        }
    }
    ::CoUninitialize();
    return result;
}

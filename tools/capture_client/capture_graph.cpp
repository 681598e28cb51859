#include "tools/capture_client/capture_graph.h"

#include <algorithm>
#include <vector>

#include "framework/com_util.h"
#include "tools/capture_client/console_output.h"

using Microsoft::WRL::ComPtr;

namespace qmcapture {

namespace {

// CLSID_SampleGrabber and CLSID_NullRenderer (qedit.dll). Not every SDK's
// headers declare them any more, so their published values are kept here.
constexpr GUID kClsidSampleGrabber = {0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
constexpr GUID kClsidNullRenderer = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

// How often the wait looks at the clock when nothing else wakes it.
constexpr DWORD kWaitSliceMs = 50;

HRESULT FindUnconnectedPin(IBaseFilter* filter, PIN_DIRECTION wanted, IPin** pin) {
    *pin = nullptr;
    ComPtr<IEnumPins> pins;
    RETURN_IF_FAILED(filter->EnumPins(&pins));
    ComPtr<IPin> candidate;
    while (pins->Next(1, &candidate, nullptr) == S_OK) {
        PIN_DIRECTION direction = PINDIR_INPUT;
        ComPtr<IPin> peer;
        if (SUCCEEDED(candidate->QueryDirection(&direction)) && direction == wanted &&
            candidate->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED) {
            *pin = candidate.Detach();
            return S_OK;
        }
        candidate.Reset();
    }
    return VFW_E_NOT_FOUND;
}

std::wstring Failed(const wchar_t* what, HRESULT hr) {
    return FormatText(L"%ls (0x%08lX)", what, static_cast<unsigned long>(hr));
}

double SecondsBetween(const LARGE_INTEGER& from, int64_t to, const LARGE_INTEGER& frequency) {
    return static_cast<double>(to - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void PumpMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

}  // namespace

const wchar_t* CaptureStopName(CaptureStop stop) {
    switch (stop) {
    case CaptureStop::kTimeElapsed:
        return L"time";
    case CaptureStop::kFrameLimit:
        return L"frames";
    case CaptureStop::kStalled:
        return L"stalled";
    case CaptureStop::kGraphError:
        return L"graph-error";
    case CaptureStop::kStreamEnded:
        return L"stream-ended";
    }
    return L"unknown";
}

CaptureGraph::~CaptureGraph() {
    Stop();
    if (m_grabber != nullptr) {
        m_grabber->SetCallback(nullptr, 0);
    }
}

HRESULT CaptureGraph::Build(IBaseFilter* device, IPin* capturePin, const GUID& grabberSubtype, bool noClock,
                            std::wstring* error) {
    RETURN_HR_IF_NULL(E_POINTER, error);
    RETURN_HR_IF_NULL(E_POINTER, device);
    RETURN_HR_IF_NULL(E_POINTER, capturePin);

    HRESULT hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&m_graph));
    if (FAILED(hr)) {
        *error = Failed(L"cannot create the filter graph", hr);
        return hr;
    }
    hr = m_graph->AddFilter(device, L"Video Capture");
    if (FAILED(hr)) {
        *error = Failed(L"cannot add the device to the graph", hr);
        return hr;
    }

    hr = ::CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&m_grabberFilter));
    if (SUCCEEDED(hr)) {
        hr = m_grabberFilter.As(&m_grabber);
    }
    if (FAILED(hr)) {
        *error = Failed(L"cannot create the sample grabber", hr);
        return hr;
    }
    AM_MEDIA_TYPE accepted = {};
    accepted.majortype = MEDIATYPE_Video;
    accepted.subtype = grabberSubtype;
    RETURN_IF_FAILED(m_grabber->SetMediaType(&accepted));
    RETURN_IF_FAILED(m_grabber->SetBufferSamples(FALSE));
    RETURN_IF_FAILED(m_grabber->SetOneShot(FALSE));
    hr = m_graph->AddFilter(m_grabberFilter.Get(), L"Sample Grabber");
    if (FAILED(hr)) {
        *error = Failed(L"cannot add the sample grabber to the graph", hr);
        return hr;
    }

    hr = ::CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&m_renderer));
    if (FAILED(hr)) {
        *error = Failed(L"cannot create the null renderer", hr);
        return hr;
    }
    hr = m_graph->AddFilter(m_renderer.Get(), L"Null Renderer");
    if (FAILED(hr)) {
        *error = Failed(L"cannot add the null renderer to the graph", hr);
        return hr;
    }

    ComPtr<IPin> grabberIn;
    ComPtr<IPin> grabberOut;
    ComPtr<IPin> rendererIn;
    RETURN_IF_FAILED(FindUnconnectedPin(m_grabberFilter.Get(), PINDIR_INPUT, &grabberIn));
    RETURN_IF_FAILED(FindUnconnectedPin(m_grabberFilter.Get(), PINDIR_OUTPUT, &grabberOut));
    RETURN_IF_FAILED(FindUnconnectedPin(m_renderer.Get(), PINDIR_INPUT, &rendererIn));

    hr = m_graph->Connect(capturePin, grabberIn.Get());
    if (FAILED(hr)) {
        *error = Failed(L"cannot connect the device's capture pin to the sample grabber", hr);
        return hr;
    }
    hr = m_graph->Connect(grabberOut.Get(), rendererIn.Get());
    if (FAILED(hr)) {
        *error = Failed(L"cannot connect the sample grabber to the null renderer", hr);
        return hr;
    }

    if (noClock) {
        ComPtr<IMediaFilter> graphFilter;
        RETURN_IF_FAILED(m_graph.As(&graphFilter));
        hr = graphFilter->SetSyncSource(nullptr);
        if (FAILED(hr)) {
            *error = Failed(L"cannot run the graph without a clock", hr);
            return hr;
        }
    }
    RETURN_IF_FAILED(m_graph.As(&m_control));
    // IMediaEventEx carries no __uuidof in every SDK's headers.
    RETURN_IF_FAILED(m_graph->QueryInterface(IID_IMediaEventEx,
                                             reinterpret_cast<void**>(m_events.ReleaseAndGetAddressOf())));
    return S_OK;
}

HRESULT CaptureGraph::GetConnectedType(AM_MEDIA_TYPE* type) {
    RETURN_HR_IF_NULL(E_POINTER, type);
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_grabber);
    return m_grabber->GetConnectedMediaType(type);
}

HRESULT CaptureGraph::Capture(FrameGrabber* grabber, double seconds, double stallSeconds,
                              CaptureWaitResult* result) {
    RETURN_HR_IF_NULL(E_POINTER, grabber);
    RETURN_HR_IF_NULL(E_POINTER, result);
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_control);
    RETURN_IF_FAILED(m_grabber->SetCallback(grabber, 0));
    const HRESULT hr = m_control->Run();
    if (FAILED(hr)) {
        return hr;
    }
    // S_FALSE: the graph is still on its way to running; frames arriving
    // meanwhile are already counted.
    m_running = true;
    *result = Wait(grabber, seconds, stallSeconds);
    grabber->Close();
    return S_OK;
}

CaptureWaitResult CaptureGraph::Wait(FrameGrabber* grabber, double seconds, double stallSeconds) {
    CaptureWaitResult result;
    LARGE_INTEGER frequency;
    LARGE_INTEGER started;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&started);

    OAEVENT eventHandle = 0;
    std::vector<HANDLE> handles{grabber->LimitReachedEvent()};
    if (SUCCEEDED(m_events->GetEventHandle(&eventHandle)) && eventHandle != 0) {
        handles.push_back(reinterpret_cast<HANDLE>(eventHandle));
    }

    for (;;) {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        result.elapsedSeconds = SecondsBetween(started, now.QuadPart, frequency);

        if (::WaitForSingleObject(grabber->LimitReachedEvent(), 0) == WAIT_OBJECT_0) {
            result.stop = CaptureStop::kFrameLimit;
            return result;
        }
        long code = 0;
        LONG_PTR param1 = 0;
        LONG_PTR param2 = 0;
        while (m_events->GetEvent(&code, &param1, &param2, 0) == S_OK) {
            m_events->FreeEventParams(code, param1, param2);
            if (code == EC_ERRORABORT || code == EC_ERRORABORTEX || code == EC_STREAM_ERROR_STOPPED ||
                code == EC_DEVICE_LOST || code == EC_USERABORT) {
                result.stop = CaptureStop::kGraphError;
                result.eventCode = code;
                result.eventResult = static_cast<HRESULT>(param1);
                return result;
            }
            if (code == EC_COMPLETE) {
                result.stop = CaptureStop::kStreamEnded;
                return result;
            }
        }
        if (seconds > 0.0 && result.elapsedSeconds >= seconds) {
            result.stop = CaptureStop::kTimeElapsed;
            return result;
        }
        // Silence is measured from the last frame, or from Run before the first.
        const int64_t lastFrame = grabber->FramesSeen() > 0 ? grabber->LastArrivalTicks() : started.QuadPart;
        if (static_cast<double>(now.QuadPart - lastFrame) / static_cast<double>(frequency.QuadPart) >=
            stallSeconds) {
            result.stop = CaptureStop::kStalled;
            return result;
        }

        DWORD slice = kWaitSliceMs;
        if (seconds > 0.0) {
            const double left = (seconds - result.elapsedSeconds) * 1000.0;
            slice = static_cast<DWORD>(std::clamp(left, 1.0, static_cast<double>(kWaitSliceMs)));
        }
        ::MsgWaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, slice, QS_ALLINPUT);
        PumpMessages();
    }
}

HRESULT CaptureGraph::Stop() {
    if (!m_running || m_control == nullptr) {
        return S_FALSE;
    }
    m_running = false;
    return m_control->Stop();
}

}  // namespace qmcapture

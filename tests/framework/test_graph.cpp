#include "tests/framework/test_graph.h"

#include "framework/com_util.h"

namespace qmtest {

HRESULT STDMETHODCALLTYPE SampleWatcher::SampleCB(double, IMediaSample* sample) {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
    if (sample == nullptr || FAILED(sample->GetTime(&start, &end))) {
        ++m_untimed;
        return S_OK;
    }
    if (sample->IsSyncPoint() != S_OK) {
        ++m_notSync;
    }
    if (sample->GetActualDataLength() != static_cast<long>(kTestImageSize)) {
        ++m_wrongSizes;
    }
    // Each sample starts where the previous one ended; a run starts at 0.
    if (start != m_lastEnd.load() || end - start != kTestFrameTime) {
        ++m_gaps;
    }
    m_lastEnd = end;
    ++m_samples;
    if (end >= m_target.load()) {
        ::SetEvent(m_reached);
    }
    return S_OK;
}

void SampleWatcher::Restart(REFERENCE_TIME target) {
    ::ResetEvent(m_reached);
    m_target = target;
    m_lastEnd = 0;
    m_samples = 0;
    m_gaps = 0;
    m_untimed = 0;
    m_notSync = 0;
    m_wrongSizes = 0;
}

HRESULT CreateFilter(REFCLSID clsid, ComPtr<IBaseFilter>* filter) {
    RETURN_HR_IF_NULL(E_POINTER, filter);
    return ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(filter->ReleaseAndGetAddressOf()));
}

HRESULT ConnectToNullRenderer(IPin* out, ComPtr<IBaseFilter>* renderer) {
    RETURN_HR_IF_NULL(E_POINTER, out);
    RETURN_HR_IF_NULL(E_POINTER, renderer);
    RETURN_IF_FAILED(CreateFilter(CLSID_NullRenderer, renderer));
    ComPtr<IPin> input;
    RETURN_IF_FAILED(GetPin(renderer->Get(), PINDIR_INPUT, &input));
    return out->Connect(input.Get(), nullptr);
}

void Unhook(IPin* pin) {
    if (pin == nullptr) {
        return;
    }
    ComPtr<IPin> peer;
    if (pin->ConnectedTo(&peer) == S_OK) {
        peer->Disconnect();
    }
    pin->Disconnect();
}

HRESULT TestGraph::Build(bool connect) {
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)));
    RETURN_IF_FAILED(graph.As(&control));
    RETURN_IF_FAILED(graph.As(&mediaFilter));
    // No __uuidof for IMediaEventEx in the platform headers.
    RETURN_IF_FAILED(graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(events.ReleaseAndGetAddressOf())));
    RETURN_IF_FAILED(TestSource::Create(&source));
    RETURN_IF_FAILED(CreateFilter(CLSID_SampleGrabber, &grabberFilter));
    RETURN_IF_FAILED(grabberFilter.As(&grabber));
    RETURN_IF_FAILED(CreateFilter(CLSID_NullRenderer, &renderer));
    watcher = MakeFake<SampleWatcher>();
    RETURN_IF_FAILED(grabber->SetCallback(watcher.Get(), 0));
    RETURN_IF_FAILED(grabber->SetBufferSamples(FALSE));
    RETURN_IF_FAILED(graph->AddFilter(static_cast<IBaseFilter*>(source.Get()), L"Test source"));
    RETURN_IF_FAILED(graph->AddFilter(grabberFilter.Get(), L"Grabber"));
    RETURN_IF_FAILED(graph->AddFilter(renderer.Get(), L"Null renderer"));
    RETURN_IF_FAILED(GetPin(grabberFilter.Get(), PINDIR_INPUT, &grabberIn));
    RETURN_IF_FAILED(GetPin(grabberFilter.Get(), PINDIR_OUTPUT, &grabberOut));
    RETURN_IF_FAILED(GetPin(renderer.Get(), PINDIR_INPUT, &rendererIn));
    if (connect) {
        RETURN_IF_FAILED(graph->ConnectDirect(source->Pin(0), grabberIn.Get(), nullptr));
        RETURN_IF_FAILED(graph->ConnectDirect(grabberOut.Get(), rendererIn.Get(), nullptr));
    }
    return S_OK;
}

HRESULT TestGraph::BuildDirect() {
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)));
    RETURN_IF_FAILED(graph.As(&control));
    RETURN_IF_FAILED(graph.As(&mediaFilter));
    // No __uuidof for IMediaEventEx in the platform headers.
    RETURN_IF_FAILED(graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(events.ReleaseAndGetAddressOf())));
    RETURN_IF_FAILED(TestSource::Create(&source));
    RETURN_IF_FAILED(CreateFilter(CLSID_NullRenderer, &renderer));
    RETURN_IF_FAILED(graph->AddFilter(static_cast<IBaseFilter*>(source.Get()), L"Test source"));
    RETURN_IF_FAILED(graph->AddFilter(renderer.Get(), L"Null renderer"));
    RETURN_IF_FAILED(GetPin(renderer.Get(), PINDIR_INPUT, &rendererIn));
    return graph->ConnectDirect(source->Pin(0), rendererIn.Get(), nullptr);
}

HRESULT TestGraph::NextEvent(long* code, LONG_PTR* param1, LONG_PTR* param2) {
    RETURN_IF_FAILED(events->GetEvent(code, param1, param2, 0));
    events->FreeEventParams(*code, *param1, *param2);
    return S_OK;
}

}  // namespace qmtest

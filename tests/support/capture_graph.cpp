#include "tests/support/capture_graph.h"

#include <cstring>

#include "framework/com_util.h"
#include "framework/media_type.h"
#include "tests/support/message_pump.h"

using Microsoft::WRL::ComPtr;

namespace qmtest {

namespace {

std::wstring ProgramDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L"\\/"));
}

}  // namespace

std::wstring RegisteredModule::ModulePath() {
    return ProgramDirectory() + L"\\QMCaptureDevice.ax";
}

DWORD RegisteredModule::RunRegsvr32(bool unregister) {
    // A 32-bit program's system folder is the 32-bit one, so this starts
    // the regsvr32 of the program's own architecture.
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(system) + L"\\regsvr32.exe\" /s " + (unregister ? L"/u " : L"") +
                           L"\"" + ModulePath() + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return static_cast<DWORD>(-1);
    }
    UniqueHandle process(pi.hProcess);
    UniqueHandle thread(pi.hThread);
    ::WaitForSingleObject(process.get(), 60000);
    DWORD code = static_cast<DWORD>(-1);
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

RegisteredModule::RegisteredModule() : m_exitCode(RunRegsvr32(false)) {}

RegisteredModule::~RegisteredModule() {
    RunRegsvr32(true);
}

HRESULT STDMETHODCALLTYPE SampleRecorder::SampleCB(double, IMediaSample* sample) {
    RecordedSample record;
    record.timeResult = sample->GetTime(&record.start, &record.end);
    record.syncPoint = sample->IsSyncPoint() == S_OK;
    record.discontinuity = sample->IsDiscontinuity() == S_OK;
    record.size = sample->GetSize();
    record.actualLength = sample->GetActualDataLength();
    record.thread = ::GetCurrentThreadId();
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::lock_guard<std::mutex> lock(m_lock);
    m_samples.push_back(record);
    if (data != nullptr && record.size > 0) {
        m_latest.assign(data, data + record.size);
    }
    return S_OK;
}

std::vector<RecordedSample> SampleRecorder::samples() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_samples;
}

size_t SampleRecorder::count() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_samples.size();
}

std::vector<BYTE> SampleRecorder::latestFrame() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_latest;
}

bool SampleRecorder::WaitForSamples(size_t n, DWORD timeoutMs) const {
    return WaitUntil([&] { return count() >= n; }, timeoutMs);
}

void SampleRecorder::Clear() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_samples.clear();
    m_latest.clear();
}

HRESULT CaptureGraph::Build(IBaseFilter* sourceFilter, bool throughCaptureGraphBuilder, const GUID& subtype) {
    source = sourceFilter;
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)));
    RETURN_IF_FAILED(graph.As(&control));
    RETURN_IF_FAILED(graph->AddFilter(source.Get(), L"Source"));
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(&grabberFilter)));
    RETURN_IF_FAILED(grabberFilter.As(&grabber));
    AM_MEDIA_TYPE want{};
    want.majortype = MEDIATYPE_Video;
    want.subtype = subtype;
    RETURN_IF_FAILED(grabber->SetMediaType(&want));
    RETURN_IF_FAILED(grabber->SetCallback(&recorder, 0));
    RETURN_IF_FAILED(graph->AddFilter(grabberFilter.Get(), L"Grabber"));
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer)));
    RETURN_IF_FAILED(graph->AddFilter(renderer.Get(), L"Renderer"));

    if (throughCaptureGraphBuilder) {
        ComPtr<ICaptureGraphBuilder2> builder;
        RETURN_IF_FAILED(::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_PPV_ARGS(&builder)));
        RETURN_IF_FAILED(builder->SetFiltergraph(graph.Get()));
        return builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(), grabberFilter.Get(),
                                     renderer.Get());
    }
    ComPtr<IPin> out;
    ComPtr<IPin> grabIn;
    ComPtr<IPin> grabOut;
    ComPtr<IPin> renderIn;
    RETURN_IF_FAILED(GetPin(source.Get(), PINDIR_OUTPUT, &out));
    RETURN_IF_FAILED(GetPin(grabberFilter.Get(), PINDIR_INPUT, &grabIn));
    RETURN_IF_FAILED(GetPin(grabberFilter.Get(), PINDIR_OUTPUT, &grabOut));
    RETURN_IF_FAILED(GetPin(renderer.Get(), PINDIR_INPUT, &renderIn));
    RETURN_IF_FAILED(graph->ConnectDirect(out.Get(), grabIn.Get(), nullptr));
    return graph->ConnectDirect(grabOut.Get(), renderIn.Get(), nullptr);
}

HRESULT CaptureGraph::ConnectedType(AM_MEDIA_TYPE* mt) const {
    ComPtr<IPin> out;
    RETURN_IF_FAILED(GetPin(source.Get(), PINDIR_OUTPUT, &out));
    return out->ConnectionMediaType(mt);
}

HRESULT CaptureGraph::Run() {
    return control->Run();
}

HRESULT CaptureGraph::Stop() {
    return control ? control->Stop() : S_OK;
}

CaptureGraph::~CaptureGraph() {
    if (control) {
        control->Stop();
    }
    if (grabber) {
        grabber->SetCallback(nullptr, 0);
    }
}

}  // namespace qmtest

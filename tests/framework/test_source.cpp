#include "tests/framework/test_source.h"

#include <cstring>
#include <string>

namespace qmtest {

CMediaType MakeRgbType(LONG width, LONG height, const GUID& subtype, WORD bitCount) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    mt.SetTemporalCompression(FALSE);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (vih != nullptr) {
        std::memset(vih, 0, sizeof(*vih));
        vih->AvgTimePerFrame = kTestFrameTime;
        vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih->bmiHeader.biWidth = width;
        vih->bmiHeader.biHeight = height;
        vih->bmiHeader.biPlanes = 1;
        vih->bmiHeader.biBitCount = bitCount;
        vih->bmiHeader.biCompression = BI_RGB;
        vih->bmiHeader.biSizeImage = static_cast<DWORD>(width * height * (bitCount / 8));
    }
    mt.SetSampleSize(static_cast<ULONG>(width * height * (bitCount / 8)));
    return mt;
}

CMediaType TestFormat() {
    return MakeRgbType(kTestWidth, kTestHeight);
}

TestStream::TestStream(HRESULT* phr, TestSource* filter, LPCWSTR name)
    : CSourceStream(L"Test stream", phr, filter, name), m_lifetime(filter->lifetime) {}

TestStream::~TestStream() {
    EndWorker();
    if (m_lifetime != nullptr) {
        m_lifetime->streamDestroyed = true;
    }
}

DWORD TestStream::ThreadProc() {
    const HRESULT refusal = pauseRefusal.load();
    if (SUCCEEDED(refusal)) {
        return CSourceStream::ThreadProc();
    }
    while (GetRequest() != CMD_INIT) {
        Reply(static_cast<DWORD>(E_UNEXPECTED));
    }
    Reply(static_cast<DWORD>(OnThreadCreate()));
    for (bool refused = false;;) {
        const DWORD command = GetRequest();
        if (command == CMD_PAUSE && !refused) {
            refused = true;
            Reply(static_cast<DWORD>(refusal));
            continue;
        }
        Reply(S_OK);
        if (command == CMD_EXIT) {
            break;
        }
    }
    OnThreadDestroy();
    return 0;
}

HRESULT TestStream::GetMediaType(CMediaType* mt) {
    if (mt == nullptr) {
        return E_POINTER;
    }
    if (FAILED(formatResult.load())) {
        return formatResult.load();
    }
    *mt = TestFormat();
    if (adjustFormat) {
        adjustFormat(mt);
    }
    return S_OK;
}

HRESULT TestStream::GetMediaType(int position, CMediaType* mt) {
    typePositions.push_back(position);
    return CSourceStream::GetMediaType(position, mt);
}

HRESULT TestStream::CheckMediaType(const CMediaType* mt) {
    if (mt != nullptr) {
        checkedTypes.push_back(*mt);
    }
    return CSourceStream::CheckMediaType(mt);
}

HRESULT TestStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    if (allocator == nullptr || request == nullptr) {
        return E_POINTER;
    }
    bufferRequests.push_back(*request);
    if (request->cBuffers < 1) {
        request->cBuffers = 1;
    }
    request->cbBuffer = static_cast<long>(kTestImageSize);
    ALLOCATOR_PROPERTIES actual = {};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) {
        return hr;
    }
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

HRESULT TestStream::Active() {
    calls.push_back("A");
    return CSourceStream::Active();
}

HRESULT TestStream::Inactive() {
    calls.push_back("I");
    const HRESULT hr = CSourceStream::Inactive();
    const HRESULT report = inactiveReport.load();
    return FAILED(report) ? report : hr;
}

HRESULT TestStream::Run(REFERENCE_TIME start) {
    calls.push_back("R" + std::to_string(start));
    return CSourceStream::Run(start);
}

HRESULT TestStream::FillBuffer(IMediaSample* sample) {
    ++fillCalls;
    const LONG limit = samplesBeforeEnd.load();
    if (limit >= 0 && filled.load() >= limit) {
        return fillEndResult.load();
    }
    const HANDLE gate = fillGate.load();
    if (gate != nullptr) {
        inGatedFill = true;
        ::WaitForSingleObject(gate, INFINITE);
        inGatedFill = false;
        if (m_lifetime != nullptr && m_lifetime->streamDestroyed) {
            ++m_lifetime->fillsInDestroyedStream;
        }
    }
    const DWORD pace = paceMs.load();
    if (pace != 0) {
        // The frame wait ends at once when a command arrives for the
        // worker; the command itself is left for the command loop.
        pacing = true;
        if (::WaitForSingleObject(GetRequestHandle(), pace) == WAIT_OBJECT_0) {
            paceEndedByRequest = true;
            if (noSampleWhenInterrupted) {
                pacing = false;
                return kNoSample;
            }
        }
        pacing = false;
    }
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr)) {
        return hr;
    }
    const long size = sample->GetSize();
    const long used = size < static_cast<long>(kTestImageSize) ? size : static_cast<long>(kTestImageSize);
    std::memset(data, static_cast<int>(m_frameNumber & 0xff), static_cast<size_t>(used));
    sample->SetActualDataLength(used);
    REFERENCE_TIME start = m_frameNumber * kTestFrameTime;
    REFERENCE_TIME end = start + kTestFrameTime;
    sample->SetTime(&start, &end);
    sample->SetSyncPoint(TRUE);
    ++m_frameNumber;
    ++filled;
    return S_OK;
}

HRESULT TestStream::OnThreadCreate() {
    ++threadCreates;
    APTTYPE apartment = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    workerApartment = SUCCEEDED(::CoGetApartmentType(&apartment, &qualifier)) ? static_cast<int>(apartment) : -1;
    m_frameNumber = 0;
    return onThreadCreateResult.load();
}

HRESULT TestStream::OnThreadDestroy() {
    ++threadDestroys;
    if (m_lifetime != nullptr) {
        ++m_lifetime->workersEnded;
    }
    return S_OK;
}

TestSource::TestSource(HRESULT* phr, int pins, SourceLifetime* record)
    : CSource(L"Test source", nullptr, CLSID_TestSource), lifetime(record) {
    CAutoLock lock(&m_cStateLock);
    for (int i = 0; i < pins; ++i) {
        const std::wstring name = L"Out " + std::to_wstring(i + 1);
        HRESULT hr = S_OK;
        auto* stream = new TestStream(&hr, this, name.c_str());
        if (FAILED(hr)) {
            // Not in the table, so the filter would never delete it.
            delete stream;
            if (phr != nullptr) {
                *phr = hr;
            }
            return;
        }
    }
}

TestSource::~TestSource() {
    if (lifetime != nullptr) {
        lifetime->destroyed = true;
    }
}

HRESULT TestSource::Create(ComPtr<TestSource>* filter, int pins, SourceLifetime* lifetime) {
    if (filter == nullptr) {
        return E_POINTER;
    }
    HRESULT hr = S_OK;
    auto* created = new TestSource(&hr, pins, lifetime);
    created->NonDelegatingAddRef();
    if (FAILED(hr)) {
        created->NonDelegatingRelease();
        return hr;
    }
    // Not Attach: mingw-w64's ComPtr::Attach takes a reference of its own.
    *filter->ReleaseAndGetAddressOf() = created;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSource::Pause() {
    ++pauseCalls;
    return CSource::Pause();
}

}  // namespace qmtest

#include "capture/zrv_stream.h"

#include "settings/camera_list.h"

#include <uuids.h>

#include <cstring>
#include <utility>

#include "settings/capture_device_ids.h"
#include "settings/capture_settings.h"
#include "capture/sample_sink.h"
#include "capture/output_formats.h"
#include "capture/pin_category.h"
#include "capture/sample_target.h"
#include "capture/zrv_capture.h"

namespace {

constexpr wchar_t kPinName[] = L"RGB Out";

SIZE SizeOf(const CMediaType& mt) {
    const VIDEOINFOHEADER* vih = output_formats::GetVideoInfo(mt);
    if (vih == nullptr) {
        return {0, 0};
    }
    return {vih->bmiHeader.biWidth, vih->bmiHeader.biHeight};
}

}  // namespace

CZRV_Stream::CZRV_Stream(HRESULT* phr, CZRV_Capture* filter, int camera)
    : CSourceStream(L"QM Capture Stream", phr, filter, kPinName), m_settings(SettingsPathOfCamera(camera).text) {
    const HRESULT hr =
        output_formats::BuildMediaType(&m_mt, m_settings.GetFrameTime(), m_settings.GetSelectPixel(),
                                       m_settings.GetOutputFormat());
    if (FAILED(hr) && phr != nullptr && SUCCEEDED(*phr)) {
        *phr = hr;
    }
    // A canvas that cannot be built at the stored size leaves the initial
    // one: the device still works, and its samples carry no picture until
    // a format whose canvas can be built is chosen.
    CAutoLock format(&m_formatLock);
    QM_IGNORE(FitPictureTo(m_mt), "the device works on; a format with a canvas can still be chosen");
}

CZRV_Stream::~CZRV_Stream() {
    // The worker runs this pin's members (settings, capture, pacing,
    // picture): it ends before any of them goes.
    EndWorker();
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    if (IsEqualIID(riid, IID_IAMStreamConfig)) {
        return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_IKsPropertySet)) {
        return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_ISpecifyPropertyPages)) {
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    }
    // One vtable serves all three: each interface extends the one before.
    if (IsEqualIID(riid, IID_ICaptureDeviceSettings) || IsEqualIID(riid, IID_ICaptureDeviceSettings2) ||
        IsEqualIID(riid, IID_ICaptureDeviceSettings3)) {
        return GetInterface(static_cast<ICaptureDeviceSettings3*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_IAMPushSource) || IsEqualIID(riid, IID_IAMLatency)) {
        return GetInterface(static_cast<IAMPushSource*>(this), ppv);
    }
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

const CMediaType& CZRV_Stream::SelectedType() const {
    QM_DCHECK_HELD(m_formatLock);
    return m_hasPendingType ? m_pendingType : m_mt;
}

HRESULT CZRV_Stream::ApplySelectedType(CMediaType& type) {
    QM_DCHECK_HELD(m_formatLock);
    if (IsConnected()) {
        m_pendingType.Swap(type);
        m_hasPendingType = true;
        return S_OK;
    }
    // The canvas first: a type is never the pin's without one of its size.
    RETURN_IF_FAILED(FitPictureTo(type));
    m_mt.Swap(type);
    m_hasPendingType = false;
    return S_OK;
}

HRESULT CZRV_Stream::FitPictureTo(const CMediaType& type) {
    QM_DCHECK_HELD(m_formatLock);
    m_producer.Forget();
    const SIZE size = SizeOf(type);
    return m_picture.Resize(size.cx, size.cy);
}

// ---- Negotiation ----

HRESULT CZRV_Stream::CheckMediaType(const CMediaType* mt) {
    RETURN_HR_IF_NULL(E_POINTER, mt);
    CAutoLock format(&m_formatLock);
    const HRESULT hr = output_formats::CheckMediaType(mt, SelectedType());
    // While a new size waits for the next connection, the type of the
    // connection the pin still has stays acceptable: its samples are of
    // that type until the connection ends.
    if (hr != S_OK && m_hasPendingType && output_formats::CheckMediaType(mt, m_mt) == S_OK) {
        return S_OK;
    }
    return hr;
}

HRESULT CZRV_Stream::SetMediaType(const CMediaType* mt) {
    RETURN_HR_IF_NULL(E_POINTER, mt);
    const VIDEOINFOHEADER* vih = output_formats::GetVideoInfo(*mt);
    RETURN_HR_IF(VFW_E_INVALIDMEDIATYPE, vih == nullptr);
    CAutoLock lock(m_pLock);
    CAutoLock format(&m_formatLock);
    // Samples of the connection must match the canvas: a connection whose
    // canvas cannot be built is refused.
    RETURN_IF_FAILED(FitPictureTo(*mt));
    RETURN_IF_FAILED(CSourceStream::SetMediaType(mt));
    m_hasPendingType = false;
    return S_OK;
}

HRESULT CZRV_Stream::GetMediaType(int position, CMediaType* mt) {
    CAutoLock format(&m_formatLock);
    return output_formats::GetMediaType(position, mt, SelectedType(), m_settings.GetFrameTime());
}

HRESULT CZRV_Stream::GetMediaType(CMediaType* mt) {
    RETURN_HR_IF_NULL(E_POINTER, mt);
    CAutoLock format(&m_formatLock);
    return mt->Set(SelectedType());
}

HRESULT CZRV_Stream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    RETURN_HR_IF_NULL(E_POINTER, allocator);
    RETURN_HR_IF_NULL(E_POINTER, request);
    QM_DCHECK_HELD(*m_pLock);
    CMediaType connected;
    {
        CAutoLock format(&m_formatLock);
        RETURN_IF_FAILED(connected.Set(m_mt));
    }
    // The connection code calls this under the state lock, which it holds
    // across the whole negotiation; the format lock at least is not held
    // while another object (the allocator) is asked.
    return output_formats::DecideBufferSize(allocator, request, connected);
}

HRESULT CZRV_Stream::BreakConnect() {
    CAutoLock lock(m_pLock);
    RETURN_IF_FAILED(CSourceStream::BreakConnect());
    CAutoLock format(&m_formatLock);
    if (m_hasPendingType) {
        // The connection ends either way, so a canvas that cannot be built
        // for the waiting type is not BreakConnect's failure to report: the
        // waiting type is then given up, and the pin keeps the type of the
        // ended connection, whose canvas it has.
        if (SUCCEEDED(FitPictureTo(m_pendingType))) {
            m_mt.Swap(m_pendingType);
        }
        m_hasPendingType = false;
    }
    return S_OK;
}

// ---- Streaming thread ----

HRESULT CZRV_Stream::FillBuffer(IMediaSample* sample) {
    RETURN_HR_IF_NULL(E_POINTER, sample);
    FrameShape shape;
    {
        // The connection's type, which cannot change while the pin streams
        // (a new one waits for the next connection).
        CAutoLock format(&m_formatLock);
        shape = output_formats::ShapeOfType(m_mt);
    }
    CSampleSink sink(sample, shape, m_stamper);
    const CFrameProducer::FrameOutcome outcome = m_producer.Next(sink, GetRequestHandle());
    if (sink.Stored()) {
        ApplyStoredFormat(*sink.Stored());
    }
    // A sample the frame does not fit (a downstream allocator that hands
    // out less than it granted) carries no picture: it goes back to the
    // allocator undelivered (the producer leaves a trace), and the frame's
    // slot passes, so that the next sample keeps its own slot's times.
    return outcome == CFrameProducer::FrameOutcome::Drawn ? S_OK : kNoSample;
}

HRESULT CZRV_Stream::Run(REFERENCE_TIME start) {
    // The filter calls this under its state lock, so the clock it hands
    // out cannot change meanwhile.
    Microsoft::WRL::ComPtr<IReferenceClock> clock;
    QM_IGNORE(m_pFilter->GetSyncSource(&clock), "without a clock the pacing runs on the performance counter");
    m_graphClock.Set(clock.Get());
    m_producer.Run(start, clock ? &m_graphClock : nullptr);
    return CSourceStream::Run(start);
}

void CZRV_Stream::OnGraphPaused() {
    m_producer.Pause();
}

HRESULT CZRV_Stream::Inactive() {
    const HRESULT hr = CSourceStream::Inactive();
    // Under the state lock, which no capture thread takes.
    m_producer.AfterStreamingThreadEnded();
    return hr;
}

void CZRV_Stream::ApplyStoredFormat(const StoredFormat& stored) {
    // A size or format stored by someone else is taken like one set here,
    // but not written back: while connected it waits for the next
    // connection. Only what was stored changes: a new size keeps the
    // format the pin has (which an application may have chosen), a new
    // format the size. Nobody on this thread could be told of a failure: a
    // type that cannot be built, or a canvas that cannot, leaves the pin
    // with the type it has, and the stored value applies when it next
    // changes.
    CAutoLock format(&m_formatLock);
    CMediaType type;
    if (SUCCEEDED(output_formats::BuildVariant(SelectedType(), stored.sizeIndex, stored.outputFormat,
                                               m_settings.GetFrameTime(), &type))) {
        QM_IGNORE(ApplySelectedType(type), "the pin keeps the type it has");
    }
}

HRESULT CZRV_Stream::OnThreadCreate() {
    m_stamper.Restart();
    std::optional<StoredFormat> stored;
    RETURN_IF_FAILED(m_producer.Start(&stored));
    if (stored) {
        ApplyStoredFormat(*stored);
    }
    // What makes the first frames slow is done here, while the filter's
    // Pause waits for this start: a graph that runs at once then starts
    // its clock only after it, and no frame of the stream pays for it.
    WarmBuffers(m_pAllocator.Get());
    m_producer.ReadAhead();
    return S_OK;
}

HRESULT CZRV_Stream::OnThreadDestroy() {
    m_producer.Stop();
    return S_OK;
}

// ---- IAMStreamConfig ----

HRESULT STDMETHODCALLTYPE CZRV_Stream::SetFormat(AM_MEDIA_TYPE* mt) {
    RETURN_HR_IF_NULL(E_POINTER, mt);
    // Hosts set the format of a stopped filter: while the graph pauses or
    // runs, its connection's format is in use and cannot be renegotiated.
    RETURN_HR_IF(VFW_E_NOT_STOPPED, !m_pFilter->IsStopped());
    CMediaType type;
    RETURN_IF_FAILED(output_formats::TypeFromStreamConfig(*mt, &type));
    const REFERENCE_TIME requestedFrameTime = output_formats::GetVideoInfo(type)->AvgTimePerFrame;

    bool reconnect = false;
    {
        CAutoLock format(&m_formatLock);
        // The type carries the frame time it puts in use: the one asked
        // for, clamped, or (0 and below) the current one. Nothing changes
        // before the type is taken.
        const REFERENCE_TIME frameTime =
            requestedFrameTime > 0 ? ClampFrameTime(requestedFrameTime) : m_settings.GetFrameTime();
        reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame = frameTime;
        if (type != SelectedType()) {
            RETURN_IF_FAILED(ApplySelectedType(type));
        } else if (!m_hasPendingType) {
            // The same type again still starts a fresh picture.
            RETURN_IF_FAILED(FitPictureTo(m_mt));
        }
        m_settings.SetFrameTime(frameTime);
        // Asked again while a change still waits (the graph was running the
        // first time), the graph is asked again.
        reconnect = IsConnected() && m_hasPendingType;
    }
    // The graph renegotiates through this pin's own operations, which take
    // the locks themselves; so no lock is held here. A graph that has
    // started meanwhile (Run on another thread) is not asked, and the type
    // waits for the next connection: Wine's graph manager, whose Reconnect
    // is not atomic with a Run, can leave both pins disconnected (the pin
    // then takes the type as its connection ends). The graph is held by a
    // reference of our own for the call, in case the application lets go.
    if (reconnect && m_pFilter->IsStopped()) {
        const Microsoft::WRL::ComPtr<IFilterGraph> graph = m_pFilter->GetFilterGraph();
        if (graph) {
            QM_IGNORE(graph->Reconnect(static_cast<IPin*>(this)), "a running graph refuses; the type waits");
        }
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::GetFormat(AM_MEDIA_TYPE** mt) {
    RETURN_HR_IF_NULL(E_POINTER, mt);
    *mt = nullptr;
    CAutoLock format(&m_formatLock);
    UniqueMediaType copy(CreateMediaType(&SelectedType()));
    RETURN_HR_IF(E_OUTOFMEMORY, !copy);
    *mt = copy.release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::GetNumberOfCapabilities(int* count, int* size) {
    RETURN_HR_IF_NULL(E_POINTER, count);
    RETURN_HR_IF_NULL(E_POINTER, size);
    *count = output_formats::kOfferCount;
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) {
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= output_formats::kOfferCount);
    RETURN_HR_IF_NULL(E_POINTER, mt);
    RETURN_HR_IF_NULL(E_POINTER, caps);
    *mt = nullptr;
    CMediaType type;
    VIDEO_STREAM_CONFIG_CAPS filled;
    RETURN_IF_FAILED(output_formats::BuildOffer(index, m_settings.GetFrameTime(), &type, &filled));
    UniqueMediaType copy(CreateMediaType(&type));
    RETURN_HR_IF(E_OUTOFMEMORY, !copy);
    std::memcpy(caps, &filled, sizeof(filled));
    *mt = copy.release();
    return S_OK;
}

// ---- IKsPropertySet ----

HRESULT STDMETHODCALLTYPE CZRV_Stream::Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataLength,
                                           DWORD* returned) {
    return pin_category::Get(set, id, data, dataLength, returned);
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    return pin_category::QuerySupported(set, id, support);
}

// ---- ISpecifyPropertyPages ----

HRESULT STDMETHODCALLTYPE CZRV_Stream::GetPages(CAUUID* pages) {
    RETURN_HR_IF_NULL(E_POINTER, pages);
    pages->cElems = 0;
    // The settings page first, then the window page.
    constexpr GUID kPages[] = {CLSID_CaptureDeviceProp, CLSID_CaptureWindowProp};
    pages->pElems = static_cast<GUID*>(::CoTaskMemAlloc(sizeof(kPages)));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, pages->pElems);
    std::memcpy(pages->pElems, kPages, sizeof(kPages));
    pages->cElems = sizeof(kPages) / sizeof(kPages[0]);
    return S_OK;
}

// ---- ICaptureDeviceSettings ----

HRESULT STDMETHODCALLTYPE CZRV_Stream::GetFrameSize(int* size) {
    RETURN_HR_IF_NULL(E_POINTER, size);
    CAutoLock format(&m_formatLock);
    const SIZE current = SizeOf(SelectedType());
    size[0] = current.cx;
    size[1] = current.cy;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::SetFrameSize(const int* size) {
    RETURN_HR_IF_NULL(E_POINTER, size);
    CAutoLock format(&m_formatLock);
    HRESULT hr = S_OK;
    CMediaType type(SelectedType(), &hr);
    RETURN_IF_FAILED(hr);
    RETURN_IF_FAILED(output_formats::ApplyFrameSize(&type, size[0], size[1]));
    return ApplySelectedType(type);
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::SetSelectPixel(int index) {
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= kFrameSizeTableCount);
    {
        // Another size in the format the pin has.
        CAutoLock format(&m_formatLock);
        CMediaType type;
        RETURN_IF_FAILED(
            output_formats::BuildVariant(SelectedType(), index, std::nullopt, m_settings.GetFrameTime(), &type));
        RETURN_IF_FAILED(ApplySelectedType(type));
    }
    // Stored once it applies, outside the format lock: a registry write
    // never holds up the queries that take it.
    return m_settings.PersistSelectPixel(index);
}

// ---- IAMPushSource, IAMLatency ----

HRESULT STDMETHODCALLTYPE CZRV_Stream::GetLatency(REFERENCE_TIME* latency) {
    RETURN_HR_IF_NULL(E_POINTER, latency);
    // A frame leaves when its slot begins and shows what the window held
    // then; a renderer should allow one frame for it.
    *latency = m_settings.GetFrameTime();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::GetPushSourceFlags(ULONG* flags) {
    RETURN_HR_IF_NULL(E_POINTER, flags);
    // Live (not AM_PUSHSOURCECAPS_NOT_LIVE), stamped with stream times of
    // the graph's clock (not AM_PUSHSOURCECAPS_PRIVATE_CLOCK).
    *flags = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::SetPushSourceFlags(ULONG /*flags*/) {
    // How the device stamps is not a choice.
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::SetStreamOffset(REFERENCE_TIME offset) {
    return m_stamper.SetStreamOffset(offset);
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::GetStreamOffset(REFERENCE_TIME* offset) {
    RETURN_HR_IF_NULL(E_POINTER, offset);
    *offset = m_stamper.GetStreamOffset();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::GetMaxStreamOffset(REFERENCE_TIME* maxOffset) {
    RETURN_HR_IF_NULL(E_POINTER, maxOffset);
    *maxOffset = m_stamper.GetMaxStreamOffset();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZRV_Stream::SetMaxStreamOffset(REFERENCE_TIME maxOffset) {
    return m_stamper.SetMaxStreamOffset(maxOffset);
}

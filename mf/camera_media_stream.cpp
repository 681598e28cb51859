#include "mf/camera_media_stream.h"

#include <mfapi.h>
#include <mferror.h>

#include <atomic>
#include <new>

#include "framework/performance_counter.h"
#include "ring/frame_ring.h"
#include "timing/stream_pacing.h"
#include "framework/diagnostic_log.h"
#include "mf/media_foundation.h"

using Microsoft::WRL::ComPtr;

namespace {

// While stopped, the thread still beats for the ring this often.
constexpr DWORD kIdleBeatMs = 1000;

std::atomic<HRESULT> g_threadStartFailure{S_OK};

}  // namespace

void CCameraMediaStream::FailNextThreadStartForTesting(HRESULT hr) {
    g_threadStartFailure = hr;
}

CCameraMediaStream::CCameraMediaStream() : CUnknown(L"QM camera media stream", nullptr) {}

CCameraMediaStream::~CCameraMediaStream() {
    // A stream released without its source's Shutdown still ends its
    // thread, which holds no reference of its own.
    StopThread();
}

HRESULT CCameraMediaStream::Create(IMFMediaSource* source, IMFStreamDescriptor* descriptor,
                                   CCameraMediaStream** stream) {
    RETURN_HR_IF(E_POINTER, source == nullptr || descriptor == nullptr || stream == nullptr);
    *stream = nullptr;
    CCameraMediaStream* created = new (std::nothrow) CCameraMediaStream();
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, created);
    created->NonDelegatingAddRef();
    HRESULT hr = media_foundation::CreateEventQueue(&created->m_queue);
    if (SUCCEEDED(hr)) {
        hr = descriptor->GetMediaTypeHandler(&created->m_handler);
    }
    if (SUCCEEDED(hr)) {
        created->m_wake.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        hr = created->m_wake ? S_OK : HResultFromLastError();
    }
    if (FAILED(hr)) {
        created->NonDelegatingRelease();
        return hr;
    }
    created->m_source = source;
    created->m_descriptor = descriptor;
    *stream = created;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCameraMediaStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    if (riid == __uuidof(IMFMediaEventGenerator) || riid == __uuidof(IMFMediaStream) ||
        riid == __uuidof(IMFMediaStream2)) {
        return GetInterface(static_cast<IMFMediaStream2*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// ---- IMFMediaEventGenerator ---------------------------------------------------

// GetEvent, BeginGetEvent, EndGetEvent and QueueEvent are m_events'
// (media_event_generator.h), in the class.

// ---- IMFMediaStream -------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCameraMediaStream::GetMediaSource(IMFMediaSource** source) {
    RETURN_HR_IF_NULL(E_POINTER, source);
    *source = nullptr;
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown || m_source == nullptr);
    m_source->AddRef();
    *source = m_source;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCameraMediaStream::GetStreamDescriptor(IMFStreamDescriptor** descriptor) {
    RETURN_HR_IF_NULL(E_POINTER, descriptor);
    *descriptor = nullptr;
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    return m_descriptor.CopyTo(descriptor);
}

HRESULT STDMETHODCALLTYPE CCameraMediaStream::RequestSample(IUnknown* token) {
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    RETURN_HR_IF(MF_E_MEDIA_SOURCE_WRONGSTATE, m_state != MF_STREAM_STATE_RUNNING);
    RETURN_HR_IF(MF_E_NOTACCEPTING, m_requestCount == kMaxPendingRequests);
    m_requests[(m_firstRequest + m_requestCount) % kMaxPendingRequests] = token;
    ++m_requestCount;
    return S_OK;
}

// ---- IMFMediaStream2 ------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCameraMediaStream::SetStreamState(MF_STREAM_STATE value) {
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    switch (value) {
        case MF_STREAM_STATE_RUNNING:
            RETURN_HR_IF(MF_E_INVALID_STATE_TRANSITION, !m_hasFormat);
            if (m_state != MF_STREAM_STATE_RUNNING) {
                RETURN_IF_FAILED(EnsureThread());
                m_state = MF_STREAM_STATE_RUNNING;
                ++m_generation;
                ::SetEvent(m_wake.get());
            }
            return S_OK;
        case MF_STREAM_STATE_STOPPED:
            if (m_state != MF_STREAM_STATE_STOPPED) {
                m_state = MF_STREAM_STATE_STOPPED;
                DropRequests();
                ++m_generation;
                ::SetEvent(m_wake.get());
            }
            return S_OK;
        case MF_STREAM_STATE_PAUSED:
            return MF_E_INVALID_STATE_TRANSITION;
    }
    return E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE CCameraMediaStream::GetStreamState(MF_STREAM_STATE* value) {
    RETURN_HR_IF_NULL(E_POINTER, value);
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    *value = m_state;
    return S_OK;
}

// ---- The source's side ----------------------------------------------------------

HRESULT CCameraMediaStream::SetRing(const frame_ring::RingAccess& ring) {
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    // Once, before the thread that reads it exists: creating the thread
    // hands the frame source over to it.
    RETURN_HR_IF(E_UNEXPECTED, m_hasRing || m_thread);
    m_frames.SetRing(ring);
    m_hasRing = true;
    return S_OK;
}

HRESULT CCameraMediaStream::PrepareStart() {
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    return EnsureThread();
}

HRESULT CCameraMediaStream::Start(const camera_media_types::StreamFormat& format, IMFMediaType* type,
                                  const PROPVARIANT* startPosition) {
    RETURN_HR_IF_NULL(E_POINTER, type);
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    RETURN_HR_IF(E_UNEXPECTED, !m_thread);
    RETURN_IF_FAILED(m_queue->QueueEventParamVar(MEStreamStarted, GUID_NULL, S_OK, startPosition));
    m_delivery.format = format;
    m_delivery.type = type;
    m_hasFormat = true;
    m_state = MF_STREAM_STATE_RUNNING;
    DropRequests();
    ++m_generation;
    ::SetEvent(m_wake.get());
    return S_OK;
}

HRESULT CCameraMediaStream::Stop() {
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    m_state = MF_STREAM_STATE_STOPPED;
    DropRequests();
    ++m_generation;
    if (m_wake) {
        ::SetEvent(m_wake.get());
    }
    return m_queue->QueueEventParamVar(MEStreamStopped, GUID_NULL, S_OK, nullptr);
}

void CCameraMediaStream::Shutdown() {
    ComPtr<IMFMediaEventQueue> queue;
    {
        CAutoLock lock(&m_lock);
        if (m_shutdown) {
            return;
        }
        m_shutdown = true;
        m_state = MF_STREAM_STATE_STOPPED;
        DropRequests();
        queue = m_queue;
        m_source = nullptr;
    }
    StopThread();
    if (queue) {
        QM_IGNORE(queue->Shutdown(), "a queue shut down twice has nothing more to do");
    }
}

void CCameraMediaStream::DropRequests() {
    QM_DCHECK_HELD(m_lock);
    for (ComPtr<IUnknown>& request : m_requests) {
        request.Reset();
    }
    m_firstRequest = 0;
    m_requestCount = 0;
}

// ---- The delivery thread ----------------------------------------------------------

HRESULT CCameraMediaStream::EnsureThread() {
    QM_DCHECK_HELD(m_lock);
    if (m_thread) {
        return S_OK;
    }
    const HRESULT injected = g_threadStartFailure.exchange(S_OK);
    RETURN_IF_FAILED(injected);
    m_exit = false;
    m_thread.reset(::CreateThread(nullptr, 0, &CCameraMediaStream::ThreadProc, this, 0, nullptr));
    return m_thread ? S_OK : HResultFromLastError();
}

void CCameraMediaStream::StopThread() {
    HANDLE thread = nullptr;
    {
        CAutoLock lock(&m_lock);
        m_exit = true;
        thread = m_thread.get();
        if (m_wake) {
            ::SetEvent(m_wake.get());
        }
    }
    if (thread != nullptr) {
        // Not under the lock: the thread takes it on its way out.
        ::WaitForSingleObject(thread, INFINITE);
        CAutoLock lock(&m_lock);
        m_thread.reset();
    }
}

DWORD WINAPI CCameraMediaStream::ThreadProc(void* parameter) {
    static_cast<CCameraMediaStream*>(parameter)->Run();
    return 0;
}

void CCameraMediaStream::Run() {
    uint64_t seenGeneration = 0;
    bool delivering = false;
    Delivery delivery = {};
    // The schedule in stream time, as every camera paces its frames: each
    // frame due where the one before it ended, and after a stall the slot
    // the stream has reached rather than a burst of late frames; on the
    // performance counter, from the start of each delivery.
    CStreamPacing pacing;
    int64_t lastTime = 0;
    const auto endDelivery = [&] {
        if (delivering) {
            pacing.Stop();
            delivering = false;
        }
    };
    for (;;) {
        bool exit = false;
        bool running = false;
        uint64_t generation = 0;
        {
            CAutoLock lock(&m_lock);
            exit = m_exit;
            running = m_state == MF_STREAM_STATE_RUNNING;
            generation = m_generation;
            if (generation != seenGeneration) {
                delivery = m_delivery;
            }
        }
        if (exit) {
            break;
        }
        if (generation != seenGeneration) {
            seenGeneration = generation;
            endDelivery();
            if (running) {
                HRESULT hr = m_frames.Begin(delivery.format);
                if (SUCCEEDED(hr)) {
                    hr = pacing.Start();
                }
                if (FAILED(hr)) {
                    diagnostic_log::Write("media stream: frames of %dx%d cannot be prepared (0x%08lX)",
                                          delivery.format.width, delivery.format.height,
                                          static_cast<unsigned long>(hr));
                    QM_IGNORE(QueueEvent(MEError, GUID_NULL, hr, nullptr), "a stream shut down has no client");
                } else {
                    delivering = true;
                    pacing.Run(0, nullptr);
                }
            } else {
                m_frames.End();
            }
        }
        if (!delivering) {
            m_frames.Heartbeat();
            ::WaitForSingleObject(m_wake.get(), kIdleBeatMs);
            continue;
        }
        if (!pacing.WaitUntilDue(m_wake.get(), delivery.format.frameTime)) {
            // Woken early: the state changed, look again.
            continue;
        }
        if (!FollowCurrentType(seenGeneration, &delivery)) {
            endDelivery();
            continue;
        }
        m_frames.Heartbeat();
        DeliverFrame(seenGeneration, delivery.format.frameTime, &lastTime);
        QM_IGNORE(pacing.Take(delivery.format.frameTime), "samples carry Media Foundation's clock");
    }
    endDelivery();
    m_frames.End();
}

bool CCameraMediaStream::FollowCurrentType(uint64_t generation, Delivery* delivery) {
    ComPtr<IMFMediaType> current;
    if (FAILED(m_handler->GetCurrentMediaType(&current)) || current.Get() == delivery->type.Get()) {
        return true;
    }
    camera_media_types::StreamFormat format = {};
    HRESULT hr = camera_media_types::StreamFormatOf(current.Get(), &format);
    if (SUCCEEDED(hr) && !camera_media_types::SameFormat(format, delivery->format)) {
        hr = m_frames.Begin(format);
    }
    CAutoLock lock(&m_lock);
    if (m_generation != generation) {
        // Stopped or started again meanwhile: the next look starts afresh.
        return false;
    }
    if (FAILED(hr)) {
        // Samples of another type than the one the client reads as current
        // would be read past their end by a client that sizes its copy from
        // the type: none rather than those.
        diagnostic_log::Write("media stream: the type set while running cannot be delivered (0x%08lX)",
                              static_cast<unsigned long>(hr));
        m_delivery.type = current;
        delivery->type = current;
        QM_IGNORE(m_queue->QueueEventParamVar(MEError, GUID_NULL, hr, nullptr), "a stream shut down has no client");
        return false;
    }
    const bool changed = !camera_media_types::SameFormat(format, delivery->format);
    delivery->format = format;
    delivery->type = current;
    m_delivery = *delivery;
    if (changed) {
        // Before the first sample of the new type, in the same queue.
        QM_IGNORE(m_queue->QueueEventParamUnk(MEStreamFormatChanged, GUID_NULL, S_OK, current.Get()),
                  "the samples carry the new size either way");
    }
    return true;
}

void CCameraMediaStream::DeliverFrame(uint64_t generation, int64_t frameTime, int64_t* lastTime) {
    {
        CAutoLock lock(&m_lock);
        if (m_requestCount == 0 || m_generation != generation) {
            return;
        }
    }
    // The frame is copied without the lock.
    ComPtr<IMFSample> sample;
    HRESULT hr = m_frames.NextSample(&sample);
    if (FAILED(hr)) {
        diagnostic_log::Write("media stream: no sample (0x%08lX)", static_cast<unsigned long>(hr));
        return;
    }
    // Media Foundation's clock (QPC), rising strictly.
    int64_t time = media_foundation::SystemTime();
    if (time <= *lastTime) {
        time = *lastTime + 1;
    }
    *lastTime = time;
    QM_IGNORE(sample->SetSampleTime(time), "a sample's time is set on its own attribute store");
    QM_IGNORE(sample->SetSampleDuration(frameTime), "as above");
    QM_IGNORE(sample->SetUINT32(MFSampleExtension_CleanPoint, TRUE), "every frame is a whole picture");

    CAutoLock lock(&m_lock);
    // Stopped or restarted meanwhile: the request was dropped with it.
    if (m_shutdown || m_requestCount == 0 || m_generation != generation) {
        return;
    }
    ComPtr<IUnknown> token;
    token.Swap(m_requests[m_firstRequest]);
    m_firstRequest = (m_firstRequest + 1) % kMaxPendingRequests;
    --m_requestCount;
    if (token) {
        QM_IGNORE(sample->SetUnknown(MFSampleExtension_Token, token.Get()), "the client then lacks its token only");
    }
    hr = m_queue->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample.Get());
    if (FAILED(hr)) {
        diagnostic_log::Write("media stream: the sample cannot be queued (0x%08lX)", static_cast<unsigned long>(hr));
    }
}

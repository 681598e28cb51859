#include "mf/camera_media_source.h"

#include <mfapi.h>
#include <mferror.h>
#include <propvarutil.h>

#include <atomic>
#include <cwchar>
#include <memory>
#include <new>

#include "ring/frame_ring.h"
#include "mf/camera_media_stream.h"
#include "mf/camera_media_types.h"
#include "mf/camera_owner.h"
#include "mf/media_foundation.h"
#include "mf/media_source_ids.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kStreamId = 0;

// What IKsControl answers for any set: the camera has no controls.
const HRESULT kSetNotFound = HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);

// The chosen type of a stream descriptor's handler.
HRESULT CurrentTypeOf(IMFStreamDescriptor* descriptor, IMFMediaType** type) {
    ComPtr<IMFMediaTypeHandler> handler;
    RETURN_IF_FAILED(descriptor->GetMediaTypeHandler(&handler));
    return handler->GetCurrentMediaType(type);
}

std::atomic<void (*)(void*)> g_destructionHook{nullptr};
std::atomic<void*> g_destructionHookContext{nullptr};

}  // namespace

void CCameraMediaSource::SetDestructionHookForTesting(void (*hook)(void* context), void* context) {
    g_destructionHookContext = context;
    g_destructionHook = hook;
}

CCameraMediaSource::CCameraMediaSource(int camera) : CUnknown(L"QM camera media source", nullptr), m_camera(camera) {}

CCameraMediaSource::~CCameraMediaSource() {
    if (void (*hook)(void*) = g_destructionHook.load()) {
        hook(g_destructionHookContext.load());
    }
    // Released without Shutdown (or a failed Init): the stream stops
    // first, as it would have then.
    if (m_stream != nullptr) {
        m_stream->Shutdown();
        m_stream->NonDelegatingRelease();
    }
    if (m_queue) {
        QM_IGNORE(m_queue->Shutdown(), "the queue goes with the source");
    }
}

HRESULT CCameraMediaSource::Make(int camera, const wchar_t* ringPrefix, CCameraMediaSource** source) {
    RETURN_HR_IF_NULL(E_POINTER, source);
    *source = nullptr;
    RETURN_HR_IF(E_INVALIDARG, camera < frame_ring::kMinCamera || camera > frame_ring::kMaxCamera ||
                                   ringPrefix == nullptr || std::wcslen(ringPrefix) > frame_ring::kMaxPrefixLength);
    // Where Media Foundation is missing, this is where its lack is told.
    RETURN_IF_FAILED(media_foundation::Load());
    CCameraMediaSource* created = new (std::nothrow) CCameraMediaSource(camera);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, created);
    const HRESULT hr = created->Init(ringPrefix);
    if (FAILED(hr)) {
        // Nobody holds it yet.
        delete created;
        return hr;
    }
    *source = created;
    return S_OK;
}

HRESULT CCameraMediaSource::Init(const wchar_t* ringPrefix) {
    std::wmemcpy(m_ringPrefix, ringPrefix, std::wcslen(ringPrefix) + 1);
    RETURN_IF_FAILED(media_foundation::CreateEventQueue(&m_queue));
    RETURN_IF_FAILED(media_foundation::CreateAttributes(&m_store, 1));

    IMFMediaType* types[camera_media_types::kTypeCount] = {};
    HRESULT hr = S_OK;
    for (int i = 0; i < camera_media_types::kTypeCount && SUCCEEDED(hr); ++i) {
        hr = camera_media_types::CreateType(i, &types[i]);
    }
    if (SUCCEEDED(hr)) {
        hr = media_foundation::CreateStreamDescriptor(kStreamId, camera_media_types::kTypeCount, types,
                                                      &m_streamDescriptor);
    }
    if (SUCCEEDED(hr)) {
        ComPtr<IMFMediaTypeHandler> handler;
        hr = m_streamDescriptor->GetMediaTypeHandler(&handler);
        if (SUCCEEDED(hr)) {
            hr = handler->SetCurrentMediaType(types[camera_media_types::DefaultTypeIndex()]);
        }
    }
    for (IMFMediaType* type : types) {
        if (type != nullptr) {
            type->Release();
        }
    }
    RETURN_IF_FAILED(hr);

    // What the Frame Server reads of a camera's stream: a video capture
    // stream, number 0, of colour frames, that several clients may share.
    RETURN_IF_FAILED(m_streamDescriptor->SetGUID(qm_mf::kDeviceStreamCategory, qm_mf::kPinNameVideoCapture));
    RETURN_IF_FAILED(m_streamDescriptor->SetUINT32(qm_mf::kDeviceStreamId, kStreamId));
    RETURN_IF_FAILED(
        m_streamDescriptor->SetUINT32(qm_mf::kDeviceStreamFrameSourceTypes, qm_mf::kFrameSourceTypeColor));
    RETURN_IF_FAILED(m_streamDescriptor->SetUINT32(qm_mf::kDeviceStreamFrameServerShared, 1));

    IMFStreamDescriptor* descriptors[] = {m_streamDescriptor.Get()};
    RETURN_IF_FAILED(media_foundation::CreatePresentationDescriptor(1, descriptors, &m_presentation));
    RETURN_IF_FAILED(m_presentation->SelectStream(0));

    return CCameraMediaStream::Create(static_cast<IMFMediaSourceEx*>(this), m_streamDescriptor.Get(), &m_stream);
}

ULONG STDMETHODCALLTYPE CCameraMediaSource::NonDelegatingRelease() {
    LONG count = m_cRef.load();
    for (;;) {
        if (count > 1) {
            if (m_cRef.compare_exchange_weak(count, count - 1)) {
                return static_cast<ULONG>(count - 1);
            }
            continue;
        }
        if (count < 1) {
            // A release too many: the base counts it as it always did.
            return CUnknown::NonDelegatingRelease();
        }
        if (ReleaseLastReference()) {
            break;
        }
        count = m_cRef.load();
    }
    // As the base does: a reference taken and dropped during destruction
    // must not start a second destruction.
    m_cRef = 1;
    delete this;
    return 0;
}

bool CCameraMediaSource::ReleaseLastReference() {
    const auto releaseLast = [this] {
        LONG last = 1;
        return m_cRef.compare_exchange_strong(last, 0);
    };
    // The source's lock, then the stream's: the usual order. Without a
    // stream (shut down) nobody can add a reference but a holder of one.
    CAutoLock lock(&m_lock);
    return m_stream != nullptr ? m_stream->ForgetSourceIf(releaseLast) : releaseLast();
}

HRESULT STDMETHODCALLTYPE CCameraMediaSource::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    if (riid == __uuidof(IMFMediaEventGenerator) || riid == __uuidof(IMFMediaSource) ||
        riid == __uuidof(IMFMediaSourceEx)) {
        return GetInterface(static_cast<IMFMediaSourceEx*>(this), ppv);
    }
    if (riid == __uuidof(IMFGetService)) {
        return GetInterface(static_cast<IMFGetService*>(this), ppv);
    }
    if (riid == qm_mf::kIidKsControl) {
        return GetInterface(static_cast<IKsControl*>(this), ppv);
    }
    if (riid == __uuidof(IMFActivate) || riid == __uuidof(IMFAttributes)) {
        return GetInterface(static_cast<IMFActivate*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// ---- IMFMediaEventGenerator ---------------------------------------------------

// GetEvent, BeginGetEvent, EndGetEvent and QueueEvent are m_events'
// (media_event_generator.h), in the class.

// ---- IMFMediaSource ---------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCameraMediaSource::GetCharacteristics(DWORD* characteristics) {
    RETURN_HR_IF_NULL(E_POINTER, characteristics);
    *characteristics = 0;
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    *characteristics = MFMEDIASOURCE_IS_LIVE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCameraMediaSource::CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) {
    RETURN_HR_IF_NULL(E_POINTER, descriptor);
    *descriptor = nullptr;
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    return m_presentation->Clone(descriptor);
}

HRESULT STDMETHODCALLTYPE CCameraMediaSource::Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                                                    const PROPVARIANT* startPosition) {
    RETURN_HR_IF_NULL(E_POINTER, descriptor);
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    // A live source has no positions: only the default time format, and
    // "now" or a time (which it cannot seek to, and ignores).
    RETURN_HR_IF(MF_E_UNSUPPORTED_TIME_FORMAT, timeFormat != nullptr && *timeFormat != GUID_NULL);
    RETURN_HR_IF(MF_E_UNSUPPORTED_TIME_FORMAT,
                 startPosition != nullptr && startPosition->vt != VT_EMPTY && startPosition->vt != VT_I8);

    // The client's descriptor: the one stream, selected, of a type the
    // stream can deliver.
    DWORD count = 0;
    RETURN_IF_FAILED(descriptor->GetStreamDescriptorCount(&count));
    RETURN_HR_IF(E_INVALIDARG, count != 1);
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> stream;
    RETURN_IF_FAILED(descriptor->GetStreamDescriptorByIndex(0, &selected, &stream));
    DWORD id = 0;
    RETURN_IF_FAILED(stream->GetStreamIdentifier(&id));
    RETURN_HR_IF(MF_E_INVALIDSTREAMNUMBER, id != kStreamId);
    RETURN_HR_IF(MF_E_INVALIDREQUEST, !selected);
    ComPtr<IMFMediaType> type;
    if (FAILED(CurrentTypeOf(stream.Get(), &type))) {
        RETURN_IF_FAILED(CurrentTypeOf(m_streamDescriptor.Get(), &type));
    }
    camera_media_types::StreamFormat format = {};
    RETURN_IF_FAILED(camera_media_types::StreamFormatOf(type.Get(), &format));

    // Everything that can fail before the first event: a client must not
    // hold start events of a start that failed.
    RETURN_IF_FAILED(EnsureRing());
    RETURN_IF_FAILED(m_stream->PrepareStart());
    if (stream.Get() != m_streamDescriptor.Get()) {
        // A descriptor of the client's own: the source's says the same, and
        // the stream delivers the source's current type.
        ComPtr<IMFMediaTypeHandler> handler;
        RETURN_IF_FAILED(m_streamDescriptor->GetMediaTypeHandler(&handler));
        RETURN_IF_FAILED(handler->SetCurrentMediaType(type.Get()));
    }

    PROPVARIANT now;
    ::PropVariantInit(&now);
    now.vt = VT_I8;
    now.hVal.QuadPart = media_foundation::SystemTime();
    const PROPVARIANT* position = startPosition != nullptr && startPosition->vt == VT_I8 ? startPosition : &now;

    // Queueing fails only for want of memory: the queues are shut down only
    // by Shutdown, which takes this lock first.
    RETURN_IF_FAILED(m_queue->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, position));
    RETURN_IF_FAILED(m_queue->QueueEventParamUnk(m_streamAnnounced ? MEUpdatedStream : MENewStream, GUID_NULL, S_OK,
                                                 static_cast<IMFMediaStream2*>(m_stream)));
    m_streamAnnounced = true;
    RETURN_IF_FAILED(m_stream->Start(format, type.Get(), position));
    m_started = true;
    return S_OK;
}

HRESULT CCameraMediaSource::EnsureRing() {
    QM_DCHECK_HELD(m_lock);
    if (m_hasRing) {
        return S_OK;
    }
    frame_ring::OwnerSid owner = {};
    RETURN_IF_FAILED(camera_owner::OwnerOf(m_store.Get(), &owner));
    // A few kilobytes, once per source: from the heap rather than from a
    // client's thread's stack.
    std::unique_ptr<frame_ring::RingAccess> ring(new (std::nothrow) frame_ring::RingAccess());
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, ring);
    RETURN_IF_FAILED(frame_ring::BuildRingAccess(m_camera, m_ringPrefix, owner, ring.get()));
    RETURN_IF_FAILED(m_stream->SetRing(*ring));
    m_hasRing = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCameraMediaSource::Stop() {
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    RETURN_IF_FAILED(m_stream->Stop());
    m_started = false;
    return m_queue->QueueEventParamVar(MESourceStopped, GUID_NULL, S_OK, nullptr);
}

HRESULT STDMETHODCALLTYPE CCameraMediaSource::Pause() {
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    // A camera cannot hold a picture still for its clients.
    return MF_E_INVALID_STATE_TRANSITION;
}

HRESULT STDMETHODCALLTYPE CCameraMediaSource::Shutdown() {
    CCameraMediaStream* stream = nullptr;
    ComPtr<IMFMediaEventQueue> queue;
    {
        CAutoLock lock(&m_lock);
        RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
        m_shutdown = true;
        m_started = false;
        stream = m_stream;
        m_stream = nullptr;
        queue = m_queue;
    }
    // Outside the lock: the stream joins its thread, and may release the
    // source's last reference but one (the caller's).
    if (stream != nullptr) {
        stream->Shutdown();
        stream->NonDelegatingRelease();
    }
    QM_IGNORE(queue->Shutdown(), "a queue shut down twice has nothing more to do");
    return S_OK;
}

// ---- IMFMediaSourceEx -------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCameraMediaSource::GetSourceAttributes(IMFAttributes** attributes) {
    RETURN_HR_IF_NULL(E_POINTER, attributes);
    *attributes = nullptr;
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    return m_store.CopyTo(attributes);
}

HRESULT STDMETHODCALLTYPE CCameraMediaSource::GetStreamAttributes(DWORD streamId, IMFAttributes** attributes) {
    RETURN_HR_IF_NULL(E_POINTER, attributes);
    *attributes = nullptr;
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    RETURN_HR_IF(MF_E_INVALIDSTREAMNUMBER, streamId != kStreamId);
    return m_streamDescriptor.CopyTo(attributes);
}

HRESULT STDMETHODCALLTYPE CCameraMediaSource::SetD3DManager(IUnknown*) {
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    // Samples live in system memory; a device manager is not needed.
    return S_OK;
}

// ---- IMFGetService ----------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCameraMediaSource::GetService(REFGUID, REFIID, void** object) {
    RETURN_HR_IF_NULL(E_POINTER, object);
    *object = nullptr;
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    return MF_E_UNSUPPORTED_SERVICE;
}

// ---- IKsControl -------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCameraMediaSource::KsProperty(PKSPROPERTY property, ULONG propertyLength, void*, ULONG,
                                                         ULONG* bytesReturned) {
    RETURN_HR_IF(E_POINTER, property == nullptr || bytesReturned == nullptr);
    *bytesReturned = 0;
    RETURN_HR_IF(E_INVALIDARG, propertyLength < sizeof(KSPROPERTY));
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    return kSetNotFound;
}

HRESULT STDMETHODCALLTYPE CCameraMediaSource::KsMethod(PKSMETHOD method, ULONG methodLength, void*, ULONG,
                                                       ULONG* bytesReturned) {
    RETURN_HR_IF(E_POINTER, method == nullptr || bytesReturned == nullptr);
    *bytesReturned = 0;
    RETURN_HR_IF(E_INVALIDARG, methodLength < sizeof(KSMETHOD));
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    return kSetNotFound;
}

HRESULT STDMETHODCALLTYPE CCameraMediaSource::KsEvent(PKSEVENT event, ULONG eventLength, void*, ULONG,
                                                      ULONG* bytesReturned) {
    RETURN_HR_IF_NULL(E_POINTER, bytesReturned);
    *bytesReturned = 0;
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    // A null event asks to turn every event off: there is none, so that is
    // done.
    if (event == nullptr) {
        return S_OK;
    }
    RETURN_HR_IF(E_INVALIDARG, eventLength < sizeof(KSEVENT));
    return kSetNotFound;
}

// ---- IMFActivate ------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCameraMediaSource::ActivateObject(REFIID riid, void** ppv) {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    {
        CAutoLock lock(&m_lock);
        RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    }
    return NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CCameraMediaSource::ShutdownObject() {
    const HRESULT hr = Shutdown();
    // Shut down before: nothing more to do.
    return hr == MF_E_SHUTDOWN ? S_OK : hr;
}

HRESULT STDMETHODCALLTYPE CCameraMediaSource::DetachObject() {
    // The object is the activation object itself: there is no other to let
    // go of.
    return S_OK;
}

// ---- Creation ---------------------------------------------------------------------

CUnknown* WINAPI CreateCameraMediaSourceObject(int camera, IUnknown* outer, HRESULT* phr) {
    if (phr == nullptr) {
        return nullptr;
    }
    if (outer != nullptr) {
        *phr = CLASS_E_NOAGGREGATION;
        return nullptr;
    }
    CCameraMediaSource* source = nullptr;
    *phr = CCameraMediaSource::Make(camera, frame_ring::kGlobalPrefix, &source);
    return SUCCEEDED(*phr) ? source : nullptr;
}

HRESULT CreateCameraMediaSourceForRing(int camera, const wchar_t* ringPrefix, REFIID riid, void** ppv) {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    RETURN_HR_IF_NULL(E_INVALIDARG, ringPrefix);
    CCameraMediaSource* source = nullptr;
    RETURN_IF_FAILED(CCameraMediaSource::Make(camera, ringPrefix, &source));
    // As the class factory does: a failed query releases the new source.
    source->NonDelegatingAddRef();
    const HRESULT hr = source->NonDelegatingQueryInterface(riid, ppv);
    source->NonDelegatingRelease();
    return hr;
}

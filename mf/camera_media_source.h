// The Media Foundation camera's media source: what Windows 11's Frame
// Server loads (by the class of CLSID_CameraMediaSources) for a virtual
// camera that qmcamera created with MFCreateVirtualCamera, and what a
// process may run itself through MFCreateSourceReaderFromMediaSource.
//
// One live video stream (CCameraMediaStream) offering the five formats at the
// sizes of FrameSizeTable (camera_media_types.h); frames come from the
// frame ring of the camera's owner (camera_owner.h), written by qmcamera in
// that user's session. Start checks everything that can fail first, then
// queues MESourceStarted, then MENewStream (MEUpdatedStream when the
// stream was announced before), then the stream's MEStreamStarted: a
// failed Start announces nothing. Pause is refused
// (MF_E_INVALID_STATE_TRANSITION). IKsControl answers every property,
// method and event set with HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND): the
// camera has no controls. After Shutdown every call answers MF_E_SHUTDOWN.
//
// The source is also its own activation object (IMFActivate, as the Frame
// Server may ask for): the attributes set on it are the source's
// attributes (GetSourceAttributes), which is where the camera's owner is
// looked up, and ActivateObject hands out the source itself.
//
// Media Foundation is loaded when the first source is made
// (media_foundation.h): where it is missing, Make answers its error and
// the rest of the module works on.
//
// Any thread may call; one lock guards the state, never held across a
// wait (GetEvent waits outside it).
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include "ring/frame_ring.h"
#include "framework/com_util.h"
#include "framework/unknown.h"
#include "mf/attribute_store_forwarder.h"
#include "mf/media_event_generator.h"
#include "mf/mf_interfaces.h"

class CCameraMediaStream;

class CCameraMediaSource final : public CUnknown,
                                 public IMFMediaSourceEx,
                                 public IMFGetService,
                                 public IKsControl,
                                 public CAttributeStoreForwarder<IMFActivate> {
public:
    // A source of camera 1..8 whose ring objects are named under
    // `ringPrefix` (frame_ring::kGlobalPrefix for the real camera),
    // returned without a reference, as the class factory takes objects.
    // E_INVALIDARG for another camera number, a null prefix or one longer
    // than frame_ring::kMaxPrefixLength; Media Foundation's load failure
    // (media_foundation::Load) where it is missing.
    [[nodiscard]] static HRESULT Make(int camera, const wchar_t* ringPrefix, CCameraMediaSource** source);

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // The last release forgets the source in its stream first (see
    // CCameraMediaStream::ForgetSourceIf).
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // IMFMediaEventGenerator
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD flags, IMFMediaEvent** event) override {
        return m_events.GetEvent(flags, event);
    }
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override {
        return m_events.BeginGetEvent(callback, state);
    }
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
        return m_events.EndGetEvent(result, event);
    }
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                         const PROPVARIANT* value) override {
        return m_events.QueueEvent(type, extendedType, status, value);
    }
    // IMFMediaSource
    HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* characteristics) override;
    HRESULT STDMETHODCALLTYPE CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override;
    HRESULT STDMETHODCALLTYPE Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                                    const PROPVARIANT* startPosition) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Shutdown() override;
    // IMFMediaSourceEx
    HRESULT STDMETHODCALLTYPE GetSourceAttributes(IMFAttributes** attributes) override;
    HRESULT STDMETHODCALLTYPE GetStreamAttributes(DWORD streamId, IMFAttributes** attributes) override;
    HRESULT STDMETHODCALLTYPE SetD3DManager(IUnknown* manager) override;
    // IMFGetService
    HRESULT STDMETHODCALLTYPE GetService(REFGUID service, REFIID riid, void** object) override;
    // IKsControl
    HRESULT STDMETHODCALLTYPE KsProperty(PKSPROPERTY property, ULONG propertyLength, void* data, ULONG dataLength,
                                         ULONG* bytesReturned) override;
    HRESULT STDMETHODCALLTYPE KsMethod(PKSMETHOD method, ULONG methodLength, void* data, ULONG dataLength,
                                       ULONG* bytesReturned) override;
    HRESULT STDMETHODCALLTYPE KsEvent(PKSEVENT event, ULONG eventLength, void* data, ULONG dataLength,
                                      ULONG* bytesReturned) override;
    // IMFActivate (its attribute methods are the source attributes'):
    // ActivateObject queries the source itself; ShutdownObject shuts it
    // down; DetachObject has nothing to detach.
    HRESULT STDMETHODCALLTYPE ActivateObject(REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE ShutdownObject() override;
    HRESULT STDMETHODCALLTYPE DetachObject() override;

    // For tests: `hook(context)` runs first thing in every source's
    // destruction, when its count has reached 0 and before anything is torn
    // down; null for none. Widens the moment in which the stream must no
    // longer hand the source out.
    static void SetDestructionHookForTesting(void (*hook)(void* context), void* context);

private:
    explicit CCameraMediaSource(int camera);
    ~CCameraMediaSource() override;
    [[nodiscard]] HRESULT Init(const wchar_t* ringPrefix);
    // Drops the count from 1 to 0 in the same step as the stream forgets
    // the source; false when a reference was added meanwhile.
    bool ReleaseLastReference();
    // The ring of the camera's owner, found and handed to the stream at the
    // first start (where a failure is reported), the same afterwards.
    [[nodiscard]] HRESULT EnsureRing();

    const int m_camera;
    // The ring objects' name prefix, given to Make.
    wchar_t m_ringPrefix[frame_ring::kMaxPrefixLength + 1] = {};
    mutable CCritSec m_lock;
    Microsoft::WRL::ComPtr<IMFMediaEventQueue> m_queue;
    // The source attributes are m_store, the activation object's
    // (CAttributeStoreForwarder), made by Init.
    Microsoft::WRL::ComPtr<IMFStreamDescriptor> m_streamDescriptor;
    Microsoft::WRL::ComPtr<IMFPresentationDescriptor> m_presentation;
    CCameraMediaStream* m_stream = nullptr;  // one reference, until Shutdown
    bool m_shutdown = false;
    // The event generator calls, over m_lock, m_shutdown and m_queue.
    CMediaEventGenerator m_events{m_lock, m_shutdown, m_queue};
    bool m_started = false;
    bool m_streamAnnounced = false;
    bool m_hasRing = false;
};

// For tests: a source of `camera` reading the ring under `ringPrefix`
// (Local\ and a suffix of the test's own), queried for `riid`. The class
// factory's sources read Global\.
[[nodiscard]] HRESULT CreateCameraMediaSourceForRing(int camera, const wchar_t* ringPrefix, REFIID riid, void** ppv);

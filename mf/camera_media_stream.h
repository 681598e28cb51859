// The camera's one video stream. Its client asks for samples
// (RequestSample); a delivery thread of its own, paced on the QPC clock at
// the chosen type's frame rate, answers each request at the next frame
// time with a sample from CCameraFrameSource, stamped with MFGetSystemTime.
// A live stream: no end of stream, no pause.
//
// Threads and locks. Client threads call the COM methods; the source calls
// Start, Stop and Shutdown while holding its own lock (the order is always
// the source's lock, then the stream's). The stream's lock guards its
// state and the requests; it is never held across a wait, and the thread
// copies frames without it. The thread owns the CCameraFrameSource.
//
// The source holds the stream; the stream knows its source without a
// reference (a reference each way would keep both alive for ever when a
// client forgets Shutdown). The source's Shutdown, or its destruction,
// shuts the stream down first, after which GetMediaSource answers
// MF_E_SHUTDOWN.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <cstdint>

#include "framework/com_util.h"
#include "framework/unknown.h"
#include "mf/media_event_generator.h"
#include "mf/camera_frame_source.h"
#include "mf/camera_media_types.h"
#include "mf/mf_interfaces.h"

class CCameraMediaStream final : public CUnknown, public IMFMediaStream2 {
public:
    // Requests waiting for a frame at most; more are refused with
    // MF_E_NOTACCEPTING.
    static constexpr int kMaxPendingRequests = 16;

    // A stream of `descriptor` for camera 1..8's ring under `ringPrefix`,
    // returned with one reference; `source` must outlive it or shut it down.
    [[nodiscard]] static HRESULT Create(IMFMediaSource* source, IMFStreamDescriptor* descriptor, int camera,
                                        const wchar_t* ringPrefix, CCameraMediaStream** stream);

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

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
    // IMFMediaStream
    HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** source) override;
    HRESULT STDMETHODCALLTYPE GetStreamDescriptor(IMFStreamDescriptor** descriptor) override;
    HRESULT STDMETHODCALLTYPE RequestSample(IUnknown* token) override;
    // IMFMediaStream2: Running and Stopped; Paused is refused
    // (MF_E_INVALID_STATE_TRANSITION), as is Running before the source's
    // first Start.
    HRESULT STDMETHODCALLTYPE SetStreamState(MF_STREAM_STATE value) override;
    HRESULT STDMETHODCALLTYPE GetStreamState(MF_STREAM_STATE* value) override;

    // The source's side, under the source's lock. Start begins delivering
    // `format` (again, from a new first frame, when running already) and
    // queues MEStreamStarted with `startPosition`; Stop drops the waiting
    // requests and queues MEStreamStopped; Shutdown ends the thread, the
    // event queue and the hold on the source.
    [[nodiscard]] HRESULT Start(const camera_media_types::StreamFormat& format, const PROPVARIANT* startPosition);
    [[nodiscard]] HRESULT Stop();
    void Shutdown();

private:
    CCameraMediaStream(int camera, const wchar_t* ringPrefix);
    ~CCameraMediaStream() override;

    [[nodiscard]] HRESULT EnsureThread();
    void DropRequests();
    void StopThread();
    static DWORD WINAPI ThreadProc(void* parameter);
    void Run();
    // Delivers one sample for the oldest request, when one waits and the
    // stream still runs the generation `generation`.
    void DeliverFrame(uint64_t generation, int64_t frameTime, int64_t* lastTime);

    // Under m_lock.
    mutable CCritSec m_lock;
    Microsoft::WRL::ComPtr<IMFMediaEventQueue> m_queue;
    IMFMediaSource* m_source = nullptr;  // not counted; null after Shutdown
    Microsoft::WRL::ComPtr<IMFStreamDescriptor> m_descriptor;
    bool m_shutdown = false;
    // The event generator calls, over m_lock, m_shutdown and m_queue.
    CMediaEventGenerator m_events{m_lock, m_shutdown, m_queue};
    bool m_exit = false;
    bool m_hasFormat = false;
    MF_STREAM_STATE m_state = MF_STREAM_STATE_STOPPED;
    camera_media_types::StreamFormat m_format = {};
    // Raised by every change of what the thread should deliver; the thread
    // starts afresh when it sees a new one.
    uint64_t m_generation = 0;
    Microsoft::WRL::ComPtr<IUnknown> m_requests[kMaxPendingRequests];
    int m_firstRequest = 0;
    int m_requestCount = 0;

    // Set once by EnsureThread under m_lock; joined by StopThread.
    UniqueHandle m_thread;
    // Auto-reset: the thread looks at the state again.
    UniqueHandle m_wake;

    // The delivery thread's.
    CCameraFrameSource m_frames;
};

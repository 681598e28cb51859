// The camera's one video stream. Its client asks for samples
// (RequestSample); a delivery thread of its own, paced on the QPC clock at
// the chosen type's frame rate, answers each request at the next frame
// time with a sample from CCameraFrameSource, stamped with MFGetSystemTime.
// A live stream: no end of stream, no pause.
//
// The type delivered is the current type of the stream descriptor's
// handler, always: one that a client sets while the stream runs (through
// the source reader, say) is followed from the next frame, announced by
// MEStreamFormatChanged (its value the new type) before the first sample
// of it. A type the stream cannot deliver set while it runs ends the
// delivery with MEError (MF_E_INVALIDMEDIATYPE) until the next start.
//
// Threads and locks. Client threads call the COM methods; the source calls
// SetRing, PrepareStart, Start, Stop and Shutdown while holding its own
// lock (the order is always the source's lock, then the stream's). The
// stream's lock guards its state and the requests; it is never held across
// a wait, and the thread copies frames without it. The thread owns the
// CCameraFrameSource.
//
// The source holds the stream; the stream knows its source without a
// reference (a reference each way would keep both alive for ever when a
// client forgets Shutdown). GetMediaSource adds a reference to the source
// under the stream's lock, and the source's last release forgets itself
// here under the same lock (ForgetSourceIf) before its count reaches 0, so
// a source whose count reached 0 is never handed out. The source's
// Shutdown, or its destruction, shuts the stream down first, after which
// GetMediaSource answers MF_E_SHUTDOWN.
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

    // A stream of `descriptor`, returned with one reference; `source` must
    // outlive it, or forget itself here (ForgetSourceIf), or shut it down.
    [[nodiscard]] static HRESULT Create(IMFMediaSource* source, IMFStreamDescriptor* descriptor,
                                        CCameraMediaStream** stream);

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

    // The source's side, under the source's lock. SetRing gives the ring
    // to read, once, before the first PrepareStart (E_UNEXPECTED after).
    // PrepareStart readies what a start needs (the delivery thread) and is
    // where a start fails; Start then queues MEStreamStarted with
    // `startPosition` and begins delivering `format` of `type` (again,
    // from a new first frame, when running already), failing only when
    // the event cannot be queued. Stop drops the waiting requests and
    // queues MEStreamStopped; Shutdown ends the thread, the event queue and
    // the hold on the source.
    [[nodiscard]] HRESULT SetRing(const frame_ring::RingAccess& ring);
    [[nodiscard]] HRESULT PrepareStart();
    [[nodiscard]] HRESULT Start(const camera_media_types::StreamFormat& format, IMFMediaType* type,
                                const PROPVARIANT* startPosition);
    [[nodiscard]] HRESULT Stop();
    void Shutdown();

    // The source's last release. Under the stream's lock, where
    // GetMediaSource adds its references: `releaseLast()` drops the
    // source's count from 1 to 0 unless a reference was added meanwhile,
    // and when it did, the stream forgets the source in the same step.
    // Whether it did (false: the source lives on).
    template <typename ReleaseLast>
    bool ForgetSourceIf(ReleaseLast releaseLast) {
        CAutoLock lock(&m_lock);
        if (!releaseLast()) {
            return false;
        }
        m_source = nullptr;
        return true;
    }

    // For tests: the next start of the delivery thread fails with `hr`
    // instead (once).
    static void FailNextThreadStartForTesting(HRESULT hr);

private:
    // What the delivery thread delivers, as it last took it over.
    struct Delivery {
        camera_media_types::StreamFormat format;
        Microsoft::WRL::ComPtr<IMFMediaType> type;
    };

    CCameraMediaStream();
    ~CCameraMediaStream() override;

    [[nodiscard]] HRESULT EnsureThread();
    void DropRequests();
    void StopThread();
    static DWORD WINAPI ThreadProc(void* parameter);
    void Run();
    // The delivery thread's look at the handler's current type: true when
    // it is still `delivery`'s, or a type that the stream now delivers
    // (`delivery` updated, the event queued); false when the stream cannot
    // deliver it (MEError queued) or generation `generation` has ended.
    [[nodiscard]] bool FollowCurrentType(uint64_t generation, Delivery* delivery);
    // Delivers one sample for the oldest request, when one waits and the
    // stream still runs the generation `generation`.
    void DeliverFrame(uint64_t generation, int64_t frameTime, int64_t* lastTime);

    // Set by Create; the platform's handler is safe on any thread.
    Microsoft::WRL::ComPtr<IMFMediaTypeHandler> m_handler;

    // Under m_lock.
    mutable CCritSec m_lock;
    Microsoft::WRL::ComPtr<IMFMediaEventQueue> m_queue;
    // Not counted; null after Shutdown or once the source's count reached
    // 0 (ForgetSourceIf).
    IMFMediaSource* m_source = nullptr;
    Microsoft::WRL::ComPtr<IMFStreamDescriptor> m_descriptor;
    bool m_shutdown = false;
    // The event generator calls, over m_lock, m_shutdown and m_queue.
    CMediaEventGenerator m_events{m_lock, m_shutdown, m_queue};
    bool m_exit = false;
    bool m_hasFormat = false;
    MF_STREAM_STATE m_state = MF_STREAM_STATE_STOPPED;
    // The format and type delivered; the thread follows a change of the
    // current type and updates them.
    Delivery m_delivery = {};
    bool m_hasRing = false;
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

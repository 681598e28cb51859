// The sample grabber's callback: records the timing of every frame and
// keeps copies of the frames chosen for saving.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "framework/com_util.h"
#include "tools/capture_client/capture_options.h"
#include "tools/capture_client/frame_statistics.h"
#include "tools/capture_client/sample_callback.h"

namespace qmcapture {

struct KeptFrame {
    uint32_t index = 0;
    std::vector<BYTE> pixels;
};

// Created with a reference count of one. SampleCB runs on the graph's
// streaming thread; the counters are atomic so that the controlling thread
// can watch progress. Everything else is read by the controlling thread
// only after the graph has stopped, since Stop waits for the streaming
// thread to leave the grabber.
class FrameGrabber final : public CSampleCallback {
public:
    // Each frame is `frameBytes` long (SampleBytes of the connected
    // layout). Frames past `frameLimit` (0: no limit) are ignored. Kept
    // copies stop at `keepBytesLimit`; further chosen frames are counted as
    // not kept.
    FrameGrabber(size_t frameBytes, const FrameSelection& selection, uint32_t frameLimit,
                 size_t expectedFrames, size_t keepBytesLimit);

    FrameGrabber(const FrameGrabber&) = delete;
    FrameGrabber& operator=(const FrameGrabber&) = delete;

    // IUnknown
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // ISampleGrabberCB
    STDMETHODIMP SampleCB(double sampleTime, IMediaSample* sample) override;

    // Signalled when the frame limit has been reached.
    HANDLE LimitReachedEvent() const { return m_limitReached.get(); }
    uint32_t FramesSeen() const { return m_framesSeen.load(std::memory_order_acquire); }
    int64_t LastArrivalTicks() const { return m_lastArrivalTicks.load(std::memory_order_acquire); }
    // Further frames are ignored from now on.
    void Close() { m_closed.store(true, std::memory_order_release); }

    // After the graph has stopped:
    const std::vector<FrameTiming>& Timings() const { return m_timings; }
    std::vector<KeptFrame>& KeptFrames() { return m_kept; }
    // The most recent complete frame, for "last"; -1 when there is none.
    int64_t LatestIndex() const { return m_latestIndex; }
    const std::vector<BYTE>& LatestPixels() const { return m_latest; }
    // Chosen frames not kept because of the memory limit.
    uint32_t FramesNotKept() const { return m_notKept; }
    // Frames whose data was shorter than the negotiated picture.
    uint32_t ShortFrames() const { return m_shortFrames; }
    // Frames not recorded because memory ran out.
    uint32_t LostFrames() const { return m_lostFrames; }

private:
    ~FrameGrabber() = default;
    // Copies the frame for "last" and for the chosen frames.
    void KeepFrame(IMediaSample* sample, uint32_t index);

    std::atomic<ULONG> m_refCount{1};
    const size_t m_frameBytes;
    const FrameSelection m_selection;
    const uint32_t m_frameLimit;
    const size_t m_keepBytesLimit;
    UniqueHandle m_limitReached;

    std::atomic<uint32_t> m_framesSeen{0};
    std::atomic<int64_t> m_lastArrivalTicks{0};
    std::atomic<bool> m_closed{false};

    // Streaming thread only while the graph runs.
    std::vector<FrameTiming> m_timings;
    std::vector<KeptFrame> m_kept;
    size_t m_keptBytes = 0;
    std::vector<BYTE> m_latest;
    int64_t m_latestIndex = -1;
    uint32_t m_notKept = 0;
    uint32_t m_shortFrames = 0;
    uint32_t m_lostFrames = 0;
};

}  // namespace qmcapture

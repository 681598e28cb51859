#include "tools/capture_client/frame_grabber.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qmcapture {

FrameGrabber::FrameGrabber(size_t frameBytes, const FrameSelection& selection, uint32_t frameLimit,
                           size_t expectedFrames, size_t keepBytesLimit)
    : m_frameBytes(frameBytes),
      m_selection(selection),
      m_frameLimit(frameLimit),
      m_keepBytesLimit(keepBytesLimit),
      m_limitReached(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    // Room for the expected frames up front, so that the streaming thread
    // rarely allocates.
    m_timings.reserve(expectedFrames);
    if (selection.last) {
        m_latest.resize(frameBytes);
    }
}

STDMETHODIMP_(ULONG) FrameGrabber::AddRef() { return ++m_refCount; }

STDMETHODIMP_(ULONG) FrameGrabber::Release() {
    const ULONG count = --m_refCount;
    if (count == 0) {
        delete this;
    }
    return count;
}

STDMETHODIMP FrameGrabber::SampleCB(double /*sampleTime*/, IMediaSample* sample) {
    RETURN_HR_IF_NULL(E_POINTER, sample);
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    if (m_closed.load(std::memory_order_acquire)) {
        return S_OK;
    }
    const uint32_t index = m_framesSeen.load(std::memory_order_relaxed);
    if (m_frameLimit != 0 && index >= m_frameLimit) {
        return S_OK;
    }

    FrameTiming timing;
    timing.arrivalTicks = now.QuadPart;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
    const HRESULT hr = sample->GetTime(&start, &end);
    if (hr == S_OK) {
        timing.start = start;
        timing.end = end;
        timing.hasStart = true;
        timing.hasEnd = true;
    } else if (hr == VFW_S_NO_STOP_TIME) {
        // Only the start is real; the end the sample reports is made up.
        timing.start = start;
        timing.hasStart = true;
    }

    // Growing the records may fail in a very long capture; no exception
    // may leave this COM method, so such a frame is counted as lost.
    try {
        m_timings.push_back(timing);
        KeepFrame(sample, index);
    } catch (const std::bad_alloc&) {
        ++m_lostFrames;
    }

    m_lastArrivalTicks.store(now.QuadPart, std::memory_order_release);
    m_framesSeen.store(index + 1, std::memory_order_release);
    if (m_frameLimit != 0 && index + 1 >= m_frameLimit) {
        ::SetEvent(m_limitReached.get());
    }
    return S_OK;
}

void FrameGrabber::KeepFrame(IMediaSample* sample, uint32_t index) {
    BYTE* data = nullptr;
    const long length = sample->GetActualDataLength();
    if (FAILED(sample->GetPointer(&data)) || data == nullptr || length < 0 ||
        static_cast<size_t>(length) < m_frameBytes) {
        ++m_shortFrames;
        return;
    }
    if (m_selection.last) {
        std::memcpy(m_latest.data(), data, m_frameBytes);
        m_latestIndex = index;
    }
    if (m_selection.SelectsWhileCapturing(index)) {
        if (m_keptBytes + m_frameBytes <= m_keepBytesLimit) {
            m_kept.push_back(KeptFrame{index, std::vector<BYTE>(data, data + m_frameBytes)});
            m_keptBytes += m_frameBytes;
        } else {
            ++m_notKept;
        }
    }
}

}  // namespace qmcapture

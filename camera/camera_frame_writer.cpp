#include "camera/camera_frame_writer.h"

#include <memory>
#include <new>
#include <optional>

#include "framework/performance_counter.h"
#include "settings/camera_list.h"
#include "settings/capture_settings.h"
#include "picture/frame_picture.h"
#include "picture/frame_target.h"
#include "produce/frame_producer.h"
#include "ring/frame_ring.h"
#include "framework/diagnostic_log.h"

namespace {

// How long to wait between looks for a ring while no reader created one.
constexpr DWORD kRingPollMs = 500;

bool SameRequest(const frame_ring::FrameRequest& a, const frame_ring::FrameRequest& b) {
    return a.width == b.width && a.height == b.height && a.format == b.format && a.frameTime == b.frameTime;
}

// The ring slot as a frame target: the writer lays frames out as media
// types do (LayoutOf: the planes one after the other, YUV rows unpadded),
// top-down in every format, RGB's too, as Media Foundation wants them
// (a positive default stride). No planes when the slot is too small.
FrameTarget TargetOfSlot(const frame_ring::FrameSlot& slot, const frame_ring::FrameRequest& request) {
    const size_t bytes = LayoutOf(request.format, request.width, request.height).imageBytes;
    BYTE* block = bytes != 0 && slot.capacity >= bytes ? slot.data : nullptr;
    return TargetOf(request.format, request.width, request.height, block, false);
}

// A slot of the ring as the producer's sink for one frame: the slot the
// writer begins is the target, and a drawn frame is committed with the
// counter's time (the ring's readers stamp their own samples). A stored
// size or format is not heeded: the reader's request sizes the frames.
class CSlotSink final : public IFrameSink {
public:
    CSlotSink(CFrameRingWriter& writer, const frame_ring::FrameRequest& request)
        : m_writer(writer), m_request(request) {}

    void StoredFormatChanged(const StoredFormat& /*stored*/) override {}
    FrameTarget Target() override {
        frame_ring::FrameSlot slot = {};
        if (FAILED(m_writer.BeginFrame(&slot))) {
            return {};
        }
        return TargetOfSlot(slot, m_request);
    }
    void FrameDrawn(const FrameTimes& /*times*/) override {
        m_committed = SUCCEEDED(
            m_writer.CommitFrame({m_request.width, m_request.height, m_request.format, PerformanceCounterTime()}));
    }
    // Whether the frame drawn reached the ring.
    bool Committed() const { return m_committed; }

private:
    CFrameRingWriter& m_writer;
    const frame_ring::FrameRequest& m_request;
    bool m_committed = false;
};

}  // namespace

namespace qmcamera {

CCameraFrameWriter::CCameraFrameWriter(int camera, const wchar_t* ringPrefix)
    : m_camera(camera), m_prefix(ringPrefix != nullptr ? ringPrefix : frame_ring::kGlobalPrefix) {}

CCameraFrameWriter::~CCameraFrameWriter() {
    Stop();
}

HRESULT CCameraFrameWriter::Start() {
    RETURN_HR_IF(E_UNEXPECTED, static_cast<bool>(m_thread));
    m_stop.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    RETURN_HR_IF(HResultFromLastError(), !m_stop);
    m_thread.reset(::CreateThread(nullptr, 0, &CCameraFrameWriter::ThreadProc, this, 0, nullptr));
    RETURN_HR_IF(HResultFromLastError(), !m_thread);
    return S_OK;
}

void CCameraFrameWriter::Stop() {
    if (m_thread) {
        ::SetEvent(m_stop.get());
        ::WaitForSingleObject(m_thread.get(), INFINITE);
        m_thread.reset();
    }
}

DWORD WINAPI CCameraFrameWriter::ThreadProc(void* parameter) {
    static_cast<CCameraFrameWriter*>(parameter)->Run();
    return 0;
}

void CCameraFrameWriter::Run() {
    const HANDLE stop = m_stop.get();
    std::unique_ptr<CFrameRingWriter> writer;
    // One stream per request of the readers, made as the DirectShow device
    // makes its frames: the camera's settings (reloaded when the registry
    // says they changed), its window, its standby frame and picture, paced
    // at the reader's rate.
    CCaptureSettings settings(SettingsPathOfCamera(m_camera).text);
    CFramePicture picture;
    CFrameProducer producer(settings, picture);
    frame_ring::FrameRequest served = {};
    bool streaming = false;
    const auto endStream = [&] {
        if (streaming) {
            producer.Stop();
            producer.AfterStreamingThreadEnded();
            streaming = false;
        }
        served = {};
    };

    while (::WaitForSingleObject(stop, 0) != WAIT_OBJECT_0) {
        if (!writer) {
            writer.reset(new (std::nothrow) CFrameRingWriter());
            if (!writer || FAILED(writer->Open(m_camera, m_prefix.c_str()))) {
                // No reader has made the ring yet, or another writer holds it.
                writer.reset();
                ::WaitForSingleObject(stop, kRingPollMs);
                continue;
            }
        }
        frame_ring::FrameRequest request = {};
        const HRESULT asked = writer->Request(&request);
        if (FAILED(asked)) {
            // A broken ring or another writer: start over.
            endStream();
            writer.reset();
            continue;
        }
        if (asked == S_FALSE) {
            endStream();
            // However the wait ends, the loop looks again.
            (void)writer->WaitForReaderChange(1000, stop);
            continue;
        }
        if (!SameRequest(request, served)) {
            // A new request starts a stream: settings and the standby
            // picture's file are read afresh, as a DirectShow stream start
            // reads them.
            endStream();
            const HRESULT started = StartStream(producer, picture, request);
            if (FAILED(started)) {
                diagnostic_log::Write("camera %d: a stream of %dx%d cannot start (0x%08lX)", m_camera, request.width,
                                      request.height, static_cast<unsigned long>(started));
                ::WaitForSingleObject(stop, kRingPollMs);
                continue;
            }
            streaming = true;
            served = request;
        }
        CSlotSink sink(*writer, request);
        switch (producer.Next(sink, stop)) {
        case CFrameProducer::FrameOutcome::Drawn:
            if (sink.Committed()) {
                ::InterlockedIncrement(&m_committed);
            }
            continue;
        case CFrameProducer::FrameOutcome::NotDrawn:
            continue;
        case CFrameProducer::FrameOutcome::Woken:
            break;
        }
        break;
    }
    endStream();
}

HRESULT CCameraFrameWriter::StartStream(CFrameProducer& producer, CFramePicture& picture,
                                        const frame_ring::FrameRequest& request) {
    RETURN_IF_FAILED(picture.Resize(request.width, request.height));
    producer.UseFrameTime(request.frameTime);
    // The stored size and format are the DirectShow device's; the reader's
    // request sets this stream's.
    std::optional<StoredFormat> stored;
    const HRESULT started = producer.Start(&stored);
    if (FAILED(started)) {
        // What did start (the watch, the capture thread) stops again.
        producer.Stop();
        producer.AfterStreamingThreadEnded();
        return started;
    }
    // No graph here: the stream runs on the performance counter from now.
    producer.Run(0, nullptr);
    producer.ReadAhead();
    return S_OK;
}

}  // namespace qmcamera

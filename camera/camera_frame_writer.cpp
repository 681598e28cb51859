#include "camera/camera_frame_writer.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

#include "settings/camera_list.h"
#include "settings/capture_settings.h"
#include "scaler/frame_geometry.h"
#include "picture/frame_picture.h"
#include "ring/frame_ring.h"
#include "scaler/frame_scaler.h"
#include "settings/frame_time.h"
#include "picture/frame_converter.h"
#include "timing/pacing_timer.h"
#include "picture/standby_image.h"
#include "window/window_capture.h"
#include "window/window_tracker.h"

using frame_ring::FrameFormat;

namespace {

// How often the camera's stored settings (its window above all) are read
// again, in frames.
constexpr int kSettingsReloadFrames = 30;
// How long to wait between looks for a ring while no reader created one.
constexpr DWORD kRingPollMs = 500;

bool SameRequest(const frame_ring::FrameRequest& a, const frame_ring::FrameRequest& b) {
    return a.width == b.width && a.height == b.height && a.format == b.format && a.frameTime == b.frameTime;
}

// Copies a text into a buffer of its own size, cut to fit.
template <size_t kCapacity>
void CopyText(wchar_t (&buffer)[kCapacity], const wchar_t* text) {
    const size_t length = wcsnlen(text, kCapacity - 1);
    std::wmemcpy(buffer, text, length);
    buffer[length] = L'\0';
}

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
    CCaptureSettings settings(SettingsPathOfCamera(m_camera).text);
    CWindowTracker tracker;
    CWindowCapture capture;
    CFrameScaler scaler;
    CFrameConverter converter;
    CFramePicture standby;
    CPacingTimer timer;
    QM_IGNORE(timer.Start(), "without it the pacing waits in whole milliseconds");
    QM_IGNORE(capture.Start(), "without its thread the capture reads on this one");

    frame_ring::FrameRequest served = {};
    std::vector<BYTE> picture;  // BGR24, top-down, the request's size
    std::vector<BYTE> canvas;   // the standby picture's copy, bottom-up
    bool havePicture = false;
    // Whether `picture` holds the standby frame for standbyText (drawn and
    // flipped only when that changes, not with every frame).
    bool pictureIsStandby = false;
    wchar_t standbyText[kSettingsTextCapacity] = {};
    // The path the standby picture was last read from (read again when the
    // setting names another, not with every frame).
    bool standbyImageRead = false;
    wchar_t standbyImagePath[kStandbyImageCapacity] = {};
    int framesToReload = 0;
    int64_t due = 0;

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
            writer.reset();
            continue;
        }
        if (asked == S_FALSE) {
            served = {};
            QM_IGNORE(writer->WaitForReaderChange(1000, stop), "the loop looks again either way");
            continue;
        }
        if (!SameRequest(request, served)) {
            served = request;
            picture.assign(static_cast<size_t>(request.width) * static_cast<size_t>(request.height) * 3, 0);
            havePicture = false;
            pictureIsStandby = false;
            // A new request starts a stream: the picture's file is read
            // afresh, as a DirectShow stream start reads it.
            standbyImageRead = false;
            due = frame_ring::QpcTime();
            QM_IGNORE(standby.Resize(request.width, request.height), "the standby frame stays black then");
            canvas.assign(standby.ImageSize(), 0);
        }
        if (--framesToReload <= 0) {
            if ((settings.Reload() & CCaptureSettings::kWindowChanged) != 0) {
                tracker.Forget();
            }
            framesToReload = kSettingsReloadFrames;
        }
        const CCaptureSettings::Snapshot values = settings.GetSnapshot();
        if (!standbyImageRead || std::wcscmp(values.standbyImage, standbyImagePath) != 0) {
            // The camera's standby picture, as the DirectShow camera shows it.
            CStandbyImage image;
            QM_IGNORE(image.Load(values.standbyImage), "a file that cannot be used gives the black standby frame");
            standby.SetStandbyImage(std::move(image));
            CopyText(standbyImagePath, values.standbyImage);
            standbyImageRead = true;
            pictureIsStandby = false;
        }
        const HWND window = tracker.WindowForFrame(values.Identity());
        const ptrdiff_t rowBytes = static_cast<ptrdiff_t>(request.width) * 3;
        switch (capture.Read(window, values.captureMethod, MillisecondsOf(request.frameTime), stop)) {
            case CWindowCapture::Outcome::Picture: {
                // Framed and mirrored as the user set it for this camera,
                // as the DirectShow camera frames it.
                const CWindowCapture::Picture& read = capture.LastPicture();
                const FrameGeometry geometry = ComputeFrameGeometry(values.scaleMode, values.mirror, read.width,
                                                                    read.height, request.width, request.height);
                if (SUCCEEDED(scaler.Prepare(read.width, read.height, request.width, request.height, geometry))) {
                    ClearAroundTarget(picture.data(), rowBytes, static_cast<size_t>(rowBytes), request.height,
                                      geometry.target);
                    scaler.Scale(read.topRow, read.stride, picture.data(), rowBytes);
                    havePicture = true;
                    pictureIsStandby = false;
                }
                break;
            }
            case CWindowCapture::Outcome::Standby: {
                if (pictureIsStandby && std::wcscmp(standbyText, values.titleText) == 0) {
                    break;
                }
                standby.RenderStandby(values.titleText, nullptr);
                // The canvas is bottom-up with rows padded to 4 bytes.
                const DWORD bytes = standby.ImageSize();
                if (bytes != 0 && bytes == canvas.size() && SUCCEEDED(standby.CopyPixels(canvas.data(), bytes))) {
                    const size_t stride = bytes / static_cast<size_t>(request.height);
                    for (int y = 0; y < request.height; ++y) {
                        std::copy_n(canvas.data() + stride * static_cast<size_t>(request.height - 1 - y),
                                    static_cast<size_t>(rowBytes), picture.data() + static_cast<size_t>(rowBytes) * static_cast<size_t>(y));
                    }
                }
                havePicture = true;
                pictureIsStandby = true;
                CopyText(standbyText, values.titleText);
                break;
            }
            case CWindowCapture::Outcome::KeepPrevious:
                break;
        }

        frame_ring::FrameSlot slot = {};
        if (havePicture && SUCCEEDED(writer->BeginFrame(&slot))) {
            const Bgr24Picture source = {picture.data(), rowBytes, request.width, request.height};
            const uint32_t stride = static_cast<uint32_t>(request.width) * (request.format == FrameFormat::Rgb32 ? 4u : 1u);
            HRESULT converted = E_UNEXPECTED;
            if (request.format == FrameFormat::Rgb32) {
                converted = converter.ToRgb32(source, slot.data, static_cast<ptrdiff_t>(stride));
            } else if (request.format == FrameFormat::Nv12) {
                BYTE* chroma = slot.data + static_cast<size_t>(stride) * static_cast<size_t>(request.height);
                converted = converter.ToNv12(source, {slot.data, static_cast<ptrdiff_t>(stride), chroma,
                                                      static_cast<ptrdiff_t>(stride)});
            }
            if (SUCCEEDED(converted) &&
                SUCCEEDED(writer->CommitFrame({request.width, request.height, request.format, stride, frame_ring::QpcTime()}))) {
                ::InterlockedIncrement(&m_committed);
            }
        }

        due += request.frameTime;
        const int64_t now = frame_ring::QpcTime();
        if (due < now - request.frameTime) {
            due = now;
        }
        if (due > now) {
            QM_IGNORE(timer.Wait(due - now, stop), "the loop checks the stop event");
        }
    }
    capture.Stop();
}

}  // namespace qmcamera

// qmcamera's frame writer of one camera in this process, read through a
// frame ring of the test's own (a name under Local\ and this process's
// id): the frames a reader's request asks for, the camera's window scaled,
// framed and mirrored as its settings say, a stored change taken from the
// next frames, and the camera's standby picture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "ring/frame_ring.h"
#include "settings/frame_time.h"
#include "settings/camera_list.h"
#include "framework/com_util.h"
#include "tests/support/standby_test_files.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/test_window_thread.h"
#include "camera/camera_frame_writer.h"

using namespace qmtest;

namespace {

// Stores one text value in a camera's settings.
void StoreCameraText(int camera, const wchar_t* name, const wchar_t* value) {
    const std::string settingsPath = SettingsPathOfCamera(camera).text;
    const std::wstring keyPath(settingsPath.begin(), settingsPath.end());
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CURRENT_USER, keyPath.c_str(), name, REG_SZ, value,
                                               static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t))));
}

// Names a window of the test's own in camera `camera`'s settings and shows
// it, `width` x `height`, painted by `painter`.
void ShowCameraWindow(TestWindowThread& windows, int camera, const wchar_t* windowClass, const wchar_t* title,
                      int width, int height, const TestWindowPainter& painter) {
    ASSERT_NO_FATAL_FAILURE(StoreCameraText(camera, L"WindowName", title));
    ASSERT_NO_FATAL_FAILURE(StoreCameraText(camera, L"WindowClass", windowClass));
    ASSERT_TRUE(windows.ok());
    HWND window = nullptr;
    ASSERT_EQ(S_OK, windows.Create(windowClass, title, width, height, painter, &window));
}

// Copies the reader's newest frames into `frame` until one of `width`
// pixels satisfies `shows` (about 100 s at most); whether one did.
template <typename Test>
bool WaitForFrameThat(CFrameRingReader& reader, std::vector<BYTE>& frame, int width, Test shows) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        QM_IGNORE(reader.WaitForFrame(1000, nullptr), "the copy below tells");
        frame_ring::FrameInfo info = {};
        if (reader.CopyLatest(frame.data(), frame.size(), &info) == S_OK && info.width == width && shows()) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(CameraAppTest, TheFrameWriterServesTheReadersRequestAndStopsOnAsk) {
    // No window stored for the camera (an empty user registry): the writer
    // sends its standby frame, black with the camera's standby text, in
    // the format and size the reader asked for.
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    const std::wstring prefix = L"Local\\QMCameraAppTest." + std::to_wstring(::GetCurrentProcessId()) + L".";
    CFrameRingReader reader;
    ASSERT_EQ(S_OK, reader.Create(2, prefix.c_str()));
    ASSERT_EQ(S_OK, reader.SetRequest({432, 768, PixelFormat::Rgb32, kDefaultFrameTime}));

    qmcamera::CCameraFrameWriter writer(2, prefix.c_str());
    ASSERT_EQ(S_OK, writer.Start());
    std::vector<BYTE> frame(432u * 768u * 4u);
    frame_ring::FrameInfo info = {};
    HRESULT copied = S_FALSE;
    for (int attempt = 0; attempt < 60 && copied != S_OK; ++attempt) {
        QM_IGNORE(reader.WaitForFrame(1000, nullptr), "the copy below tells");
        copied = reader.CopyLatest(frame.data(), frame.size(), &info);
    }
    ASSERT_EQ(S_OK, copied);
    EXPECT_EQ(432, info.width);
    EXPECT_EQ(768, info.height);
    EXPECT_EQ(PixelFormat::Rgb32, info.format);
    EXPECT_EQ(432u * 768u * 4u, info.dataSize);
    // Black with opaque alpha in the top left corner.
    EXPECT_EQ(0, frame[0]);
    EXPECT_EQ(0, frame[1]);
    EXPECT_EQ(0, frame[2]);
    EXPECT_EQ(0xFF, frame[3]);
    EXPECT_TRUE(reader.IsWriterAlive());
    writer.Stop();
    EXPECT_GT(writer.Committed(), 0);
}

TEST(CameraAppTest, TheFrameWriterSendsTheCamerasWindowScaledToTheRequest) {
    // Camera 2's settings name a red window; the reader asks for NV12 at
    // 568x320, and the writer's frames show the window's red, converted as
    // the media source's clients take it (BT.601 limited range).
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    TestWindowThread windows;
    ASSERT_NO_FATAL_FAILURE(ShowCameraWindow(windows, 2, L"QMCameraAppTestWindow", L"QM camera app test window", 640,
                                             360, SolidPainter(RGB(255, 0, 0))));

    const std::wstring prefix = L"Local\\QMCameraAppTest.W." + std::to_wstring(::GetCurrentProcessId()) + L".";
    CFrameRingReader reader;
    ASSERT_EQ(S_OK, reader.Create(2, prefix.c_str()));
    ASSERT_EQ(S_OK, reader.SetRequest({568, 320, PixelFormat::Nv12, kDefaultFrameTime}));
    qmcamera::CCameraFrameWriter writer(2, prefix.c_str());
    ASSERT_EQ(S_OK, writer.Start());

    const size_t luma = 568u * 320u;
    std::vector<BYTE> frame(luma * 3 / 2);
    const auto isRed = [&] {
        const size_t middle = 160u * 568u + 284u;
        const size_t chroma = luma + 80u * 568u + 284u;
        return std::abs(frame[middle] - 82) <= 2 && std::abs(frame[chroma] - 90) <= 2 &&
               std::abs(frame[chroma + 1] - 240) <= 2;
    };
    const bool red = WaitForFrameThat(reader, frame, 568, isRed);
    writer.Stop();
    EXPECT_TRUE(red) << "Y " << int{frame[160u * 568u + 284u]};
}

TEST(CameraAppTest, TheFrameWriterFramesAndMirrorsTheWindowAsTheCameraIsSet) {
    // A 4:3 window, red on its left half and blue on its right, fitted
    // into a 16:9 request and mirrored: black bars at the sides, blue left
    // of the middle and red right of it, as the DirectShow camera shows it.
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    ASSERT_NO_FATAL_FAILURE(StoreCameraText(3, L"ScaleMode", L"1"));
    ASSERT_NO_FATAL_FAILURE(StoreCameraText(3, L"Mirror", L"1"));
    TestWindowThread windows;
    const TestWindowPainter halves = [](int x, int) { return x < 160 ? RGB(255, 0, 0) : RGB(0, 0, 255); };
    ASSERT_NO_FATAL_FAILURE(ShowCameraWindow(windows, 3, L"QMCameraAppFramingWindow", L"QM camera app framing window",
                                             320, 240, halves));

    const std::wstring prefix = L"Local\\QMCameraAppTest.F." + std::to_wstring(::GetCurrentProcessId()) + L".";
    CFrameRingReader reader;
    ASSERT_EQ(S_OK, reader.Create(3, prefix.c_str()));
    ASSERT_EQ(S_OK, reader.SetRequest({568, 320, PixelFormat::Rgb32, kDefaultFrameTime}));
    qmcamera::CCameraFrameWriter writer(3, prefix.c_str());
    ASSERT_EQ(S_OK, writer.Start());

    std::vector<BYTE> frame(568u * 320u * 4u);
    // B, G, R of a pixel in the middle row.
    const auto colourAt = [&](int x) {
        const BYTE* p = frame.data() + (160u * 568u + static_cast<unsigned>(x)) * 4u;
        return RGB(p[2], p[1], p[0]);
    };
    // The picture is 427 pixels wide (320x240 fitted into 320 rows), from
    // x = 71 to 497.
    const auto framed = [&] {
        return colourAt(20) == RGB(0, 0, 0) && colourAt(548) == RGB(0, 0, 0) && colourAt(150) == RGB(0, 0, 255) &&
               colourAt(418) == RGB(255, 0, 0);
    };
    const bool seen = WaitForFrameThat(reader, frame, 568, framed);
    writer.Stop();
    EXPECT_TRUE(seen) << std::hex << "bar " << colourAt(20) << ", left " << colourAt(150) << ", right "
                      << colourAt(418);
}

TEST(CameraAppTest, TheFrameWriterTakesAStoredChangeFromTheNextFrame) {
    // The writer makes its frames with the DirectShow device's producer,
    // which reloads the settings when the registry says they changed: at 2
    // frames a second, mirroring stored while streaming shows within a few
    // frames (reloading every 30 frames, as the writer once did, would take
    // 15 s).
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    TestWindowThread windows;
    const TestWindowPainter halves = [](int x, int) { return x < 160 ? RGB(255, 0, 0) : RGB(0, 0, 255); };
    ASSERT_NO_FATAL_FAILURE(ShowCameraWindow(windows, 5, L"QMCameraAppChangeWindow", L"QM camera app change window",
                                             320, 180, halves));
    const std::wstring prefix = L"Local\\QMCameraAppTest.C." + std::to_wstring(::GetCurrentProcessId()) + L".";
    CFrameRingReader reader;
    ASSERT_EQ(S_OK, reader.Create(5, prefix.c_str()));
    ASSERT_EQ(S_OK, reader.SetRequest({568, 320, PixelFormat::Rgb32, 5000000}));
    qmcamera::CCameraFrameWriter writer(5, prefix.c_str());
    ASSERT_EQ(S_OK, writer.Start());
    std::vector<BYTE> frame(568u * 320u * 4u);
    const auto redAt = [&](int x) {
        const BYTE* p = frame.data() + (160u * 568u + static_cast<unsigned>(x)) * 4u;
        return p[2] == 255 && p[0] == 0;
    };
    ASSERT_TRUE(WaitForFrameThat(reader, frame, 568, [&] { return redAt(100); })) << "red on the left first";
    ASSERT_NO_FATAL_FAILURE(StoreCameraText(5, L"Mirror", L"1"));
    const DWORD stored = ::GetTickCount();
    const bool mirrored = WaitForFrameThat(reader, frame, 568, [&] { return redAt(468); });
    const DWORD took = ::GetTickCount() - stored;
    writer.Stop();
    EXPECT_TRUE(mirrored);
    EXPECT_LT(took, 5000u) << "the change waited for a periodic reload";
}

TEST(CameraAppTest, TheFrameWriterShowsTheCamerasStandbyPicture) {
    // No window for camera 4, which has a standby picture: an orange 3:1
    // PNG, fitted on black into a 568x320 request (rows 65 to 254), as the
    // DirectShow camera shows it.
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    ScratchFolder folder;
    const std::wstring path = folder.File(L"camera-standby.png");
    ASSERT_EQ(S_OK, WritePng(path, 90, 30, Solid(RGB(255, 128, 0))));
    ASSERT_NO_FATAL_FAILURE(StoreCameraText(4, L"StandbyImage", path.c_str()));

    const std::wstring prefix = L"Local\\QMCameraAppTest.S." + std::to_wstring(::GetCurrentProcessId()) + L".";
    CFrameRingReader reader;
    ASSERT_EQ(S_OK, reader.Create(4, prefix.c_str()));
    ASSERT_EQ(S_OK, reader.SetRequest({568, 320, PixelFormat::Rgb32, kDefaultFrameTime}));
    qmcamera::CCameraFrameWriter writer(4, prefix.c_str());
    ASSERT_EQ(S_OK, writer.Start());
    std::vector<BYTE> frame(568u * 320u * 4u);
    const auto colourAt = [&](int x, int y) {
        const BYTE* p = frame.data() + (static_cast<unsigned>(y) * 568u + static_cast<unsigned>(x)) * 4u;
        return RGB(p[2], p[1], p[0]);
    };
    const auto pictured = [&] {
        return colourAt(284, 160) == RGB(255, 128, 0) && colourAt(284, 20) == RGB(0, 0, 0);
    };
    const bool seen = WaitForFrameThat(reader, frame, 568, pictured);
    writer.Stop();
    EXPECT_TRUE(seen) << std::hex << "middle " << colourAt(284, 160) << ", top " << colourAt(284, 20);
}

// The two cameras of one window, format by format: camera 1 read through
// Media Foundation (qmmfclient.exe, another process, from the frames this
// process's qmcamera frame writer puts into the ring) and through
// DirectShow (qmcapture.exe, the device in another process), each in the
// same format and size, saved as PNG files by the same conversion. The
// pictures must agree within a few levels: the same producer and converter
// made both, and each must be upright (RGB bottom-up in DirectShow,
// top-down in Media Foundation).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "camera/camera_frame_writer.h"
#include "ring/frame_ring.h"
#include "tests/support/stored_settings.h"
#include "tests/support/test_window_thread.h"
#include "tests/tools/client_process.h"
#include "tests/tools/png_reader.h"
#include "tools/capture_client/console_output.h"

using namespace qmtest;

namespace {

constexpr int kWindowWidth = 640;
constexpr int kWindowHeight = 360;
constexpr DWORD kClientTimeoutMs = 120000;
// The largest difference of a channel between the two pictures.
constexpr int kLevels = 4;

// Red across, green down, blue low on the left half and high on the
// right: no two places alike, and a picture turned upside down or
// mirrored is told at once.
COLORREF PaintPixel(int x, int y) {
    return RGB(x * 255 / (kWindowWidth - 1), y * 255 / (kWindowHeight - 1), x < kWindowWidth / 2 ? 40 : 210);
}

struct FormatCase {
    const wchar_t* option;
    const char* name;
};

class CameraFormatsTest : public testing::TestWithParam<FormatCase> {};

}  // namespace

TEST_P(CameraFormatsTest, TheMediaFoundationCamerasFramesMatchTheDirectShowDevicesForTheSameWindow) {
    const FormatCase& format = GetParam();
    ScopedDeviceRegistration registration;
    ASSERT_TRUE(SUCCEEDED(registration.Register()));
    // Both cameras read camera 1's settings of the user: qmcapture's device
    // in its own process, so the settings are stored for real and put back.
    SavedUserSettings saved;
    const std::wstring title = std::wstring(L"QM camera formats test window ") + format.option;
    const wchar_t windowClass[] = L"QMCameraFormatsTestWindow";
    ASSERT_TRUE(StoreWideText("WindowName", title.c_str()));
    ASSERT_TRUE(StoreWideText("WindowClass", windowClass));
    ASSERT_TRUE(StoreText("WindowProgram", ""));
    ASSERT_TRUE(StoreText("ScaleMode", "0"));
    ASSERT_TRUE(StoreText("Mirror", "0"));
    TestWindowThread windows;
    ASSERT_TRUE(windows.ok());
    HWND window = nullptr;
    ASSERT_EQ(S_OK, windows.Create(windowClass, title.c_str(), kWindowWidth, kWindowHeight, &PaintPixel, &window, 40,
                                   40));

    // Media Foundation: qmmfclient reads the camera's media source, which
    // this process's frame writer feeds.
    const std::wstring mfPicture = ScratchPath((std::wstring(L"mf-") + format.option + L".png").c_str());
    ::DeleteFileW(mfPicture.c_str());
    qmcamera::CCameraFrameWriter writer(1, frame_ring::kGlobalPrefix);
    ASSERT_EQ(S_OK, writer.Start());
    ClientRun mf;
    ASSERT_EQ(S_OK, RunToolProcess(L"qmmfclient.exe",
                                   {L"--camera", L"1", L"--frames", L"30", L"--size", L"1280x720", L"--format",
                                    format.option, L"--save", mfPicture},
                                   kClientTimeoutMs, &mf));
    writer.Stop();
    std::printf("[          ] qmmfclient printed:\n%s", mf.out.c_str());
    ASSERT_EQ(0u, mf.exitCode) << mf.out << mf.err;
    EXPECT_NE(std::string::npos, mf.out.find(std::string("format: ") + format.name + " 1280x720")) << mf.out;

    // DirectShow: qmcapture reads the device in the same format and size.
    const std::wstring folder = ScratchPath(L"camera-formats");
    const std::wstring summaryPath = ScratchPath(L"camera-formats-summary.txt");
    ClientRun ds;
    ASSERT_EQ(S_OK, RunCaptureClientProcess({L"--format", format.option, L"--size", L"1280x720", L"--frames", L"6",
                                             L"--save", L"last", L"--output", folder, L"--summary", summaryPath},
                                            kClientTimeoutMs, &ds));
    ASSERT_EQ(0u, ds.exitCode) << ds.out << ds.err;
    std::map<std::string, std::string> summary;
    ASSERT_EQ(S_OK, ReadSummaryFile(summaryPath, &summary));
    EXPECT_EQ(format.name, summary["subtype"]);
    const std::wstring dsPicture = qmcapture::FromUtf8(summary["saved.0.file"]);

    DecodedPicture fromMf;
    DecodedPicture fromDs;
    const HRESULT decodedMf = DecodePng(mfPicture, &fromMf);
    const HRESULT decodedDs = DecodePng(dsPicture, &fromDs);
    ::DeleteFileW(mfPicture.c_str());
    ::DeleteFileW(dsPicture.c_str());
    ::RemoveDirectoryW(folder.c_str());
    ::DeleteFileW(summaryPath.c_str());
    ASSERT_EQ(S_OK, decodedMf);
    ASSERT_EQ(S_OK, decodedDs);
    ASSERT_EQ(1280u, fromMf.width);
    ASSERT_EQ(720u, fromMf.height);
    ASSERT_EQ(fromDs.width, fromMf.width);
    ASSERT_EQ(fromDs.height, fromMf.height);

    // The window, upright: blue low on the left, high on the right; green
    // low at the top, high at the bottom (not a standby frame either).
    const COLORREF topLeft = fromMf.At(160, 90);
    const COLORREF bottomRight = fromMf.At(1120, 630);
    EXPECT_LT(GetBValue(topLeft), 128);
    EXPECT_GT(GetBValue(bottomRight), 128);
    EXPECT_LT(GetGValue(topLeft), GetGValue(bottomRight));

    int largest = 0;
    size_t beyond = 0;
    for (size_t i = 0; i < fromMf.pixels.size(); ++i) {
        const int difference = std::abs(static_cast<int>(fromMf.pixels[i]) - static_cast<int>(fromDs.pixels[i]));
        largest = difference > largest ? difference : largest;
        beyond += difference > kLevels ? 1 : 0;
    }
    std::printf("[          ] %s: the largest difference of a channel is %d levels\n", format.name, largest);
    EXPECT_EQ(0u, beyond) << "channel values more than " << kLevels << " levels apart (the largest " << largest
                          << ")";
    EXPECT_GT(writer.Committed(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, CameraFormatsTest,
                         testing::Values(FormatCase{L"nv12", "NV12"}, FormatCase{L"yuy2", "YUY2"},
                                         FormatCase{L"i420", "I420"}, FormatCase{L"rgb32", "RGB32"},
                                         FormatCase{L"rgb24", "RGB24"}),
                         [](const testing::TestParamInfo<FormatCase>& param) { return param.param.name; });

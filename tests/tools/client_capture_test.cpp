// qmcapture.exe against the real registered device, in a child process:
// short captures with a chosen size and rate, the summary they leave and
// the PNG files they write, with and without the window to capture.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/support/stored_settings.h"
#include "tests/tools/client_process.h"
#include "tests/tools/png_reader.h"
#include "tools/capture_client/console_output.h"

using namespace qmtest;
using namespace qmcapture;

namespace {

constexpr DWORD kClientTimeoutMs = 120000;
constexpr DWORD kDemoWindowReadyMs = 60000;
constexpr char kDefaultWindowName[] = "Quillmere";
constexpr char kDefaultWindowClass[] = "Quillmere::MainFrame";
// How far a captured colour may stray from the painted one: the scaler
// blends neighbouring pixels, but not across the middle of a marker.
constexpr int kColourTolerance = 48;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A setting of the current user's device settings, or `fallback` when it
// is not stored: the window the device looks for follows these.
std::wstring StoredSetting(const char* name, const char* fallback) {
    DWORD type = 0;
    std::string stored;
    // The text up to its terminator; a missing, empty or other value
    // leaves the device on its default.
    const char* value = ReadStoredSetting(name, &type, &stored) && type == REG_SZ ? stored.c_str() : "";
    if (value[0] == '\0') {
        value = fallback;
    }
    const int length = ::MultiByteToWideChar(CP_ACP, 0, value, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length - 1 : 0), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, value, -1, wide.data(), length);
    return wide;
}

bool Near(COLORREF actual, COLORREF expected) {
    return std::abs(GetRValue(actual) - GetRValue(expected)) <= kColourTolerance &&
           std::abs(GetGValue(actual) - GetGValue(expected)) <= kColourTolerance &&
           std::abs(GetBValue(actual) - GetBValue(expected)) <= kColourTolerance;
}

std::string ColourText(COLORREF colour) {
    return "RGB(" + std::to_string(GetRValue(colour)) + ", " + std::to_string(GetGValue(colour)) + ", " +
           std::to_string(GetBValue(colour)) + ")";
}

// The demo window's corner markers: red top left, green top right, blue
// bottom right, white bottom left, each looked at `inset` pixels in from
// its corners.
void ExpectDemoCorners(const DecodedPicture& picture, UINT inset) {
    const UINT right = picture.width - 1 - inset;
    const UINT bottom = picture.height - 1 - inset;
    const struct {
        UINT x;
        UINT y;
        COLORREF colour;
        const char* where;
    } corners[] = {
        {inset, inset, RGB(255, 0, 0), "top left (red)"},
        {right, inset, RGB(0, 255, 0), "top right (green)"},
        {right, bottom, RGB(0, 0, 255), "bottom right (blue)"},
        {inset, bottom, RGB(255, 255, 255), "bottom left (white)"},
    };
    for (const auto& corner : corners) {
        const COLORREF actual = picture.At(corner.x, corner.y);
        EXPECT_TRUE(Near(actual, corner.colour)) << corner.where << " is " << ColourText(actual);
    }
}

class ClientCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        const HRESULT hr = m_registration.Register();
        ASSERT_TRUE(SUCCEEDED(hr)) << "registering the device failed: 0x" << std::hex << hr;
        m_folder = ScratchPath(L"frames");
        m_summaryPath = ScratchPath(L"capture-summary.txt");
        ::DeleteFileW(m_summaryPath.c_str());
    }

    void TearDown() override {
        for (const auto& entry : m_summary) {
            if (entry.first.size() > 5 && entry.first.compare(entry.first.size() - 5, 5, ".file") == 0) {
                ::DeleteFileW(FromUtf8(entry.second).c_str());
            }
        }
        ::RemoveDirectoryW(m_folder.c_str());
        ::DeleteFileW(m_summaryPath.c_str());
    }

    // Runs a capture into the scratch folder with a summary; the summary's
    // values land in m_summary.
    ClientRun Capture(std::vector<std::wstring> args) {
        for (const std::wstring& extra : {std::wstring(L"--output"), m_folder, std::wstring(L"--summary"),
                                          m_summaryPath}) {
            args.push_back(extra);
        }
        ClientRun run;
        EXPECT_EQ(S_OK, RunCaptureClientProcess(args, kClientTimeoutMs, &run)) << "running qmcapture.exe failed";
        EXPECT_EQ(S_OK, ReadSummaryFile(m_summaryPath, &m_summary)) << "no summary was written";
        return run;
    }

    // The PNG file the summary lists as saved frame `n`.
    void ReadSaved(int n, DecodedPicture* picture) {
        const std::string key = "saved." + std::to_string(n) + ".file";
        ASSERT_EQ(1u, m_summary.count(key)) << key << " is not in the summary";
        ASSERT_EQ(S_OK, DecodePng(FromUtf8(m_summary[key]), picture)) << m_summary[key];
    }

    ScopedDeviceRegistration m_registration;
    std::wstring m_folder;
    std::wstring m_summaryPath;
    std::map<std::string, std::string> m_summary;
};

TEST_F(ClientCaptureTest, ShortCaptureAtAChosenSizeAndRate) {
    const ClientRun run = Capture({L"--size", L"204x360", L"--fps", L"10", L"--frames", L"4", L"--prefix",
                                   L"short", L"--save", L"first,last"});
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_TRUE(Contains(run.out, "device: QM Capture Device\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "format: 204x360 RGB24, 10.00 fps (AvgTimePerFrame 1000000)")) << run.out;
    EXPECT_TRUE(Contains(run.out, "captured: 4 frames")) << run.out;
    EXPECT_TRUE(Contains(run.out, "\\QMCapture\\diagnostic.log (off: DiagnosticLog is not 1)\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "sample timestamps: contiguous (each of 3 samples")) << run.out;

    EXPECT_EQ("ok", m_summary["result"]);
    EXPECT_EQ("QM Capture Device", m_summary["device"]);
    EXPECT_EQ("204x360", m_summary["requested_size"]);
    EXPECT_EQ("204", m_summary["width"]);
    EXPECT_EQ("360", m_summary["height"]);
    EXPECT_EQ("RGB24", m_summary["subtype"]);
    EXPECT_EQ("1000000", m_summary["avg_time_per_frame"]);
    EXPECT_EQ("10.00", m_summary["format_fps"]);
    EXPECT_EQ("4", m_summary["frames"]);
    EXPECT_EQ("frames", m_summary["stop_reason"]);
    // The device stamps frame n with n x 100 ms to (n + 1) x 100 ms.
    EXPECT_EQ("10.000", m_summary["timestamp_fps"]);
    EXPECT_EQ("100.000", m_summary["sample_interval_p50_ms"]);
    EXPECT_EQ("100.000", m_summary["sample_interval_max_ms"]);
    EXPECT_EQ("yes", m_summary["timestamps_contiguous"]);
    EXPECT_EQ("3", m_summary["timestamp_pairs_checked"]);
    EXPECT_EQ("0", m_summary["frames_without_time"]);
    EXPECT_EQ("0", m_summary["short_frames"]);
    EXPECT_EQ(1u, m_summary.count("delivered_fps"));
    EXPECT_EQ(1u, m_summary.count("steady_fps"));
    EXPECT_EQ("2", m_summary["saved_count"]);
    EXPECT_EQ("0", m_summary["saved.0.frame"]);
    EXPECT_EQ("3", m_summary["saved.1.frame"]);
    EXPECT_TRUE(Contains(m_summary["saved.1.file"], "short-000003.png")) << m_summary["saved.1.file"];

    for (int n = 0; n < 2; ++n) {
        DecodedPicture picture;
        ReadSaved(n, &picture);
        EXPECT_EQ(204u, picture.width);
        EXPECT_EQ(360u, picture.height);
    }
}

// With no window to capture, every frame is the standby frame: black,
// with the standby text in light pixels near the bottom edge.
TEST_F(ClientCaptureTest, WithoutTheWindowTheFramesAreStandbyFrames) {
    // Only the demo window's default class and title could be found; this
    // test shows no window at all.
    ASSERT_EQ(nullptr, ::FindWindowW(StoredSetting("WindowClass", kDefaultWindowClass).c_str(),
                                     StoredSetting("WindowName", kDefaultWindowName).c_str()))
        << "a window the device captures is open";
    const ClientRun run = Capture({L"--size", L"568x320", L"--frames", L"3", L"--save", L"last"});
    ASSERT_EQ(0u, run.exitCode) << run.err;
    DecodedPicture picture;
    ReadSaved(0, &picture);
    ASSERT_EQ(568u, picture.width);
    ASSERT_EQ(320u, picture.height);
    size_t lightBelow = 0;
    size_t lightAbove = 0;
    for (UINT y = 0; y < picture.height; ++y) {
        for (UINT x = 0; x < picture.width; ++x) {
            const COLORREF pixel = picture.At(x, y);
            if (GetRValue(pixel) > 128 && GetGValue(pixel) > 128 && GetBValue(pixel) > 128) {
                ++(y >= picture.height * 3 / 4 ? lightBelow : lightAbove);
            }
        }
    }
    EXPECT_EQ(0u, lightAbove);
    EXPECT_GT(lightBelow, 0u) << "no standby text";
    EXPECT_EQ(COLORREF(RGB(0, 0, 0)), picture.At(0, 0));
    EXPECT_EQ(COLORREF(RGB(0, 0, 0)), picture.At(567, 319));
}

// The demo window's corner markers come out where the window has them:
// the picture is neither flipped nor mirrored on its way through the
// device, the graph and the PNG file.
TEST_F(ClientCaptureTest, CaptureOfTheDemoWindowKeepsItsCorners) {
    ScopedDemoWindow window;
    ASSERT_EQ(S_OK, window.Start(StoredSetting("WindowName", kDefaultWindowName),
                                 StoredSetting("WindowClass", kDefaultWindowClass), kDemoWindowReadyMs));
    const ClientRun run = Capture({L"--size", L"852x480", L"--fps", L"30", L"--frames", L"6", L"--save", L"last"});
    ASSERT_EQ(0u, run.exitCode) << run.err;
    EXPECT_EQ("852", m_summary["width"]);
    EXPECT_EQ("333333", m_summary["avg_time_per_frame"]);
    // Frame 0 is a standby frame (the device finds the window while it
    // draws it); the last one shows the window.
    EXPECT_EQ("5", m_summary["saved.0.frame"]);
    DecodedPicture picture;
    ReadSaved(0, &picture);
    ASSERT_EQ(852u, picture.width);
    ASSERT_EQ(480u, picture.height);
    // The markers are 1/18 of the height square: 26 pixels here.
    ExpectDemoCorners(picture, 6);
}

// A window of a class of its own chosen by its title, as users choose
// browser and editor windows: a title past what older versions kept (90
// characters) and a Japanese one. The client stores the choice, and a
// separate capture finds and shows the window.
TEST_F(ClientCaptureTest, AWindowChosenByALongOrJapaneseTitleIsCaptured) {
    SavedUserSettings saved;
    const std::wstring titles[] = {
        L"Quarterly planning 2027 - draft 7 with everyone's comments and the figures from March - Editor",
        L"\u4F1A\u8B70\u306E\u30E1\u30E2 - \u30A8\u30C7\u30A3\u30BF",  // 会議のメモ - エディタ
    };
    for (const std::wstring& title : titles) {
        SCOPED_TRACE(ToUtf8(title));
        ScopedDemoWindow window;
        ASSERT_EQ(S_OK, window.Start(title, L"QMClientTest::Editor", kDemoWindowReadyMs));
        ClientRun stored;
        ASSERT_EQ(S_OK, RunCaptureClientProcess({L"--use-window", title}, kClientTimeoutMs, &stored));
        ASSERT_EQ(0u, stored.exitCode) << stored.err;
        EXPECT_TRUE(Contains(stored.out, "WindowClass \"QMClientTest::Editor\"")) << stored.out;
        EXPECT_TRUE(Contains(stored.out, "WindowProgram \"quillmere_demo.exe\"")) << stored.out;
        const ClientRun run = Capture({L"--size", L"852x480", L"--frames", L"6", L"--save", L"last"});
        ASSERT_EQ(0u, run.exitCode) << run.err;
        DecodedPicture picture;
        ReadSaved(0, &picture);
        ASSERT_EQ(852u, picture.width);
        // The demo window's red top-left marker: the window, not the
        // standby frame.
        EXPECT_TRUE(Near(picture.At(6, 6), RGB(255, 0, 0))) << ColourText(picture.At(6, 6));
    }
}

TEST_F(ClientCaptureTest, SizeTheDeviceDoesNotOfferIsRefused) {
    const ClientRun run = Capture({L"--size", L"640x480", L"--frames", L"1"});
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_EQ("", run.out);
    EXPECT_TRUE(Contains(run.err, "qmcapture: cannot set the format of \"QM Capture Device\": the device offers "
                                  "no 640x480 format (it offers "))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "1136x640")) << run.err;
    EXPECT_EQ("failed", m_summary["result"]);
}

TEST_F(ClientCaptureTest, RateOutsideTheDeviceRangeIsRefused) {
    const ClientRun run = Capture({L"--size", L"852x480", L"--fps", L"75", L"--frames", L"1"});
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(Contains(run.err, "the device offers 852x480 at ")) << run.err;
    EXPECT_TRUE(Contains(run.err, "not 75.00 fps")) << run.err;
    EXPECT_EQ("failed", m_summary["result"]);
}

TEST_F(ClientCaptureTest, CapabilitiesListEverySizeInEveryFormat) {
    ClientRun run;
    ASSERT_EQ(S_OK, RunCaptureClientProcess({L"--caps"}, kClientTimeoutMs, &run));
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_TRUE(Contains(run.out, "QM Capture Device: 50 formats\n")) << run.out;
    const char* const sizes[] = {"204x360", "272x480", "432x768", "568x320", "852x480", "1136x640", "720x1280",
                                 "1080x1920", "1280x720", "1920x1080"};
    const char* const formats[] = {"RGB24", "NV12", "YUY2", "I420", "RGB32"};
    // One line each, in the device's order: every size in RGB24 at
    // indexes 0 to 9, then in NV12, YUY2, I420 and RGB32.
    for (int f = 0; f < 5; ++f) {
        for (int s = 0; s < 10; ++s) {
            char line[96];
            std::snprintf(line, sizeof(line), "  %5d  %-9s  %-7s  1.00 - 60.00", f * 10 + s, sizes[s], formats[f]);
            EXPECT_TRUE(Contains(run.out, line)) << line << "\n" << run.out;
        }
    }
    EXPECT_TRUE(Contains(run.out, "current: ")) << run.out;
}

// A capture in each YUV format and in RGB32 writes PNG files through the
// client's own conversion: the demo window's corner markers come out in
// their colours and places, so the device's planes are where the media
// type says and the chroma is not swapped.
TEST_F(ClientCaptureTest, YuvCapturesShowTheDemoWindowInItsColours) {
    ScopedDemoWindow window;
    ASSERT_EQ(S_OK, window.Start(StoredSetting("WindowName", kDefaultWindowName),
                                 StoredSetting("WindowClass", kDefaultWindowClass), kDemoWindowReadyMs));
    const struct {
        const wchar_t* option;
        const char* subtype;
    } formats[] = {{L"nv12", "NV12"}, {L"yuy2", "YUY2"}, {L"i420", "I420"}, {L"rgb32", "RGB32"}};
    for (const auto& format : formats) {
        SCOPED_TRACE(format.subtype);
        const ClientRun run = Capture({L"--format", format.option, L"--size", L"1280x720", L"--frames", L"6",
                                       L"--save", L"last"});
        ASSERT_EQ(0u, run.exitCode) << run.err;
        EXPECT_TRUE(Contains(run.out, std::string("format: 1280x720 ") + format.subtype + ", ")) << run.out;
        EXPECT_EQ(format.subtype, m_summary["subtype"]);
        EXPECT_EQ("0", m_summary["short_frames"]);
        DecodedPicture picture;
        ReadSaved(0, &picture);
        ASSERT_EQ(1280u, picture.width);
        ASSERT_EQ(720u, picture.height);
        ExpectDemoCorners(picture, 8);
        TearDown();
        m_summary.clear();
    }
}

// Without --format the client keeps the format the device has now, which
// QM Capture Device takes from its stored OutputFormat; --format wins.
TEST_F(ClientCaptureTest, WithoutAFormatTheDevicesStoredFormatIsKept) {
    SavedUserSettings saved;
    ASSERT_TRUE(StoreText("OutputFormat", "2"));  // YUY2
    ClientRun run = Capture({L"--size", L"852x480", L"--frames", L"2", L"--save", L"last"});
    ASSERT_EQ(0u, run.exitCode) << run.err;
    EXPECT_TRUE(Contains(run.out, "format: 852x480 YUY2, ")) << run.out;
    EXPECT_EQ("YUY2", m_summary["subtype"]);
    DecodedPicture picture;
    ReadSaved(0, &picture);
    EXPECT_EQ(852u, picture.width);
    TearDown();

    run = Capture({L"--format", L"rgb24", L"--size", L"852x480", L"--frames", L"2", L"--save", L"none"});
    ASSERT_EQ(0u, run.exitCode) << run.err;
    EXPECT_TRUE(Contains(run.out, "format: 852x480 RGB24, ")) << run.out;
}

TEST_F(ClientCaptureTest, FormatTheDeviceDoesNotOfferAtTheSizeIsRefused) {
    const ClientRun run = Capture({L"--format", L"nv12", L"--size", L"640x480", L"--frames", L"1"});
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(Contains(run.err, "the device offers no 640x480 NV12 format (NV12 sizes: 204x360, ")) << run.err;
    EXPECT_EQ("failed", m_summary["result"]);

    ClientRun unknown;
    ASSERT_EQ(S_OK, RunCaptureClientProcess({L"--format", L"mjpg"}, kClientTimeoutMs, &unknown));
    EXPECT_EQ(2u, unknown.exitCode);
    EXPECT_TRUE(Contains(unknown.err, "qmcapture: bad value 'mjpg' for --format (expected rgb24, nv12, yuy2, i420 "
                                      "or rgb32)"))
        << unknown.err;
}

}  // namespace

// Reading windows of a UI thread of the test's own: the copy and the
// print, covered windows, auto mode's switch to the print (a copy that
// reads back black is injected: Wine draws no window on the GPU), targets
// that stop answering, hidden, minimised and empty windows, and the DPI
// context around each read.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "window/window_capture.h"
#include "tests/window/black_copy_reader.h"
#include "tests/support/resource_counts.h"
#include "tests/support/test_window_thread.h"

using namespace qmtest;

namespace {

constexpr wchar_t kTargetClass[] = L"QMCaptureTest::Target";
constexpr wchar_t kCoverClass[] = L"QMCaptureTest::Cover";
constexpr COLORREF kRed = RGB(200, 30, 30);
constexpr COLORREF kGreen = RGB(30, 200, 30);
constexpr COLORREF kBlue = RGB(30, 30, 200);
constexpr COLORREF kYellow = RGB(220, 220, 40);
constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr DWORD kGenerousDeadlineMs = 5000;

COLORREF PixelAt(const CWindowCapture::Picture& picture, int x, int y) {
    const BYTE* p = picture.topRow + y * picture.stride + x * 4;
    return RGB(p[2], p[1], p[0]);
}

ULONGLONG MillisecondsSince(ULONGLONG start) {
    return ::GetTickCount64() - start;
}

class WindowCaptureTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_ui.ok()); }

    HWND CreateQuadrants(int width, int height, int x = 0, int y = 0) {
        HWND window = nullptr;
        EXPECT_EQ(S_OK, m_ui.Create(kTargetClass, L"Target", width, height,
                                    QuadrantPainter(width, height, kRed, kGreen, kBlue, kYellow), &window, x, y));
        return window;
    }

    // The windows share the test's private desktop (see private_desktop.cpp).
    TestWindowThread m_ui{PrivateTestDesktop::Handle()};
};

}  // namespace

TEST_F(WindowCaptureTest, CopyAndPrintReadTheClientArea) {
    const HWND window = CreateQuadrants(320, 240);
    CWindowCapture capture;
    ASSERT_EQ(S_OK, capture.Start());
    for (const CaptureMethod method : {CaptureMethod::Copy, CaptureMethod::Print, CaptureMethod::Auto}) {
        ASSERT_EQ(CWindowCapture::Outcome::Picture, capture.Read(window, method, kGenerousDeadlineMs, nullptr))
            << static_cast<int>(method);
        const CWindowCapture::Picture& picture = capture.LastPicture();
        ASSERT_EQ(320, picture.width);
        ASSERT_EQ(240, picture.height);
        EXPECT_EQ(kRed, PixelAt(picture, 10, 10)) << static_cast<int>(method);
        EXPECT_EQ(kGreen, PixelAt(picture, 310, 10)) << static_cast<int>(method);
        EXPECT_EQ(kBlue, PixelAt(picture, 10, 230)) << static_cast<int>(method);
        EXPECT_EQ(kYellow, PixelAt(picture, 310, 230)) << static_cast<int>(method);
    }
    capture.Stop();
}

TEST_F(WindowCaptureTest, ThePrintGivesACoveredWindowItsOwnPicture) {
    const HWND target = CreateQuadrants(320, 240, 40, 40);
    // Another application's window over the target's left half.
    HWND cover = nullptr;
    ASSERT_EQ(S_OK, m_ui.Create(kCoverClass, L"Cover", 160, 240, SolidPainter(kGrey), &cover, 40, 40));
    m_ui.Run([&]() { ::SetWindowPos(cover, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE); });
    CWindowCapture capture;
    ASSERT_EQ(S_OK, capture.Start());
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(target, CaptureMethod::Print, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(kRed, PixelAt(capture.LastPicture(), 10, 10));
    EXPECT_EQ(kBlue, PixelAt(capture.LastPicture(), 10, 230));
    EXPECT_EQ(kGreen, PixelAt(capture.LastPicture(), 310, 10));
}

TEST_F(WindowCaptureTest, AutoPrintsAWindowWhoseCopyStaysBlackAndCopiesAgainOnceItRecovers_CopyInjected) {
    const HWND window = CreateQuadrants(200, 200);
    BlackCopyReader reader;
    CWindowCapture capture(&reader);
    // Black from its first read on: no grace for a window that has just
    // appeared (tested on its own below).
    capture.SetNewWindowGraceForTesting(0);
    ASSERT_EQ(S_OK, capture.Start());
    // Two black copies may be a black picture: they are shown as they are.
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(CWindowCapture::Outcome::Picture,
                  capture.Read(window, CaptureMethod::Auto, kGenerousDeadlineMs, nullptr));
        EXPECT_EQ(RGB(0, 0, 0), PixelAt(capture.LastPicture(), 10, 10));
        EXPECT_EQ(CaptureMethod::Copy, capture.AutoMethodInUse());
    }
    // The third in a row switches the window to the print, at once.
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(window, CaptureMethod::Auto, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(CaptureMethod::Print, capture.AutoMethodInUse());
    EXPECT_EQ(kRed, PixelAt(capture.LastPicture(), 10, 10));
    const int copiesBefore = reader.copies;
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(window, CaptureMethod::Auto, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(copiesBefore, reader.copies.load()) << "a printed window is not copied every frame";

    // The copy recovers; a few seconds on, auto tries it again and keeps it.
    reader.black = false;
    const ULONGLONG start = ::GetTickCount64();
    while (capture.AutoMethodInUse() == CaptureMethod::Print && MillisecondsSince(start) < 10000) {
        ASSERT_EQ(CWindowCapture::Outcome::Picture,
                  capture.Read(window, CaptureMethod::Auto, kGenerousDeadlineMs, nullptr));
        EXPECT_EQ(kRed, PixelAt(capture.LastPicture(), 10, 10));
        ::Sleep(100);
    }
    EXPECT_EQ(CaptureMethod::Copy, capture.AutoMethodInUse());
    const int printsBefore = reader.prints;
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(window, CaptureMethod::Auto, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(printsBefore, reader.prints.load());
    EXPECT_EQ(kRed, PixelAt(capture.LastPicture(), 10, 10));
}

TEST_F(WindowCaptureTest, ATargetThatStopsAnsweringHoldsAReadNoLongerThanItsDeadline) {
    const HWND window = CreateQuadrants(200, 200);
    auto capture = std::make_unique<CWindowCapture>();
    ASSERT_EQ(S_OK, capture->Start());
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture->Read(window, CaptureMethod::Print, kGenerousDeadlineMs, nullptr));
    m_ui.Hang(3000);
    ::Sleep(50);
    ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious, capture->Read(window, CaptureMethod::Print, 100, nullptr));
    EXPECT_LT(MillisecondsSince(start), 2000u) << "the read waited beyond its deadline";
    // While the print still hangs, reads do not wait for it at all.
    start = ::GetTickCount64();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious, capture->Read(window, CaptureMethod::Print, 100, nullptr));
    }
    EXPECT_LT(MillisecondsSince(start), 400u);
    // Nor does stopping, or destroying the capture under the hung print.
    start = ::GetTickCount64();
    capture->Stop();
    capture.reset();
    EXPECT_LT(MillisecondsSince(start), 2000u);
}

TEST_F(WindowCaptureTest, ALateReadBringsItsPictureToTheNextFrame) {
    const HWND window = CreateQuadrants(200, 200);
    CWindowCapture capture;
    ASSERT_EQ(S_OK, capture.Start());
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(window, CaptureMethod::Print, kGenerousDeadlineMs, nullptr));
    m_ui.Paint(window, SolidPainter(kGreen));
    m_ui.Hang(300);
    ::Sleep(20);
    EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious, capture.Read(window, CaptureMethod::Print, 10, nullptr));
    ::Sleep(600);
    ASSERT_EQ(CWindowCapture::Outcome::Picture, capture.Read(window, CaptureMethod::Print, 10, nullptr));
    EXPECT_EQ(kGreen, PixelAt(capture.LastPicture(), 150, 150));
}

TEST_F(WindowCaptureTest, AReadOfAnotherWindowOrByAnotherMethodIsNotHeldUpByAHungOne) {
    const HWND hung = CreateQuadrants(200, 200);
    TestWindowThread otherUi(PrivateTestDesktop::Handle());
    ASSERT_TRUE(otherUi.ok());
    HWND other = nullptr;
    ASSERT_EQ(S_OK, otherUi.Create(kTargetClass, L"Other", 120, 90, SolidPainter(kGreen), &other, 300, 0));
    CWindowCapture capture;
    ASSERT_EQ(S_OK, capture.Start());
    ASSERT_EQ(CWindowCapture::Outcome::Picture, capture.Read(hung, CaptureMethod::Print, kGenerousDeadlineMs, nullptr));
    m_ui.Hang(4000);
    ::Sleep(50);
    EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious, capture.Read(hung, CaptureMethod::Print, 50, nullptr));
    // Retargeted: the other window's picture comes at once.
    ULONGLONG start = ::GetTickCount64();
    ASSERT_EQ(CWindowCapture::Outcome::Picture, capture.Read(other, CaptureMethod::Print, kGenerousDeadlineMs, nullptr));
    EXPECT_LT(MillisecondsSince(start), 1000u);
    EXPECT_EQ(kGreen, PixelAt(capture.LastPicture(), 60, 45));
    // The hung window itself, copied instead of printed, too: a copy needs
    // nothing of its thread.
    start = ::GetTickCount64();
    ASSERT_EQ(CWindowCapture::Outcome::Picture, capture.Read(hung, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    EXPECT_LT(MillisecondsSince(start), 1000u);
    // Printing it again waits for nothing: its last print has not returned.
    start = ::GetTickCount64();
    EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious,
              capture.Read(hung, CaptureMethod::Print, kGenerousDeadlineMs, nullptr));
    EXPECT_LT(MillisecondsSince(start), 1000u);
    capture.Stop();
}

TEST_F(WindowCaptureTest, StreamsStartedAndStoppedUnderAHungWindowLeaveOneThreadBehindInAll) {
    const HWND hung = CreateQuadrants(200, 200);
    m_ui.Hang(6000);
    ::Sleep(50);
    long afterFirst = 0;
    for (int cycle = 0; cycle < 20; ++cycle) {
        // Each cycle a new device's capture, as a host that opens and
        // closes the camera again and again.
        CWindowCapture capture;
        ASSERT_EQ(S_OK, capture.Start());
        EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious, capture.Read(hung, CaptureMethod::Print, 50, nullptr));
        capture.Stop();
        if (cycle == 0) {
            ::Sleep(50);
            afterFirst = CountProcessThreads();
        }
    }
    // A thread of a later cycle that waited its turn behind the pending
    // print ends once its wait is over.
    for (int i = 0; i < 100 && CountProcessThreads() > afterFirst; ++i) {
        ::Sleep(20);
    }
    EXPECT_EQ(afterFirst, CountProcessThreads());
}

namespace {

// The highest count of the process's threads seen while it runs: a thread
// of its own takes snapshots one after another, a millisecond apart
// (itself counted).
class ThreadCountPeak {
public:
    ThreadCountPeak() : m_sampler([this] { Sample(); }) {
        // The first sample is taken: the sampler itself is counted from now on.
        while (m_peak.load() == 0) {
            ::Sleep(1);
        }
    }
    ~ThreadCountPeak() { Finish(); }
    ThreadCountPeak(const ThreadCountPeak&) = delete;
    ThreadCountPeak& operator=(const ThreadCountPeak&) = delete;

    // Forgets the counts seen so far; the count now.
    long Reset() {
        const long now = CountProcessThreads();
        m_peak = now;
        return now;
    }
    // Ends the sampling; the highest count seen since the last Reset.
    long Finish() {
        m_done = true;
        if (m_sampler.joinable()) {
            m_sampler.join();
        }
        return m_peak.load();
    }

private:
    void Sample() {
        while (!m_done) {
            const long count = CountProcessThreads();
            long peak = m_peak.load();
            while (count > peak && !m_peak.compare_exchange_weak(peak, count)) {
            }
            ::Sleep(1);
        }
    }

    std::atomic<bool> m_done{false};
    std::atomic<long> m_peak{0};
    std::thread m_sampler;
};

// A print of the window waits until the gate opens: the window's thread
// is held inside it, as a hung application's is, for as long as the test
// needs and no longer.
HANDLE g_printGate = nullptr;
HANDLE g_printEntered = nullptr;
WNDPROC g_gatedProc = nullptr;
LRESULT CALLBACK GatedPrintProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PRINT || message == WM_PRINTCLIENT) {
        ::SetEvent(g_printEntered);
        ::WaitForSingleObject(g_printGate, INFINITE);
    }
    return ::CallWindowProcW(g_gatedProc, window, message, wParam, lParam);
}

class GatedPrints {
public:
    GatedPrints(TestWindowThread& ui, HWND window) : m_ui(ui), m_window(window) {
        g_printGate = m_gate.get();
        g_printEntered = m_entered.get();
        m_ui.Run([&]() {
            g_gatedProc = reinterpret_cast<WNDPROC>(
                ::SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&GatedPrintProc)));
        });
    }
    // Lets the print go, and the window answer again.
    ~GatedPrints() {
        ::SetEvent(m_gate.get());
        m_ui.Run([&]() { ::SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_gatedProc)); });
        g_printGate = nullptr;
        g_printEntered = nullptr;
    }
    GatedPrints(const GatedPrints&) = delete;
    GatedPrints& operator=(const GatedPrints&) = delete;
    bool ok() const { return m_gate && m_entered && g_gatedProc != nullptr; }
    // Whether a print has reached the window (and waits there) in time.
    bool Entered(DWORD timeoutMs) const { return ::WaitForSingleObject(m_entered.get(), timeoutMs) == WAIT_OBJECT_0; }

private:
    TestWindowThread& m_ui;
    const HWND m_window;
    const UniqueHandle m_gate{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    const UniqueHandle m_entered{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

}  // namespace

TEST_F(WindowCaptureTest, StartsAndStopsUnderAHungWindowNeverCostMoreThanOneThreadAtATime) {
    const HWND hung = CreateQuadrants(200, 200);
    // One capture, started and stopped as a device's streams are: Start
    // and the reads of the first frames on the streaming thread, Stop as
    // it ends, WaitUntilEnded once it has ended.
    CWindowCapture capture;
    ASSERT_EQ(S_OK, capture.Start());
    ASSERT_EQ(CWindowCapture::Outcome::Picture, capture.Read(hung, CaptureMethod::Print, kGenerousDeadlineMs, nullptr));
    // From the next print on the window hangs, until the test ends.
    GatedPrints gated(m_ui, hung);
    ASSERT_TRUE(gated.ok());
    ThreadCountPeak peak;
    // The print that does not return: the one thread the hung window holds.
    EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious, capture.Read(hung, CaptureMethod::Print, 50, nullptr));
    ASSERT_TRUE(gated.Entered(10000));
    capture.Stop();
    capture.WaitUntilEnded();
    // Counted with the stuck thread and the sampler (and whatever threads
    // of its own Wine runs by then).
    const long baseline = peak.Reset();
    const ULONGLONG start = ::GetTickCount64();
    // The starts begin while the stuck print is young (a print of another
    // stream waits its turn behind it for a while) and go on after.
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_EQ(S_OK, capture.Start());
        for (int frame = 0; frame < 2; ++frame) {
            EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious, capture.Read(hung, CaptureMethod::Print, 33, nullptr));
        }
        capture.Stop();
        capture.WaitUntilEnded();
    }
    const long highest = peak.Finish();
    std::printf("[          ] threads: %ld with the stuck one, at most %ld while the streams started and stopped "
                "(%llu ms)\n",
                baseline, highest, static_cast<unsigned long long>(MillisecondsSince(start)));
    // The thread of the stream that runs is the only one more.
    EXPECT_LE(highest, baseline + 1) << "starts and stops under the hung window left threads waiting";
}

TEST_F(WindowCaptureTest, AThreadThatDoesNotEndInTimeIsLeftWithItsOwnState_WaitInjected) {
    // An idle capture thread that does not end within Stop's wait (the
    // loader lock, a starved processor) is left behind like a busy one:
    // the next start must not share its state with it.
    const HWND window = CreateQuadrants(120, 90);
    CWindowCapture capture;
    capture.SetIdleExitWaitForTesting(0);
    ASSERT_EQ(S_OK, capture.Start());
    ASSERT_EQ(CWindowCapture::Outcome::Picture, capture.Read(window, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    const long before = CountProcessThreads();
    for (int cycle = 0; cycle < 20; ++cycle) {
        capture.Stop();
        ASSERT_EQ(S_OK, capture.Start());
        ASSERT_EQ(CWindowCapture::Outcome::Picture,
                  capture.Read(window, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    }
    capture.Stop();
    // Every thread left behind ends by itself.
    for (int i = 0; i < 100 && CountProcessThreads() >= before; ++i) {
        ::Sleep(20);
    }
    EXPECT_LT(CountProcessThreads(), before);
}

// A print that fails outright, as PrintWindow does for some windows.
class FailingPrintReader final : public IWindowReader {
public:
    bool Copy(HWND window, const RECT& part, CMemoryDib& dib) override {
        ++copies;
        return m_platform.Copy(window, part, dib);
    }
    bool Print(HWND, SIZE, POINT, CMemoryDib&) override {
        ++prints;
        return false;
    }
    bool CopyScreen(const RECT& area, const RECT* monitors, int count, CMemoryDib& dib) override {
        return m_platform.CopyScreen(area, monitors, count, dib);
    }
    std::atomic<int> copies{0};
    std::atomic<int> prints{0};

private:
    CPlatformWindowReader m_platform;
};

TEST_F(WindowCaptureTest, APrintThatFailsIsMadeUpForByACopy_PrintInjected) {
    const HWND window = CreateQuadrants(200, 200);
    FailingPrintReader reader;
    CWindowCapture capture(&reader);
    ASSERT_EQ(S_OK, capture.Start());
    ASSERT_EQ(CWindowCapture::Outcome::Picture, capture.Read(window, CaptureMethod::Print, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(1, reader.prints.load());
    EXPECT_EQ(1, reader.copies.load());
    EXPECT_EQ(kYellow, PixelAt(capture.LastPicture(), 150, 150));
}

TEST_F(WindowCaptureTest, ARightToLeftWindowIsPrintedWhole) {
    HWND window = nullptr;
    ASSERT_EQ(S_OK, m_ui.Create(kTargetClass, L"Mirrored", 200, 200,
                                QuadrantPainter(200, 200, kRed, kGreen, kBlue, kYellow), &window, 0, 0,
                                WS_EX_LAYOUTRTL));
    CWindowCapture capture;
    ASSERT_EQ(S_OK, capture.Start());
    ASSERT_EQ(CWindowCapture::Outcome::Picture, capture.Read(window, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    const CWindowCapture::Picture copied = capture.LastPicture();
    const COLORREF copiedLeft = PixelAt(copied, 40, 40);
    const COLORREF copiedRight = PixelAt(copied, 160, 40);
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(window, CaptureMethod::Print, kGenerousDeadlineMs, nullptr));
    const CWindowCapture::Picture printed = capture.LastPicture();
    EXPECT_EQ(200, printed.width);
    EXPECT_EQ(200, printed.height);
    // The whole client area, from its own origin: both halves of the top
    // row. (Printed through WM_PRINT, as Wine does, the window draws in its
    // own left-to-right coordinates; composed content, as Windows 8.1 and
    // later print it, comes as the screen shows it.)
    const COLORREF printedLeft = PixelAt(printed, 40, 40);
    const COLORREF printedRight = PixelAt(printed, 160, 40);
    EXPECT_TRUE((printedLeft == copiedLeft && printedRight == copiedRight) ||
                (printedLeft == copiedRight && printedRight == copiedLeft))
        << std::hex << printedLeft << " " << printedRight;
}

TEST_F(WindowCaptureTest, HiddenAndEmptyWindowsGiveStandbyAndMinimisedOnesTheLastPicture) {
    const HWND window = CreateQuadrants(200, 200);
    CWindowCapture capture;
    ASSERT_EQ(S_OK, capture.Start());
    EXPECT_EQ(CWindowCapture::Outcome::Standby, capture.Read(nullptr, CaptureMethod::Auto, 1000, nullptr));
    m_ui.Run([&]() { ::ShowWindow(window, SW_HIDE); });
    EXPECT_EQ(CWindowCapture::Outcome::Standby, capture.Read(window, CaptureMethod::Auto, 1000, nullptr));
    // Painted before the read: a window shown again that has not painted yet
    // reads back black, and for the new window's grace the read gives what
    // was sent before (here the standby frame), which a busy machine would
    // otherwise make this read meet.
    m_ui.Run([&]() {
        ::ShowWindow(window, SW_SHOWNOACTIVATE);
        ::UpdateWindow(window);
    });
    EXPECT_EQ(CWindowCapture::Outcome::Picture, capture.Read(window, CaptureMethod::Auto, 1000, nullptr));
    m_ui.Run([&]() { ::ShowWindow(window, SW_SHOWMINNOACTIVE); });
    EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious, capture.Read(window, CaptureMethod::Auto, 1000, nullptr));
    m_ui.Run([&]() {
        ::ShowWindow(window, SW_SHOWNOACTIVATE);
        ::SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    });
    EXPECT_EQ(CWindowCapture::Outcome::Standby, capture.Read(window, CaptureMethod::Auto, 1000, nullptr));
}

namespace {

// Records every call of the injected SetThreadDpiAwarenessContext.
struct DpiCall {
    DWORD thread;
    HANDLE context;
};
std::mutex g_dpiCallsLock;
std::vector<DpiCall> g_dpiCalls;
const HANDLE kHostContext = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-1));  // unaware

HANDLE WINAPI RecordDpiContext(HANDLE context) {
    std::lock_guard<std::mutex> lock(g_dpiCallsLock);
    g_dpiCalls.push_back({::GetCurrentThreadId(), context});
    return kHostContext;
}

}  // namespace

TEST_F(WindowCaptureTest, EachReadIsPerMonitorAwareAndRestoresTheContext_SetterInjected) {
    const HWND window = CreateQuadrants(120, 90);
    g_dpiCalls.clear();
    CWindowCapture capture(nullptr, &RecordDpiContext);
    ASSERT_EQ(S_OK, capture.Start());
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(CWindowCapture::Outcome::Picture,
                  capture.Read(window, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    }
    capture.Stop();
    std::lock_guard<std::mutex> lock(g_dpiCallsLock);
    ASSERT_EQ(6u, g_dpiCalls.size());
    for (size_t i = 0; i < g_dpiCalls.size(); i += 2) {
        EXPECT_EQ(CPerMonitorDpiScope::PerMonitorAwareV2(), g_dpiCalls[i].context);
        // The recorder accepts v2, so no fallback to v1 is asked for.
        EXPECT_EQ(kHostContext, g_dpiCalls[i + 1].context) << "the context was not restored after read " << i / 2;
        EXPECT_EQ(g_dpiCalls[i].thread, g_dpiCalls[i + 1].thread);
        EXPECT_NE(::GetCurrentThreadId(), g_dpiCalls[i].thread) << "the read ran on the caller's thread";
    }
}

TEST(WindowCaptureBlack, OnlyPicturesWithoutAnyLitPixelAreBlack) {
    std::vector<uint32_t> pixels(16 * 8, 0xFF000000u);  // the unused byte set
    const auto* top = reinterpret_cast<const BYTE*>(pixels.data());
    EXPECT_TRUE(CWindowCapture::IsBlack(top, 16 * 4, 16, 8));
    pixels[16 * 7 + 15] = 0x00000001u;
    EXPECT_FALSE(CWindowCapture::IsBlack(top, 16 * 4, 16, 8));
    // Only the rows and columns of the picture count.
    EXPECT_TRUE(CWindowCapture::IsBlack(top, 16 * 4, 15, 8));
    EXPECT_TRUE(CWindowCapture::IsBlack(top, 16 * 4, 16, 7));
}

TEST_F(WindowCaptureTest, StartsAgainstAWindowWhosePrintIsStuckCostNoThreadNorPictureEach) {
    const HWND hung = CreateQuadrants(640, 480);
    // The system calls the window hung only after five seconds; the test
    // is over well before that.
    {
        CWindowCapture first;
        ASSERT_EQ(S_OK, first.Start());
        ASSERT_EQ(CWindowCapture::Outcome::Picture,
                  first.Read(hung, CaptureMethod::Print, kGenerousDeadlineMs, nullptr));
        m_ui.Hang(8000);
        ::Sleep(50);
        EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious, first.Read(hung, CaptureMethod::Print, 50, nullptr));
        first.Stop();
    }
    const long gdiObjects = MeasureResources().gdiObjects;
    // Longer than a print waits for another one's turn: the first print is
    // stuck from now on.
    ::Sleep(700);
    const long threads = CountProcessThreads();
    for (int cycle = 0; cycle < 6; ++cycle) {
        {
            // Each start a new device's capture, gone before the count.
            CWindowCapture capture;
            ASSERT_EQ(S_OK, capture.Start());
            EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious, capture.Read(hung, CaptureMethod::Print, 50, nullptr));
            capture.Stop();
        }
        EXPECT_EQ(threads, CountProcessThreads()) << "a thread left behind by start " << cycle;
    }
    EXPECT_EQ(gdiObjects, MeasureResources().gdiObjects) << "pictures made for the starts";
}

namespace {

// The test window's own procedure, and one in front of it that prints
// nothing but black, as a window that ignores WM_PRINTCLIENT prints.
WNDPROC g_targetProc = nullptr;
LRESULT CALLBACK BlackPrintProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PRINTCLIENT) {
        RECT client = {};
        ::GetClientRect(window, &client);
        ::FillRect(reinterpret_cast<HDC>(wParam), &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        return 0;
    }
    return ::CallWindowProcW(g_targetProc, window, message, wParam, lParam);
}

}  // namespace

TEST_F(WindowCaptureTest, AForcedPrintThatReadsBackBlackIsMadeUpForByACopy) {
    const HWND window = CreateQuadrants(200, 200);
    m_ui.Run([&]() {
        g_targetProc = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BlackPrintProc)));
    });
    ASSERT_NE(nullptr, g_targetProc);
    CWindowCapture capture;
    ASSERT_EQ(S_OK, capture.Start());
    for (int frame = 0; frame < 2; ++frame) {
        ASSERT_EQ(CWindowCapture::Outcome::Picture,
                  capture.Read(window, CaptureMethod::Print, kGenerousDeadlineMs, nullptr));
        EXPECT_EQ(kRed, PixelAt(capture.LastPicture(), 10, 10)) << "frame " << frame;
        EXPECT_EQ(kYellow, PixelAt(capture.LastPicture(), 190, 190)) << "frame " << frame;
    }
    // A window that is black on the screen too is sent black.
    m_ui.Paint(window, SolidPainter(RGB(0, 0, 0)));
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(window, CaptureMethod::Print, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(RGB(0, 0, 0), PixelAt(capture.LastPicture(), 10, 10));
    capture.Stop();
    m_ui.Run([&]() { ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_targetProc)); });
}

TEST_F(WindowCaptureTest, AWindowThatNewlyBecomesTheTargetKeepsWhatWasSentWhileItReadsBlack_BlackReadsInjected) {
    const HWND first = CreateQuadrants(200, 200);
    HWND second = nullptr;
    ASSERT_EQ(S_OK, m_ui.Create(kTargetClass, L"Second", 120, 90, SolidPainter(kGreen), &second, 300, 0));
    BlackCopyReader reader;
    CWindowCapture capture(&reader);
    // Long enough that no read here outlasts it, on any machine.
    capture.SetNewWindowGraceForTesting(60000);
    ASSERT_EQ(S_OK, capture.Start());
    m_ui.Run([&]() { ::ShowWindow(first, SW_HIDE); });
    EXPECT_EQ(CWindowCapture::Outcome::Standby, capture.Read(first, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    // Shown, it reads back black for a while: the standby frame stays.
    m_ui.Run([&]() { ::ShowWindow(first, SW_SHOWNOACTIVATE); });
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(CWindowCapture::Outcome::Standby,
                  capture.Read(first, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    }
    reader.black = false;
    ASSERT_EQ(CWindowCapture::Outcome::Picture, capture.Read(first, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(kRed, PixelAt(capture.LastPicture(), 10, 10));
    // Once it has shown a picture, black is the window's own again.
    reader.black = true;
    ASSERT_EQ(CWindowCapture::Outcome::Picture, capture.Read(first, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(RGB(0, 0, 0), PixelAt(capture.LastPicture(), 10, 10));
    reader.black = false;
    ASSERT_EQ(CWindowCapture::Outcome::Picture, capture.Read(first, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    // Another window that reads back black at first: the first one's
    // picture is sent again meanwhile.
    reader.black = true;
    EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious,
              capture.Read(second, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(kRed, PixelAt(capture.LastPicture(), 10, 10));
    reader.black = false;
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(second, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(kGreen, PixelAt(capture.LastPicture(), 60, 45));
    capture.Stop();
    // A new stream starts with nothing sent: the standby frame.
    ASSERT_EQ(S_OK, capture.Start());
    reader.black = true;
    EXPECT_EQ(CWindowCapture::Outcome::Standby,
              capture.Read(second, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    // Past the grace, a window that stays black is sent black.
    capture.SetNewWindowGraceForTesting(0);
    m_ui.Run([&]() { ::ShowWindow(second, SW_HIDE); });
    EXPECT_EQ(CWindowCapture::Outcome::Standby,
              capture.Read(second, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    m_ui.Run([&]() { ::ShowWindow(second, SW_SHOWNOACTIVATE); });
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(second, CaptureMethod::Copy, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(RGB(0, 0, 0), PixelAt(capture.LastPicture(), 60, 45));
    capture.Stop();
}

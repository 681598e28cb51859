#include "bench/support/child_window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/com_util.h"
#include "framework/memory_dib.h"
#include "tests/support/message_pump.h"
#include "tests/support/test_window.h"

using namespace qmtest;

namespace qmbench {

namespace {

constexpr char kChildSwitch[] = "--child-window";
constexpr wchar_t kWindowClass[] = L"Quillmere::MainFrame";
constexpr wchar_t kWindowTitle[] = L"Quillmere";

uint32_t Rgb(int r, int g, int b) {
    return (static_cast<uint32_t>(std::clamp(r, 0, 255)) << 16) | (static_cast<uint32_t>(std::clamp(g, 0, 255)) << 8) |
           static_cast<uint32_t>(std::clamp(b, 0, 255));
}

void FillRect(std::vector<uint32_t>& pixels, int width, int left, int top, int right, int bottom, uint32_t colour) {
    const int height = static_cast<int>(pixels.size()) / width;
    for (int y = std::max(0, top); y < std::min(height, bottom); ++y) {
        for (int x = std::max(0, left); x < std::min(width, right); ++x) {
            pixels[static_cast<size_t>(y) * width + x] = colour;
        }
    }
}

// Text drawn by GDI into a DIB, blended onto the picture.
void DrawTextLines(std::vector<uint32_t>& pixels, int width, int height, int left, int top, int lines) {
    CMemoryDib dib;
    if (!dib.Create(width, height, 32, /*topDown=*/true)) {
        return;
    }
    std::memcpy(dib.Pixels(), pixels.data(), pixels.size() * sizeof(uint32_t));
    const HDC dc = dib.Dc();
    UniqueGdiObject font(::CreateFontW(-15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                       DEFAULT_PITCH, L"Tahoma"));
    ScopedSelectObject selectFont(dc, font.get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(20, 24, 32));
    static const wchar_t* const kLines[] = {
        L"Quillmere - chapter 3: the lighthouse keeper's ledger, 14 March",
        L"The tide came in at 04:12; wind NNE 5, visibility good, two ships sighted.",
        L"Lamp oil: 3 gallons drawn, 41 remaining. Wick trimmed twice during the night.",
        L"Notes: paint the gallery rail, check the fog bell, write to the harbour master.",
    };
    for (int i = 0; i < lines; ++i) {
        RECT line = {left, top + i * 20, width - 8, top + i * 20 + 20};
        const wchar_t* text = kLines[i % 4];
        ::DrawTextW(dc, text, -1, &line, DT_SINGLELINE | DT_LEFT | DT_TOP | DT_NOPREFIX);
    }
    ::GdiFlush();
    std::memcpy(pixels.data(), dib.Pixels(), pixels.size() * sizeof(uint32_t));
}

std::vector<uint32_t> ApplicationPicture(int width, int height) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    // Window background: a gentle vertical gradient.
    for (int y = 0; y < height; ++y) {
        const uint32_t colour = Rgb(236 - y * 20 / height, 238 - y * 16 / height, 242 - y * 8 / height);
        std::fill(pixels.begin() + static_cast<ptrdiff_t>(y) * width,
                  pixels.begin() + static_cast<ptrdiff_t>(y + 1) * width, colour);
    }
    // Tool bar with buttons and one-pixel borders.
    const int bar = height / 12;
    FillRect(pixels, width, 0, 0, width, bar, Rgb(52, 73, 94));
    for (int x = 8; x + 40 < width; x += 48) {
        FillRect(pixels, width, x, bar / 5, x + 40, bar - bar / 5, Rgb(236, 240, 241));
        FillRect(pixels, width, x + 1, bar / 5 + 1, x + 39, bar - bar / 5 - 1, Rgb(93, 173, 226));
    }
    // Side panel with a list of rows separated by hairlines.
    const int panel = width / 5;
    FillRect(pixels, width, 0, bar, panel, height, Rgb(248, 249, 250));
    for (int y = bar + 24; y < height; y += 24) {
        FillRect(pixels, width, 4, y, panel - 4, y + 1, Rgb(200, 204, 210));
    }
    FillRect(pixels, width, panel, bar, panel + 1, height, Rgb(160, 166, 172));
    // A photo-like area: smooth colour fields with soft shapes.
    const int photoLeft = panel + 16;
    const int photoTop = bar + 16;
    const int photoRight = width * 3 / 4;
    const int photoBottom = height / 2 + height / 6;
    for (int y = photoTop; y < photoBottom; ++y) {
        for (int x = photoLeft; x < photoRight; ++x) {
            const double u = static_cast<double>(x - photoLeft) / (photoRight - photoLeft);
            const double v = static_cast<double>(y - photoTop) / (photoBottom - photoTop);
            const double sky = 1.0 - v;
            const double hill = 0.5 + 0.5 * std::sin(u * 9.0 + v * 3.0) * std::cos(v * 7.0);
            const double sun = std::exp(-((u - 0.7) * (u - 0.7) + (v - 0.25) * (v - 0.25)) * 40.0);
            pixels[static_cast<size_t>(y) * width + x] =
                Rgb(static_cast<int>(60 + 120 * sky * hill + 180 * sun), static_cast<int>(90 + 110 * hill + 120 * sun),
                    static_cast<int>(120 + 130 * sky - 40 * hill));
        }
    }
    // Text lines in the main area below the photo.
    DrawTextLines(pixels, width, height, panel + 16, photoBottom + 12, (height - photoBottom - 24) / 20);
    return pixels;
}

}  // namespace

std::vector<uint32_t> RenderBenchPicture(BenchPicture picture, int width, int height) {
    if (picture == BenchPicture::Checkerboard) {
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                pixels[static_cast<size_t>(y) * width + x] = ((x + y) % 2 == 0) ? 0xFFFFFF : 0;
            }
        }
        return pixels;
    }
    return ApplicationPicture(width, height);
}

bool RunChildWindowIfAsked(int argc, char** argv) {
    if (argc < 7 || std::strcmp(argv[1], kChildSwitch) != 0) {
        return false;
    }
    const auto picture = static_cast<BenchPicture>(std::atoi(argv[2]));
    const int width = std::atoi(argv[3]);
    const int height = std::atoi(argv[4]);
    const DWORD parentId = static_cast<DWORD>(std::strtoul(argv[5], nullptr, 10));
    UniqueHandle ready(::OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[6]));
    UniqueHandle parent(::OpenProcess(SYNCHRONIZE, FALSE, parentId));

    const std::vector<uint32_t> pixels = RenderBenchPicture(picture, width, height);
    TestWindow window;
    const HRESULT hr = window.Create(kWindowClass, kWindowTitle, width, height, [&](int x, int y) {
        const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    });
    if (FAILED(hr)) {
        std::fprintf(stderr, "child window: Create failed 0x%08lx\n", static_cast<unsigned long>(hr));
        return true;
    }
    // Let the display server show the picture before the parent reads it.
    for (int i = 0; i < 20; ++i) {
        PumpMessages();
        ::Sleep(10);
    }
    if (ready) {
        ::SetEvent(ready.get());
    }
    for (;;) {
        const HANDLE handles[1] = {parent.get()};
        const DWORD count = parent ? 1 : 0;
        const DWORD result = ::MsgWaitForMultipleObjects(count, handles, FALSE, INFINITE, QS_ALLINPUT);
        if (count == 1 && result == WAIT_OBJECT_0) {
            break;
        }
        MSG message;
        bool quit = false;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
            }
            if (message.message == WM_CLOSE || (message.hwnd == window.hwnd() && message.message == WM_USER)) {
                quit = true;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (quit || !::IsWindow(window.hwnd())) {
            break;
        }
    }
    return true;
}

ChildProcessWindow::~ChildProcessWindow() {
    Close();
}

HRESULT ChildProcessWindow::Start(BenchPicture picture, int clientWidth, int clientHeight) {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string eventName = "QMBenchWindowReady-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                  std::to_string(::GetTickCount());
    UniqueHandle ready(::CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
    if (!ready) {
        return HResultFromWin32(::GetLastError());
    }
    std::string command = std::string("\"") + path + "\" " + kChildSwitch + " " +
                          std::to_string(static_cast<int>(picture)) + " " + std::to_string(clientWidth) + " " +
                          std::to_string(clientHeight) + " " + std::to_string(::GetCurrentProcessId()) + " " +
                          eventName;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return HResultFromWin32(::GetLastError());
    }
    ::CloseHandle(process.hThread);
    m_process.reset(process.hProcess);
    const HANDLE handles[2] = {ready.get(), m_process.get()};
    if (::WaitForMultipleObjects(2, handles, FALSE, 30000) != WAIT_OBJECT_0) {
        return E_FAIL;
    }
    m_window = ::FindWindowW(kWindowClass, kWindowTitle);
    return m_window != nullptr ? S_OK : E_FAIL;
}

void ChildProcessWindow::Close() {
    if (m_window != nullptr) {
        ::PostMessageW(m_window, WM_CLOSE, 0, 0);
        m_window = nullptr;
    }
    if (m_process) {
        if (::WaitForSingleObject(m_process.get(), 5000) != WAIT_OBJECT_0) {
            ::TerminateProcess(m_process.get(), 1);
        }
        m_process.reset();
    }
}

double Median(std::vector<double>& values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::min(values.size() - 1, rank > 0 ? rank - 1 : 0)];
}

}  // namespace qmbench

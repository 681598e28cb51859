// What one copy of another process's window costs, and why the frames'
// own read of it (on the capture thread) can cost less than a benchmark's
// copy on its main thread: the same BitBlt of a 1280x720 client area into
// a 32-bit DIB, made on the main thread and on a thread of its own, each
// with and without per-monitor DPI awareness for the call (the capture
// thread reads per-monitor aware), and the capture's own read beside them.
// Wall time and the process's processor time per read.
//
// Usage: window_read_bench [reads per figure] [WIDTHxHEIGHT]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "bench/support/bench_clock.h"
#include "bench/support/child_window.h"
#include "window/dpi_awareness.h"
#include "window/window_capture.h"
#include "framework/memory_dib.h"

using namespace qmbench;

namespace {

// One BitBlt of the client area through a fresh window DC, as a frame
// reads it, optionally per-monitor aware for the call.
void CopyWindow(HWND window, CMemoryDib& dib, bool perMonitor) {
    if (perMonitor) {
        CPerMonitorDpiScope dpi;
        WindowDc dc(window);
        ::BitBlt(dib.Dc(), 0, 0, dib.Width(), dib.Height(), dc.get(), 0, 0, SRCCOPY);
    } else {
        WindowDc dc(window);
        ::BitBlt(dib.Dc(), 0, 0, dib.Width(), dib.Height(), dc.get(), 0, 0, SRCCOPY);
    }
    ::GdiFlush();
}

struct Figures {
    double wallMs;
    double cpuMs;
};

// `reads` calls of `read`, on this thread.
Figures Measure(int reads, const std::function<void()>& read) {
    read();
    const double cpu = ProcessCpuMs();
    const double start = NowMs();
    for (int i = 0; i < reads; ++i) {
        read();
    }
    return {(NowMs() - start) / reads, (ProcessCpuMs() - cpu) / reads};
}

struct MeasureJob {
    int reads;
    const std::function<void()>* read;
    Figures figures;
};

// A thread routine must be WINAPI: on x86 that is stdcall, which a lambda
// cannot declare.
DWORD WINAPI MeasureJobThread(LPVOID parameter) {
    auto* work = static_cast<MeasureJob*>(parameter);
    work->figures = Measure(work->reads, *work->read);
    return 0;
}

// The same on a thread of its own, made for the measurement.
Figures MeasureOnThread(int reads, const std::function<void()>& read) {
    MeasureJob job = {reads, &read, {}};
    const HANDLE thread = ::CreateThread(nullptr, 0, MeasureJobThread, &job, 0, nullptr);
    if (thread == nullptr) {
        return {0.0, 0.0};
    }
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
    return job.figures;
}

}  // namespace

int main(int argc, char** argv) {
    if (RunChildWindowIfAsked(argc, argv)) {
        return 0;
    }
    int reads = 60;
    int width = 1280;
    int height = 720;
    if (argc > 1) {
        reads = std::max(5, std::atoi(argv[1]));
    }
    if (argc > 2 && std::sscanf(argv[2], "%dx%d", &width, &height) != 2) {
        std::fprintf(stderr, "usage: window_read_bench [reads] [WIDTHxHEIGHT]\n");
        return 2;
    }
    ChildProcessWindow child;
    if (FAILED(child.Start(BenchPicture::Application, width, height))) {
        std::fprintf(stderr, "the child window could not be shown\n");
        return 1;
    }
    CMemoryDib mainDib;
    CMemoryDib threadDib;
    if (!mainDib.Create(width, height, 32, true) || !threadDib.Create(width, height, 32, true)) {
        std::fprintf(stderr, "no bitmap\n");
        return 1;
    }
    const HWND window = child.hwnd();
    CWindowCapture capture;
    QM_IGNORE(capture.Start(), "without its thread the capture reads inline, which the figure then shows");

    std::printf("window_read_bench (%s): %dx%d window of another process, %d reads per figure\n",
                sizeof(void*) == 8 ? "x64" : "x86", width, height, reads);
    std::printf("%-46s %10s %10s\n", "read", "wall ms", "cpu ms");
    const struct {
        const char* name;
        std::function<Figures()> run;
    } cases[] = {
        {"BitBlt, main thread, DPI unaware",
         [&] { return Measure(reads, [&] { CopyWindow(window, mainDib, false); }); }},
        {"BitBlt, main thread, per-monitor aware",
         [&] { return Measure(reads, [&] { CopyWindow(window, mainDib, true); }); }},
        {"BitBlt, main thread, messages pumped",
         [&] {
             return Measure(reads, [&] {
                 CopyWindow(window, mainDib, false);
                 MSG message;
                 while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                     ::DispatchMessageW(&message);
                 }
             });
         }},
        {"BitBlt, own thread, DPI unaware",
         [&] { return MeasureOnThread(reads, [&] { CopyWindow(window, threadDib, false); }); }},
        {"BitBlt, own thread, per-monitor aware",
         [&] { return MeasureOnThread(reads, [&] { CopyWindow(window, threadDib, true); }); }},
        {"BitBlt, own thread that has a window of its own",
         [&] {
             return MeasureOnThread(reads, [&] {
                 static thread_local HWND own = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                                                  nullptr, nullptr, nullptr);
                 (void)own;
                 CopyWindow(window, threadDib, false);
             });
         }},
        {"the capture's read (its thread, copy method)", [&] {
             return Measure(reads, [&] { capture.Read(window, CaptureMethod::Copy, INFINITE, nullptr); });
         }},
    };
    for (const auto& entry : cases) {
        const Figures figures = entry.run();
        std::printf("%-46s %10.2f %10.2f\n", entry.name, figures.wallMs, figures.cpuMs);
    }
    capture.Stop();
    return 0;
}

#include "capture/window_capture.h"

#include <atomic>
#include <cstdint>
#include <new>

#include "framework/com_util.h"
#include "framework/diagnostic_log.h"

namespace {

// PrintWindow's flag for the window's full, composed content (Windows 8.1
// and later); older systems and Wine print through WM_PRINT instead.
constexpr UINT kPrintRenderFullContent = 2;
// Auto mode: copies that read back all black, in a row, before a window
// is printed instead; and how often a printed window gets a copy again.
constexpr int kBlackCopiesBeforePrint = 3;
constexpr ULONGLONG kCopyRetryMs = 3000;
// Stop waits this long for an idle capture thread to end.
constexpr DWORD kIdleThreadExitMs = 1000;

}  // namespace

enum class CWindowCapture::ReadResult { Read, Empty, Failed };

bool CPlatformWindowReader::Copy(HWND window, SIZE client, CMemoryDib& dib) {
    WindowDc windowDc(window);
    if (windowDc.get() == nullptr) {
        return false;
    }
    return ::BitBlt(dib.Dc(), 0, 0, client.cx, client.cy, windowDc.get(), 0, 0, SRCCOPY) != FALSE;
}

bool CPlatformWindowReader::Print(HWND window, SIZE /*windowSize*/, POINT /*clientOrigin*/, CMemoryDib& dib) {
    return ::PrintWindow(window, dib.Dc(), kPrintRenderFullContent) != FALSE;
}

struct CWindowCapture::Shared {
    Shared(IWindowReader* reader, SetThreadDpiContextFunction dpiContextSetter)
        : injectedReader(reader), setDpiContext(dpiContextSetter) {}

    IWindowReader& Reader() { return injectedReader != nullptr ? *injectedReader : platformReader; }

    // Reads `window` by `method` into dib; on the capture thread, or on the
    // streaming thread when there is none.
    ReadResult DoRead(HWND window, CaptureMethod method);
    ReadResult ReadCopy(HWND window, SIZE client);
    ReadResult ReadPrint(HWND window, SIZE client);
    ReadResult ReadAuto(HWND window, SIZE client);
    bool Fit(int width, int height);

    CPlatformWindowReader platformReader;
    IWindowReader* const injectedReader;
    const SetThreadDpiContextFunction setDpiContext;

    // Auto-reset: a read (or the end) is asked for. Manual-reset: the read
    // asked for has ended.
    UniqueHandle requestEvent{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    UniqueHandle doneEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> stopping{false};
    // The module stays loaded while the capture thread runs its code.
    HMODULE module = nullptr;

    // Written by the streaming thread before requestEvent is set, read by
    // the capture thread after.
    HWND requestWindow = nullptr;
    CaptureMethod requestMethod = CaptureMethod::Auto;

    // Written by the capture thread before doneEvent is set, read by the
    // streaming thread after: the picture and where the client area lies.
    ReadResult result = ReadResult::Failed;
    CMemoryDib dib;
    POINT clientOrigin = {0, 0};
    SIZE client = {0, 0};

    // Auto mode, on the thread that reads.
    HWND autoWindow = nullptr;
    std::atomic<CaptureMethod> autoMethod{CaptureMethod::Copy};
    int blackCopies = 0;
    ULONGLONG lastCopyTry = 0;
};

bool CWindowCapture::Shared::Fit(int width, int height) {
    if (dib && dib.Width() == width && dib.Height() == height) {
        return true;
    }
    return dib.Create(width, height, 32, /*topDown=*/true);
}

CWindowCapture::ReadResult CWindowCapture::Shared::ReadCopy(HWND window, SIZE size) {
    if (!Fit(size.cx, size.cy)) {
        return ReadResult::Failed;
    }
    clientOrigin = {0, 0};
    if (!Reader().Copy(window, size, dib)) {
        return ReadResult::Failed;
    }
    // The DIB must hold the copy before its pixels are read directly.
    ::GdiFlush();
    return ReadResult::Read;
}

CWindowCapture::ReadResult CWindowCapture::Shared::ReadPrint(HWND window, SIZE size) {
    RECT frame = {};
    POINT origin = {0, 0};
    if (!::GetWindowRect(window, &frame) || !::ClientToScreen(window, &origin)) {
        return ReadResult::Failed;
    }
    const SIZE windowSize = {frame.right - frame.left, frame.bottom - frame.top};
    const POINT inWindow = {origin.x - frame.left, origin.y - frame.top};
    if (inWindow.x < 0 || inWindow.y < 0 || inWindow.x + size.cx > windowSize.cx ||
        inWindow.y + size.cy > windowSize.cy || !Fit(windowSize.cx, windowSize.cy)) {
        return ReadResult::Failed;
    }
    clientOrigin = inWindow;
    if (!Reader().Print(window, windowSize, inWindow, dib)) {
        return ReadResult::Failed;
    }
    ::GdiFlush();
    return ReadResult::Read;
}

CWindowCapture::ReadResult CWindowCapture::Shared::ReadAuto(HWND window, SIZE size) {
    if (window != autoWindow) {
        autoWindow = window;
        autoMethod = CaptureMethod::Copy;
        blackCopies = 0;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (autoMethod == CaptureMethod::Print && now - lastCopyTry < kCopyRetryMs) {
        return ReadPrint(window, size);
    }
    // A copy: the usual way, or the printed window's periodic retry.
    const ReadResult copied = ReadCopy(window, size);
    if (copied != ReadResult::Read) {
        return autoMethod == CaptureMethod::Print ? ReadPrint(window, size) : copied;
    }
    const BYTE* top = dib.Pixels();
    if (!IsBlack(top, dib.Stride(), size.cx, size.cy)) {
        if (autoMethod == CaptureMethod::Print) {
            diagnostic_log::Write("window %p copies again", static_cast<void*>(window));
        }
        autoMethod = CaptureMethod::Copy;
        blackCopies = 0;
        return ReadResult::Read;
    }
    if (autoMethod == CaptureMethod::Copy && ++blackCopies < kBlackCopiesBeforePrint) {
        // Black for now; it may be a black picture after all.
        return ReadResult::Read;
    }
    if (autoMethod == CaptureMethod::Copy) {
        diagnostic_log::Write("window %p reads back black: printed instead", static_cast<void*>(window));
    }
    autoMethod = CaptureMethod::Print;
    lastCopyTry = now;
    return ReadPrint(window, size);
}

CWindowCapture::ReadResult CWindowCapture::Shared::DoRead(HWND window, CaptureMethod method) {
    // Client rectangle and pixels at the window's own scale, whatever the
    // host's awareness.
    CPerMonitorDpiScope dpi(setDpiContext);
    RECT rect = {};
    if (!::GetClientRect(window, &rect)) {
        return ReadResult::Failed;
    }
    const SIZE size = {rect.right - rect.left, rect.bottom - rect.top};
    if (size.cx <= 0 || size.cy <= 0) {
        return ReadResult::Empty;
    }
    client = size;
    switch (method) {
    case CaptureMethod::Copy:
        return ReadCopy(window, size);
    case CaptureMethod::Print:
        return ReadPrint(window, size);
    case CaptureMethod::Auto:
        break;
    }
    return ReadAuto(window, size);
}

namespace {

struct ThreadStart {
    std::shared_ptr<CWindowCapture::Shared> shared;
};

DWORD WINAPI CaptureThreadProc(LPVOID parameter) {
    std::shared_ptr<CWindowCapture::Shared> shared = std::move(static_cast<ThreadStart*>(parameter)->shared);
    delete static_cast<ThreadStart*>(parameter);
    const HMODULE module = shared->module;
    for (;;) {
        ::WaitForSingleObject(shared->requestEvent.get(), INFINITE);
        if (shared->stopping) {
            break;
        }
        shared->result = shared->DoRead(shared->requestWindow, shared->requestMethod);
        ::SetEvent(shared->doneEvent.get());
    }
    // The last reference may be this one: the state goes with the thread.
    shared.reset();
    if (module != nullptr) {
        ::FreeLibraryAndExitThread(module, 0);
    }
    return 0;
}

}  // namespace

CWindowCapture::CWindowCapture(IWindowReader* reader, SetThreadDpiContextFunction setDpiContext)
    : m_shared(std::make_shared<Shared>(reader, setDpiContext)) {}

CWindowCapture::~CWindowCapture() {
    Stop();
}

HRESULT CWindowCapture::Start() {
    QM_DCHECK_ON_THREAD(m_owner);
    if (m_thread) {
        return S_OK;
    }
    Shared& shared = *m_shared;
    RETURN_HR_IF(E_OUTOFMEMORY, !shared.requestEvent || !shared.doneEvent);
    shared.stopping = false;
    m_busy = false;
    ::ResetEvent(shared.requestEvent.get());
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&CaptureThreadProc)), &module);
    shared.module = module;
    auto* start = new (std::nothrow) ThreadStart{m_shared};
    if (start == nullptr) {
        if (module != nullptr) {
            ::FreeLibrary(module);
        }
        return E_OUTOFMEMORY;
    }
    m_thread.reset(::CreateThread(nullptr, 0, &CaptureThreadProc, start, 0, nullptr));
    if (!m_thread) {
        const HRESULT hr = HResultFromLastError();
        delete start;
        if (module != nullptr) {
            ::FreeLibrary(module);
        }
        return hr;
    }
    return S_OK;
}

void CWindowCapture::Stop() {
    QM_DCHECK_ON_THREAD(m_owner);
    // The next Start may come from another thread.
    m_owner.Detach();
    if (!m_thread) {
        return;
    }
    Shared& shared = *m_shared;
    shared.stopping = true;
    ::SetEvent(shared.requestEvent.get());
    // An idle thread ends at once; one inside a read (a hung target) is
    // left to end by itself, with the state it shares.
    if (!m_busy) {
        ::WaitForSingleObject(m_thread.get(), kIdleThreadExitMs);
    } else {
        // The capture thread keeps the old state; later reads get a new
        // one. Where even that cannot be had, the old one stays: its
        // thread has been told to end, and reads then happen inline.
        std::shared_ptr<Shared> fresh(new (std::nothrow) Shared(shared.injectedReader, shared.setDpiContext));
        if (fresh != nullptr) {
            m_shared = std::move(fresh);
        }
        m_busy = false;
    }
    m_thread.reset();
    m_picture = Picture{};
}

CWindowCapture::Outcome CWindowCapture::Read(HWND window, CaptureMethod method, DWORD deadlineMs,
                                             HANDLE wakeEvent) {
    QM_DCHECK_ON_THREAD(m_owner);
    if (window == nullptr || !::IsWindowVisible(window)) {
        return Outcome::Standby;
    }
    if (::IsIconic(window)) {
        return Outcome::KeepPrevious;
    }
    Shared& shared = *m_shared;
    if (!m_thread) {
        shared.result = shared.DoRead(window, method);
        return Finish();
    }
    if (m_busy) {
        // Still reading (a slow or hung target): no waiting on it again.
        if (::WaitForSingleObject(shared.doneEvent.get(), 0) != WAIT_OBJECT_0) {
            return Outcome::KeepPrevious;
        }
        // A read that missed its deadline has ended since: its picture is
        // the newest there is.
        m_busy = false;
        if (m_readWindow == window) {
            return Finish();
        }
    }
    shared.requestWindow = window;
    shared.requestMethod = method;
    ::ResetEvent(shared.doneEvent.get());
    m_busy = true;
    m_readWindow = window;
    ::SetEvent(shared.requestEvent.get());
    const HANDLE waits[] = {shared.doneEvent.get(), wakeEvent};
    const DWORD count = wakeEvent != nullptr ? 2 : 1;
    if (::WaitForMultipleObjects(count, waits, FALSE, deadlineMs) != WAIT_OBJECT_0) {
        return Outcome::KeepPrevious;
    }
    m_busy = false;
    return Finish();
}

CWindowCapture::Outcome CWindowCapture::Finish() {
    const Shared& shared = *m_shared;
    switch (shared.result) {
    case ReadResult::Empty:
        return Outcome::Standby;
    case ReadResult::Failed:
        return Outcome::KeepPrevious;
    case ReadResult::Read:
        break;
    }
    const ptrdiff_t stride = shared.dib.Stride();
    m_picture.topRow = shared.dib.Pixels() + shared.clientOrigin.y * stride + shared.clientOrigin.x * 4;
    m_picture.stride = stride;
    m_picture.width = shared.client.cx;
    m_picture.height = shared.client.cy;
    return Outcome::Picture;
}

CaptureMethod CWindowCapture::AutoMethodInUse() const {
    return m_shared->autoMethod.load();
}

bool CWindowCapture::IsBlack(const BYTE* topRow, ptrdiff_t stride, int width, int height) {
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(topRow + y * stride);
        uint32_t any = 0;
        for (int x = 0; x < width; ++x) {
            any |= row[x];
        }
        // The fourth byte of each pixel is not part of the picture.
        if ((any & 0x00FFFFFFu) != 0) {
            return false;
        }
    }
    return true;
}

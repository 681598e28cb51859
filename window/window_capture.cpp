#include "window/window_capture.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include "window/pointer_overlay.h"

#include "framework/com_util.h"
#include "framework/diagnostic_log.h"

namespace {

// PrintWindow's flag for the window's full, composed content (Windows 8.1
// and later); older systems and Wine print through WM_PRINT instead.
constexpr UINT kPrintRenderFullContent = 2;
// Auto mode: copies that read back all black, in a row, before a window
// is read another way; and how often such a window gets a copy again.
constexpr int kBlackCopiesBeforeAnotherWay = 3;
constexpr ULONGLONG kCopyRetryMs = 3000;
// How long a window whose graphics capture failed or read back black is
// not captured that way again. Each new capture of a window is a new
// session, and Windows 10 draws its border anew around the window.
constexpr ULONGLONG kGraphicsRetryMs = 10000;
// How long a print waits for another thread's print of the same window to
// return before it takes the window as hung.
constexpr DWORD kPrintTurnWaitMs = 500;

}  // namespace

// Unchanged: a graphics capture without a new frame, nothing read.
enum class CWindowCapture::ReadResult { Read, Empty, Failed, Hung, Unchanged };

bool CPlatformWindowReader::Copy(HWND window, const RECT& part, CMemoryDib& dib) {
    WindowDc windowDc(window);
    if (windowDc.get() == nullptr) {
        return false;
    }
    return ::BitBlt(dib.Dc(), 0, 0, part.right - part.left, part.bottom - part.top, windowDc.get(), part.left,
                    part.top, SRCCOPY) != FALSE;
}

bool CPlatformWindowReader::CopyScreen(const RECT& area, const RECT* monitors, int count, CMemoryDib& dib) {
    // What lies on no monitor stays black.
    std::memset(dib.Pixels(), 0, dib.ImageSize());
    WindowDc screenDc(nullptr);
    if (screenDc.get() == nullptr) {
        return false;
    }
    bool copied = false;
    for (int i = 0; i < count; ++i) {
        RECT part = {};
        if (!::IntersectRect(&part, &area, &monitors[i])) {
            continue;
        }
        // CAPTUREBLT: layered windows (menus, tooltips, translucent
        // applications) are part of what the screen shows.
        copied |= ::BitBlt(dib.Dc(), part.left - area.left, part.top - area.top, part.right - part.left,
                           part.bottom - part.top, screenDc.get(), part.left, part.top, SRCCOPY | CAPTUREBLT) != FALSE;
    }
    return copied;
}

bool CPlatformWindowReader::Print(HWND window, SIZE /*windowSize*/, POINT /*clientOrigin*/, CMemoryDib& dib) {
    return ::PrintWindow(window, dib.Dc(), kPrintRenderFullContent) != FALSE;
}

namespace {

// The windows a print has been sent to that has not returned yet, in the
// whole process. A capture thread stuck in such a print is left behind by
// its stream; no other thread sends that window a print until the first
// returns, so that a hung window holds at most one thread however often a
// stream starts and stops. A print of a window that another device is
// printing just then (two cameras of one window) waits its turn for a
// while.
class CPendingPrints {
public:
    // Waits up to waitMs for the window's pending print to return; false
    // when it did not (the window hangs), every slot is taken, or giveUp
    // turned true (the read's stream stops; WakeWaiters then ends the wait).
    static bool Begin(HWND window, DWORD waitMs, const std::atomic<bool>& giveUp) {
        CPendingPrints& self = Instance();
        const ULONGLONG deadline = ::GetTickCount64() + waitMs;
        CAutoLock lock(&self.m_lock);
        for (;;) {
            if (giveUp) {
                return false;
            }
            int free = -1;
            bool pending = false;
            for (int i = 0; i < kSlots; ++i) {
                if (self.m_windows[i] == window) {
                    pending = true;
                } else if (self.m_windows[i] == nullptr && free < 0) {
                    free = i;
                }
            }
            if (!pending) {
                if (free < 0) {
                    return false;
                }
                self.m_windows[free] = window;
                self.m_since[free] = ::GetTickCount64();
                return true;
            }
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline) {
                return false;
            }
            // Lets go of the lock while it waits.
            self.m_lock.WaitFor(&self.m_returned, static_cast<DWORD>(deadline - now));
        }
    }

    // Whether the window has a print pending for longer than stuckMs: one
    // that a print of another thread would wait for in vain. Never waits.
    static bool IsStuck(HWND window, DWORD stuckMs) {
        CPendingPrints& self = Instance();
        const ULONGLONG now = ::GetTickCount64();
        CAutoLock lock(&self.m_lock);
        for (int i = 0; i < kSlots; ++i) {
            if (self.m_windows[i] == window && now - self.m_since[i] >= stuckMs) {
                return true;
            }
        }
        return false;
    }

    static void End(HWND window) {
        CPendingPrints& self = Instance();
        {
            CAutoLock lock(&self.m_lock);
            for (HWND& slot : self.m_windows) {
                if (slot == window) {
                    slot = nullptr;
                    break;
                }
            }
        }
        ::WakeAllConditionVariable(&self.m_returned);
    }

    // Has every print that waits its turn look at its giveUp flag again.
    static void WakeWaiters() {
        CPendingPrints& self = Instance();
        {
            // A waiter that looked at its flag before it was set is asleep
            // once the lock is free, and so woken below.
            CAutoLock lock(&self.m_lock);
        }
        ::WakeAllConditionVariable(&self.m_returned);
    }

private:
    static constexpr int kSlots = 64;
    static CPendingPrints& Instance() {
        // Lives as long as the module, which every capture thread keeps
        // loaded while it runs.
        static CPendingPrints instance;
        return instance;
    }
    CCritSec m_lock;
    CONDITION_VARIABLE m_returned = CONDITION_VARIABLE_INIT;
    HWND m_windows[kSlots] = {};
    // When each slot's print was sent.
    ULONGLONG m_since[kSlots] = {};
};

}  // namespace

struct CWindowCapture::Shared {
    Shared(IWindowReader* reader, SetThreadDpiContextFunction dpiContextSetter,
           qm_wgc::CreateDirect3D11DeviceFromDxgiFunction graphicsInterop)
        : injectedReader(reader), setDpiContext(dpiContextSetter) {
        graphics.SetDeviceInteropForTesting(graphicsInterop);
    }

    // Shared by the owner and its capture thread; the last one to let go
    // deletes it. Counted by hand rather than by shared_ptr, whose separate
    // count would be one more allocation that can throw.
    void AddRef() { references.fetch_add(1); }
    void Release() {
        if (references.fetch_sub(1) == 1) {
            delete this;
        }
    }

    IWindowReader& Reader() { return injectedReader != nullptr ? *injectedReader : platformReader; }

    // Reads what the request names into dib, the pointer drawn in where
    // asked; on the capture thread, or on the owner's thread when there is
    // none.
    ReadResult DoRead(const CaptureRequest& read);
    ReadResult ReadWindow(HWND window, CaptureMethod method, const StoredRect& crop);
    ReadResult ReadScreen(const CaptureRequest& read);
    // Draws the pointer into the picture just read.
    void DrawPointerInto();
    // The part of the client area read: `part` (client pixels).
    ReadResult ReadCopy(HWND window, SIZE client);
    ReadResult ReadPrint(HWND window, SIZE client);
    ReadResult PrintInto(HWND window, SIZE client);
    ReadResult CopyOverBlack(HWND window, SIZE client);
    ReadResult ReadGraphics(HWND window, SIZE client);
    ReadResult ReadForcedGraphics(HWND window, SIZE client);
    ReadResult ReadAuto(HWND window, SIZE client);
    // Auto mode past the copy: graphics capture, or the print.
    ReadResult ReadBeyondCopy(HWND window, SIZE client, ULONGLONG now);
    // Graphics capture is available, and the window's has not failed or
    // read back black lately.
    bool GraphicsUsable(HWND window, ULONGLONG now);
    void HoldOffGraphics(HWND window, ULONGLONG now);
    bool TargetIsBlack();
    bool Fit(int width, int height);

    std::atomic<long> references{1};
    CPlatformWindowReader platformReader;
    IWindowReader* const injectedReader;
    const SetThreadDpiContextFunction setDpiContext;

    // Auto-reset: a read (or the end) is asked for. Manual-reset: the read
    // asked for has ended.
    UniqueHandle requestEvent{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    UniqueHandle doneEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> stopping{false};
    // The capture thread is inside a print that had its turn: the one call
    // that waits for the window's own thread, and so may never return.
    // Set before it looks at `stopping` and the owner sets `stopping`
    // before it looks at this (both sequentially consistent): either the
    // owner sees the print, or the thread sees the stop and sends none.
    std::atomic<bool> printing{false};
    // The module stays loaded while the capture thread runs its code.
    HMODULE module = nullptr;

    // Written by the owner before requestEvent is set, read by the capture
    // thread after.
    CaptureRequest request;
    // The part of the client area the read in progress reads (client
    // pixels): the crop, or the whole client area. The thread that reads.
    RECT part = {0, 0, 0, 0};

    // Two pictures by turns: while a read fills one, the other keeps the
    // last picture read, which the owner may scale again meanwhile. Each
    // with where the picture (the client area, or its part read) lies in
    // it, and the screen point its top-left pixel shows.
    struct Buffer {
        CMemoryDib dib;
        POINT clientOrigin = {0, 0};
        SIZE client = {0, 0};
        POINT screenOrigin = {0, 0};
    };
    Buffer buffers[2];
    // The buffer the next read fills: written by the owner before
    // requestEvent is set.
    int target = 0;
    Buffer& Target() { return buffers[target]; }

    // Written by the capture thread before doneEvent is set, read by the
    // owner after.
    ReadResult result = ReadResult::Failed;

    // Auto mode, on the thread that reads.
    HWND autoWindow = nullptr;
    std::atomic<CaptureMethod> autoMethod{CaptureMethod::Copy};
    int blackCopies = 0;
    ULONGLONG lastCopyTry = 0;

    // The pointer was drawn into the picture by the read itself (a
    // graphics capture session); the thread that reads.
    bool pointerInPicture = false;
    // Where the pointer is: the system's, or a test's.
    PointerFunction pointer = nullptr;

    // Graphics capture, on the thread that reads (which shuts it down as
    // it ends). The window whose capture failed or read back black, and
    // the tick before which it is not tried again.
    CGraphicsCaptureReader graphics;
    HWND graphicsHeldOff = nullptr;
    ULONGLONG graphicsRetryAt = 0;
};

bool CWindowCapture::Shared::Fit(int width, int height) {
    CMemoryDib& dib = Target().dib;
    if (dib && dib.Width() == width && dib.Height() == height) {
        return true;
    }
    return dib.Create(width, height, 32, /*topDown=*/true);
}

CWindowCapture::ReadResult CWindowCapture::Shared::ReadCopy(HWND window, SIZE /*client*/) {
    const SIZE size = {part.right - part.left, part.bottom - part.top};
    if (!Fit(size.cx, size.cy)) {
        return ReadResult::Failed;
    }
    Buffer& read = Target();
    read.clientOrigin = {0, 0};
    read.client = size;
    read.screenOrigin = {part.left, part.top};
    ::ClientToScreen(window, &read.screenOrigin);
    if (!Reader().Copy(window, part, read.dib)) {
        return ReadResult::Failed;
    }
    // The DIB must hold the copy before its pixels are read directly.
    ::GdiFlush();
    return ReadResult::Read;
}

CWindowCapture::ReadResult CWindowCapture::Shared::ReadPrint(HWND window, SIZE size) {
    // A print waits for the window's own thread: none to a window that
    // does not answer, or that has not returned from the last one. Asked
    // before anything is allocated for the picture, so that a thread that
    // waits its turn behind a hung print holds no window-sized picture.
    // A stream that stops meanwhile ends the wait for the turn.
    if (::IsHungAppWindow(window) || !CPendingPrints::Begin(window, kPrintTurnWaitMs, stopping)) {
        return ReadResult::Hung;
    }
    printing = true;
    const ReadResult printed = stopping ? ReadResult::Hung : PrintInto(window, size);
    printing = false;
    CPendingPrints::End(window);
    return printed;
}

CWindowCapture::ReadResult CWindowCapture::Shared::PrintInto(HWND window, SIZE size) {
    RECT frame = {};
    if (!::GetWindowRect(window, &frame)) {
        return ReadResult::Failed;
    }
    // The client rectangle in screen coordinates; for a right-to-left
    // (mirrored) window the points come back swapped into a proper
    // rectangle, where its origin alone would be its right edge.
    RECT onScreen = {0, 0, size.cx, size.cy};
    ::SetLastError(ERROR_SUCCESS);
    if (::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&onScreen), 2) == 0 &&
        ::GetLastError() != ERROR_SUCCESS) {
        return ReadResult::Failed;
    }
    const SIZE windowSize = {frame.right - frame.left, frame.bottom - frame.top};
    const POINT inWindow = {onScreen.left - frame.left, onScreen.top - frame.top};
    if (inWindow.x < 0 || inWindow.y < 0 || inWindow.x + size.cx > windowSize.cx ||
        inWindow.y + size.cy > windowSize.cy || !Fit(windowSize.cx, windowSize.cy)) {
        return ReadResult::Failed;
    }
    // The picture is the part read, wherever it lies in the whole window.
    Buffer& read = Target();
    read.clientOrigin = {inWindow.x + part.left, inWindow.y + part.top};
    read.client = {part.right - part.left, part.bottom - part.top};
    read.screenOrigin = {frame.left, frame.top};
    if (!Reader().Print(window, windowSize, inWindow, read.dib)) {
        return ReadResult::Failed;
    }
    ::GdiFlush();
    return ReadResult::Read;
}

CWindowCapture::ReadResult CWindowCapture::Shared::CopyOverBlack(HWND window, SIZE /*client*/) {
    // Into the black picture's own buffer, which holds at least the part
    // read (a print holds the whole window): nothing is allocated for it.
    Buffer& read = Target();
    const POINT blackOrigin = read.clientOrigin;
    const SIZE blackSize = read.client;
    const POINT blackScreenOrigin = read.screenOrigin;
    read.clientOrigin = {0, 0};
    read.client = {part.right - part.left, part.bottom - part.top};
    read.screenOrigin = {part.left, part.top};
    ::ClientToScreen(window, &read.screenOrigin);
    if (!Reader().Copy(window, part, read.dib)) {
        // The black picture stands (the failed copy may have left nothing).
        read.clientOrigin = blackOrigin;
        read.client = blackSize;
        read.screenOrigin = blackScreenOrigin;
        return ReadResult::Read;
    }
    ::GdiFlush();
    return ReadResult::Read;
}

bool CWindowCapture::Shared::TargetIsBlack() {
    const Buffer& read = Target();
    const ptrdiff_t stride = read.dib.Stride();
    const BYTE* client = read.dib.Pixels() + read.clientOrigin.y * stride + read.clientOrigin.x * 4;
    return IsBlack(client, stride, read.client.cx, read.client.cy);
}

bool CWindowCapture::Shared::GraphicsUsable(HWND window, ULONGLONG now) {
    if (window == graphicsHeldOff && now < graphicsRetryAt) {
        return false;
    }
    // Looked at on the first call of the thread, which may take a moment
    // where the runtime is there (it makes a Direct3D device).
    return graphics.Availability() == GraphicsCaptureAvailability::Available;
}

void CWindowCapture::Shared::HoldOffGraphics(HWND window, ULONGLONG now) {
    graphics.Close();
    graphicsHeldOff = window;
    graphicsRetryAt = now + kGraphicsRetryMs;
}

CWindowCapture::ReadResult CWindowCapture::Shared::ReadGraphics(HWND window, SIZE /*client*/) {
    if (!Fit(part.right - part.left, part.bottom - part.top)) {
        return ReadResult::Failed;
    }
    Buffer& read = Target();
    read.clientOrigin = {0, 0};
    SIZE picture = {0, 0};
    // The session draws the pointer itself where it is asked for.
    switch (graphics.Read(window, part, request.pointer, stopping, read.dib, &picture)) {
    case CGraphicsCaptureReader::Result::Picture:
        // Less than the part asked for where the frame holds only part of
        // it.
        read.client = picture;
        pointerInPicture = true;
        return ReadResult::Read;
    case CGraphicsCaptureReader::Result::Unchanged:
        return ReadResult::Unchanged;
    case CGraphicsCaptureReader::Result::Closed:
        if (!::IsWindow(window)) {
            return ReadResult::Empty;
        }
        break;
    case CGraphicsCaptureReader::Result::Failed:
    case CGraphicsCaptureReader::Result::Unavailable:
        break;
    }
    HoldOffGraphics(window, ::GetTickCount64());
    return ReadResult::Failed;
}

CWindowCapture::ReadResult CWindowCapture::Shared::ReadForcedGraphics(HWND window, SIZE size) {
    if (GraphicsUsable(window, ::GetTickCount64())) {
        const ReadResult captured = ReadGraphics(window, size);
        if (captured == ReadResult::Read) {
            // A black frame (a window that is black, or content the system
            // keeps out of captures) is made up for by a copy, for this
            // frame, as a black print is.
            return TargetIsBlack() ? CopyOverBlack(window, size) : captured;
        }
        if (captured != ReadResult::Failed) {
            return captured;
        }
    }
    // Not available here, or failed for this window: read as auto reads
    // (without graphics capture until it is tried again).
    return ReadAuto(window, size);
}

CWindowCapture::ReadResult CWindowCapture::Shared::ReadAuto(HWND window, SIZE size) {
    if (window != autoWindow) {
        autoWindow = window;
        autoMethod = CaptureMethod::Copy;
        blackCopies = 0;
        // No session for the window left behind: its border goes.
        graphics.Close();
    }
    const ULONGLONG now = ::GetTickCount64();
    const CaptureMethod method = autoMethod;
    if (method != CaptureMethod::Copy && now - lastCopyTry < kCopyRetryMs) {
        return ReadBeyondCopy(window, size, now);
    }
    // A copy: the usual way, or the periodic retry of a window read
    // another way.
    const ReadResult copied = ReadCopy(window, size);
    if (copied != ReadResult::Read) {
        return method != CaptureMethod::Copy ? ReadBeyondCopy(window, size, now) : copied;
    }
    if (!TargetIsBlack()) {
        if (method != CaptureMethod::Copy) {
            diagnostic_log::Write("window %p copies again", static_cast<void*>(window));
            graphics.Close();
        }
        autoMethod = CaptureMethod::Copy;
        blackCopies = 0;
        return ReadResult::Read;
    }
    if (method == CaptureMethod::Copy && ++blackCopies < kBlackCopiesBeforeAnotherWay) {
        // Black for now; it may be a black picture after all.
        return ReadResult::Read;
    }
    lastCopyTry = now;
    return ReadBeyondCopy(window, size, now);
}

CWindowCapture::ReadResult CWindowCapture::Shared::ReadBeyondCopy(HWND window, SIZE size, ULONGLONG now) {
    // Graphics capture before the print: it runs nothing on the window's
    // own thread.
    const bool graphicsUsable = GraphicsUsable(window, now);
    if (graphicsUsable && autoMethod != CaptureMethod::Graphics) {
        diagnostic_log::Write("window %p reads back black: graphics capture instead", static_cast<void*>(window));
        autoMethod = CaptureMethod::Graphics;
    }
    if (graphicsUsable) {
        const ReadResult captured = ReadGraphics(window, size);
        if (captured == ReadResult::Unchanged || captured == ReadResult::Empty ||
            (captured == ReadResult::Read && !TargetIsBlack())) {
            return captured;
        }
        if (captured == ReadResult::Read) {
            HoldOffGraphics(window, now);
        }
        diagnostic_log::Write("window %p: graphics capture failed or reads back black: printed instead",
                              static_cast<void*>(window));
    } else if (autoMethod == CaptureMethod::Copy) {
        diagnostic_log::Write("window %p reads back black: printed instead", static_cast<void*>(window));
    }
    autoMethod = CaptureMethod::Print;
    return ReadPrint(window, size);
}

CWindowCapture::ReadResult CWindowCapture::Shared::DoRead(const CaptureRequest& read) {
    // Rectangles and pixels at the window's (or screen's) own scale,
    // whatever the host's awareness.
    CPerMonitorDpiScope dpi(setDpiContext);
    pointerInPicture = false;
    const ReadResult outcome = read.IsScreen() ? ReadScreen(read) : ReadWindow(read.window, read.method, read.crop);
    if (outcome == ReadResult::Read && read.pointer && !pointerInPicture) {
        DrawPointerInto();
    }
    return outcome;
}

CWindowCapture::ReadResult CWindowCapture::Shared::ReadScreen(const CaptureRequest& read) {
    // A monitor or region: no window, no method; the screen as it shows.
    graphics.Close();
    const SIZE size = {read.screenArea.right - read.screenArea.left, read.screenArea.bottom - read.screenArea.top};
    if (!Fit(size.cx, size.cy)) {
        return ReadResult::Failed;
    }
    Buffer& into = Target();
    into.clientOrigin = {0, 0};
    into.client = size;
    into.screenOrigin = {read.screenArea.left, read.screenArea.top};
    if (!Reader().CopyScreen(read.screenArea, read.monitors, read.monitorCount, into.dib)) {
        // On no monitor at all (one that went away meanwhile): nothing to
        // show.
        return read.monitorCount == 0 ? ReadResult::Empty : ReadResult::Failed;
    }
    ::GdiFlush();
    return ReadResult::Read;
}

void CWindowCapture::Shared::DrawPointerInto() {
    Buffer& read = Target();
    QM_IGNORE(DrawPointer(read.dib.Dc(), read.screenOrigin, read.dib.Width(), read.dib.Height(),
                          pointer != nullptr ? pointer() : CurrentPointer()),
              "a pointer that cannot be drawn is left out of this frame");
}

CWindowCapture::ReadResult CWindowCapture::Shared::ReadWindow(HWND window, CaptureMethod method,
                                                              const StoredRect& crop) {
    RECT rect = {};
    if (!::GetClientRect(window, &rect)) {
        return ReadResult::Failed;
    }
    const SIZE size = {rect.right - rect.left, rect.bottom - rect.top};
    if (size.cx <= 0 || size.cy <= 0) {
        return ReadResult::Empty;
    }
    // The crop, clipped to the client area of now (a window that shrank);
    // nothing of it left: nothing to show.
    part = rect;
    if (!crop.Empty()) {
        const RECT wanted = {crop.x, crop.y, crop.x + crop.width, crop.y + crop.height};
        if (!::IntersectRect(&part, &rect, &wanted)) {
            return ReadResult::Empty;
        }
    }
    Target().client = {part.right - part.left, part.bottom - part.top};
    if (method != CaptureMethod::Auto && method != CaptureMethod::Graphics) {
        // No session left running for a window read otherwise now.
        graphics.Close();
    }
    switch (method) {
    case CaptureMethod::Copy:
        return ReadCopy(window, size);
    case CaptureMethod::Graphics:
        return ReadForcedGraphics(window, size);
    case CaptureMethod::Print: {
        // A print that fails (not one that waits) is made up for by a copy,
        // for this frame; so is one that reads back all black (a window
        // that ignores WM_PRINTCLIENT, or, under Wine, a window of another
        // process), the mirror of auto mode's print for a black copy.
        const ReadResult printed = ReadPrint(window, size);
        if (printed == ReadResult::Failed) {
            return ReadCopy(window, size);
        }
        if (printed == ReadResult::Read && TargetIsBlack()) {
            return CopyOverBlack(window, size);
        }
        return printed;
    }
    case CaptureMethod::Auto:
        break;
    }
    return ReadAuto(window, size);
}

namespace {

DWORD WINAPI CaptureThreadProc(LPVOID parameter) {
    // The thread's own reference, taken for it by Start.
    auto* shared = static_cast<CWindowCapture::Shared*>(parameter);
    const HMODULE module = shared->module;
    for (;;) {
        ::WaitForSingleObject(shared->requestEvent.get(), INFINITE);
        if (shared->stopping) {
            break;
        }
        shared->result = shared->DoRead(shared->request);
        ::SetEvent(shared->doneEvent.get());
    }
    // The graphics capture's objects and apartment are this thread's.
    shared->graphics.Shutdown();
    // The last reference may be this one: the state goes with the thread.
    shared->Release();
    if (module != nullptr) {
        ::FreeLibraryAndExitThread(module, 0);
    }
    return 0;
}

}  // namespace

CWindowCapture::CWindowCapture(IWindowReader* reader, SetThreadDpiContextFunction setDpiContext)
    : m_reader(reader), m_setDpiContext(setDpiContext) {}

CWindowCapture::~CWindowCapture() {
    Stop();
    WaitUntilEnded();
    if (m_shared != nullptr) {
        m_shared->Release();
    }
}

bool CWindowCapture::EnsureShared() {
    if (m_shared == nullptr) {
        m_shared = new (std::nothrow) Shared(m_reader, m_setDpiContext, m_graphicsInterop);
        if (m_shared != nullptr) {
            m_shared->pointer = m_pointer;
        }
    }
    return m_shared != nullptr && m_shared->requestEvent && m_shared->doneEvent;
}

HRESULT CWindowCapture::Start() {
    QM_DCHECK_ON_THREAD(m_owner);
    if (m_thread) {
        return S_OK;
    }
    // The last stream's thread shares the state: it must have ended first.
    WaitUntilEnded();
    RETURN_HR_IF(E_OUTOFMEMORY, !EnsureShared());
    Shared& shared = *m_shared;
    // Reads made on this thread before (without Start) leave the graphics
    // capture to the capture thread.
    shared.graphics.Shutdown();
    shared.stopping = false;
    m_busy = false;
    QM_IGNORE(::ResetEvent(shared.requestEvent.get()), "a valid event resets");
    HMODULE module = nullptr;
    QM_IGNORE(::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                   reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&CaptureThreadProc)), &module),
              "without a module reference the thread still runs; only a host that unloads us mid-read would mind");
    shared.module = module;
    // The thread's reference.
    shared.AddRef();
    m_thread.reset(::CreateThread(nullptr, 0, &CaptureThreadProc, &shared, 0, nullptr));
    if (!m_thread) {
        const HRESULT hr = HResultFromLastError();
        shared.Release();
        if (module != nullptr) {
            ::FreeLibrary(module);
        }
        return hr;
    }
    return S_OK;
}

void CWindowCapture::LeaveThreadBehind() {
    // The capture thread keeps its own reference to the old state and ends
    // once its read returns (at once when it only waits its turn to print);
    // later reads get a new state and thread.
    m_shared->stopping = true;
    CPendingPrints::WakeWaiters();
    QM_IGNORE(::SetEvent(m_shared->requestEvent.get()), "a valid event sets");
    m_shared->Release();
    m_shared = nullptr;
    m_thread.reset();
    m_busy = false;
    m_picture = Picture{};
}

void CWindowCapture::Stop() {
    QM_DCHECK_ON_THREAD(m_owner);
    // The next Start may come from another thread.
    m_owner.Detach();
    // The next stream starts with nothing sent, and a new target.
    m_targetWindow = nullptr;
    m_sentPicture = false;
    m_graceEnd = 0;
    if (!m_thread) {
        if (m_shared != nullptr && !m_endingThread) {
            // Reads ran on this thread (an ending thread shuts its own
            // down): so did the graphics capture.
            m_shared->graphics.Shutdown();
        }
        return;
    }
    m_picture = Picture{};
    // An idle thread is told to end and is not waited for here: its exit
    // (under Wine several milliseconds, its display connection included)
    // would lengthen every stop. WaitUntilEnded waits for it later, when
    // it has long ended or while other threads end too. So is a thread
    // whose read has not reached a print: one that waits its turn behind
    // another thread's print of the window (a print that hung, left by an
    // earlier stream) gives up that wait now, so that a start and stop
    // under a hung window costs no thread that outlives the stop. One
    // inside a print (a hung target) is left to end by itself.
    m_shared->stopping = true;
    if (m_busy && m_shared->printing) {
        LeaveThreadBehind();
        return;
    }
    if (m_busy) {
        CPendingPrints::WakeWaiters();
        m_busy = false;
    }
    QM_IGNORE(::SetEvent(m_shared->requestEvent.get()), "a valid event sets");
    m_endingThread = std::move(m_thread);
}

void CWindowCapture::WaitUntilEnded() {
    if (!m_endingThread) {
        return;
    }
    // A thread that does not end in time (the loader lock, a starved
    // processor) keeps the old state to itself; the next start gets anew.
    if (::WaitForSingleObject(m_endingThread.get(), m_idleExitWaitMs) != WAIT_OBJECT_0 && m_shared != nullptr) {
        m_shared->Release();
        m_shared = nullptr;
    }
    m_endingThread.reset();
}

CWindowCapture::Outcome CWindowCapture::Read(const CaptureRequest& request, DWORD deadlineMs, HANDLE wakeEvent) {
    QM_DCHECK_ON_THREAD(m_owner);
    const HWND window = request.window;
    if (request.IsScreen()) {
        // The screen shows what it shows: no window to wait for.
        m_targetWindow = nullptr;
        m_graceEnd = 0;
    } else if (window == nullptr || !::IsWindowVisible(window)) {
        return SendStandby();
    } else if (::IsIconic(window)) {
        // Restored, it may show what it held before it repaints.
        m_targetWindow = nullptr;
        return Outcome::KeepPrevious;
    } else if (window != m_targetWindow) {
        // Newly the target (it appeared, was shown, restored or created
        // again, or the stream starts): it may not have painted yet.
        m_targetWindow = window;
        m_graceEnd = m_newWindowGraceMs != 0 ? ::GetTickCount64() + m_newWindowGraceMs : 0;
    }
    if (!EnsureShared()) {
        return Outcome::KeepPrevious;
    }
    if (!m_thread) {
        m_shared->target = 1 - m_keptBuffer;
        m_shared->request = request;
        m_shared->result = m_shared->DoRead(m_shared->request);
        return Finish();
    }
    const bool sameRead = m_readRequest.SameTarget(request);
    if (m_busy) {
        if (::WaitForSingleObject(m_shared->doneEvent.get(), 0) == WAIT_OBJECT_0) {
            // A read that missed its deadline has ended since: its picture
            // is the newest there is, when it is of this window.
            m_busy = false;
            if (sameRead) {
                return Finish();
            }
        } else if (sameRead) {
            // Still reading (a slow or hung target): no waiting on it again.
            return Outcome::KeepPrevious;
        } else {
            // Another window or method is not held up by this one's hang:
            // the stuck read keeps its thread, and this read gets a new one.
            LeaveThreadBehind();
            if (FAILED(Start())) {
                return Outcome::KeepPrevious;
            }
        }
    }
    // A print that another thread's read has left stuck in the window (a
    // hung target, from an earlier stream): no read is sent after it, so
    // that every start does not cost a thread that waits its turn in vain.
    if (window != nullptr && request.method == CaptureMethod::Print &&
        CPendingPrints::IsStuck(window, kPrintTurnWaitMs)) {
        return Outcome::KeepPrevious;
    }
    Shared& shared = *m_shared;
    shared.request = request;
    // Into the buffer that does not hold the kept picture.
    shared.target = 1 - m_keptBuffer;
    QM_IGNORE(::ResetEvent(shared.doneEvent.get()), "a valid event resets");
    m_busy = true;
    m_readRequest = request;
    QM_IGNORE(::SetEvent(shared.requestEvent.get()), "a valid event sets");
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
        return SendStandby();
    case ReadResult::Failed:
    case ReadResult::Hung:
    case ReadResult::Unchanged:
        return Outcome::KeepPrevious;
    case ReadResult::Read:
        break;
    }
    const Shared::Buffer& read = shared.buffers[shared.target];
    const ptrdiff_t stride = read.dib.Stride();
    const BYTE* topRow = read.dib.Pixels() + read.clientOrigin.y * stride + read.clientOrigin.x * 4;
    if (m_graceEnd != 0) {
        // A window that newly became the target and reads back black has
        // most likely not painted yet: what was sent before it stays, for
        // the grace. The black check runs only until then.
        if (::GetTickCount64() < m_graceEnd && IsBlack(topRow, stride, read.client.cx, read.client.cy)) {
            return m_sentPicture ? Outcome::KeepPrevious : Outcome::Standby;
        }
        m_graceEnd = 0;
    }
    m_picture.topRow = topRow;
    m_picture.stride = stride;
    m_picture.width = read.client.cx;
    m_picture.height = read.client.cy;
    m_keptBuffer = shared.target;
    m_sentPicture = true;
    return Outcome::Picture;
}

CWindowCapture::Outcome CWindowCapture::SendStandby() {
    m_targetWindow = nullptr;
    m_sentPicture = false;
    return Outcome::Standby;
}

CaptureMethod CWindowCapture::AutoMethodInUse() const {
    return m_shared != nullptr ? m_shared->autoMethod.load() : CaptureMethod::Copy;
}

GraphicsCaptureAvailability CWindowCapture::GraphicsAvailabilityFound() const {
    return m_shared != nullptr ? m_shared->graphics.KnownAvailability() : GraphicsCaptureAvailability::Unknown;
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

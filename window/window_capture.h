// CWindowCapture: reads the client area of a window (or a part of it: a
// crop), or an area of the screen (a monitor, a region), unscaled, into a
// 32-bit top-down picture, with the mouse pointer drawn in where asked, on
// a capture thread of its own. A print runs on
// the target's UI thread, so a slow or hung target would stall whoever
// asks; here the streaming thread waits for a read only until a deadline,
// and while a read is still running it goes on with the picture it has.
//
// Four ways to read a window (CaptureMethod): a copy from its DC, a print
// (PrintWindow with full content; a print that fails is made up for by a
// copy for that frame), graphics capture (CGraphicsCaptureReader), or
// auto. Auto takes the copy, the cheapest, which shows no capture border;
// a window whose copy has come back all black for three frames in a row
// (GPU-drawn windows read back black) moves to graphics capture where the
// system has it, else to the print, and one whose graphics capture fails
// or reads back black moves on to the print. The copy is tried again every
// few seconds, and graphics capture again a while after it failed. A
// right-to-left (mirrored) window is printed like any other. A forced
// print that reads back all black is made up for by a copy, for that
// frame, as a print that fails is; so is a forced graphics capture that
// reads back black, and one that is not available or fails gives way to
// auto's copy and print until it is tried again. A graphics capture whose
// window has not changed reads nothing: the last picture stands.
//
// A crop reads only its part where the method allows it (the copy, and
// graphics capture); a print reads the whole window and the picture is the
// crop's part of it. A crop is clipped to the client area (a window that
// shrank); with nothing left the window reads as none (the standby
// frame). An area of the screen is read from the screen's DC where it lies
// on a monitor; what lies outside every monitor is black.
//
// A window that newly becomes the target (it appears, is shown, restored
// or created again, or the stream starts) may not have painted yet: while
// it reads back all black, for kNewWindowGraceMs at most, the reads give
// what was sent before it (the standby frame, or the last picture) rather
// than black.
//
// Hung windows. A print waits for the window's own thread. A read that
// does not return in time is left to its capture thread, and later reads
// of the same window and method repeat the last picture; a read of another
// window, or by another method, starts at once on a fresh capture thread.
// Process-wide, no second print is sent to a window that has not returned
// from the last one (nor to one the system calls hung), so a hung window
// holds at most one capture thread however often streams start and stop.
// A print that has been pending longer than a print waits for its turn is
// taken as stuck: a stream that starts meanwhile sends no read after it
// (it repeats what it has), so a start costs no thread that waits in vain,
// and no picture is allocated for a print before its turn has come. A
// read that waits its turn behind a pending print gives up as its stream
// stops, and its thread ends like an idle one (WaitUntilEnded waits for
// it): streams that start and stop under a hung window add at most the
// thread of the one that runs.
//
// Threads. Start, Stop and Read belong to the owner's thread (checked): the
// streaming thread of a device, the dialog thread of the window page. The
// capture thread owns the picture while a read runs; the owner looks at it
// only between reads. The state both share is reference counted, so that
// a capture thread stuck in a hung target may outlive this object (and
// Stop never waits for it); it keeps the module loaded until it ends.
#pragma once

#include <windows.h>

#include <cstddef>

#include "settings/capture_method.h"
#include "settings/source_choice.h"
#include "window/dpi_awareness.h"
#include "window/graphics_capture_reader.h"
#include "window/pointer_overlay.h"
#include "framework/com_util.h"
#include "framework/memory_dib.h"
#include "framework/thread_checks.h"

// How a window's (or the screen's) pixels are read. The platform's ways are
// the default; a test injects another to produce what Wine cannot (a copy
// that reads back black).
class IWindowReader {
public:
    // Copies `part` of the window's client area (client pixels) into dib
    // at (0, 0). False when nothing could be read.
    virtual bool Copy(HWND window, const RECT& part, CMemoryDib& dib) = 0;
    // Has the window print itself into dib, whole (frame included) at
    // (0, 0); its client area then lies at clientOrigin. False when nothing
    // could be read.
    virtual bool Print(HWND window, SIZE windowSize, POINT clientOrigin, CMemoryDib& dib) = 0;
    // Copies `area` of the screen (virtual-screen pixels) into dib at
    // (0, 0): the parts on the `count` monitors, black elsewhere. False
    // when nothing could be read.
    virtual bool CopyScreen(const RECT& area, const RECT* monitors, int count, CMemoryDib& dib) = 0;

protected:
    ~IWindowReader() = default;
};

// BitBlt from the window's DC, PrintWindow with PW_RENDERFULLCONTENT, and
// BitBlt from the screen's DC.
class CPlatformWindowReader final : public IWindowReader {
public:
    bool Copy(HWND window, const RECT& part, CMemoryDib& dib) override;
    bool Print(HWND window, SIZE windowSize, POINT clientOrigin, CMemoryDib& dib) override;
    bool CopyScreen(const RECT& area, const RECT* monitors, int count, CMemoryDib& dib) override;
};

// What one read reads: a window's client area (or its crop), or an area of
// the screen; with the pointer drawn in or not.
struct CaptureRequest {
    // The window (null: the screen's area below, or nothing at all).
    HWND window = nullptr;
    CaptureMethod method = CaptureMethod::Auto;
    // The part of the window's client area read, in client pixels; empty:
    // all of it.
    StoredRect crop;
    // Without a window: the area of the screen read (virtual-screen
    // pixels), and the monitors it may lie on (the rest reads black).
    static constexpr int kMostMonitors = 16;
    RECT screenArea = {0, 0, 0, 0};
    RECT monitors[kMostMonitors] = {};
    int monitorCount = 0;
    // The mouse pointer drawn in where it is.
    bool pointer = false;

    bool IsScreen() const {
        return window == nullptr && screenArea.right > screenArea.left && screenArea.bottom > screenArea.top;
    }
    // Whether two requests read the same thing the same way (a read of one
    // still running serves the other).
    bool SameTarget(const CaptureRequest& other) const {
        return window == other.window && method == other.method && crop == other.crop &&
               ::EqualRect(&screenArea, &other.screenArea) != FALSE;
    }
};

class CWindowCapture {
public:
    enum class Outcome {
        // A new picture of the window: the Picture() fields.
        Picture,
        // Nothing new: repeat the last picture (minimised window, a read
        // still running or failed, a graphics capture without a new frame).
        KeepPrevious,
        // No window to show: no window, or one that is hidden or empty.
        Standby,
    };

    // The picture of the last Read that gave Outcome::Picture. It stays
    // valid (a later read fills another buffer) until a later Read gives a
    // new picture, or Stop.
    struct Picture {
        const BYTE* topRow = nullptr;
        ptrdiff_t stride = 0;
        int width = 0;
        int height = 0;
    };

    // reader (not owned; it must outlive every read started) and
    // setDpiContext are seams for tests; null means the platform's.
    explicit CWindowCapture(IWindowReader* reader = nullptr, SetThreadDpiContextFunction setDpiContext = nullptr);
    ~CWindowCapture();
    CWindowCapture(const CWindowCapture&) = delete;
    CWindowCapture& operator=(const CWindowCapture&) = delete;

    // Starts the capture thread (a device's streaming thread calls it as
    // it starts). E_OUTOFMEMORY or the thread's error.
    [[nodiscard]] HRESULT Start();
    // Tells the capture thread to end and returns: waits neither for a
    // read in progress nor for the thread's exit. A thread inside a print
    // is left to end by itself; any other (idle, copying, or waiting its
    // turn to print, which it gives up) is left for WaitUntilEnded. The
    // next Start may come from another thread.
    void Stop();
    // After Stop: waits (kIdleThreadExitMs at most) until the thread that
    // Stop told to end (one not inside a print) has ended, so that the
    // owner's stop leaves no thread of its own behind. Start and the
    // destructor call it too. Any thread, while no Start or Read runs
    // (the owner's lock or its stopped state keeps them apart).
    void WaitUntilEnded();

    // Reads what the request names. Waits at most deadlineMs for the read,
    // or until wakeEvent (may be null) is signalled. A read that misses
    // the deadline goes on, and the picture it brings is used by the next
    // Read. Without Start, reads on the calling thread.
    Outcome Read(const CaptureRequest& request, DWORD deadlineMs, HANDLE wakeEvent);
    // A whole window's client area, without the pointer.
    Outcome Read(HWND window, CaptureMethod method, DWORD deadlineMs, HANDLE wakeEvent) {
        CaptureRequest request;
        request.window = window;
        request.method = method;
        return Read(request, deadlineMs, wakeEvent);
    }
    const Picture& LastPicture() const { return m_picture; }

    // The way auto mode reads the current window now (Copy, Graphics or
    // Print). For tests and diagnostics.
    CaptureMethod AutoMethodInUse() const;
    // Whether graphics capture is available to the reads, and why not: what
    // the capture thread found when a read first needed it (Unknown before,
    // and for a capture whose reads never needed it).
    GraphicsCaptureAvailability GraphicsAvailabilityFound() const;

    // Where graphics capture takes CreateDirect3D11DeviceFromDXGIDevice
    // from (d3d11.dll's when null): a seam for tests, since Wine has none.
    // Before the first Start or Read.
    void SetGraphicsDeviceInteropForTesting(qm_wgc::CreateDirect3D11DeviceFromDxgiFunction function) {
        m_graphicsInterop = function;
    }

    // Where the pointer is and what it looks like (the system's when null):
    // a seam for tests, since Wine gives no pointer's shape over another
    // process's window. Before the first Start or Read.
    void SetPointerForTesting(PointerFunction pointer) { m_pointer = pointer; }

    // How long WaitUntilEnded waits for an idle capture thread to end
    // before it leaves it behind: a seam for tests, which cannot make a
    // thread slow to end on demand.
    static constexpr DWORD kIdleThreadExitMs = 1000;
    void SetIdleExitWaitForTesting(DWORD milliseconds) { m_idleExitWaitMs = milliseconds; }
    // How long a window that newly became the target may read back black
    // before its black is sent (kNewWindowGraceMs): a seam for tests,
    // which cannot make a window paint late on demand.
    void SetNewWindowGraceForTesting(DWORD milliseconds) { m_newWindowGraceMs = milliseconds; }
    static constexpr DWORD kNewWindowGraceMs = 100;

    // All-black check of a 32-bit picture (the unused fourth byte ignored).
    static bool IsBlack(const BYTE* topRow, ptrdiff_t stride, int width, int height);

    // What the capture thread and this object share.
    struct Shared;
    enum class ReadResult;

private:
    Outcome Finish();
    // No window to show: the standby frame, and the next window shown is
    // a new target.
    Outcome SendStandby();
    // The state shared with a capture thread, made when first needed;
    // false when memory ran out.
    bool EnsureShared();
    // Leaves the capture thread, stuck in a read or slow to end, with its
    // own reference to the current state; the next read starts afresh.
    void LeaveThreadBehind();

    IWindowReader* const m_reader;
    const SetThreadDpiContextFunction m_setDpiContext;
    qm_wgc::CreateDirect3D11DeviceFromDxgiFunction m_graphicsInterop = nullptr;
    PointerFunction m_pointer = nullptr;
    // One reference of the owner's (the capture thread holds another).
    Shared* m_shared = nullptr;
    UniqueHandle m_thread;
    // The idle thread Stop told to end, until WaitUntilEnded sees it gone.
    UniqueHandle m_endingThread;
    CThreadChecker m_owner;
    // A read asked of the capture thread has not been seen to end yet, and
    // what it reads.
    bool m_busy = false;
    CaptureRequest m_readRequest;
    Picture m_picture;
    // The shared buffer m_picture lies in; reads fill the other one.
    int m_keptBuffer = 1;
    DWORD m_idleExitWaitMs = kIdleThreadExitMs;
    DWORD m_newWindowGraceMs = kNewWindowGraceMs;
    // The window the last reads found shown (null after the standby frame,
    // a minimised window, or Stop); a read of another one starts its grace.
    HWND m_targetWindow = nullptr;
    // The tick at which the target's grace ends; 0 once it has shown a
    // picture that is not black, or the grace is over.
    ULONGLONG m_graceEnd = 0;
    // Whether the frames show a window's picture (else the standby frame).
    bool m_sentPicture = false;
};

// CGraphicsCaptureReader: reads a window through Windows.Graphics.Capture
// (Windows 10 1903 and later), which gets the picture of windows drawn by
// the graphics card that a copy from the window's DC reads back black,
// without running anything on the window's own thread as a print does.
//
// One capture per window: a capture item for the window, a free-threaded
// frame pool of kBuffers B8G8R8A8 frames on a Direct3D 11 device of the
// reader's own, and a session started on it, without the pointer unless
// asked for, and without the border that Windows otherwise draws around a
// captured window, where the system lets a program turn it off. Frames are
// polled on the reading thread: the newest one waiting is taken, the part
// of it asked for (the client area, or part of it) is copied into a
// staging texture, mapped and copied into the caller's 32-bit top-down
// picture. When no new frame has come, nothing is read (Unchanged). A
// frame of another size than the pool's (the window was resized) has the
// pool recreated at that size.
//
// Nothing of the Windows Runtime, Direct3D or DXGI is imported: they are
// looked up when first needed (window/graphics_capture_functions.h), and
// whether they are there is found out before anything else is called:
// the runtime's functions, its activation factories and IsSupported, then
// Direct3D 11, the function that hands a Direct3D device to the runtime,
// and a device (Availability, with the reason when it is not).
//
// Threads. Every method but KnownAvailability, AvailabilityError and
// Shutdown belongs to the reading thread (checked): the device's capture
// thread. The reader joins that thread to the multithreaded apartment
// when it first needs the runtime (a thread that is in a single-threaded
// apartment already stays there), and Shutdown, on the same thread, leaves
// it again; a later thread may then use the reader afresh.
#pragma once

#include <windows.h>
#include <d3d11.h>
#include <wrl/client.h>

#include <atomic>

#include "framework/memory_dib.h"
#include "framework/thread_checks.h"
#include "window/graphics_capture_interfaces.h"

// Whether graphics capture can be used here, and why not.
enum class GraphicsCaptureAvailability : int {
    // Not looked at yet.
    Unknown,
    Available,
    // No Windows Runtime, or no capture classes in it (Windows 7 and 8,
    // editions without it, Wine).
    NoRuntime,
    // The runtime says the system cannot capture (IsSupported).
    NotSupported,
    // No capture of windows: no CreateForWindow or free-threaded frame
    // pool (Windows 10 before 1903).
    NoWindowCapture,
    // No Direct3D 11, or no device could be made.
    NoDirect3D,
    // Direct3D 11 without the function that hands its device to the
    // runtime (CreateDirect3D11DeviceFromDXGIDevice; Wine has none).
    NoDeviceInterop,
};

// Why graphics capture is not used, in a few words ("no graphics capture
// runtime"); "available" and "not looked at yet" for the other two.
const char* DescribeGraphicsCaptureAvailability(GraphicsCaptureAvailability availability);

class CGraphicsCaptureReader {
public:
    enum class Result {
        // The part asked for of a new frame is in the picture.
        Picture,
        // No new frame since the last Picture, or none yet from a capture
        // just started: the last picture stands; nothing was read.
        Unchanged,
        // The window's capture item has closed (the window was closed, or
        // can no longer be captured); the capture is ended.
        Closed,
        // The window cannot be captured now (no item for it, no frame in
        // kNoFrameTimeoutMs, a device lost); the capture is ended.
        Failed,
        // Graphics capture is not available here (Availability says why).
        Unavailable,
    };

    // Buffers of the frame pool: one being drawn by the system while the
    // reader reads the other.
    static constexpr INT32 kBuffers = 2;
    // How long a read waits for the first frame of a capture it has just
    // started (the system sends one soon after the start).
    static constexpr DWORD kFirstFrameWaitMs = 100;
    // A capture that has given no frame this long after its start is given
    // up (Failed): the window is not drawn to the capture.
    static constexpr DWORD kNoFrameTimeoutMs = 2000;

    CGraphicsCaptureReader() = default;
    // Shutdown.
    ~CGraphicsCaptureReader();
    CGraphicsCaptureReader(const CGraphicsCaptureReader&) = delete;
    CGraphicsCaptureReader& operator=(const CGraphicsCaptureReader&) = delete;

    // Whether graphics capture is available; looked at on the first call
    // after construction or Shutdown (the runtime's activation factories,
    // IsSupported, Direct3D 11, the interop function, a device), the same
    // answer afterwards. A device that was lost is made again here.
    GraphicsCaptureAvailability Availability();
    // Any thread: the last answer of Availability (Unknown before one),
    // and the code of the call that failed (S_OK when available).
    GraphicsCaptureAvailability KnownAvailability() const { return m_availability.load(); }
    HRESULT AvailabilityError() const { return m_availabilityError.load(); }

    // Reads `area` (client coordinates, within the client area) of the
    // window's newest frame into `dib` at (0, 0), which must hold the
    // area's size; `read` gets the size read, which is less than the area
    // where the frame holds only part of it (a frame made before the
    // window grew, or a client area that reaches under the window's
    // invisible resize borders). Starts the window's capture when it is
    // not the one running (and ends the other), with the pointer drawn
    // into the frames when `pointer`. A capture just started is given
    // kFirstFrameWaitMs for its first frame, or until giveUp turns true.
    Result Read(HWND window, const RECT& area, bool pointer, const std::atomic<bool>& giveUp, CMemoryDib& dib,
                SIZE* read);

    // Whether a window's capture is running (Windows may be drawing its
    // border around the window).
    bool IsCapturing() const { return m_capture.session != nullptr; }
    HWND CapturedWindow() const { return m_capture.window; }

    // Ends the window's capture: session, pool and item. The device and the
    // factories stay for the next one.
    void Close();
    // Everything: the capture, the device, the factories, and the apartment
    // the reader joined this thread to. On the reading thread, or any
    // thread once no read can run and its thread has ended.
    void Shutdown();

    // Where CreateDirect3D11DeviceFromDXGIDevice comes from: d3d11.dll's
    // when null. A test points it at a stand-in (Wine has none); set before
    // the first Availability.
    void SetDeviceInteropForTesting(qm_wgc::CreateDirect3D11DeviceFromDxgiFunction function) {
        m_interopForTesting = function;
    }

    // Whether graphics capture is available to a reader on the calling
    // thread, looked at afresh (for a program that lists windows); `error`
    // (may be null) gets the failing call's code.
    static GraphicsCaptureAvailability Probe(HRESULT* error = nullptr);

private:
    // The runtime and its factories, then Direct3D: the reason graphics
    // capture is not available, or Available.
    GraphicsCaptureAvailability LookForRuntime();
    GraphicsCaptureAvailability MakeDevice();
    void SetAvailability(GraphicsCaptureAvailability availability, HRESULT error);
    // Starts the window's capture into m_capture; on failure the caller
    // calls Close.
    HRESULT Open(HWND window, bool pointer);
    // The newest frame waiting in the pool (null when none); older ones
    // are let go.
    HRESULT TakeNewestFrame(Microsoft::WRL::ComPtr<qm_wgc::IDirect3D11CaptureFrame>* newest);
    HRESULT WaitForFirstFrame(const std::atomic<bool>& giveUp,
                              Microsoft::WRL::ComPtr<qm_wgc::IDirect3D11CaptureFrame>* frame);
    // Copies the area of the frame into dib; S_FALSE when the frame holds
    // none of it. `content`: the size of the window the frame shows.
    HRESULT CopyArea(qm_wgc::IDirect3D11CaptureFrame* frame, HWND window, const RECT& area, CMemoryDib& dib,
                     SIZE* read, qm_wgc::SizeInt32* content);
    HRESULT FitStaging(UINT width, UINT height);
    // The pool at the size of the window's frames now.
    HRESULT FollowSize(const qm_wgc::SizeInt32& content);
    bool ItemClosed() const;
    void SetPointer(bool pointer);
    // The capture and the device.
    void ReleaseDevice();
    // A device that is lost takes its capture with it; Availability makes
    // a new one.
    void DropDevice();
    // A capture that could not start (`what`) or read: logged, the device
    // dropped when it is lost, the capture closed. Result::Failed.
    Result GiveUp(const char* what, HWND window, HRESULT error);

    CThreadChecker m_reader;
    qm_wgc::CreateDirect3D11DeviceFromDxgiFunction m_interopForTesting = nullptr;

    std::atomic<GraphicsCaptureAvailability> m_availability{GraphicsCaptureAvailability::Unknown};
    std::atomic<HRESULT> m_availabilityError{S_OK};
    // LookForRuntime has run since construction or Shutdown.
    bool m_lookedForRuntime = false;
    // The thread the reader joined to the apartment (0: none), which
    // Shutdown leaves again.
    DWORD m_apartmentThread = 0;

    Microsoft::WRL::ComPtr<qm_wgc::IGraphicsCaptureItemInterop> m_itemFactory;
    Microsoft::WRL::ComPtr<qm_wgc::IDirect3D11CaptureFramePoolStatics2> m_poolFactory;
    qm_wgc::CreateDirect3D11DeviceFromDxgiFunction m_deviceInterop = nullptr;
    Microsoft::WRL::ComPtr<ID3D11Device> m_device;
    Microsoft::WRL::ComPtr<ID3D11DeviceContext> m_context;
    // The same device as the runtime takes it.
    Microsoft::WRL::ComPtr<qm_wgc::IDirect3DDevice> m_runtimeDevice;
    // CPU-readable texture of the last area's size.
    Microsoft::WRL::ComPtr<ID3D11Texture2D> m_staging;
    UINT m_stagingWidth = 0;
    UINT m_stagingHeight = 0;

    // The window's capture.
    struct Capture {
        HWND window = nullptr;
        Microsoft::WRL::ComPtr<qm_wgc::IGraphicsCaptureItem> item;
        Microsoft::WRL::ComPtr<qm_wgc::IDirect3D11CaptureFramePool> pool;
        Microsoft::WRL::ComPtr<qm_wgc::IGraphicsCaptureSession> session;
        // Notes that the item has closed.
        Microsoft::WRL::ComPtr<qm_wgc::IGraphicsCaptureItemClosedHandler> closed;
        EventRegistrationToken closedToken = {};
        bool closedHandlerAdded = false;
        qm_wgc::SizeInt32 poolSize = {0, 0};
        bool pointer = false;
        // When it started, and whether a frame has come since.
        ULONGLONG startTick = 0;
        bool hadFrame = false;
    };
    Capture m_capture;
};

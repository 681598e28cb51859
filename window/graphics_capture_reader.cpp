#include "window/graphics_capture_reader.h"

#include <dwmapi.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "framework/com_util.h"
#include "framework/diagnostic_log.h"
#include "window/graphics_capture_functions.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr qm_wgc::DirectXPixelFormat kFrameFormat = qm_wgc::DirectXPixelFormat::B8G8R8A8UIntNormalized;
constexpr DXGI_FORMAT kFrameDxgiFormat = DXGI_FORMAT_B8G8R8A8_UNORM;
// How often a capture just started is asked for its first frame.
constexpr DWORD kFirstFramePollMs = 2;
// At most this many frames are taken from the pool in one read (it holds
// kBuffers; one more may arrive meanwhile).
constexpr int kMostFramesTaken = CGraphicsCaptureReader::kBuffers + 1;

bool IsDeviceLost(HRESULT hr) {
    return hr == DXGI_ERROR_DEVICE_REMOVED || hr == DXGI_ERROR_DEVICE_RESET;
}

// Where the window's frames begin on the screen: the window as the desktop
// composition draws it (DWM's extended frame bounds, without the invisible
// resize borders of Windows 10 and later), else its rectangle (Windows
// without composition, Wine).
bool FrameBounds(HWND window, RECT* bounds) {
    if (SUCCEEDED(::DwmGetWindowAttribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, bounds, sizeof(*bounds))) &&
        bounds->right > bounds->left && bounds->bottom > bounds->top) {
        return true;
    }
    return ::GetWindowRect(window, bounds) != FALSE;
}

// Ends an object of the runtime that holds resources (a session, a pool)
// now rather than when its last reference goes.
template <typename Interface>
void CloseObject(const ComPtr<Interface>& object) {
    ComPtr<qm_wgc::IClosable> closable;
    if (object && SUCCEEDED(object.As(&closable))) {
        LOG_IF_FAILED(closable->Close());
    }
}

// A texture mapped for reading, unmapped when this goes.
class CMappedTexture {
public:
    CMappedTexture(ID3D11DeviceContext* context, ID3D11Resource* texture) : m_context(context), m_texture(texture) {
        m_result = context->Map(texture, 0, D3D11_MAP_READ, 0, &m_mapped);
    }
    ~CMappedTexture() {
        if (SUCCEEDED(m_result)) {
            m_context->Unmap(m_texture, 0);
        }
    }
    CMappedTexture(const CMappedTexture&) = delete;
    CMappedTexture& operator=(const CMappedTexture&) = delete;

    HRESULT Result() const { return m_result; }
    const BYTE* Row(UINT y) const { return static_cast<const BYTE*>(m_mapped.pData) + size_t{y} * m_mapped.RowPitch; }

private:
    ID3D11DeviceContext* const m_context;
    ID3D11Resource* const m_texture;
    D3D11_MAPPED_SUBRESOURCE m_mapped = {};
    HRESULT m_result = E_UNEXPECTED;
};

// Closed's delegate: notes that the capture item has closed. The runtime
// calls it on a thread of its own.
class CClosedHandler final : public qm_wgc::IGraphicsCaptureItemClosedHandler, public IAgileObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, __uuidof(IUnknown)) ||
            IsEqualIID(riid, __uuidof(qm_wgc::IGraphicsCaptureItemClosedHandler))) {
            *object = static_cast<qm_wgc::IGraphicsCaptureItemClosedHandler*>(this);
        } else if (IsEqualIID(riid, __uuidof(IAgileObject))) {
            // The runtime calls it from any thread, as it is.
            *object = static_cast<IAgileObject*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG count = --m_references;
        if (count == 0) {
            delete this;
        }
        return count;
    }
    HRESULT STDMETHODCALLTYPE Invoke(qm_wgc::IGraphicsCaptureItem* /*sender*/, IInspectable* /*args*/) override {
        m_closed = true;
        return S_OK;
    }

    bool IsClosed() const { return m_closed.load(); }

private:
    ~CClosedHandler() = default;

    std::atomic<ULONG> m_references{1};
    std::atomic<bool> m_closed{false};
};

}  // namespace

const char* DescribeGraphicsCaptureAvailability(GraphicsCaptureAvailability availability) {
    switch (availability) {
    case GraphicsCaptureAvailability::Unknown:
        return "not looked at yet";
    case GraphicsCaptureAvailability::Available:
        return "available";
    case GraphicsCaptureAvailability::NoRuntime:
        return "no graphics capture runtime";
    case GraphicsCaptureAvailability::NotSupported:
        return "the system does not support graphics capture";
    case GraphicsCaptureAvailability::NoWindowCapture:
        return "no capture of windows before Windows 10 1903";
    case GraphicsCaptureAvailability::NoDirect3D:
        return "no Direct3D 11 device";
    case GraphicsCaptureAvailability::NoDeviceInterop:
        return "no Direct3D 11 device for the graphics capture runtime";
    }
    return "unknown";
}

CGraphicsCaptureReader::~CGraphicsCaptureReader() {
    Shutdown();
}

void CGraphicsCaptureReader::SetAvailability(GraphicsCaptureAvailability availability, HRESULT error) {
    if (availability != m_availability.load()) {
        diagnostic_log::Write("graphics capture: %s (0x%08lX)", DescribeGraphicsCaptureAvailability(availability),
                              static_cast<unsigned long>(error));
    }
    m_availabilityError = error;
    m_availability = availability;
}

GraphicsCaptureAvailability CGraphicsCaptureReader::Availability() {
    QM_DCHECK_ON_THREAD(m_reader);
    const GraphicsCaptureAvailability known = m_availability.load();
    if (known == GraphicsCaptureAvailability::Available && m_device) {
        return known;
    }
    if (!m_lookedForRuntime) {
        m_lookedForRuntime = true;
        const GraphicsCaptureAvailability runtime = LookForRuntime();
        if (runtime != GraphicsCaptureAvailability::Available) {
            return runtime;
        }
    } else if (known != GraphicsCaptureAvailability::Unknown) {
        // The answer stands: the system does not change under a process.
        return known;
    }
    // The runtime is there: a device, the first or one after a lost one.
    return MakeDevice();
}

GraphicsCaptureAvailability CGraphicsCaptureReader::LookForRuntime() {
    namespace functions = graphics_capture_functions;
    HRESULT hr = functions::LoadRuntime();
    if (FAILED(hr)) {
        SetAvailability(GraphicsCaptureAvailability::NoRuntime, hr);
        return GraphicsCaptureAvailability::NoRuntime;
    }
    hr = functions::InitializeApartment();
    if (hr == S_OK || hr == S_FALSE) {
        m_apartmentThread = ::GetCurrentThreadId();
    } else if (hr != RPC_E_CHANGED_MODE) {
        // RPC_E_CHANGED_MODE: a single-threaded apartment already, which
        // the runtime's free-threaded objects serve as well.
        SetAvailability(GraphicsCaptureAvailability::NoRuntime, hr);
        return GraphicsCaptureAvailability::NoRuntime;
    }
    // Feature detection first: the class, and whether it can capture.
    ComPtr<qm_wgc::IGraphicsCaptureSessionStatics> sessions;
    hr = functions::GetActivationFactory(qm_wgc::kGraphicsCaptureSessionClass, IID_PPV_ARGS(&sessions));
    if (FAILED(hr)) {
        SetAvailability(GraphicsCaptureAvailability::NoRuntime, hr);
        return GraphicsCaptureAvailability::NoRuntime;
    }
    boolean supported = 0;
    hr = sessions->IsSupported(&supported);
    if (FAILED(hr) || supported == 0) {
        SetAvailability(GraphicsCaptureAvailability::NotSupported, FAILED(hr) ? hr : S_FALSE);
        return GraphicsCaptureAvailability::NotSupported;
    }
    hr = functions::GetActivationFactory(qm_wgc::kGraphicsCaptureItemClass, IID_PPV_ARGS(&m_itemFactory));
    if (SUCCEEDED(hr)) {
        hr = functions::GetActivationFactory(qm_wgc::kCaptureFramePoolClass, IID_PPV_ARGS(&m_poolFactory));
    }
    if (FAILED(hr)) {
        m_itemFactory.Reset();
        SetAvailability(GraphicsCaptureAvailability::NoWindowCapture, hr);
        return GraphicsCaptureAvailability::NoWindowCapture;
    }
    hr = functions::LoadDirect3D();
    if (FAILED(hr)) {
        SetAvailability(GraphicsCaptureAvailability::NoDirect3D, hr);
        return GraphicsCaptureAvailability::NoDirect3D;
    }
    // Looked up, never imported: under Wine an imported one is a stub that
    // ends the process when called.
    m_deviceInterop = m_interopForTesting != nullptr ? m_interopForTesting : functions::DeviceInterop();
    if (m_deviceInterop == nullptr) {
        SetAvailability(GraphicsCaptureAvailability::NoDeviceInterop, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
        return GraphicsCaptureAvailability::NoDeviceInterop;
    }
    return GraphicsCaptureAvailability::Available;
}

GraphicsCaptureAvailability CGraphicsCaptureReader::MakeDevice() {
    ComPtr<ID3D11Device> device;
    ComPtr<ID3D11DeviceContext> context;
    HRESULT hr = graphics_capture_functions::CreateDevice(D3D_DRIVER_TYPE_HARDWARE, &device, &context);
    if (FAILED(hr)) {
        // No graphics driver (a virtual machine, a basic display): the
        // system's software rasteriser, which the runtime accepts too.
        hr = graphics_capture_functions::CreateDevice(D3D_DRIVER_TYPE_WARP, &device, &context);
    }
    ComPtr<IDXGIDevice> dxgiDevice;
    if (SUCCEEDED(hr)) {
        hr = device.As(&dxgiDevice);
    }
    if (FAILED(hr)) {
        SetAvailability(GraphicsCaptureAvailability::NoDirect3D, hr);
        return GraphicsCaptureAvailability::NoDirect3D;
    }
    ComPtr<IInspectable> inspectable;
    hr = m_deviceInterop(dxgiDevice.Get(), &inspectable);
    ComPtr<qm_wgc::IDirect3DDevice> runtimeDevice;
    if (SUCCEEDED(hr)) {
        hr = inspectable.As(&runtimeDevice);
    }
    if (FAILED(hr)) {
        SetAvailability(GraphicsCaptureAvailability::NoDeviceInterop, hr);
        return GraphicsCaptureAvailability::NoDeviceInterop;
    }
    m_device = std::move(device);
    m_context = std::move(context);
    m_runtimeDevice = std::move(runtimeDevice);
    SetAvailability(GraphicsCaptureAvailability::Available, S_OK);
    return GraphicsCaptureAvailability::Available;
}

HRESULT CGraphicsCaptureReader::Open(HWND window, bool pointer) {
    Capture& capture = m_capture;
    capture.window = window;
    RETURN_IF_FAILED(m_itemFactory->CreateForWindow(window, IID_PPV_ARGS(&capture.item)));
    qm_wgc::SizeInt32 size = {};
    RETURN_IF_FAILED(capture.item->get_Size(&size));
    RETURN_HR_IF(E_UNEXPECTED, size.Width <= 0 || size.Height <= 0);
    RETURN_IF_FAILED(
        m_poolFactory->CreateFreeThreaded(m_runtimeDevice.Get(), kFrameFormat, kBuffers, size, &capture.pool));
    capture.poolSize = size;
    RETURN_IF_FAILED(capture.pool->CreateCaptureSession(capture.item.Get(), &capture.session));
    ComPtr<qm_wgc::IGraphicsCaptureSession2> withPointer;
    if (SUCCEEDED(capture.session.As(&withPointer))) {
        // Without this interface (before Windows 10 2004) the pointer is
        // always drawn.
        RETURN_IF_FAILED(withPointer->put_IsCursorCaptureEnabled(pointer ? 1 : 0));
    }
    capture.pointer = pointer;
    ComPtr<qm_wgc::IGraphicsCaptureSession3> withBorder;
    if (SUCCEEDED(capture.session.As(&withBorder))) {
        // Where the system does not let a program go without the border,
        // the capture runs with it.
        const HRESULT hr = withBorder->put_IsBorderRequired(0);
        if (FAILED(hr)) {
            diagnostic_log::Write("graphics capture of window %p: the border stays (0x%08lX)",
                                  static_cast<void*>(window), static_cast<unsigned long>(hr));
        }
    }
    // The item closes with its window, or when the window can no longer be
    // captured. Without the notice the window's own state still tells.
    auto* handler = new (std::nothrow) CClosedHandler;
    if (handler != nullptr) {
        *capture.closed.ReleaseAndGetAddressOf() = handler;
        capture.closedHandlerAdded = SUCCEEDED(capture.item->add_Closed(handler, &capture.closedToken));
    }
    RETURN_IF_FAILED(capture.session->StartCapture());
    capture.startTick = ::GetTickCount64();
    capture.hadFrame = false;
    diagnostic_log::Write("graphics capture of window %p started, %dx%d", static_cast<void*>(window), size.Width,
                          size.Height);
    return S_OK;
}

void CGraphicsCaptureReader::Close() {
    Capture& capture = m_capture;
    if (!capture.item && !capture.pool && !capture.session && !capture.closed) {
        // Nothing running: the usual case of every read by another method.
        capture.window = nullptr;
        return;
    }
    if (capture.closedHandlerAdded) {
        LOG_IF_FAILED(capture.item->remove_Closed(capture.closedToken));
    }
    if (capture.session) {
        diagnostic_log::Write("graphics capture of window %p ended", static_cast<void*>(capture.window));
    }
    CloseObject(capture.session);
    CloseObject(capture.pool);
    capture = Capture{};
}

void CGraphicsCaptureReader::ReleaseDevice() {
    Close();
    m_staging.Reset();
    m_stagingWidth = 0;
    m_stagingHeight = 0;
    m_runtimeDevice.Reset();
    m_context.Reset();
    m_device.Reset();
}

void CGraphicsCaptureReader::DropDevice() {
    ReleaseDevice();
    // The runtime stays; the next Availability makes a device again.
    m_availability = GraphicsCaptureAvailability::Unknown;
}

CGraphicsCaptureReader::Result CGraphicsCaptureReader::GiveUp(const char* what, HWND window, HRESULT error) {
    diagnostic_log::Write("graphics capture of window %p %s (0x%08lX)", static_cast<void*>(window), what,
                          static_cast<unsigned long>(error));
    if (IsDeviceLost(error)) {
        DropDevice();
    }
    Close();
    return Result::Failed;
}

void CGraphicsCaptureReader::Shutdown() {
    // The last answer stays for KnownAvailability; the next Availability
    // looks again.
    ReleaseDevice();
    m_itemFactory.Reset();
    m_poolFactory.Reset();
    m_deviceInterop = nullptr;
    m_lookedForRuntime = false;
    if (m_apartmentThread != 0 && m_apartmentThread == ::GetCurrentThreadId()) {
        graphics_capture_functions::UninitializeApartment();
    }
    m_apartmentThread = 0;
    // The next thread to read looks again.
    m_reader.Detach();
}

void CGraphicsCaptureReader::SetPointer(bool pointer) {
    ComPtr<qm_wgc::IGraphicsCaptureSession2> withPointer;
    if (SUCCEEDED(m_capture.session.As(&withPointer))) {
        LOG_IF_FAILED(withPointer->put_IsCursorCaptureEnabled(pointer ? 1 : 0));
    }
    // Asked once, whether the system could do it or not.
    m_capture.pointer = pointer;
}

HRESULT CGraphicsCaptureReader::TakeNewestFrame(ComPtr<qm_wgc::IDirect3D11CaptureFrame>* newest) {
    // The pool queues the frames made since the last read; the newest is
    // the one to show, and each one let go frees its buffer.
    for (int taken = 0; taken < kMostFramesTaken; ++taken) {
        ComPtr<qm_wgc::IDirect3D11CaptureFrame> next;
        RETURN_IF_FAILED(m_capture.pool->TryGetNextFrame(&next));
        if (!next) {
            break;
        }
        *newest = std::move(next);
    }
    return S_OK;
}

HRESULT CGraphicsCaptureReader::WaitForFirstFrame(const std::atomic<bool>& giveUp,
                                                  ComPtr<qm_wgc::IDirect3D11CaptureFrame>* frame) {
    const ULONGLONG start = ::GetTickCount64();
    while (!*frame && !giveUp && !ItemClosed() &&
           ::GetTickCount64() - start < kFirstFrameWaitMs) {
        ::Sleep(kFirstFramePollMs);
        RETURN_IF_FAILED(TakeNewestFrame(frame));
    }
    return S_OK;
}

bool CGraphicsCaptureReader::ItemClosed() const {
    // The one handler there is, made by Open.
    return m_capture.closed && static_cast<const CClosedHandler*>(m_capture.closed.Get())->IsClosed();
}

HRESULT CGraphicsCaptureReader::FitStaging(UINT width, UINT height) {
    if (m_staging && m_stagingWidth == width && m_stagingHeight == height) {
        return S_OK;
    }
    m_staging.Reset();
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = kFrameDxgiFormat;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    RETURN_IF_FAILED(m_device->CreateTexture2D(&desc, nullptr, &m_staging));
    m_stagingWidth = width;
    m_stagingHeight = height;
    return S_OK;
}

HRESULT CGraphicsCaptureReader::CopyArea(qm_wgc::IDirect3D11CaptureFrame* frame, HWND window, const RECT& area,
                                         CMemoryDib& dib, SIZE* read, qm_wgc::SizeInt32* content) {
    ComPtr<qm_wgc::IDirect3DSurface> surface;
    RETURN_IF_FAILED(frame->get_Surface(&surface));
    ComPtr<qm_wgc::IDirect3DDxgiInterfaceAccess> access;
    RETURN_IF_FAILED(surface.As(&access));
    ComPtr<ID3D11Texture2D> texture;
    RETURN_IF_FAILED(access->GetInterface(IID_PPV_ARGS(&texture)));
    D3D11_TEXTURE2D_DESC desc = {};
    texture->GetDesc(&desc);
    RETURN_HR_IF(DXGI_ERROR_UNSUPPORTED, desc.Format != kFrameDxgiFormat);
    RETURN_IF_FAILED(frame->get_ContentSize(content));

    // The area on the screen, and so within the frame. For a right-to-left
    // (mirrored) window the points come back swapped into a proper
    // rectangle.
    RECT bounds = {};
    RETURN_HR_IF(HResultFromLastError(), !FrameBounds(window, &bounds));
    RECT onScreen = area;
    ::SetLastError(ERROR_SUCCESS);
    if (::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&onScreen), 2) == 0 &&
        ::GetLastError() != ERROR_SUCCESS) {
        return HResultFromLastError();
    }
    // What the frame holds: its texture, and of that the part the window
    // filled when the frame was made (the top left, while the pool is of
    // another size than the window).
    const LONG frameWidth = std::min(static_cast<LONG>(desc.Width), static_cast<LONG>(content->Width));
    const LONG frameHeight = std::min(static_cast<LONG>(desc.Height), static_cast<LONG>(content->Height));
    const LONG left = std::max(onScreen.left - bounds.left, 0L);
    const LONG top = std::max(onScreen.top - bounds.top, 0L);
    const LONG right = std::min(onScreen.right - bounds.left, frameWidth);
    const LONG bottom = std::min(onScreen.bottom - bounds.top, frameHeight);
    if (right <= left || bottom <= top) {
        return S_FALSE;
    }
    const UINT width = static_cast<UINT>(right - left);
    const UINT height = static_cast<UINT>(bottom - top);
    RETURN_IF_FAILED(FitStaging(width, height));
    const D3D11_BOX box = {static_cast<UINT>(left), static_cast<UINT>(top), 0, static_cast<UINT>(right),
                           static_cast<UINT>(bottom), 1};
    m_context->CopySubresourceRegion(m_staging.Get(), 0, 0, 0, 0, texture.Get(), 0, &box);
    const CMappedTexture mapped(m_context.Get(), m_staging.Get());
    RETURN_IF_FAILED(mapped.Result());
    const size_t rowBytes = size_t{width} * 4;
    for (UINT y = 0; y < height; ++y) {
        std::memcpy(dib.Pixels() + static_cast<ptrdiff_t>(y) * dib.Stride(), mapped.Row(y), rowBytes);
    }
    *read = {static_cast<LONG>(width), static_cast<LONG>(height)};
    return S_OK;
}

HRESULT CGraphicsCaptureReader::FollowSize(const qm_wgc::SizeInt32& content) {
    if ((content.Width == m_capture.poolSize.Width && content.Height == m_capture.poolSize.Height) ||
        content.Width <= 0 || content.Height <= 0) {
        return S_OK;
    }
    // The window was resized: its next frames come at the new size.
    RETURN_IF_FAILED(m_capture.pool->Recreate(m_runtimeDevice.Get(), kFrameFormat, kBuffers, content));
    diagnostic_log::Write("graphics capture of window %p: frames of %dx%d now", static_cast<void*>(m_capture.window),
                          content.Width, content.Height);
    m_capture.poolSize = content;
    return S_OK;
}

CGraphicsCaptureReader::Result CGraphicsCaptureReader::Read(HWND window, const RECT& area, bool pointer,
                                                            const std::atomic<bool>& giveUp, CMemoryDib& dib,
                                                            SIZE* read) {
    QM_DCHECK_ON_THREAD(m_reader);
    *read = {0, 0};
    if (Availability() != GraphicsCaptureAvailability::Available) {
        return Result::Unavailable;
    }
    if (window == nullptr || area.right <= area.left || area.bottom <= area.top ||
        dib.Width() < area.right - area.left || dib.Height() < area.bottom - area.top) {
        return Result::Failed;
    }
    if (m_capture.window != window || !m_capture.session) {
        Close();
        const HRESULT hr = Open(window, pointer);
        if (FAILED(hr)) {
            return GiveUp("cannot start", window, hr);
        }
    }
    if (pointer != m_capture.pointer) {
        SetPointer(pointer);
    }
    ComPtr<qm_wgc::IDirect3D11CaptureFrame> frame;
    HRESULT hr = TakeNewestFrame(&frame);
    if (SUCCEEDED(hr) && !frame && !m_capture.hadFrame) {
        // The system sends a new capture's first frame soon after it starts.
        hr = WaitForFirstFrame(giveUp, &frame);
    }
    if (ItemClosed()) {
        diagnostic_log::Write("graphics capture of window %p: the item closed", static_cast<void*>(window));
        Close();
        return Result::Closed;
    }
    const bool newFrame = SUCCEEDED(hr) && frame;
    if (newFrame) {
        m_capture.hadFrame = true;
        qm_wgc::SizeInt32 content = {};
        hr = CopyArea(frame.Get(), window, area, dib, read, &content);
        // Its buffer goes back to the pool before the pool is remade.
        frame.Reset();
        if (SUCCEEDED(hr)) {
            const HRESULT followed = FollowSize(content);
            hr = FAILED(followed) ? followed : hr;
        }
    }
    if (FAILED(hr)) {
        return GiveUp("failed", window, hr);
    }
    if (!newFrame && !m_capture.hadFrame && ::GetTickCount64() - m_capture.startTick >= kNoFrameTimeoutMs) {
        diagnostic_log::Write("graphics capture of window %p gave no frame", static_cast<void*>(window));
        Close();
        return Result::Failed;
    }
    // No new frame; or one that holds none of the area (a window resized
    // to far more than its frames so far), whose successor will.
    return newFrame && hr == S_OK ? Result::Picture : Result::Unchanged;
}

GraphicsCaptureAvailability CGraphicsCaptureReader::Probe(HRESULT* error) {
    CGraphicsCaptureReader reader;
    const GraphicsCaptureAvailability availability = reader.Availability();
    if (error != nullptr) {
        *error = reader.AvailabilityError();
    }
    reader.Shutdown();
    return availability;
}

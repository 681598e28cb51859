// A stand-in for the Windows Runtime's graphics capture classes, for Wine,
// which has none. Registered under the real class names
// (HKLM\Software\Microsoft\WindowsRuntime\ActivatableClassId\<name>,
// DllPath), it is what Wine's RoGetActivationFactory loads, so that the
// reader under test finds it through the real activation path. It also
// exports CreateDirect3D11DeviceFromDXGIDevice, which Wine's d3d11.dll
// lacks and which the reader takes from here through its ForTesting seam.
//
// Its frames are real Direct3D 11 textures made on the reader's own device
// (Wine's Direct3D works under the test display), holding a picture the
// test knows (tests/support/graphics_capture_stand_in_control.h): the
// window's frame in one colour and a pattern in the client area, placed
// where Windows places a window's client area in its frames. So the
// reader's cut-out, staging copy and map run for real. The frames have the
// window's size when they are made, while the textures have the pool's,
// as on Windows while a window is resized.
#include <windows.h>
#include <activation.h>
#include <d3d11.h>
#include <dwmapi.h>
#include <winstring.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include "tests/support/fake_com_object.h"
#include "tests/support/graphics_capture_stand_in_control.h"
#include "window/graphics_capture_interfaces.h"

using Microsoft::WRL::ComPtr;
using qmtest::GraphicsCaptureStandInControl;

namespace {

// The runtime's answer for an object that has been closed.
constexpr HRESULT kClosedObject = static_cast<HRESULT>(0x80000013L);
constexpr INT32 kMostQueuedFrames = 2;

GraphicsCaptureStandInControl g_control;

// IInspectable for the objects of the stand-in, whose first interface is
// a runtime one.
template <typename First, typename... Rest>
class Inspectable : public qmtest::FakeComObject<First, Rest...> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object != nullptr && IsEqualIID(riid, __uuidof(IInspectable))) {
            *object = static_cast<IInspectable*>(static_cast<First*>(this));
            this->AddRef();
            return S_OK;
        }
        return qmtest::FakeComObject<First, Rest...>::QueryInterface(riid, object);
    }
    HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {
        *count = 0;
        *iids = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override {
        *name = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {
        *level = BaseTrust;
        return S_OK;
    }
};

// Where a window's frames begin on the screen, as Windows places them:
// DWM's extended frame bounds, else (Wine) the window's rectangle.
bool FrameBounds(HWND window, RECT* bounds) {
    if (SUCCEEDED(::DwmGetWindowAttribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, bounds, sizeof(*bounds))) &&
        bounds->right > bounds->left) {
        return true;
    }
    return ::GetWindowRect(window, bounds) != FALSE;
}

class Device final : public Inspectable<qm_wgc::IDirect3DDevice, qm_wgc::IDirect3DDxgiInterfaceAccess,
                                        qm_wgc::IClosable> {
public:
    explicit Device(ComPtr<ID3D11Device> device) : m_device(std::move(device)) {}
    HRESULT STDMETHODCALLTYPE Trim() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void** object) override {
        return m_device->QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

private:
    ComPtr<ID3D11Device> m_device;
};

class Surface final : public Inspectable<qm_wgc::IDirect3DSurface, qm_wgc::IDirect3DDxgiInterfaceAccess,
                                         qm_wgc::IClosable> {
public:
    explicit Surface(ComPtr<ID3D11Texture2D> texture) : m_texture(std::move(texture)) {}
    HRESULT STDMETHODCALLTYPE get_Description(qm_wgc::Direct3DSurfaceDescription* value) override {
        D3D11_TEXTURE2D_DESC desc = {};
        m_texture->GetDesc(&desc);
        *value = {qm_wgc::DirectXPixelFormat::B8G8R8A8UIntNormalized, static_cast<INT32>(desc.Width),
                  static_cast<INT32>(desc.Height), {1, 0}};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void** object) override {
        return m_texture->QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

private:
    ComPtr<ID3D11Texture2D> m_texture;
};

class Frame final : public Inspectable<qm_wgc::IDirect3D11CaptureFrame, qm_wgc::IClosable> {
public:
    Frame(ComPtr<ID3D11Texture2D> texture, qm_wgc::SizeInt32 content, int number)
        : m_texture(std::move(texture)), m_content(content), m_number(number) {}
    HRESULT STDMETHODCALLTYPE get_Surface(qm_wgc::IDirect3DSurface** value) override {
        *value = qmtest::MakeFake<Surface>(m_texture).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_SystemRelativeTime(qm_wgc::TimeSpan* value) override {
        *value = {m_number};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ContentSize(qm_wgc::SizeInt32* value) override {
        *value = m_content;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

private:
    ComPtr<ID3D11Texture2D> m_texture;
    const qm_wgc::SizeInt32 m_content;
    const int m_number;
};

class Item;
class Pool;
// The objects alive, for the test's deliveries and closes. Taken before
// any object's own lock.
std::mutex g_objectsLock;
std::vector<Item*> g_items;
std::vector<Pool*> g_pools;

class Item final : public Inspectable<qm_wgc::IGraphicsCaptureItem> {
public:
    explicit Item(HWND window) : m_window(window) {
        std::lock_guard<std::mutex> lock(g_objectsLock);
        g_items.push_back(this);
    }
    HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Size(qm_wgc::SizeInt32* value) override {
        RECT bounds = {};
        if (!FrameBounds(m_window, &bounds)) {
            return E_FAIL;
        }
        *value = {bounds.right - bounds.left, bounds.bottom - bounds.top};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_Closed(qm_wgc::IGraphicsCaptureItemClosedHandler* handler,
                                         EventRegistrationToken* token) override {
        std::lock_guard<std::mutex> lock(m_lock);
        token->value = ++m_lastToken;
        m_handlers[token->value] = handler;
        ++g_control.closedHandlers;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE remove_Closed(EventRegistrationToken token) override {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_handlers.erase(token.value) != 0) {
            --g_control.closedHandlers;
        }
        return S_OK;
    }

    HWND Window() const { return m_window; }
    bool IsClosed() const { return m_closed.load(); }
    // As the runtime does when the window goes: Closed's handlers are
    // called on the closing thread.
    void CloseNow() {
        m_closed = true;
        std::map<INT64, ComPtr<qm_wgc::IGraphicsCaptureItemClosedHandler>> handlers;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            handlers = m_handlers;
        }
        for (const auto& entry : handlers) {
            entry.second->Invoke(this, nullptr);
        }
    }

private:
    ~Item() override {
        std::lock_guard<std::mutex> lock(g_objectsLock);
        g_items.erase(std::find(g_items.begin(), g_items.end(), this));
    }

    const HWND m_window;
    std::atomic<bool> m_closed{false};
    std::mutex m_lock;
    std::map<INT64, ComPtr<qm_wgc::IGraphicsCaptureItemClosedHandler>> m_handlers;
    INT64 m_lastToken = 0;
};

class Session;

class Pool final : public Inspectable<qm_wgc::IDirect3D11CaptureFramePool, qm_wgc::IClosable> {
public:
    Pool(ComPtr<ID3D11Device> device, qm_wgc::SizeInt32 size) : m_device(std::move(device)), m_size(size) {
        NoteSize(size);
        std::lock_guard<std::mutex> lock(g_objectsLock);
        g_pools.push_back(this);
    }

    HRESULT STDMETHODCALLTYPE Recreate(qm_wgc::IDirect3DDevice*, qm_wgc::DirectXPixelFormat, INT32,
                                       qm_wgc::SizeInt32 size) override {
        std::lock_guard<std::mutex> lock(m_lock);
        ++g_control.poolsRecreated;
        m_size = size;
        m_queue.clear();
        NoteSize(size);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE TryGetNextFrame(qm_wgc::IDirect3D11CaptureFrame** result) override {
        *result = nullptr;
        if (m_closed) {
            return kClosedObject;
        }
        const HRESULT injected = g_control.nextFrameResult;
        if (FAILED(injected)) {
            return injected;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_started || !m_item || m_item->IsClosed()) {
            return S_OK;
        }
        if (!g_control.manualFrames) {
            // A window that draws all the time: a read that empties the
            // pool finds a new frame the next time.
            if (m_drawnSinceEmptied) {
                m_drawnSinceEmptied = false;
            } else {
                m_drawnSinceEmptied = true;
                MakeFrameLocked();
            }
        }
        if (m_queue.empty()) {
            return S_OK;
        }
        *result = m_queue.front().Detach();
        m_queue.pop_front();
        ++g_control.framesTaken;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_FrameArrived(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE remove_FrameArrived(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateCaptureSession(qm_wgc::IGraphicsCaptureItem* item,
                                                   qm_wgc::IGraphicsCaptureSession** result) override;
    HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Close() override {
        if (!m_closed.exchange(true)) {
            ++g_control.poolsClosed;
        }
        return S_OK;
    }

    void Start() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_started = true;
    }
    HRESULT Deliver(int count) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_started || !m_item || m_item->IsClosed()) {
            return S_FALSE;
        }
        for (int i = 0; i < count; ++i) {
            const HRESULT hr = MakeFrameLocked();
            if (FAILED(hr)) {
                return hr;
            }
        }
        return S_OK;
    }

private:
    ~Pool() override {
        std::lock_guard<std::mutex> lock(g_objectsLock);
        g_pools.erase(std::find(g_pools.begin(), g_pools.end(), this));
    }

    static void NoteSize(qm_wgc::SizeInt32 size) {
        g_control.poolWidth = size.Width;
        g_control.poolHeight = size.Height;
    }

    // A frame of the window as it is now, in a texture of the pool's size:
    // the window's picture at the top left, cut where the texture ends.
    HRESULT MakeFrameLocked() {
        const HWND window = m_item->Window();
        RECT bounds = {};
        RECT client = {};
        if (!FrameBounds(window, &bounds) || !::GetClientRect(window, &client)) {
            return E_FAIL;
        }
        // 0 is also the offset of a window at the screen's origin.
        ::SetLastError(ERROR_SUCCESS);
        if (::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2) == 0 &&
            ::GetLastError() != ERROR_SUCCESS) {
            return E_FAIL;
        }
        const qm_wgc::SizeInt32 content = {bounds.right - bounds.left, bounds.bottom - bounds.top};
        const int number = g_control.framesMade++;
        const bool black = g_control.blackFrames;
        const int width = m_size.Width;
        const int height = m_size.Height;
        m_pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
        for (int y = 0; y < std::min(height, content.Height); ++y) {
            uint32_t* row = m_pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
            for (int x = 0; x < std::min(width, content.Width); ++x) {
                const int clientX = x - (client.left - bounds.left);
                const int clientY = y - (client.top - bounds.top);
                const bool inClient = clientX >= 0 && clientY >= 0 && clientX < client.right - client.left &&
                                      clientY < client.bottom - client.top;
                row[x] = !inClient ? qmtest::kStandInFrameColour
                                   : (black ? qmtest::kStandInBlack : qmtest::StandInClientPixel(clientX, clientY, number));
            }
        }
        D3D11_TEXTURE2D_DESC desc = {};
        desc.Width = static_cast<UINT>(width);
        desc.Height = static_cast<UINT>(height);
        desc.MipLevels = 1;
        desc.ArraySize = 1;
        desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc.Count = 1;
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
        const D3D11_SUBRESOURCE_DATA data = {m_pixels.data(), static_cast<UINT>(width) * 4, 0};
        ComPtr<ID3D11Texture2D> texture;
        const HRESULT hr = m_device->CreateTexture2D(&desc, &data, &texture);
        if (FAILED(hr)) {
            return hr;
        }
        m_queue.push_back(qmtest::MakeFake<Frame>(texture, content, number));
        // The pool's buffers hold the newest frames.
        while (m_queue.size() > static_cast<size_t>(kMostQueuedFrames)) {
            m_queue.pop_front();
        }
        return S_OK;
    }

    friend class Session;
    const ComPtr<ID3D11Device> m_device;
    std::atomic<bool> m_closed{false};
    std::mutex m_lock;
    qm_wgc::SizeInt32 m_size;
    ComPtr<Item> m_item;
    bool m_started = false;
    bool m_drawnSinceEmptied = false;
    std::deque<ComPtr<Frame>> m_queue;
    std::vector<uint32_t> m_pixels;
};

class Session final : public Inspectable<qm_wgc::IGraphicsCaptureSession, qm_wgc::IGraphicsCaptureSession2,
                                         qm_wgc::IGraphicsCaptureSession3, qm_wgc::IClosable> {
public:
    explicit Session(ComPtr<Pool> pool) : m_pool(std::move(pool)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        // Before Windows 10 build 20348 there is no border switch.
        if (object != nullptr && IsEqualIID(riid, __uuidof(qm_wgc::IGraphicsCaptureSession3)) &&
            !g_control.borderSwitch) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return Inspectable::QueryInterface(riid, object);
    }
    HRESULT STDMETHODCALLTYPE StartCapture() override {
        ++g_control.sessionsStarted;
        m_pool->Start();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsCursorCaptureEnabled(boolean* value) override {
        *value = g_control.pointerSetting == 1 ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_IsCursorCaptureEnabled(boolean value) override {
        g_control.pointerSetting = value != 0 ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsBorderRequired(boolean* value) override {
        *value = g_control.borderSetting == 0 ? 0 : 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_IsBorderRequired(boolean value) override {
        g_control.borderSetting = value != 0 ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        if (!m_closed.exchange(true)) {
            ++g_control.sessionsClosed;
        }
        return S_OK;
    }

private:
    const ComPtr<Pool> m_pool;
    std::atomic<bool> m_closed{false};
};

HRESULT Pool::CreateCaptureSession(qm_wgc::IGraphicsCaptureItem* item, qm_wgc::IGraphicsCaptureSession** result) {
    if (item == nullptr || result == nullptr) {
        return E_POINTER;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        // Only the stand-in's own items come here.
        m_item = static_cast<Item*>(item);
    }
    *result = qmtest::MakeFake<Session>(this).Detach();
    return S_OK;
}

class SessionFactory final : public Inspectable<IActivationFactory, qm_wgc::IGraphicsCaptureSessionStatics> {
public:
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsSupported(boolean* result) override {
        *result = g_control.supported ? 1 : 0;
        return S_OK;
    }
};

class ItemFactory final : public Inspectable<IActivationFactory, qm_wgc::IGraphicsCaptureItemInterop> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        // Before Windows 10 1903 there is no capture of windows.
        if (object != nullptr && IsEqualIID(riid, __uuidof(qm_wgc::IGraphicsCaptureItemInterop)) &&
            !g_control.windowCapture) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return Inspectable::QueryInterface(riid, object);
    }
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateForWindow(HWND window, REFIID riid, void** result) override {
        *result = nullptr;
        const HRESULT injected = g_control.createForWindowResult;
        if (FAILED(injected)) {
            return injected;
        }
        if (!::IsWindow(window)) {
            return E_INVALIDARG;
        }
        ++g_control.itemsCreated;
        return qmtest::MakeFake<Item>(window)->QueryInterface(riid, result);
    }
    HRESULT STDMETHODCALLTYPE CreateForMonitor(HMONITOR, REFIID, void** result) override {
        *result = nullptr;
        return E_NOTIMPL;
    }
};

class PoolFactory final : public Inspectable<IActivationFactory, qm_wgc::IDirect3D11CaptureFramePoolStatics2> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object != nullptr && IsEqualIID(riid, __uuidof(qm_wgc::IDirect3D11CaptureFramePoolStatics2)) &&
            !g_control.windowCapture) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return Inspectable::QueryInterface(riid, object);
    }
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateFreeThreaded(qm_wgc::IDirect3DDevice* device, qm_wgc::DirectXPixelFormat format,
                                                 INT32 buffers, qm_wgc::SizeInt32 size,
                                                 qm_wgc::IDirect3D11CaptureFramePool** result) override {
        *result = nullptr;
        if (device == nullptr || format != qm_wgc::DirectXPixelFormat::B8G8R8A8UIntNormalized || buffers < 1 ||
            size.Width <= 0 || size.Height <= 0) {
            return E_INVALIDARG;
        }
        ComPtr<qm_wgc::IDirect3DDxgiInterfaceAccess> access;
        ComPtr<ID3D11Device> d3dDevice;
        HRESULT hr = device->QueryInterface(IID_PPV_ARGS(&access));
        if (SUCCEEDED(hr)) {
            hr = access->GetInterface(IID_PPV_ARGS(&d3dDevice));
        }
        if (FAILED(hr)) {
            return hr;
        }
        ++g_control.poolsCreated;
        *result = qmtest::MakeFake<Pool>(d3dDevice, size).Detach();
        return S_OK;
    }
};

void ResetControl() {
    GraphicsCaptureStandInControl& c = g_control;
    c.supported = true;
    c.windowCapture = true;
    c.borderSwitch = true;
    c.createForWindowResult = S_OK;
    c.nextFrameResult = S_OK;
    c.manualFrames = false;
    c.blackFrames = false;
    for (std::atomic<int>* count : {&c.itemsCreated, &c.poolsCreated, &c.poolsRecreated, &c.poolsClosed,
                                    &c.sessionsStarted, &c.sessionsClosed, &c.framesMade, &c.framesTaken,
                                    &c.poolWidth, &c.poolHeight}) {
        *count = 0;
    }
    c.pointerSetting = -1;
    c.borderSetting = -1;
}

}  // namespace

extern "C" {

HRESULT WINAPI DllGetActivationFactory(HSTRING classId, IActivationFactory** factory) {
    if (factory == nullptr) {
        return E_POINTER;
    }
    *factory = nullptr;
    const wchar_t* name = ::WindowsGetStringRawBuffer(classId, nullptr);
    if (std::wcscmp(name, qm_wgc::kGraphicsCaptureSessionClass) == 0) {
        *factory = qmtest::MakeFake<SessionFactory>().Detach();
    } else if (std::wcscmp(name, qm_wgc::kGraphicsCaptureItemClass) == 0) {
        *factory = qmtest::MakeFake<ItemFactory>().Detach();
    } else if (std::wcscmp(name, qm_wgc::kCaptureFramePoolClass) == 0) {
        *factory = qmtest::MakeFake<PoolFactory>().Detach();
    } else {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return S_OK;
}

HRESULT WINAPI DllCanUnloadNow() {
    // The test holds the library loaded; its state lives as long.
    return S_FALSE;
}

HRESULT WINAPI CreateDirect3D11DeviceFromDXGIDevice(IDXGIDevice* dxgiDevice, IInspectable** device) {
    if (dxgiDevice == nullptr || device == nullptr) {
        return E_POINTER;
    }
    *device = nullptr;
    ComPtr<ID3D11Device> d3dDevice;
    const HRESULT hr = dxgiDevice->QueryInterface(IID_PPV_ARGS(&d3dDevice));
    if (FAILED(hr)) {
        return hr;
    }
    return qmtest::MakeFake<Device>(d3dDevice)->QueryInterface(IID_PPV_ARGS(device));
}

GraphicsCaptureStandInControl* WINAPI QmStandInControl() {
    return &g_control;
}

HRESULT WINAPI QmStandInDeliverFrames(int count) {
    std::lock_guard<std::mutex> lock(g_objectsLock);
    HRESULT result = S_OK;
    for (Pool* pool : g_pools) {
        const HRESULT hr = pool->Deliver(count);
        result = FAILED(hr) ? hr : result;
    }
    return result;
}

void WINAPI QmStandInCloseItems() {
    std::lock_guard<std::mutex> lock(g_objectsLock);
    for (Item* item : g_items) {
        item->CloseNow();
    }
}

void WINAPI QmStandInReset() {
    ResetControl();
}

}  // extern "C"

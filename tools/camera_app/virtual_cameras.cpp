#include "tools/camera_app/virtual_cameras.h"

#include <cstdio>
#include <new>

#include "mf/media_source_ids.h"

using Microsoft::WRL::ComPtr;

namespace {

// What the Frame Server reports to a started camera; written to the
// console, which is where a user looks when the camera does not show.
class CCameraEventCallback final : public IMFAsyncCallback {
public:
    explicit CCameraEventCallback(int camera) : m_camera(camera) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IMFAsyncCallback)) {
            *ppv = static_cast<IMFAsyncCallback*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_references)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&m_references);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* result) override {
        if (result == nullptr) {
            return E_POINTER;
        }
        std::printf("qmcamera: camera %d: the Frame Server reports status 0x%08lX\n", m_camera,
                    static_cast<unsigned long>(result->GetStatus()));
        std::fflush(stdout);
        return S_OK;
    }

private:
    ~CCameraEventCallback() = default;
    const int m_camera;
    volatile LONG m_references = 1;
};

}  // namespace

namespace qmcamera {

qm_mf::CreateVirtualCameraFn LoadCreateVirtualCamera() {
    // System32 only: never a library of that name beside the program.
    HMODULE library = ::LoadLibraryExW(L"mfsensorgroup.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) {
        return nullptr;
    }
    FARPROC address = ::GetProcAddress(library, "MFCreateVirtualCamera");
    if (address == nullptr) {
        ::FreeLibrary(library);
        return nullptr;
    }
    // GetProcAddress returns a generic function pointer; the function's
    // real type is the documented one.
    return reinterpret_cast<qm_mf::CreateVirtualCameraFn>(reinterpret_cast<void*>(address));
}

CVirtualCameras::~CVirtualCameras() {
    RemoveAll();
}

HRESULT CVirtualCameras::Add(int camera, const wchar_t* name) {
    RETURN_HR_IF_NULL(E_POINTER, name);
    const GUID* clsid = CameraMediaSourceClassId(camera);
    RETURN_HR_IF_NULL(E_INVALIDARG, clsid);
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_create);
    wchar_t sourceId[CHARS_IN_GUID] = {};
    RETURN_HR_IF(E_UNEXPECTED, ::StringFromGUID2(*clsid, sourceId, CHARS_IN_GUID) == 0);

    ComPtr<IMFVirtualCamera> created;
    RETURN_IF_FAILED(m_create(qm_mf::VirtualCameraType::SoftwareCameraSource, qm_mf::VirtualCameraLifetime::Session,
                              qm_mf::VirtualCameraAccess::CurrentUser, name, sourceId, nullptr, 0, &created));
    // Before the start, which hands the camera to the Frame Server.
    const HRESULT owned = created->SetString(kCameraOwnerAttribute, m_owner.text);
    if (FAILED(owned)) {
        QM_IGNORE(created->Shutdown(), "the camera is dropped");
        return owned;
    }
    ComPtr<IMFAsyncCallback> callback;
    // Not Attach: mingw-w64's ComPtr::Attach takes a reference of its own,
    // and the callback would never go.
    *callback.ReleaseAndGetAddressOf() = new (std::nothrow) CCameraEventCallback(camera);
    if (!callback) {
        QM_IGNORE(created->Shutdown(), "the camera is dropped");
        return E_OUTOFMEMORY;
    }
    const HRESULT started = created->Start(callback.Get());
    if (FAILED(started)) {
        QM_IGNORE(created->Shutdown(), "the camera is dropped");
        return started;
    }
    try {
        m_cameras.push_back(created);
    } catch (const std::bad_alloc&) {
        QM_IGNORE(created->Remove(), "the camera is dropped");
        QM_IGNORE(created->Shutdown(), "the camera is dropped");
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void CVirtualCameras::RemoveAll() {
    for (ComPtr<IMFVirtualCamera>& camera : m_cameras) {
        QM_IGNORE(camera->Stop(), "the camera goes either way");
        QM_IGNORE(camera->Remove(), "a session camera goes with the process anyway");
        QM_IGNORE(camera->Shutdown(), "as above");
    }
    m_cameras.clear();
}

}  // namespace qmcamera

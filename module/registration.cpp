#include "module/registration.h"

#include <objbase.h>
#include <uuids.h>
#include <wrl/client.h>

#include <cwchar>
#include <new>
#include <vector>

#include "settings/camera_list.h"
#include "settings/capture_device_ids.h"
#include "framework/com_util.h"
#include "framework/module_instance.h"
#include "module/module.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kCaptureDeviceMerit = MERIT_DO_NOT_USE;
constexpr wchar_t kThreadingModel[] = L"Both";
constexpr wchar_t kServerType[] = L"InprocServer32";
// Registry key names are at most 255 characters.
constexpr DWORD kMaxKeyName = 256;
// Long enough for any module path the system can load.
constexpr DWORD kMaxModulePath = 32768;

// The mapper reports a filter it has no registration of with this code.
const HRESULT kNotRegistered = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

const AMOVIESETUP_MEDIATYPE sudPinTypes[] = {
    {&MEDIATYPE_Video, &GUID_NULL},
};

const AMOVIESETUP_PIN sudPins[] = {
    {const_cast<LPWSTR>(L"RGB Out"), FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, sudPinTypes},
};

// COM for the duration of one registration call, on whatever apartment
// the caller's thread already has. A thread already in the multithreaded
// apartment answers RPC_E_CHANGED_MODE: COM is there, and not ours to
// uninitialise.
class ScopedComInit {
public:
    ScopedComInit() : m_hr(::CoInitialize(nullptr)) {}
    ~ScopedComInit() {
        if (SUCCEEDED(m_hr)) {
            ::CoFreeUnusedLibraries();
            ::CoUninitialize();
        }
    }
    ScopedComInit(const ScopedComInit&) = delete;
    ScopedComInit& operator=(const ScopedComInit&) = delete;
    // S_OK or S_FALSE when COM can be used on this thread.
    HRESULT result() const { return m_hr == RPC_E_CHANGED_MODE ? S_FALSE : m_hr; }

private:
    HRESULT m_hr;
};

// "CLSID\{...}" for a class identifier.
HRESULT ClassKeyName(const CLSID& clsid, wchar_t (&name)[MAX_PATH]) {
    wchar_t text[CHARS_IN_GUID];
    if (::StringFromGUID2(clsid, text, CHARS_IN_GUID) == 0) {
        return E_UNEXPECTED;
    }
    const int written = std::swprintf(name, MAX_PATH, L"CLSID\\%ls", text);
    return written > 0 ? S_OK : E_UNEXPECTED;
}

HRESULT SetStringValue(HKEY key, LPCWSTR valueName, LPCWSTR text) {
    const DWORD bytes = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
    return HResultFromWin32(static_cast<DWORD>(
        ::RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes)));
}

REGFILTER2 MakeRegFilter2(const AMOVIESETUP_FILTER& setup) {
    REGFILTER2 rf2{};
    rf2.dwVersion = 1;
    rf2.dwMerit = setup.dwMerit;
    rf2.cPins = setup.nPins;
    rf2.rgPins = setup.lpPin;
    return rf2;
}

}  // namespace

const AMOVIESETUP_FILTER sudCaptureDevice = {
    &CLSID_CaptureDevice, kCaptureDeviceName, kCaptureDeviceMerit, 1, sudPins,
};

HRESULT GetModulePath(HMODULE module, std::vector<wchar_t>& path, ModuleFileNameFn getName) {
    // No exception leaves the module's exports.
    try {
        path.assign(kMaxModulePath, L'\0');
    } catch (const std::bad_alloc&) {
        path.clear();
        return E_OUTOFMEMORY;
    }
    const DWORD length = getName(module, path.data(), kMaxModulePath);
    if (length == 0) {
        // A failure without an error code is still a failure: an empty path
        // must never be registered.
        path.clear();
        return HResultFromLastError();
    }
    if (length >= kMaxModulePath) {
        path.clear();
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    return S_OK;
}

HRESULT EliminateSubKey(HKEY parent, LPCWSTR name) {
    return EliminateSubKeyUsing(parent, name, &::RegDeleteKeyW);
}

HRESULT EliminateSubKeyUsing(HKEY parent, LPCWSTR name, RegDeleteKeyFn deleteKey) {
    // An empty name would name the parent itself.
    if (name == nullptr || name[0] == L'\0') {
        return E_FAIL;
    }
    UniqueRegKey key;
    if (::RegOpenKeyExW(parent, name, 0, MAXIMUM_ALLOWED, key.put()) != ERROR_SUCCESS) {
        return S_OK;
    }
    // Enumeration always restarts at index 0, so a subkey that outlives its
    // removal would be found again for ever: the same name twice in a row
    // ends the removal.
    wchar_t previous[kMaxKeyName] = L"";
    for (;;) {
        wchar_t child[kMaxKeyName];
        DWORD length = kMaxKeyName;
        if (::RegEnumKeyExW(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        if (previous[0] != L'\0' && std::wcscmp(previous, child) == 0) {
            return E_ACCESSDENIED;
        }
        RETURN_IF_FAILED(EliminateSubKeyUsing(key.get(), child, deleteKey));
        std::wcscpy(previous, child);
    }
    key.reset();
    const LONG deleted = deleteKey(parent, name);
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
        return HResultFromWin32(static_cast<DWORD>(deleted));
    }
    return S_OK;
}

HRESULT AMovieSetupRegisterServer(const CLSID& clsid, LPCWSTR description, LPCWSTR modulePath,
                                  LPCWSTR threadingModel, LPCWSTR serverType) {
    if (description == nullptr || modulePath == nullptr || threadingModel == nullptr || serverType == nullptr) {
        return E_POINTER;
    }
    wchar_t keyName[MAX_PATH];
    RETURN_IF_FAILED(ClassKeyName(clsid, keyName));

    UniqueRegKey classKey;
    RETURN_IF_FAILED(HResultFromWin32(static_cast<DWORD>(::RegCreateKeyW(HKEY_CLASSES_ROOT, keyName, classKey.put()))));
    RETURN_IF_FAILED(SetStringValue(classKey.get(), nullptr, description));

    UniqueRegKey serverKey;
    RETURN_IF_FAILED(HResultFromWin32(static_cast<DWORD>(::RegCreateKeyW(classKey.get(), serverType, serverKey.put()))));
    RETURN_IF_FAILED(SetStringValue(serverKey.get(), nullptr, modulePath));
    return SetStringValue(serverKey.get(), L"ThreadingModel", threadingModel);
}

HRESULT AMovieSetupUnregisterServer(const CLSID& clsid) {
    wchar_t keyName[MAX_PATH];
    RETURN_IF_FAILED(ClassKeyName(clsid, keyName));
    return EliminateSubKey(HKEY_CLASSES_ROOT, keyName);
}

HRESULT RegisterAllServers(LPCWSTR modulePath, BOOL doRegister) {
    HRESULT hr = S_OK;
    for (int i = 0; i < g_cTemplates && SUCCEEDED(hr); ++i) {
        const CFactoryTemplate& row = g_Templates[i];
        hr = doRegister ? AMovieSetupRegisterServer(*row.m_ClsID, row.m_Name, modulePath, kThreadingModel, kServerType)
                        : AMovieSetupUnregisterServer(*row.m_ClsID);
    }
    return hr;
}

HRESULT AMovieSetupRegisterFilter2(const AMOVIESETUP_FILTER* setup, IFilterMapper2* mapper, BOOL doRegister) {
    if (setup == nullptr) {
        return S_FALSE;
    }
    RETURN_HR_IF_NULL(E_POINTER, mapper);
    // Withdrawing first makes a repeated registration replace the old one.
    HRESULT hr = mapper->UnregisterFilter(nullptr, nullptr, *setup->clsID);
    if (doRegister) {
        const REGFILTER2 rf2 = MakeRegFilter2(*setup);
        hr = mapper->RegisterFilter(*setup->clsID, setup->strName, nullptr, nullptr, nullptr, &rf2);
    }
    return hr == kNotRegistered ? S_OK : hr;
}

HRESULT AMovieSetupRegisterFilter(const AMOVIESETUP_FILTER* setup, IFilterMapper* mapper, BOOL doRegister) {
    if (setup == nullptr) {
        return S_FALSE;
    }
    RETURN_HR_IF_NULL(E_POINTER, mapper);
    HRESULT hr = mapper->UnregisterFilter(*setup->clsID);
    if (doRegister) {
        hr = mapper->RegisterFilter(*setup->clsID, setup->strName, setup->dwMerit);
        for (UINT p = 0; SUCCEEDED(hr) && p < setup->nPins; ++p) {
            const AMOVIESETUP_PIN& pin = setup->lpPin[p];
            hr = mapper->RegisterPin(*setup->clsID, pin.strName, pin.bRendered, pin.bOutput, pin.bZero, pin.bMany,
                                     *pin.clsConnectsToFilter, pin.strConnectsToPin);
            for (UINT t = 0; SUCCEEDED(hr) && t < pin.nMediaTypes; ++t) {
                hr = mapper->RegisterPinType(*setup->clsID, pin.strName, *pin.lpMediaType[t].clsMajorType,
                                             *pin.lpMediaType[t].clsMinorType);
            }
        }
    }
    return hr == kNotRegistered ? S_OK : hr;
}

HRESULT AMovieDllRegisterServer2(BOOL doRegister) {
    std::vector<wchar_t> path;
    RETURN_IF_FAILED(GetModulePath(ModuleInstance(), path));

    if (doRegister) {
        RETURN_IF_FAILED(RegisterAllServers(path.data(), TRUE));
    }

    HRESULT hr = S_OK;
    {
        ScopedComInit com;
        ComPtr<IFilterMapper2> mapper2;
        ComPtr<IFilterMapper> mapper1;
        hr = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper2));
        if (FAILED(hr)) {
            hr = ::CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper1));
        }
        if (SUCCEEDED(hr)) {
            for (int i = 0; i < g_cTemplates; ++i) {
                const AMOVIESETUP_FILTER* setup = g_Templates[i].m_pAMovieSetup_Filter;
                if (setup == nullptr) {
                    continue;
                }
                hr = mapper2 ? AMovieSetupRegisterFilter2(setup, mapper2.Get(), doRegister)
                             : AMovieSetupRegisterFilter(setup, mapper1.Get(), doRegister);
                if (FAILED(hr)) {
                    break;
                }
            }
        }
    }

    if (!doRegister && SUCCEEDED(hr)) {
        hr = RegisterAllServers(path.data(), FALSE);
    }
    return hr;
}

STDAPI DllRegisterServer() {
    ScopedComInit com;
    // Nothing is written on a thread where COM cannot be had, rather than
    // class keys whose mapper entries then fail.
    RETURN_IF_FAILED(com.result());
    RETURN_IF_FAILED(AMovieDllRegisterServer2(TRUE));

    ComPtr<IFilterMapper2> mapper;
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper)));
    const REGFILTER2 rf2 = MakeRegFilter2(sudCaptureDevice);
    // Camera 1, and every camera the machine's list names under its name;
    // a camera no longer listed leaves the category.
    for (int camera = kFirstCamera; camera <= kMaxCameras; ++camera) {
        wchar_t name[kCameraNameCapacity];
        const HRESULT listed = CCameraList::GetName(camera, name, kCameraNameCapacity);
        const CLSID& clsid = *CameraClassId(camera);
        if (listed == S_OK) {
            // The mapper hands back the moniker of the new entry; it is not
            // needed.
            ComPtr<IMoniker> moniker;
            RETURN_IF_FAILED(mapper->RegisterFilter(clsid, name, moniker.GetAddressOf(),
                                                    &CLSID_VideoInputDeviceCategory, nullptr, &rf2));
        } else {
            const HRESULT removed = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, nullptr, clsid);
            if (removed != kNotRegistered) {
                RETURN_IF_FAILED(removed);
            }
        }
    }
    return S_OK;
}

STDAPI DllUnregisterServer() {
    ScopedComInit com;
    RETURN_IF_FAILED(com.result());

    ComPtr<IFilterMapper2> mapper;
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper)));
    // Every camera leaves the category, listed or not; the machine's list
    // stays (an upgrade registers again and keeps it). A camera already
    // gone from the category (a second uninstall, or a registration that
    // failed half-way) must not keep the rest from being removed.
    HRESULT hr = S_OK;
    for (int camera = kFirstCamera; camera <= kMaxCameras && SUCCEEDED(hr); ++camera) {
        hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, nullptr, *CameraClassId(camera));
        if (hr == kNotRegistered) {
            hr = S_OK;
        }
    }
    mapper.Reset();
    RETURN_IF_FAILED(hr);
    return AMovieDllRegisterServer2(FALSE);
}

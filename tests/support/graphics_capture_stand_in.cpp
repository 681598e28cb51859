#include "tests/support/graphics_capture_stand_in.h"

#include <cwchar>
#include <string>

namespace qmtest {

namespace {

constexpr wchar_t kLibraryName[] = L"graphics_capture_stand_in.dll";
constexpr wchar_t kActivatableClasses[] = L"Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\";
const wchar_t* const kClasses[] = {qm_wgc::kGraphicsCaptureSessionClass, qm_wgc::kGraphicsCaptureItemClass,
                                   qm_wgc::kCaptureFramePoolClass};

template <typename Function>
Function Find(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

HRESULT SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    const LSTATUS status = ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

}  // namespace

GraphicsCaptureStandIn::GraphicsCaptureStandIn() {
    // Beside the running program.
    DWORD length = ::GetModuleFileNameW(nullptr, m_path, MAX_PATH);
    while (length > 0 && m_path[length - 1] != L'\\') {
        --length;
    }
    if (length == 0 || length + std::wcslen(kLibraryName) >= MAX_PATH) {
        return;
    }
    std::wcscpy(m_path + length, kLibraryName);
    const HMODULE library = ::LoadLibraryW(m_path);
    if (library == nullptr) {
        m_loaded = HRESULT_FROM_WIN32(::GetLastError());
        return;
    }
    const auto control = Find<StandInControlFunction>(library, kStandInControlName);
    const auto reset = Find<StandInResetFunction>(library, kStandInResetName);
    m_deviceInterop =
        Find<qm_wgc::CreateDirect3D11DeviceFromDxgiFunction>(library, "CreateDirect3D11DeviceFromDXGIDevice");
    m_deliverFrames = Find<StandInDeliverFramesFunction>(library, kStandInDeliverFramesName);
    m_closeItems = Find<StandInCloseItemsFunction>(library, kStandInCloseItemsName);
    if (control == nullptr || reset == nullptr || m_deviceInterop == nullptr || m_deliverFrames == nullptr ||
        m_closeItems == nullptr) {
        m_loaded = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        return;
    }
    reset();
    m_control = control();
    m_loaded = S_OK;
}

GraphicsCaptureStandIn::~GraphicsCaptureStandIn() {
    if (m_registered) {
        RemoveRegistration();
    }
}

HRESULT GraphicsCaptureStandIn::Register() {
    if (FAILED(m_loaded)) {
        return m_loaded;
    }
    RemoveRegistration();
    m_registered = true;
    for (const wchar_t* name : kClasses) {
        HKEY key = nullptr;
        const std::wstring path = std::wstring(kActivatableClasses) + name;
        const LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                                 nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(status);
        }
        // In-process (ActivationType 0), any apartment (Threading 0).
        const DWORD zero = 0;
        HRESULT hr = SetValue(key, L"DllPath", REG_SZ, m_path,
                              static_cast<DWORD>((std::wcslen(m_path) + 1) * sizeof(wchar_t)));
        if (SUCCEEDED(hr)) {
            hr = SetValue(key, L"ActivationType", REG_DWORD, &zero, sizeof(zero));
        }
        if (SUCCEEDED(hr)) {
            hr = SetValue(key, L"Threading", REG_DWORD, &zero, sizeof(zero));
        }
        ::RegCloseKey(key);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

void GraphicsCaptureStandIn::RemoveRegistration() {
    for (const wchar_t* name : kClasses) {
        const std::wstring path = std::wstring(kActivatableClasses) + name;
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
    }
}

}  // namespace qmtest

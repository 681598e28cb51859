#include "tests/reliability/reliability_support.h"

#include <cstdio>

#include "capture/capture_device_ids.h"
#include "capture/capture_settings.h"
#include "framework/com_util.h"
#include "module/module.h"
#include "tests/support/capture_graph.h"

using Microsoft::WRL::ComPtr;


HRESULT CreateCaptureFilter(IBaseFilter** filter) {
    RETURN_HR_IF_NULL(E_POINTER, filter);
    *filter = nullptr;
    ComPtr<IClassFactory> factory;
    RETURN_IF_FAILED(GetClassObjectFromTable(g_Templates, g_cTemplates, CLSID_CaptureDevice,
                                             IID_PPV_ARGS(&factory)));
    return factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
}

HRESULT OutputPinOf(IBaseFilter* filter, IPin** pin) {
    RETURN_HR_IF_NULL(E_POINTER, filter);
    return GetPin(filter, PINDIR_OUTPUT, pin);
}

Watchdog::Watchdog(const char* what, DWORD timeoutMs)
    : m_what(what), m_timeoutMs(timeoutMs), m_disarm(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    m_thread = ::CreateThread(nullptr, 0, &Watchdog::Watch, this, 0, nullptr);
}

Watchdog::~Watchdog() {
    ::SetEvent(m_disarm);
    if (m_thread != nullptr) {
        ::WaitForSingleObject(m_thread, INFINITE);
        ::CloseHandle(m_thread);
    }
    ::CloseHandle(m_disarm);
}

DWORD WINAPI Watchdog::Watch(LPVOID parameter) {
    auto* self = static_cast<Watchdog*>(parameter);
    if (::WaitForSingleObject(self->m_disarm, self->m_timeoutMs) == WAIT_TIMEOUT) {
        std::fprintf(stderr, "\nWATCHDOG: %s did not finish within %lu ms (a hang or a deadlock)\n",
                     self->m_what.c_str(), static_cast<unsigned long>(self->m_timeoutMs));
        std::fflush(stderr);
        std::fflush(stdout);
        ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    return 0;
}

bool ReadSettingsKey(SettingsSnapshot* snapshot) {
    snapshot->clear();
    UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof(name);
        DWORD type = 0;
        BYTE data[4096];
        DWORD size = sizeof(data);
        const LONG result = ::RegEnumValueA(key.get(), index, name, &nameLength, nullptr, &type, data, &size);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS) {
            (*snapshot)[std::string("<error ") + std::to_string(result) + ">"] = {0, {}};
            break;
        }
        (*snapshot)[std::string(name, nameLength)] = {type, std::string(reinterpret_cast<char*>(data), size)};
    }
    return true;
}

void StoreRawSetting(const char* name, DWORD type, const void* data, DWORD size) {
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0, KEY_WRITE,
                                               nullptr, key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size));
}

void StoreTextSetting(const char* name, const std::string& text) {
    StoreRawSetting(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void PumpFor(DWORD ms) {
    const ULONGLONG deadline = ::GetTickCount64() + ms;
    do {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(1);
    } while (::GetTickCount64() < deadline);
}

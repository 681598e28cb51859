#include "tests/reliability/reliability_support.h"

#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/capture_device_ids.h"
#include "capture/capture_settings.h"
#include "framework/com_util.h"
#include "module/module.h"
#include "tests/support/capture_graph.h"

using Microsoft::WRL::ComPtr;

namespace {

// GDI handles carry their table index in the low 16 bits.
constexpr uintptr_t kGdiHandleIndexLimit = 0x10000;
// Kernel handle values are multiples of 4; a test process stays far below
// this many.
constexpr uintptr_t kKernelHandleValueLimit = 0x20000;

long CensusGdiObjects() {
    // A handle that gives only the index is accepted for any live object.
    long count = 0;
    for (uintptr_t index = 1; index < kGdiHandleIndexLimit; ++index) {
        if (::GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0) {
            ++count;
        }
    }
    return count;
}

BOOL CALLBACK CountChildWindow(HWND, LPARAM counter) {
    ++*reinterpret_cast<long*>(counter);
    return TRUE;
}

BOOL CALLBACK CountProcessWindow(HWND window, LPARAM counter) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId()) {
        ++*reinterpret_cast<long*>(counter);
        ::EnumChildWindows(window, CountChildWindow, counter);
    }
    return TRUE;
}

long CensusUserObjects() {
    long count = 0;
    ::EnumWindows(CountProcessWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

long CensusKernelHandles() {
    long count = 0;
    for (uintptr_t value = 4; value < kKernelHandleValueLimit; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
        }
    }
    return count;
}

}  // namespace

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

ResourceCounts MeasureResources() {
    ResourceCounts counts;
    HANDLE process = ::GetCurrentProcess();
    const DWORD gdi = ::GetGuiResources(process, GR_GDIOBJECTS);
    const DWORD user = ::GetGuiResources(process, GR_USEROBJECTS);
    DWORD handles = 0;
    // A process that runs these tests always holds GDI objects (stock
    // objects, the test windows' DCs) and handles: zero means the platform
    // does not count.
    if (gdi != 0 && ::GetProcessHandleCount(process, &handles) && handles != 0) {
        counts.gdiObjects = static_cast<long>(gdi);
        counts.userObjects = static_cast<long>(user);
        counts.kernelHandles = static_cast<long>(handles);
        counts.source = "system counters";
        return counts;
    }
    counts.gdiObjects = CensusGdiObjects();
    counts.userObjects = CensusUserObjects();
    counts.kernelHandles = CensusKernelHandles();
    counts.source = "census";
    return counts;
}

long CountProcessThreads() {
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) {
        return -1;
    }
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    long count = 0;
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == self) {
            ++count;
        }
    }
    return count;
}

std::string Describe(const ResourceCounts& counts) {
    char text[160];
    std::snprintf(text, sizeof(text), "GDI %ld, USER %ld, handles %ld (%s)", counts.gdiObjects,
                  counts.userObjects, counts.kernelHandles, counts.source);
    return text;
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

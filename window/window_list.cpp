#include "window/window_list.h"

#include <dwmapi.h>

#include <new>

#include "window/dpi_awareness.h"
#include "settings/settings_values.h"
#include "window/window_search.h"
#include "framework/com_util.h"

namespace {

// Titles longer than a setting holds are listed cut, as they are stored.
constexpr int kTitleCapacity = static_cast<int>(kWindowTitleCapacity);
// The longest class name the system keeps, terminator included.
constexpr int kClassCapacity = static_cast<int>(kWindowClassCapacity);

// Whether the system keeps the window out of sight although it is
// "visible": Windows 8 and later cloak the frames of suspended store
// applications and windows of other virtual desktops. Where the system
// cannot say (Windows 7, Wine), nothing is cloaked.
bool IsCloaked(HWND window) {
    DWORD cloaked = 0;
    return SUCCEEDED(::DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof(cloaked))) && cloaked != 0;
}

bool IsChoosable(HWND window, HWND excluded) {
    if (!::IsWindowVisible(window)) {
        return false;
    }
    if (excluded != nullptr && (window == excluded || ::GetWindow(window, GW_OWNER) == excluded)) {
        return false;
    }
    const LONG_PTR exStyle = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
    if ((exStyle & WS_EX_TOOLWINDOW) != 0) {
        return false;
    }
    // The system's copy of the title: never a message to the window.
    wchar_t first[2] = {};
    if (::InternalGetWindowText(window, first, 2) <= 0) {
        return false;
    }
    return !IsCloaked(window);
}

std::wstring ProgramOf(HWND window) {
    wchar_t program[kWindowProgramCapacity] = {};
    return ProgramOfWindow(window, program, kWindowProgramCapacity) ? std::wstring(program) : std::wstring();
}

// Describes one window; false when it is gone. May throw std::bad_alloc.
bool Describe(HWND window, ListedWindow* entry) {
    entry->window = window;
    wchar_t title[kTitleCapacity] = {};
    const int titleLength = ::InternalGetWindowText(window, title, kTitleCapacity);
    entry->title.assign(title, titleLength > 0 ? static_cast<size_t>(titleLength) : 0);
    wchar_t className[kClassCapacity] = {};
    const int classLength = ::GetClassNameW(window, className, kClassCapacity);
    if (classLength <= 0) {
        return false;
    }
    entry->className.assign(className, static_cast<size_t>(classLength));
    entry->program = ProgramOf(window);
    {
        // The size the device will capture, whatever the lister's awareness.
        CPerMonitorDpiScope dpi;
        RECT client = {};
        if (!::GetClientRect(window, &client)) {
            return false;
        }
        entry->client = {client.right - client.left, client.bottom - client.top};
    }
    return true;
}

struct Listing {
    HWND excluded;
    std::vector<ListedWindow>* windows;
    bool outOfMemory;
};

BOOL CALLBACK ListOne(HWND window, LPARAM parameter) {
    auto* listing = reinterpret_cast<Listing*>(parameter);
    if (!IsChoosable(window, listing->excluded)) {
        return TRUE;
    }
    try {
        ListedWindow described;
        // A window that closes meanwhile is simply not listed.
        if (Describe(window, &described)) {
            listing->windows->push_back(std::move(described));
        }
    } catch (const std::bad_alloc&) {
        listing->outOfMemory = true;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HRESULT ListCaptureWindows(HWND excluded, std::vector<ListedWindow>* windows) {
    RETURN_HR_IF_NULL(E_POINTER, windows);
    std::vector<ListedWindow> found;
    Listing listing = {excluded, &found, false};
    ::EnumWindows(&ListOne, reinterpret_cast<LPARAM>(&listing));
    RETURN_HR_IF(E_OUTOFMEMORY, listing.outOfMemory);
    windows->swap(found);
    return S_OK;
}


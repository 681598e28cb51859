#include "tools/camera_app/tray_icon.h"

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tools/camera_app/logon_entry.h"

namespace qmcamera {

namespace {

constexpr wchar_t kWindowClass[] = L"QMCamera::TrayWindow";
constexpr UINT kIconMessage = WM_APP + 1;
constexpr UINT kIconId = 1;
// "ログオン時に開始" (start at logon).
constexpr wchar_t kStartAtLogonText[] = L"\u30ED\u30B0\u30AA\u30F3\u6642\u306B\u958B\u59CB";

// Whether the user's logon entry starts this program; no when it cannot
// be read.
bool StartsAtLogon() {
    const CLogonEntry entry(CLogonEntry::RunningProgram());
    CLogonEntry::State state = CLogonEntry::State::Absent;
    return SUCCEEDED(entry.Query(&state)) && state == CLogonEntry::State::ThisProgram;
}

// qmsettings.exe beside the running program.
std::wstring SettingsProgram() {
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring program(path, length < MAX_PATH * 2 ? length : 0);
    const size_t slash = program.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : program.substr(0, slash + 1) + L"qmsettings.exe";
}

NOTIFYICONDATAW IconData(HWND window) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = kIconId;
    return data;
}

}  // namespace

CTrayIcon::~CTrayIcon() {
    if (m_added) {
        NOTIFYICONDATAW data = IconData(m_window);
        ::Shell_NotifyIconW(NIM_DELETE, &data);
    }
    if (m_window != nullptr) {
        ::DestroyWindow(m_window);
    }
}

bool CTrayIcon::Create(HANDLE quit) {
    m_quit = quit;
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &CTrayIcon::WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    // A second icon of the same process finds the class registered.
    if (::RegisterClassW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
    }
    m_window = ::CreateWindowExW(0, kWindowClass, L"QM Capture cameras", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                 instance, this);
    if (m_window == nullptr) {
        return false;
    }
    // Explorer restarted: the icon is added again.
    m_taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
    NOTIFYICONDATAW data = IconData(m_window);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kIconMessage;
    data.hIcon = ::LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
    std::wcsncpy(data.szTip, L"QM Capture Device: Windows cameras", ARRAYSIZE(data.szTip) - 1);
    m_added = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    return true;
}

void CTrayIcon::RunUntil(HANDLE quit) {
    for (;;) {
        const DWORD woke = ::MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) {
            return;
        }
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

HMENU CTrayIcon::MakeMenu() {
    const HMENU menu = ::CreatePopupMenu();
    if (menu == nullptr) {
        return nullptr;
    }
    ::AppendMenuW(menu, MF_STRING, kCommandSettings, L"QM Capture Settings...");
    ::AppendMenuW(menu, MF_STRING | (StartsAtLogon() ? MF_CHECKED : MF_UNCHECKED), kCommandStartAtLogon,
                  kStartAtLogonText);
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, kCommandQuit, L"Remove the cameras and quit");
    return menu;
}

void CTrayIcon::ShowMenu() {
    const HMENU menu = MakeMenu();
    if (menu == nullptr) {
        return;
    }
    POINT at{};
    ::GetCursorPos(&at);
    // The menu closes when the user clicks elsewhere only if the window is
    // in the foreground.
    ::SetForegroundWindow(m_window);
    ::TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, m_window, nullptr);
    ::PostMessageW(m_window, WM_NULL, 0, 0);
    ::DestroyMenu(menu);
}

void CTrayIcon::OpenSettings() {
    const std::wstring program = SettingsProgram();
    if (!program.empty()) {
        ::ShellExecuteW(nullptr, L"open", program.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    }
}

void CTrayIcon::ToggleStartAtLogon() {
    const CLogonEntry entry(CLogonEntry::RunningProgram());
    CLogonEntry::State state = CLogonEntry::State::Absent;
    HRESULT changed = entry.Query(&state);
    if (SUCCEEDED(changed)) {
        changed = state == CLogonEntry::State::ThisProgram ? CLogonEntry::Remove() : entry.Add();
    }
    if (FAILED(changed) && m_added) {
        // A balloon from the icon, not a message box: nothing waits for
        // the user to close it.
        NOTIFYICONDATAW data = IconData(m_window);
        data.uFlags = NIF_INFO;
        data.dwInfoFlags = NIIF_ERROR;
        std::wcsncpy(data.szInfoTitle, L"QM Capture Device", ARRAYSIZE(data.szInfoTitle) - 1);
        std::swprintf(data.szInfo, ARRAYSIZE(data.szInfo),
                      L"The logon entry \"%ls\" could not be changed (error 0x%08lX).", CLogonEntry::kValueName,
                      static_cast<unsigned long>(changed));
        ::Shell_NotifyIconW(NIM_MODIFY, &data);
    }
}

LRESULT CALLBACK CTrayIcon::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<CTrayIcon*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
        if (message == kIconMessage && (LOWORD(lParam) == WM_RBUTTONUP || LOWORD(lParam) == WM_CONTEXTMENU ||
                                        LOWORD(lParam) == WM_LBUTTONUP)) {
            self->ShowMenu();
            return 0;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == kCommandSettings) {
            self->OpenSettings();
            return 0;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == kCommandStartAtLogon) {
            self->ToggleStartAtLogon();
            return 0;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == kCommandQuit) {
            ::SetEvent(self->m_quit);
            return 0;
        }
        if (self->m_taskbarCreated != 0 && message == self->m_taskbarCreated) {
            NOTIFYICONDATAW data = IconData(window);
            data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
            data.uCallbackMessage = kIconMessage;
            data.hIcon = ::LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
            std::wcsncpy(data.szTip, L"QM Capture Device: Windows cameras", ARRAYSIZE(data.szTip) - 1);
            self->m_added = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
            return 0;
        }
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace qmcamera

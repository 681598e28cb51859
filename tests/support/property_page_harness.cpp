#include "tests/support/property_page_harness.h"

#include <string>

namespace qmtest {

namespace {

constexpr wchar_t kHostClassName[] = L"QMPageTestHost";

HRESULT LastError() {
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

}  // namespace

RecordingPageSite::RecordingPageSite() : CUnknown(L"RecordingPageSite", nullptr) {}

HRESULT STDMETHODCALLTYPE RecordingPageSite::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IPropertyPageSite)) {
        return GetInterface(static_cast<IPropertyPageSite*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE RecordingPageSite::OnStatusChange(DWORD flags) {
    m_statusChanges.push_back(flags);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordingPageSite::GetLocaleID(LCID* locale) {
    if (locale == nullptr) {
        return E_POINTER;
    }
    *locale = MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), SORT_DEFAULT);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordingPageSite::GetPageContainer(IUnknown** container) {
    if (container == nullptr) {
        return E_POINTER;
    }
    *container = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE RecordingPageSite::TranslateAccelerator(MSG*) {
    return E_NOTIMPL;
}

int RecordingPageSite::DirtyReports() const {
    int count = 0;
    for (DWORD flags : m_statusChanges) {
        if ((flags & PROPPAGESTATUS_DIRTY) != 0) {
            ++count;
        }
    }
    return count;
}

namespace {

HWND SharedHostWindow() {
    static HWND window = [] {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kHostClassName;
        ::RegisterClassExW(&wc);
        HWND created = ::CreateWindowExW(WS_EX_CONTROLPARENT, kHostClassName, L"Page host",
                                         WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 40, 40, 480, 320, nullptr,
                                         nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (created != nullptr) {
            ::ShowWindow(created, SW_SHOW);
            ::SetForegroundWindow(created);
        }
        return created;
    }();
    return window;
}

void DestroyChildren(HWND window) {
    while (HWND child = ::GetWindow(window, GW_CHILD)) {
        if (!::DestroyWindow(child)) {
            break;
        }
    }
}

}  // namespace

PageHostWindow::PageHostWindow() : m_window(SharedHostWindow()) {
    if (m_window != nullptr) {
        DestroyChildren(m_window);
        PumpMessages();
    }
}

PageHostWindow::~PageHostWindow() {
    if (m_window != nullptr) {
        DestroyChildren(m_window);
        PumpMessages();
    }
}

HWND PageHostWindow::PageWindow() const {
    return ::GetWindow(m_window, GW_CHILD);
}

int PageHostWindow::ChildCount() const {
    int count = 0;
    for (HWND child = ::GetWindow(m_window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        ++count;
    }
    return count;
}

HRESULT SelectComboItem(HWND dialog, int id, int item) {
    HWND combo = ::GetDlgItem(dialog, id);
    if (combo == nullptr) {
        return LastError();
    }
    const LRESULT result = ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    if (item >= 0 && result != item) {
        return E_INVALIDARG;
    }
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    PumpMessages();
    return S_OK;
}

HRESULT ClickButton(HWND dialog, int id) {
    HWND button = ::GetDlgItem(dialog, id);
    if (button == nullptr) {
        return LastError();
    }
    ::SendMessageW(button, BM_CLICK, 0, 0);
    PumpMessages();
    return S_OK;
}

HRESULT TypeText(HWND dialog, int id, const wchar_t* text) {
    HWND edit = ::GetDlgItem(dialog, id);
    if (edit == nullptr) {
        return LastError();
    }
    if (!::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text))) {
        return E_FAIL;
    }
    PumpMessages();
    return S_OK;
}

std::wstring ControlText(HWND dialog, int id) {
    HWND control = ::GetDlgItem(dialog, id);
    if (control == nullptr) {
        return L"<no control>";
    }
    const int length = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(control, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied));
    return text;
}

bool IsButtonChecked(HWND dialog, int id) {
    return ::SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

HRESULT MeasureDialogResource(HINSTANCE instance, int dialogId, int widthDlu, int heightDlu, SIZE* size) {
    if (size == nullptr) {
        return E_POINTER;
    }
    // Parented like a page, without disturbing a page that may be on the host.
    HWND dialog =
        ::CreateDialogParamW(instance, MAKEINTRESOURCEW(dialogId), SharedHostWindow(), PlainDialogProc, 0);
    if (dialog == nullptr) {
        return LastError();
    }
    RECT rect = {0, 0, widthDlu, heightDlu};
    const BOOL mapped = ::MapDialogRect(dialog, &rect);
    ::DestroyWindow(dialog);
    if (!mapped) {
        return LastError();
    }
    size->cx = rect.right - rect.left;
    size->cy = rect.bottom - rect.top;
    return S_OK;
}

}  // namespace qmtest

#include "framework/base_property_page.h"

#include <cstring>
#include <cwchar>

#include "framework/com_util.h"
#include "framework/module_instance.h"

namespace {

// Size reported when the dialog cannot be measured, in pixels.
constexpr SIZE kDefaultPageSize = {340, 150};
// Capacity of the title loaded from the string table, terminator included.
constexpr int kTitleCapacity = 256;
// A text without a terminator within this many characters is refused.
constexpr size_t kMaxWideStringLength = 50000;

CBasePropertyPage* PageOfWindow(HWND window) {
    return reinterpret_cast<CBasePropertyPage*>(::GetWindowLongPtrW(window, DWLP_USER));
}

}  // namespace

CBasePropertyPage::CBasePropertyPage(LPCWSTR objectName, IUnknown* outer, int dialogId, int titleId)
    : CUnknown(objectName, outer), m_TitleId(titleId), m_DialogId(dialogId) {}

CBasePropertyPage::~CBasePropertyPage() {
    // Only reached with a live window when the page is deleted without its
    // final release: the window must not keep pointing at a freed page.
    if (m_hwnd != nullptr) {
        ::SetWindowLongPtrW(m_hwnd, DWLP_USER, 0);
        ::DestroyWindow(m_hwnd);
        m_hwnd = nullptr;
    }
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    if (IsEqualIID(riid, IID_IPropertyPage)) {
        return GetInterface(static_cast<IPropertyPage*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingAddRef() {
    const LONG count = ++m_cRef;
    return static_cast<ULONG>(count > 1 ? count : 1);
}

ULONG STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingRelease() {
    const LONG count = --m_cRef;
    if (count == 0) {
        // The count of 1 keeps references taken while tearing down (by the
        // hooks below) from starting a second destruction.
        m_cRef = 1;
        // A frame that drops the page while it is still shown would leave
        // the dialog routing messages to a freed page.
        if (m_hwnd != nullptr) {
            Deactivate();
        }
        SetPageSite(nullptr);
        SetObjects(0, nullptr);
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count > 1 ? count : 1);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetPageSite(IPropertyPageSite* site) {
    if (site != nullptr) {
        RETURN_HR_IF(E_UNEXPECTED, m_pPageSite != nullptr);
        m_pPageSite = site;
    } else {
        RETURN_HR_IF(E_UNEXPECTED, m_pPageSite == nullptr);
        m_pPageSite.Reset();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    if (count == 1) {
        RETURN_HR_IF(E_POINTER, objects == nullptr || objects[0] == nullptr);
        // Set before the hook runs and kept if it fails: the frame still
        // holds an object for this page, whether or not the page can use it.
        m_bObjectSet = TRUE;
        return OnConnect(objects[0]);
    }
    if (count == 0) {
        m_bObjectSet = FALSE;
        return OnDisconnect();
    }
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Activate(HWND parent, LPCRECT rect, BOOL /*modal*/) {
    RETURN_HR_IF_NULL(E_POINTER, rect);
    RETURN_HR_IF(E_UNEXPECTED, !m_bObjectSet || m_hwnd != nullptr);

    // The dialog's creation messages arrive before m_hwnd is set; the page
    // sees them with m_Dlg only.
    m_hwnd = ::CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(m_DialogId), parent, DialogProc,
                                  reinterpret_cast<LPARAM>(this));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, m_hwnd);

    OnActivate();
    Move(rect);
    return Show(SW_SHOWNORMAL);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Deactivate() {
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_hwnd);

    // The page window keeps WS_EX_CONTROLPARENT while active (see
    // OnReceiveMessage). It is dropped before the window goes, so that the
    // dialog manager, moving the focus away from the dying window, does not
    // search for the next control inside it. m_hwnd is cleared meanwhile so
    // that OnReceiveMessage lets this one style change through.
    const HWND window = m_hwnd;
    const LONG exStyle = ::GetWindowLongW(window, GWL_EXSTYLE);
    m_hwnd = nullptr;
    ::SetWindowLongW(window, GWL_EXSTYLE, exStyle & ~WS_EX_CONTROLPARENT);
    m_hwnd = window;

    OnDeactivate();

    ::DestroyWindow(window);
    m_hwnd = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::GetPageInfo(PROPPAGEINFO* pageInfo) {
    RETURN_HR_IF_NULL(E_POINTER, pageInfo);

    WCHAR title[kTitleCapacity] = {};
    if (::LoadStringW(ModuleInstance(), static_cast<UINT>(m_TitleId), title, kTitleCapacity) <= 0) {
        title[0] = L'\0';
    }
    LPWSTR titleCopy = nullptr;
    RETURN_IF_FAILED(AMGetWideString(title, &titleCopy));

    SIZE size = kDefaultPageSize;
    GetDialogSize(m_DialogId, DialogProc, 0, &size);

    pageInfo->cb = sizeof(PROPPAGEINFO);
    pageInfo->pszTitle = titleCopy;
    pageInfo->size = size;
    pageInfo->pszDocString = nullptr;
    pageInfo->pszHelpFile = nullptr;
    pageInfo->dwHelpContext = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Show(UINT command) {
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_hwnd);
    RETURN_HR_IF(E_INVALIDARG, command != SW_HIDE && command != SW_SHOWNORMAL && command != SW_SHOW);
    ::ShowWindow(m_hwnd, static_cast<int>(command));
    ::InvalidateRect(m_hwnd, nullptr, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Move(LPCRECT rect) {
    RETURN_HR_IF_NULL(E_POINTER, rect);
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_hwnd);
    ::MoveWindow(m_hwnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::IsPageDirty() {
    return m_bDirty ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Apply() {
    // The page need not be active: a frame may apply a page it has already
    // deactivated.
    RETURN_HR_IF(E_UNEXPECTED, !m_bObjectSet || m_pPageSite == nullptr);
    if (!m_bDirty) {
        return S_OK;
    }
    const HRESULT hr = OnApplyChanges();
    if (SUCCEEDED(hr)) {
        m_bDirty = FALSE;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Help(LPCOLESTR /*helpDir*/) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::TranslateAccelerator(MSG* /*msg*/) {
    return E_NOTIMPL;
}

HRESULT CBasePropertyPage::OnConnect(IUnknown* /*object*/) {
    return S_OK;
}

HRESULT CBasePropertyPage::OnDisconnect() {
    return S_OK;
}

HRESULT CBasePropertyPage::OnActivate() {
    return S_OK;
}

HRESULT CBasePropertyPage::OnDeactivate() {
    return S_OK;
}

HRESULT CBasePropertyPage::OnApplyChanges() {
    return S_OK;
}

INT_PTR CBasePropertyPage::OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Inactive covers the dialog's creation messages and the style change
    // made by Deactivate.
    if (m_hwnd == nullptr) {
        return 0;
    }
    if (message == WM_STYLECHANGING && static_cast<int>(wParam) == GWL_EXSTYLE) {
        // Whatever the frame does to the extended style, the page stays a
        // control parent while active, so that tabbing reaches its controls.
        auto* style = reinterpret_cast<STYLESTRUCT*>(lParam);
        if (style != nullptr) {
            style->styleNew |= WS_EX_CONTROLPARENT;
        }
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

INT_PTR CALLBACK CBasePropertyPage::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        // The creation parameter: the page, or null for a dialog created
        // only to be measured.
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* page = reinterpret_cast<CBasePropertyPage*>(lParam);
        if (page == nullptr) {
            return TRUE;
        }
        page->m_Dlg = window;
    }
    CBasePropertyPage* page = PageOfWindow(window);
    if (page == nullptr) {
        return TRUE;
    }
    return page->OnReceiveMessage(window, message, wParam, lParam);
}

BOOL WINAPI GetDialogSize(int dialogId, DLGPROC dialogProc, LPARAM param, SIZE* size) {
    if (size == nullptr) {
        return FALSE;
    }
    UniqueWindow dialog(
        ::CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(dialogId), ::GetDesktopWindow(), dialogProc, param));
    if (!dialog) {
        return FALSE;
    }
    RECT rect = {};
    if (!::GetWindowRect(dialog.get(), &rect)) {
        return FALSE;
    }
    size->cx = rect.right - rect.left;
    size->cy = rect.bottom - rect.top;
    return TRUE;
}

HRESULT WINAPI AMGetWideString(LPCWSTR text, LPWSTR* copy) {
    RETURN_HR_IF_NULL(E_POINTER, copy);
    *copy = nullptr;
    RETURN_HR_IF_NULL(E_INVALIDARG, text);
    const size_t length = ::wcsnlen(text, kMaxWideStringLength);
    RETURN_HR_IF(E_INVALIDARG, length == kMaxWideStringLength);

    const size_t bytes = (length + 1) * sizeof(WCHAR);
    auto* buffer = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, buffer);
    ::memcpy(buffer, text, bytes);
    *copy = buffer;
    return S_OK;
}

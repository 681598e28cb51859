// What a property frame provides to a page, for driving pages in tests the
// way a frame does: a page site that records the page's status reports, a
// real top-level window to parent the page, and real control messages.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "framework/unknown.h"
#include "tests/support/message_pump.h"

namespace qmtest {

// The frame's site for one page. Records every OnStatusChange.
class RecordingPageSite : public CUnknown, public IPropertyPageSite {
public:
    RecordingPageSite();

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* locale) override;
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown** container) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* msg) override;

    const std::vector<DWORD>& statusChanges() const { return m_statusChanges; }
    // How many of the reports carried PROPPAGESTATUS_DIRTY.
    int DirtyReports() const;
    void ClearStatusChanges() { m_statusChanges.clear(); }
    LONG RefCount() const { return m_cRef.load(); }

private:
    std::vector<DWORD> m_statusChanges;
};

// A plain visible top-level window that plays the frame's page area. All
// hosts of a program share one window, created on first use and kept: under
// Wine without a window manager, hiding or destroying a visible top-level
// window waits about 2 s for the X server. Each host destroys the child
// windows left on it when it goes, so a test uses one host at a time.
class PageHostWindow {
public:
    PageHostWindow();
    ~PageHostWindow();
    PageHostWindow(const PageHostWindow&) = delete;
    PageHostWindow& operator=(const PageHostWindow&) = delete;

    HWND get() const { return m_window; }
    // The page's dialog: the host's only child window, or null.
    HWND PageWindow() const;
    int ChildCount() const;

private:
    HWND m_window = nullptr;
};

// Selects a combo box item as a user does: the selection changes, then the
// dialog hears CBN_SELCHANGE. item -1 clears the selection.
HRESULT SelectComboItem(HWND dialog, int id, int item);
// Clicks a button with BM_CLICK (mouse down and up on the control).
HRESULT ClickButton(HWND dialog, int id);
// Replaces an edit box's text with WM_SETTEXT; the edit box itself then
// notifies the dialog with EN_CHANGE.
HRESULT TypeText(HWND dialog, int id, const wchar_t* text);

// The text of a control as wide characters.
std::wstring ControlText(HWND dialog, int id);
bool IsButtonChecked(HWND dialog, int id);

// The pixel size of a dialog resource, measured through the dialog manager's
// own dialog-unit conversion on a dialog created from that resource.
HRESULT MeasureDialogResource(HINSTANCE instance, int dialogId, int widthDlu, int heightDlu, SIZE* size);

}  // namespace qmtest

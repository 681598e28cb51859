// CBasePropertyPage: IPropertyPage for a page whose content is a dialog
// resource of the module. A concrete page overrides the six hooks; the
// framework runs the page's life cycle under a property frame, routes the
// dialog's messages to the page and keeps the dirty flag.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <wrl/client.h>

#include "framework/unknown.h"

class CBasePropertyPage : public IPropertyPage, public CUnknown {
public:
    CBasePropertyPage(LPCWSTR objectName, IUnknown* outer, int dialogId, int titleId);
    ~CBasePropertyPage() override;

    DECLARE_IUNKNOWN

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // IPropertyPage
    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* pageInfo) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT command) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpDir) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* msg) override;

    // Hooks for the concrete page.
    // The object being edited is attached; called by SetObjects with one.
    virtual HRESULT OnConnect(IUnknown* object);
    // The object is detached; called by SetObjects with none.
    virtual HRESULT OnDisconnect();
    // The dialog was just created; fill its controls.
    virtual HRESULT OnActivate();
    // The dialog is about to be destroyed.
    virtual HRESULT OnDeactivate();
    // Apply while dirty; write the edits to the object.
    virtual HRESULT OnApplyChanges();
    // Every message of the dialog; the result is the dialog procedure's.
    // An override passes every message on to this one.
    virtual INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // The dialog procedure of every page dialog. It finds the page through
    // the pointer stored in the dialog's DWLP_USER slot at WM_INITDIALOG.
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    // All members are used on the frame's user-interface thread only.
    Microsoft::WRL::ComPtr<IPropertyPageSite> m_pPageSite;
    // The page window while active, null otherwise.
    HWND m_hwnd = nullptr;
    // The dialog as the dialog procedure saw it; valid from WM_INITDIALOG on,
    // before Activate has stored m_hwnd, and not cleared afterwards.
    HWND m_Dlg = nullptr;
    BOOL m_bDirty = FALSE;
    const int m_TitleId;
    const int m_DialogId;
    BOOL m_bObjectSet = FALSE;
};

// Measures the pixel size of a dialog resource of the module by creating it
// hidden under the desktop window. FALSE when the dialog cannot be created;
// the size is then left alone.
BOOL WINAPI GetDialogSize(int dialogId, DLGPROC dialogProc, LPARAM param, SIZE* size);

// Copies a NUL-terminated wide string of fewer than 50,000 characters into
// COM task memory; the caller frees the copy with CoTaskMemFree.
HRESULT WINAPI AMGetWideString(LPCWSTR text, LPWSTR* copy);

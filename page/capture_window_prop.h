// CCaptureWindowProp: the window page. It chooses what the camera shows: a
// window, a monitor or a region of the screen. For a window it lists the
// windows a user can capture, lets the user choose one (or type its title
// and class), a part of it (a crop) and how it is read (the capture
// method); for a monitor it lists the monitors; for a region it takes its
// rectangle. Controls that do not apply to the chosen kind are disabled.
// It shows a live thumbnail of what the device would show with the
// choices, framed and mirrored as the device will send it, says which rule
// of the search found the window, and sets how the picture is framed
// (stretch, fit or fill), whether it is mirrored and whether the pointer
// is drawn. Apply stores the choice for the current user through the
// settings' store functions; numbers that would not store (a region or a
// crop) are refused with a message, and then nothing is stored. A running
// device takes the choice over through its registry watch.
//
// Threads. Every hook and message runs on the frame's window thread. The
// thumbnail is read on a capture thread of the page's own with a short
// deadline, so that a window that stops answering (a print waits for the
// window's own thread) never holds up the page: the thumbnail then keeps
// its last picture.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "settings/camera_list.h"
#include "settings/capture_settings.h"
#include "produce/frame_preview.h"
#include "window/monitor_list.h"
#include "window/window_list.h"
#include "window/window_search.h"
#include "framework/base_property_page.h"
#include "framework/memory_dib.h"

class CCaptureWindowProp : public CBasePropertyPage {
public:
    // The thumbnail's size in pixels, and how often it is refreshed while
    // the page is shown.
    static constexpr int kThumbnailWidth = 160;
    static constexpr int kThumbnailHeight = 120;
    static constexpr UINT kThumbnailPeriodMs = 250;
    // The timer that refreshes the thumbnail (WM_TIMER's identifier).
    static constexpr UINT_PTR kThumbnailTimer = 1;

    // The creation function of the page's factory row. *phr is always S_OK;
    // a null result means the allocation failed.
    static CUnknown* WINAPI CreateInstance(IUnknown* outer, HRESULT* phr);

    explicit CCaptureWindowProp(IUnknown* outer);

    // The object must be the capture device (it offers
    // ICaptureDeviceSettings); anything else gets E_NOINTERFACE and a page
    // that stores nothing.
    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    // The thumbnail as last drawn: 24-bit top-down, kThumbnailWidth x
    // kThumbnailHeight, black, with the device's output frame (its current
    // size's proportions) fitted in the middle, the window's picture framed
    // and mirrored in it as the controls say. Empty while the page is not
    // active.
    const CMemoryDib& Thumbnail() const { return m_thumbnail; }
    // The listed windows, in list order.
    const std::vector<ListedWindow>& ListedWindows() const { return m_windows; }
    // The device names behind the monitor list's items, in item order; the
    // first item's is empty (the primary monitor, whichever it is).
    const std::vector<std::wstring>& MonitorChoices() const { return m_monitorChoices; }

private:
    // Capacity of the texts read from the edit boxes, terminator included:
    // what the settings hold.
    static constexpr int kEditTextCapacity = static_cast<int>(kWindowTitleCapacity);
    // Capacity of one number box of a rectangle (X, Y, width, height).
    static constexpr int kNumberTextCapacity = 16;
    // The four number boxes of a rectangle, as typed.
    using RectTexts = wchar_t[4][kNumberTextCapacity];

    // What the controls hold, as Apply needs it.
    struct Choice {
        SourceKind kind = kDefaultSourceKind;
        wchar_t title[kEditTextCapacity] = {};
        wchar_t windowClass[kEditTextCapacity] = {};
        wchar_t program[kWindowProgramCapacity] = {};
        bool classOnly = false;
        RectTexts crop = {};
        wchar_t monitor[kMonitorNameCapacity] = {};
        RectTexts region = {};
        CaptureMethod method = kDefaultCaptureMethod;
        CursorChoice cursor = CursorChoice::Default;
        ScaleMode scaleMode = kDefaultScaleMode;
        bool mirror = kDefaultMirror;
    };
    // A choice whose numbers were read: what Apply stores.
    struct CheckedChoice {
        StoredRect crop;
        StoredRect region;
    };

    void LoadStoredChoice();
    void SetupListColumns();
    // Lists the windows again; the entry that matches the fields stays
    // selected. Not an edit.
    void RefreshList();
    void SelectMatchingEntry();
    // Typed fields: the entry they name is selected, or none.
    void SyncListSelection();
    // The user chose list entry `index` (into m_windows).
    void ChooseEntry(size_t index);
    void ReadControls(Choice* choice) const;
    // The framing and mirror the controls say now.
    ScaleMode ChosenScaleMode() const;
    SourceKind ChosenKind() const;
    CaptureMethod ChosenMethod() const;
    // The pointer as Apply stores it: the stored choice (the kind's default
    // included) until the user clicks the box.
    CursorChoice ChosenCursor() const;
    // The device name of the chosen monitor item; empty for the primary.
    const wchar_t* ChosenMonitor() const;
    // Reads the numbers the choice's kind needs; false, with the message to
    // show and the box to correct, when they would not store.
    static bool CheckChoice(const Choice& choice, CheckedChoice* checked, UINT* messageId, int* fieldId);
    // Says why Apply stored nothing, and puts the caret on the box to fix.
    void ReportInvalidChoice(UINT messageId, int fieldId) const;
    HRESULT StoreChoice(const Choice& choice, const CheckedChoice& checked) const;
    // Lists the monitors again; the item of `deviceName` stays chosen (an
    // item of its own when that monitor is not there).
    void RefreshMonitors(const wchar_t* deviceName);
    // Enables the controls of the chosen kind and disables the others.
    void EnableKindControls();
    // The user chose another kind: the pointer box follows the kind's
    // default until the user clicks it.
    void KindChanged();
    void MarkDirty();
    // The fields changed: the thumbnail searches again with them.
    void UpdateSearch();
    void RefreshThumbnail();
    void ClearThumbnail();
    // The thumbnail's box for the device's output frame, its proportions
    // kept, in the middle of the thumbnail.
    RECT OutputBox() const;
    // Says which rule found the thumbnail's window.
    void ShowMatchRule(WindowMatchRule rule);
    void DrawThumbnailItem(const DRAWITEMSTRUCT& item) const;

    // The page is attached to the capture device.
    bool m_connected = false;
    // True while the page itself fills controls, whose notifications are
    // then not the user's edits.
    bool m_filling = false;
    // The entries behind the list's items (each item's lParam indexes it).
    std::vector<ListedWindow> m_windows;
    // The device names behind the monitor list's items.
    std::vector<std::wstring> m_monitorChoices;
    // The stored pointer choice, and whether the user clicked its box since
    // the page showed it.
    CursorChoice m_storedCursor = CursorChoice::Default;
    bool m_cursorClicked = false;
    // The capture thread could not start: the thumbnail reads by copy,
    // which never waits for the window.
    bool m_copyOnlyThumbnail = false;
    // The controls' values at Deactivate, for an Apply that comes after the
    // dialog is gone. Valid while m_hasPendingChoice.
    Choice m_pendingChoice;
    bool m_hasPendingChoice = false;

    // The program of the chosen window: the stored one, or that of the list
    // entry the fields name.
    wchar_t m_program[kWindowProgramCapacity] = {};
    // The thumbnail: what the controls name (the window found as the
    // device finds it, read by the chosen method; the monitor; the region),
    // scaled by the device's scaler into the device's output size (asked of
    // the device).
    wchar_t m_searchName[kWindowTitleCapacity] = {};
    wchar_t m_searchClass[kWindowClassCapacity] = {};
    Microsoft::WRL::ComPtr<ICaptureDeviceSettings> m_device;
    // The settings key of the camera the page edits.
    CameraSettingsPath m_settingsPath = SettingsPathOfCamera(1);
    static constexpr WindowMatchRule kNoRuleShown = static_cast<WindowMatchRule>(-1);
    // A monitor or a region: no rule is shown.
    static constexpr WindowMatchRule kScreenShown = static_cast<WindowMatchRule>(-2);
    WindowMatchRule m_shownRule = kNoRuleShown;
    // The thumbnail is made as the cameras make their frames (the same
    // frame source, framing and scaler), from the page's choices.
    CFramePreview m_preview;
    CMemoryDib m_thumbnail;
};

#include "page/capture_window_prop.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "page/camera_of_object.h"
#include "settings/capture_device_ids.h"
#include "settings/capture_device_settings.h"
#include "scaler/frame_geometry.h"
#include "framework/com_util.h"
#include "framework/module_instance.h"
#include "resources/resource.h"

namespace {

// The list's columns: "タイトル" (title), "クラス" (class), "プログラム"
// (program), "サイズ" (client size), with their shares of the list's
// width in percent.
struct ListColumn {
    const wchar_t* label;
    int percent;
};
constexpr ListColumn kListColumns[] = {
    {L"\u30BF\u30A4\u30C8\u30EB", 38},
    {L"\u30AF\u30E9\u30B9", 26},
    {L"\u30D7\u30ED\u30B0\u30E9\u30E0", 20},
    {L"\u30B5\u30A4\u30BA", 16},
};
enum ListColumnIndex { kTitleColumn, kClassColumn, kProgramColumn, kSizeColumn };
constexpr int kListColumnCount = static_cast<int>(sizeof(kListColumns) / sizeof(kListColumns[0]));

// A read of the thumbnail's window may hold up the page this long at most;
// a read that takes longer goes on on the page's capture thread and the
// thumbnail keeps its picture meanwhile.
constexpr DWORD kThumbnailReadDeadlineMs = 50;

// The capture methods, items 0..3 of their list in the order of their
// stored values: "自動" (auto), "コピー" (copy), "プリント" (print),
// "グラフィックス キャプチャ" (graphics capture).
constexpr const wchar_t* kCaptureMethodLabels[] = {
    L"\u81EA\u52D5",
    L"\u30B3\u30D4\u30FC",
    L"\u30D7\u30EA\u30F3\u30C8",
    L"\u30B0\u30E9\u30D5\u30A3\u30C3\u30AF\u30B9 \u30AD\u30E3\u30D7\u30C1\u30E3",
};
constexpr int kCaptureMethodCount = static_cast<int>(sizeof(kCaptureMethodLabels) / sizeof(kCaptureMethodLabels[0]));
static_assert(kCaptureMethodCount == static_cast<int>(CaptureMethod::Graphics) + 1, "one item per stored method");

// The monitor list's first item, "メイン モニター" (the primary monitor,
// whichever it is), the mark of the primary among the others, "(メイン)",
// and the mark of a stored monitor that is not there, "(見つかりません)".
constexpr wchar_t kPrimaryMonitorItem[] = L"\u30E1\u30A4\u30F3 \u30E2\u30CB\u30BF\u30FC";
constexpr wchar_t kPrimaryMark[] = L"(\u30E1\u30A4\u30F3)";
constexpr wchar_t kMissingMark[] = L"(\u898B\u3064\u304B\u308A\u307E\u305B\u3093)";

// The number boxes of the crop and of the region, in the order of a
// stored rectangle, with the hint each shows while empty: "X", "Y", "幅"
// (width), "高さ" (height).
constexpr int kCropFields[4] = {IDC_CROP_X, IDC_CROP_Y, IDC_CROP_WIDTH, IDC_CROP_HEIGHT};
constexpr int kRegionFields[4] = {IDC_REGION_X, IDC_REGION_Y, IDC_REGION_WIDTH, IDC_REGION_HEIGHT};
constexpr const wchar_t* kRectFieldHints[4] = {L"X", L"Y", L"\u5E45", L"\u9AD8\u3055"};

// The kinds' radio buttons, by the kind's value.
constexpr int kSourceKindButtons[] = {IDC_SOURCE_WINDOW, IDC_SOURCE_MONITOR, IDC_SOURCE_REGION};

// The controls only a window uses (the title box also follows the class
// only box). The refresh button lists the monitors too: it stays on.
constexpr int kWindowControls[] = {IDC_WINDOW_LIST, IDC_WINDOW_CLASS, IDC_CLASS_ONLY,  IDC_CROP_X,        IDC_CROP_Y,
                                   IDC_CROP_WIDTH,  IDC_CROP_HEIGHT,  IDC_CAPTURE_METHOD};

bool IsChecked(HWND dialog, int id) {
    return ::SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void SetChecked(HWND dialog, int id, bool checked) {
    ::SendDlgItemMessageW(dialog, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void SetItemText(HWND list, int item, int column, const wchar_t* text) {
    LVITEMW cell = {};
    cell.iSubItem = column;
    cell.pszText = const_cast<wchar_t*>(text);
    ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&cell));
}

void EnableControl(HWND dialog, int id, bool enabled) {
    ::EnableWindow(::GetDlgItem(dialog, id), enabled ? TRUE : FALSE);
}

// Capacity of one number box's text, terminator included.
constexpr int kRectTextCapacity = 16;

// Four number boxes as one stored rectangle, by the rule the settings read
// it with. All four empty is the empty rectangle, which only a crop may
// be; anything but digits, signs and spaces, a box left empty among
// filled ones, or numbers out of bounds are refused.
bool ParseRectTexts(const wchar_t (&texts)[4][kRectTextCapacity], bool emptyAllowed, StoredRect* rect) {
    *rect = StoredRect{};
    std::string joined;
    bool allEmpty = true;
    for (int i = 0; i < 4; ++i) {
        for (const wchar_t* c = texts[i]; *c != L'\0'; ++c) {
            const bool digit = *c >= L'0' && *c <= L'9';
            if (!digit && *c != L'-' && *c != L'+' && *c != L' ') {
                return false;
            }
            allEmpty = allEmpty && *c == L' ';
            joined.push_back(static_cast<char>(*c));
        }
        if (i < 3) {
            joined.push_back(',');
        }
    }
    if (allEmpty) {
        return emptyAllowed;
    }
    *rect = ParseStoredRect(joined.c_str());
    return !rect->Empty();
}

void ShowRectTexts(HWND dialog, const int (&fields)[4], const StoredRect& rect) {
    const int values[4] = {rect.x, rect.y, rect.width, rect.height};
    for (int i = 0; i < 4; ++i) {
        wchar_t text[kRectTextCapacity] = {};
        if (!rect.Empty()) {
            std::swprintf(text, kRectTextCapacity, L"%d", values[i]);
        }
        ::SetDlgItemTextW(dialog, fields[i], text);
    }
}

void ReadRectTexts(HWND dialog, const int (&fields)[4], wchar_t (&texts)[4][kRectTextCapacity]) {
    for (int i = 0; i < 4; ++i) {
        ::GetDlgItemTextW(dialog, fields[i], texts[i], kRectTextCapacity);
        texts[i][kRectTextCapacity - 1] = L'\0';
    }
}

}  // namespace

CUnknown* WINAPI CCaptureWindowProp::CreateInstance(IUnknown* outer, HRESULT* phr) {
    auto* page = new (std::nothrow) CCaptureWindowProp(outer);
    if (phr != nullptr) {
        *phr = S_OK;
    }
    return page;
}

CCaptureWindowProp::CCaptureWindowProp(IUnknown* outer)
    : CBasePropertyPage(kCaptureWindowPropName, outer, IDD_CAPTURE_WINDOW_PROP, IDS_CAPTURE_WINDOW_PROP_TITLE) {
    // The dialog's list is a common control: its class must be registered
    // before the frame measures or creates the dialog.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    static_assert(kNumberTextCapacity == kRectTextCapacity, "the number boxes' texts are read into RectTexts");
}

HRESULT CCaptureWindowProp::OnConnect(IUnknown* object) {
    RETURN_HR_IF_NULL(E_POINTER, object);
    m_connected = false;
    m_hasPendingChoice = false;
    // The page stores per-user settings and needs nothing of the device
    // itself; it only makes sure that it edits a capture device.
    RETURN_IF_FAILED(object->QueryInterface(IID_ICaptureDeviceSettings,
                                            reinterpret_cast<void**>(m_device.ReleaseAndGetAddressOf())));
    // The settings are those of the camera the object belongs to.
    m_settingsPath = SettingsPathOfCamera(CameraOfObject(object));
    m_connected = true;
    return S_OK;
}

HRESULT CCaptureWindowProp::OnDisconnect() {
    m_connected = false;
    m_device.Reset();
    m_hasPendingChoice = false;
    return S_OK;
}

HRESULT CCaptureWindowProp::OnActivate() {
    if (!m_connected || m_hwnd == nullptr) {
        return S_OK;
    }
    // The stored values replace edits kept from an earlier activation.
    m_hasPendingChoice = false;
    // No rule shown yet: the first refresh shows one.
    m_shownRule = kNoRuleShown;
    SetupListColumns();
    for (int i = 0; i < 4; ++i) {
        // Hints in the empty number boxes (where the edit control has them).
        ::SendDlgItemMessageW(m_hwnd, kCropFields[i], EM_SETCUEBANNER, FALSE,
                              reinterpret_cast<LPARAM>(kRectFieldHints[i]));
        ::SendDlgItemMessageW(m_hwnd, kRegionFields[i], EM_SETCUEBANNER, FALSE,
                              reinterpret_cast<LPARAM>(kRectFieldHints[i]));
    }
    ::SendDlgItemMessageW(m_hwnd, IDC_CAPTURE_METHOD, CB_RESETCONTENT, 0, 0);
    for (const wchar_t* label : kCaptureMethodLabels) {
        ::SendDlgItemMessageW(m_hwnd, IDC_CAPTURE_METHOD, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
    }
    LoadStoredChoice();
    RefreshList();

    // The thumbnail has its size in pixels, whatever the dialog's units.
    ::SetWindowPos(::GetDlgItem(m_hwnd, IDC_THUMBNAIL), nullptr, 0, 0, kThumbnailWidth, kThumbnailHeight,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (m_thumbnail.Create(kThumbnailWidth, kThumbnailHeight, 24, /*topDown=*/true)) {
        ClearThumbnail();
    }
    // Without its own thread the capture reads on this one, which a print
    // of a hung window would stop: then only the copy is used.
    m_copyOnlyThumbnail = FAILED(m_preview.Start());
    RefreshThumbnail();
    ::SetTimer(m_hwnd, kThumbnailTimer, kThumbnailPeriodMs, nullptr);
    return S_OK;
}

HRESULT CCaptureWindowProp::OnDeactivate() {
    if (m_hwnd != nullptr) {
        ::KillTimer(m_hwnd, kThumbnailTimer);
    }
    // A read still waiting for a hung window is left to end by itself.
    m_preview.Stop();
    m_thumbnail.Reset();
    // A frame may apply a page after deactivating it; the dialog is gone by
    // then, so its values are kept now.
    if (m_connected && m_hwnd != nullptr && ::IsWindow(m_hwnd)) {
        ReadControls(&m_pendingChoice);
        m_hasPendingChoice = true;
    }
    return S_OK;
}

HRESULT CCaptureWindowProp::OnApplyChanges() {
    if (!m_connected) {
        return S_OK;
    }
    Choice choice;
    if (m_hwnd != nullptr) {
        ReadControls(&choice);
    } else if (m_hasPendingChoice) {
        choice = m_pendingChoice;
    } else {
        return S_OK;
    }
    // Numbers that would not store refuse the whole choice: nothing is
    // written, the page stays dirty and the user is told what to fix.
    CheckedChoice checked;
    UINT messageId = 0;
    int fieldId = 0;
    if (!CheckChoice(choice, &checked, &messageId, &fieldId)) {
        ReportInvalidChoice(messageId, fieldId);
        return E_INVALIDARG;
    }
    // A failed write leaves the page dirty, so that Apply can be tried again.
    RETURN_IF_FAILED(StoreChoice(choice, checked));
    m_hasPendingChoice = false;
    return S_OK;
}

INT_PTR CCaptureWindowProp::OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR handled = FALSE;
    if (m_hwnd != nullptr) {
        switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const UINT code = HIWORD(wParam);
            if (id == IDC_REFRESH_WINDOWS && code == BN_CLICKED) {
                RefreshList();
                RefreshMonitors(ChosenMonitor());
            } else if ((id == IDC_SOURCE_WINDOW || id == IDC_SOURCE_MONITOR || id == IDC_SOURCE_REGION) &&
                       code == BN_CLICKED) {
                KindChanged();
                MarkDirty();
                RefreshThumbnail();
            } else if (id == IDC_SHOW_CURSOR && code == BN_CLICKED) {
                m_cursorClicked = true;
                MarkDirty();
                RefreshThumbnail();
            } else if ((id == IDC_MONITOR_LIST || id == IDC_CAPTURE_METHOD) && code == CBN_SELCHANGE &&
                       !m_filling) {
                MarkDirty();
                RefreshThumbnail();
            } else if (id >= IDC_CROP_X && id <= IDC_REGION_HEIGHT && id != IDC_MONITOR_LIST && code == EN_CHANGE &&
                       !m_filling) {
                MarkDirty();
                RefreshThumbnail();
            } else if ((id == IDC_WINDOW_TITLE || id == IDC_WINDOW_CLASS) && code == EN_CHANGE && !m_filling) {
                UpdateSearch();
                SyncListSelection();
                MarkDirty();
            } else if (id == IDC_CLASS_ONLY && code == BN_CLICKED) {
                ::EnableWindow(::GetDlgItem(m_hwnd, IDC_WINDOW_TITLE), !IsChecked(m_hwnd, IDC_CLASS_ONLY));
                UpdateSearch();
                SyncListSelection();
                MarkDirty();
            } else if ((id == IDC_SCALE_STRETCH || id == IDC_SCALE_FIT || id == IDC_SCALE_FILL || id == IDC_MIRROR) &&
                       code == BN_CLICKED) {
                MarkDirty();
                RefreshThumbnail();
            }
            break;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header != nullptr && header->idFrom == IDC_WINDOW_LIST && header->code == LVN_ITEMCHANGED &&
                !m_filling) {
                const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
                const bool selected = (change->uNewState & LVIS_SELECTED) != 0 &&
                                      (change->uOldState & LVIS_SELECTED) == 0;
                if ((change->uChanged & LVIF_STATE) != 0 && selected && change->lParam >= 0 &&
                    static_cast<size_t>(change->lParam) < m_windows.size()) {
                    ChooseEntry(static_cast<size_t>(change->lParam));
                }
            }
            break;
        }
        case WM_TIMER:
            if (wParam == kThumbnailTimer) {
                RefreshThumbnail();
                handled = TRUE;
            }
            break;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (wParam == IDC_THUMBNAIL && item != nullptr) {
                DrawThumbnailItem(*item);
                handled = TRUE;
            }
            break;
        }
        default:
            break;
        }
    }
    const INT_PTR result = CBasePropertyPage::OnReceiveMessage(window, message, wParam, lParam);
    return handled ? handled : result;
}

void CCaptureWindowProp::LoadStoredChoice() {
    // Values as the device reads them: anything malformed is already its
    // default here.
    CCaptureSettings stored(m_settingsPath.text);
    const CCaptureSettings::Snapshot snapshot = stored.GetSnapshot();

    const bool classOnly = snapshot.windowName[0] == L'\0';
    CopyWideText(m_program, snapshot.windowProgram, kWindowProgramCapacity);

    m_filling = true;
    ::SetDlgItemTextW(m_hwnd, IDC_WINDOW_TITLE, snapshot.windowName);
    ::SetDlgItemTextW(m_hwnd, IDC_WINDOW_CLASS, snapshot.windowClass);
    ShowRectTexts(m_hwnd, kCropFields, snapshot.cropRect);
    ShowRectTexts(m_hwnd, kRegionFields, snapshot.sourceRegion);
    ::SendDlgItemMessageW(m_hwnd, IDC_CAPTURE_METHOD, CB_SETCURSEL,
                          static_cast<WPARAM>(snapshot.captureMethod), 0);
    m_filling = false;
    RefreshMonitors(snapshot.sourceMonitor);
    SetChecked(m_hwnd, IDC_CLASS_ONLY, classOnly);
    ::CheckRadioButton(m_hwnd, IDC_SOURCE_WINDOW, IDC_SOURCE_REGION,
                       kSourceKindButtons[static_cast<int>(snapshot.sourceKind)]);
    ::CheckRadioButton(m_hwnd, IDC_SCALE_STRETCH, IDC_SCALE_FILL,
                       IDC_SCALE_STRETCH + static_cast<int>(snapshot.scaleMode));
    SetChecked(m_hwnd, IDC_MIRROR, snapshot.mirror);
    m_storedCursor = snapshot.showCursor;
    m_cursorClicked = false;
    SetChecked(m_hwnd, IDC_SHOW_CURSOR, ShowsCursor(m_storedCursor, snapshot.sourceKind));
    EnableKindControls();
    UpdateSearch();
}

void CCaptureWindowProp::RefreshMonitors(const wchar_t* deviceName) {
    const std::wstring keep = deviceName != nullptr ? deviceName : L"";
    const std::vector<MonitorInfo> monitors = ListMonitors();
    const HWND list = ::GetDlgItem(m_hwnd, IDC_MONITOR_LIST);
    m_filling = true;
    ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
    m_monitorChoices.clear();
    m_monitorChoices.emplace_back();
    ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kPrimaryMonitorItem));
    int chosen = 0;
    for (const MonitorInfo& monitor : monitors) {
        // "\\.\DISPLAY2  1920x1080 (メイン)"
        wchar_t item[96] = {};
        std::swprintf(item, 96, L"%ls  %ldx%ld%ls%ls", monitor.deviceName,
                      static_cast<long>(monitor.rect.right - monitor.rect.left),
                      static_cast<long>(monitor.rect.bottom - monitor.rect.top), monitor.primary ? L" " : L"",
                      monitor.primary ? kPrimaryMark : L"");
        if (!keep.empty() && keep == monitor.deviceName) {
            chosen = static_cast<int>(m_monitorChoices.size());
        }
        m_monitorChoices.emplace_back(monitor.deviceName);
        ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    if (!keep.empty() && chosen == 0) {
        // A stored monitor that is not there now keeps its name, so that
        // an Apply does not change it; the device shows the primary until
        // it is back.
        const std::wstring item = keep + L" " + kMissingMark;
        chosen = static_cast<int>(m_monitorChoices.size());
        m_monitorChoices.push_back(keep);
        ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
    ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
    m_filling = false;
}

void CCaptureWindowProp::EnableKindControls() {
    const SourceKind kind = ChosenKind();
    const bool window = kind == SourceKind::Window;
    for (const int id : kWindowControls) {
        EnableControl(m_hwnd, id, window);
    }
    EnableControl(m_hwnd, IDC_WINDOW_TITLE, window && !IsChecked(m_hwnd, IDC_CLASS_ONLY));
    EnableControl(m_hwnd, IDC_MONITOR_LIST, kind == SourceKind::Monitor);
    for (const int id : kRegionFields) {
        EnableControl(m_hwnd, id, kind == SourceKind::Region);
    }
}

void CCaptureWindowProp::KindChanged() {
    EnableKindControls();
    if (!m_cursorClicked) {
        SetChecked(m_hwnd, IDC_SHOW_CURSOR, ShowsCursor(m_storedCursor, ChosenKind()));
    }
    UpdateSearch();
}

void CCaptureWindowProp::SetupListColumns() {
    const HWND list = ::GetDlgItem(m_hwnd, IDC_WINDOW_LIST);
    ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    RECT client = {};
    ::GetClientRect(list, &client);
    const int width = client.right - client.left - ::GetSystemMetrics(SM_CXVSCROLL);
    for (int i = 0; i < kListColumnCount; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(kListColumns[i].label);
        column.cx = width * kListColumns[i].percent / 100;
        column.iSubItem = i;
        ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
}

void CCaptureWindowProp::RefreshList() {
    std::vector<ListedWindow> windows;
    // The frame that shows this page is no window to capture.
    if (FAILED(ListCaptureWindows(::GetAncestor(m_hwnd, GA_ROOT), &windows))) {
        windows.clear();
    }
    const HWND list = ::GetDlgItem(m_hwnd, IDC_WINDOW_LIST);
    m_filling = true;
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    m_windows.swap(windows);
    for (size_t i = 0; i < m_windows.size(); ++i) {
        const ListedWindow& entry = m_windows[i];
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = static_cast<int>(i);
        item.pszText = const_cast<wchar_t*>(entry.title.c_str());
        item.lParam = static_cast<LPARAM>(i);
        const int inserted =
            static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (inserted < 0) {
            continue;
        }
        SetItemText(list, inserted, kClassColumn, entry.className.c_str());
        SetItemText(list, inserted, kProgramColumn, entry.program.c_str());
        wchar_t size[32] = {};
        std::swprintf(size, 32, L"%ldx%ld", static_cast<long>(entry.client.cx), static_cast<long>(entry.client.cy));
        SetItemText(list, inserted, kSizeColumn, size);
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    SelectMatchingEntry();
    m_filling = false;
    ::InvalidateRect(list, nullptr, TRUE);
}

void CCaptureWindowProp::SelectMatchingEntry() {
    wchar_t title[kEditTextCapacity] = {};
    wchar_t windowClass[kEditTextCapacity] = {};
    ::GetDlgItemTextW(m_hwnd, IDC_WINDOW_TITLE, title, kEditTextCapacity);
    ::GetDlgItemTextW(m_hwnd, IDC_WINDOW_CLASS, windowClass, kEditTextCapacity);
    const bool anyTitle = IsChecked(m_hwnd, IDC_CLASS_ONLY) || title[0] == L'\0';
    const HWND list = ::GetDlgItem(m_hwnd, IDC_WINDOW_LIST);
    for (size_t i = 0; i < m_windows.size(); ++i) {
        const ListedWindow& entry = m_windows[i];
        if (entry.className == windowClass && (anyTitle || entry.title == title)) {
            CopyWideText(m_program, entry.program.c_str(), kWindowProgramCapacity);
            LVITEMW state = {};
            state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            state.state = LVIS_SELECTED | LVIS_FOCUSED;
            ::SendMessageW(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
            ::SendMessageW(list, LVM_ENSUREVISIBLE, i, FALSE);
            return;
        }
    }
}

void CCaptureWindowProp::SyncListSelection() {
    m_filling = true;
    LVITEMW none = {};
    none.stateMask = LVIS_SELECTED;
    // Item -1: every item.
    ::SendDlgItemMessageW(m_hwnd, IDC_WINDOW_LIST, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                          reinterpret_cast<LPARAM>(&none));
    SelectMatchingEntry();
    m_filling = false;
}

void CCaptureWindowProp::ChooseEntry(size_t index) {
    // The entry as it was listed: a window that has closed since still
    // names its title and class, which the device finds once a window of
    // that name is there again.
    const ListedWindow& entry = m_windows[index];
    CopyWideText(m_program, entry.program.c_str(), kWindowProgramCapacity);
    m_filling = true;
    ::SetDlgItemTextW(m_hwnd, IDC_WINDOW_TITLE, entry.title.c_str());
    ::SetDlgItemTextW(m_hwnd, IDC_WINDOW_CLASS, entry.className.c_str());
    m_filling = false;
    UpdateSearch();
    MarkDirty();
}

void CCaptureWindowProp::ReadControls(Choice* choice) const {
    *choice = Choice{};
    // Both reads stop at the buffer's end and always terminate.
    ::GetDlgItemTextW(m_hwnd, IDC_WINDOW_TITLE, choice->title, kEditTextCapacity);
    ::GetDlgItemTextW(m_hwnd, IDC_WINDOW_CLASS, choice->windowClass, kEditTextCapacity);
    choice->title[kEditTextCapacity - 1] = L'\0';
    choice->windowClass[kEditTextCapacity - 1] = L'\0';
    CopyWideText(choice->program, m_program, kWindowProgramCapacity);
    choice->kind = ChosenKind();
    choice->classOnly = IsChecked(m_hwnd, IDC_CLASS_ONLY);
    ReadRectTexts(m_hwnd, kCropFields, choice->crop);
    CopyWideText(choice->monitor, ChosenMonitor(), kMonitorNameCapacity);
    ReadRectTexts(m_hwnd, kRegionFields, choice->region);
    choice->method = ChosenMethod();
    choice->cursor = ChosenCursor();
    choice->scaleMode = ChosenScaleMode();
    choice->mirror = IsChecked(m_hwnd, IDC_MIRROR);
}

SourceKind CCaptureWindowProp::ChosenKind() const {
    if (IsChecked(m_hwnd, IDC_SOURCE_MONITOR)) {
        return SourceKind::Monitor;
    }
    if (IsChecked(m_hwnd, IDC_SOURCE_REGION)) {
        return SourceKind::Region;
    }
    return SourceKind::Window;
}

CaptureMethod CCaptureWindowProp::ChosenMethod() const {
    const LRESULT item = ::SendDlgItemMessageW(m_hwnd, IDC_CAPTURE_METHOD, CB_GETCURSEL, 0, 0);
    return item >= 0 && item < kCaptureMethodCount ? static_cast<CaptureMethod>(item) : kDefaultCaptureMethod;
}

CursorChoice CCaptureWindowProp::ChosenCursor() const {
    if (!m_cursorClicked) {
        return m_storedCursor;
    }
    return IsChecked(m_hwnd, IDC_SHOW_CURSOR) ? CursorChoice::On : CursorChoice::Off;
}

const wchar_t* CCaptureWindowProp::ChosenMonitor() const {
    const LRESULT item = ::SendDlgItemMessageW(m_hwnd, IDC_MONITOR_LIST, CB_GETCURSEL, 0, 0);
    if (item < 0 || static_cast<size_t>(item) >= m_monitorChoices.size()) {
        return L"";
    }
    return m_monitorChoices[static_cast<size_t>(item)].c_str();
}

bool CCaptureWindowProp::CheckChoice(const Choice& choice, CheckedChoice* checked, UINT* messageId, int* fieldId) {
    *checked = CheckedChoice{};
    // Only the kind's own numbers count: the boxes of another kind are
    // disabled and stored by nothing.
    if (choice.kind == SourceKind::Window && !ParseRectTexts(choice.crop, /*emptyAllowed=*/true, &checked->crop)) {
        *messageId = IDS_INVALID_CROP;
        *fieldId = IDC_CROP_X;
        return false;
    }
    if (choice.kind == SourceKind::Region &&
        !ParseRectTexts(choice.region, /*emptyAllowed=*/false, &checked->region)) {
        *messageId = IDS_INVALID_REGION;
        *fieldId = IDC_REGION_X;
        return false;
    }
    return true;
}

void CCaptureWindowProp::ReportInvalidChoice(UINT messageId, int fieldId) const {
    wchar_t text[256] = {};
    wchar_t caption[64] = {};
    if (::LoadStringW(ModuleInstance(), messageId, text, 256) <= 0 ||
        ::LoadStringW(ModuleInstance(), IDS_CAPTURE_WINDOW_PROP_TITLE, caption, 64) <= 0) {
        return;
    }
    // A page applied after its dialog is gone has no box to point at; the
    // message then stands alone.
    const HWND dialog = m_hwnd != nullptr && ::IsWindow(m_hwnd) ? m_hwnd : nullptr;
    // Owned by the frame, which it keeps from input while it shows.
    ::MessageBoxW(dialog != nullptr ? ::GetAncestor(dialog, GA_ROOT) : nullptr, text, caption, MB_OK | MB_ICONWARNING);
    if (dialog != nullptr) {
        const HWND field = ::GetDlgItem(dialog, fieldId);
        ::SetFocus(field);
        ::SendMessageW(field, EM_SETSEL, 0, -1);
    }
}

ScaleMode CCaptureWindowProp::ChosenScaleMode() const {
    if (IsChecked(m_hwnd, IDC_SCALE_FIT)) {
        return ScaleMode::Fit;
    }
    if (IsChecked(m_hwnd, IDC_SCALE_FILL)) {
        return ScaleMode::Fill;
    }
    return ScaleMode::Stretch;
}

HRESULT CCaptureWindowProp::StoreChoice(const Choice& choice, const CheckedChoice& checked) const {
    const char* key = m_settingsPath.text;
    // The window's values are kept whatever the kind, so that choosing the
    // window again finds it as it was; its crop and method are stored only
    // with a window, whose boxes alone are enabled.
    // An empty title stands for any window of the class.
    bool stored =
        StoreWindowChoice(choice.classOnly ? L"" : choice.title, choice.windowClass, choice.program, key);
    switch (choice.kind) {
    case SourceKind::Window:
        stored = StoreCropRect(checked.crop, key) && stored;
        stored = StoreCaptureMethod(choice.method, key) && stored;
        stored = StoreSourceWindow(key) && stored;
        break;
    case SourceKind::Monitor:
        stored = StoreSourceMonitor(choice.monitor, key) && stored;
        break;
    case SourceKind::Region:
        stored = StoreSourceRegion(checked.region, key) && stored;
        break;
    }
    stored = StoreShowCursor(choice.cursor, key) && stored;
    stored = StoreScaleMode(choice.scaleMode, key) && stored;
    stored = StoreMirror(choice.mirror, key) && stored;
    return stored ? S_OK : E_FAIL;
}

void CCaptureWindowProp::MarkDirty() {
    m_bDirty = TRUE;
    if (m_pPageSite != nullptr) {
        m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
    }
}

void CCaptureWindowProp::UpdateSearch() {
    // The texts as Apply would store them, so that the thumbnail shows the
    // window the device will find.
    m_searchName[0] = L'\0';
    if (!IsChecked(m_hwnd, IDC_CLASS_ONLY)) {
        ::GetDlgItemTextW(m_hwnd, IDC_WINDOW_TITLE, m_searchName, static_cast<int>(kWindowTitleCapacity));
    }
    ::GetDlgItemTextW(m_hwnd, IDC_WINDOW_CLASS, m_searchClass, static_cast<int>(kWindowClassCapacity));
    m_preview.Forget();
}

void CCaptureWindowProp::RefreshThumbnail() {
    if (m_hwnd == nullptr || !m_thumbnail || !::IsWindowVisible(m_hwnd)) {
        return;
    }
    // The window's picture as the device frames it, in the box of the
    // device's output frame; black around the box.
    const RECT box = OutputBox();
    const int boxWidth = box.right - box.left;
    const int boxHeight = box.bottom - box.top;
    FrameTarget target;
    target.width = boxWidth;
    target.height = boxHeight;
    target.planes[0].stride = m_thumbnail.DownStride();
    target.planes[0].top = m_thumbnail.TopRow() + box.top * target.planes[0].stride + box.left * 3;
    CCaptureSettings::Values choice;
    choice.sourceKind = ChosenKind();
    CopyWideText(choice.windowClass, m_searchClass, kWindowClassCapacity);
    CopyWideText(choice.windowName, m_searchName, kWindowTitleCapacity);
    CopyWideText(choice.windowProgram, m_program, kWindowProgramCapacity);
    CopyWideText(choice.sourceMonitor, ChosenMonitor(), kMonitorNameCapacity);
    // Numbers that would not store show what the device would show without
    // them: the whole window, or no region (black).
    RectTexts texts = {};
    ReadRectTexts(m_hwnd, kCropFields, texts);
    if (!ParseRectTexts(texts, /*emptyAllowed=*/true, &choice.cropRect)) {
        choice.cropRect = StoredRect{};
    }
    ReadRectTexts(m_hwnd, kRegionFields, texts);
    if (!ParseRectTexts(texts, /*emptyAllowed=*/false, &choice.sourceRegion)) {
        choice.sourceRegion = StoredRect{};
    }
    choice.captureMethod = m_copyOnlyThumbnail ? CaptureMethod::Copy : ChosenMethod();
    // The box shows what the device does for the kind.
    choice.showCursor = IsChecked(m_hwnd, IDC_SHOW_CURSOR) ? CursorChoice::On : CursorChoice::Off;
    choice.scaleMode = ChosenScaleMode();
    choice.mirror = IsChecked(m_hwnd, IDC_MIRROR);
    const CFramePreview::Outcome outcome = m_preview.Draw(choice, kThumbnailReadDeadlineMs, target);
    ShowMatchRule(choice.sourceKind == SourceKind::Window ? m_preview.CurrentRule() : kScreenShown);
    switch (outcome) {
    case CFramePreview::Outcome::Drawn:
        ClearAroundTarget(m_thumbnail.TopRow(), m_thumbnail.DownStride(), static_cast<size_t>(kThumbnailWidth) * 3,
                          kThumbnailHeight, box);
        break;
    case CFramePreview::Outcome::NoPicture:
        ClearThumbnail();
        break;
    case CFramePreview::Outcome::Unchanged:
        return;
    }
    ::InvalidateRect(::GetDlgItem(m_hwnd, IDC_THUMBNAIL), nullptr, FALSE);
}

void CCaptureWindowProp::ClearThumbnail() {
    if (m_thumbnail) {
        std::memset(m_thumbnail.Pixels(), 0, m_thumbnail.ImageSize());
    }
}

RECT CCaptureWindowProp::OutputBox() const {
    int size[2] = {0, 0};
    if (m_device == nullptr || FAILED(m_device->GetFrameSize(size)) || size[0] <= 0 || size[1] <= 0) {
        size[0] = kThumbnailWidth;
        size[1] = kThumbnailHeight;
    }
    return ComputeFrameGeometry(ScaleMode::Fit, false, size[0], size[1], kThumbnailWidth, kThumbnailHeight).target;
}

void CCaptureWindowProp::ShowMatchRule(WindowMatchRule rule) {
    if (rule == m_shownRule) {
        return;
    }
    m_shownRule = rule;
    if (rule == kScreenShown) {
        // A monitor or a region is not searched for.
        ::SetDlgItemTextW(m_hwnd, IDC_MATCH_RULE, L"");
        return;
    }
    UINT id = IDS_MATCH_NONE;
    switch (rule) {
    case WindowMatchRule::None:
        id = IDS_MATCH_NONE;
        break;
    case WindowMatchRule::ExactTitle:
        id = m_searchName[0] == L'\0' ? IDS_MATCH_CLASS : IDS_MATCH_TITLE;
        break;
    case WindowMatchRule::TitlePrefix:
        id = IDS_MATCH_TITLE_PREFIX;
        break;
    case WindowMatchRule::ClassAndProgram:
        id = IDS_MATCH_PROGRAM;
        break;
    case WindowMatchRule::ProgramOnly:
        id = IDS_MATCH_PROGRAM_ONLY;
        break;
    case WindowMatchRule::BuiltInClass:
        id = IDS_MATCH_BUILT_IN;
        break;
    }
    wchar_t text[64] = {};
    if (::LoadStringW(ModuleInstance(), id, text, 64) <= 0) {
        text[0] = L'\0';
    }
    ::SetDlgItemTextW(m_hwnd, IDC_MATCH_RULE, text);
}

void CCaptureWindowProp::DrawThumbnailItem(const DRAWITEMSTRUCT& item) const {
    const int width = item.rcItem.right - item.rcItem.left;
    const int height = item.rcItem.bottom - item.rcItem.top;
    if (!m_thumbnail) {
        ::FillRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        return;
    }
    ::BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, width, height, m_thumbnail.Dc(), 0, 0, SRCCOPY);
}

#include "page/capture_window_prop.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <new>

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
    if (FAILED(m_preview.Start())) {
        m_captureMethod = CaptureMethod::Copy;
    }
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
    // A failed write leaves the page dirty, so that Apply can be tried again.
    RETURN_IF_FAILED(StoreChoice(choice));
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
    CCaptureSettings stored(m_settingsPath.text);
    const CCaptureSettings::Snapshot snapshot = stored.GetSnapshot();
    m_captureMethod = snapshot.captureMethod;

    const bool classOnly = snapshot.windowName[0] == L'\0';
    CopyWideText(m_program, snapshot.windowProgram, kWindowProgramCapacity);

    m_filling = true;
    ::SetDlgItemTextW(m_hwnd, IDC_WINDOW_TITLE, snapshot.windowName);
    ::SetDlgItemTextW(m_hwnd, IDC_WINDOW_CLASS, snapshot.windowClass);
    m_filling = false;
    SetChecked(m_hwnd, IDC_CLASS_ONLY, classOnly);
    ::EnableWindow(::GetDlgItem(m_hwnd, IDC_WINDOW_TITLE), !classOnly);
    ::CheckRadioButton(m_hwnd, IDC_SCALE_STRETCH, IDC_SCALE_FILL,
                       IDC_SCALE_STRETCH + static_cast<int>(snapshot.scaleMode));
    SetChecked(m_hwnd, IDC_MIRROR, snapshot.mirror);
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
    choice->classOnly = IsChecked(m_hwnd, IDC_CLASS_ONLY);
    choice->scaleMode = ChosenScaleMode();
    choice->mirror = IsChecked(m_hwnd, IDC_MIRROR);
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

HRESULT CCaptureWindowProp::StoreChoice(const Choice& choice) const {
    // An empty title stands for any window of the class.
    const char* key = m_settingsPath.text;
    bool stored =
        StoreWindowChoice(choice.classOnly ? L"" : choice.title, choice.windowClass, choice.program, key);
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
    CopyWideText(choice.windowClass, m_searchClass, kWindowClassCapacity);
    CopyWideText(choice.windowName, m_searchName, kWindowTitleCapacity);
    CopyWideText(choice.windowProgram, m_program, kWindowProgramCapacity);
    choice.captureMethod = m_captureMethod;
    choice.scaleMode = ChosenScaleMode();
    choice.mirror = IsChecked(m_hwnd, IDC_MIRROR);
    const CFramePreview::Outcome outcome = m_preview.Draw(choice, kThumbnailReadDeadlineMs, target);
    ShowMatchRule(m_preview.CurrentRule());
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

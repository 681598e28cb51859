#include "page/capture_device_prop.h"

#include <cmath>
#include <commdlg.h>
#include <strmif.h>
#include <uuids.h>

#include <cwchar>
#include <new>

#include "settings/capture_device_ids.h"
#include "settings/frame_sizes.h"
#include "framework/com_util.h"
#include "framework/media_type.h"
#include "resources/resource.h"

namespace {

// The qualities, items 0..4 of the combo box: "標準", " 高 ", "最高", "HD",
// "フルHD", and the size index of each in portrait and in landscape. They go
// to the control as wide text, so that they read the same whatever the
// system's 8-bit code page.
struct QualityItem {
    const wchar_t* label;
    int portrait;
    int landscape;
};
constexpr QualityItem kQualities[] = {
    {L"\u6A19\u6E96", 0, 3},
    {L" \u9AD8 ", 1, 4},
    {L"\u6700\u9AD8", 2, 5},
    {L"HD", 6, 8},
    {L"\u30D5\u30EB" L"HD", 7, 9},
};
constexpr int kQualityCount = static_cast<int>(sizeof(kQualities) / sizeof(kQualities[0]));
static_assert(2 * kQualityCount == kFrameSizeTableCount, "each quality has one portrait and one landscape size");

constexpr double kMinFrameRate = 1.0;
constexpr double kMaxFrameRate = 60.0;
// Enough for any "%g" rendering of a double ("-1.79769e+308").
constexpr int kRateTextCapacity = 32;

int SizeIndexOf(int width, int height) {
    for (int i = 0; i < kFrameSizeTableCount; ++i) {
        if (FrameSizeTable[i].width == width && FrameSizeTable[i].height == height) {
            return i;
        }
    }
    return 0;
}

// The open dialog's filter: "画像 (*.png;*.jpg;*.jpeg;*.bmp)", the three
// formats the device reads.
constexpr wchar_t kStandbyImageFilter[] =
    L"\u753B\u50CF (*.png;*.jpg;*.jpeg;*.bmp)\0*.png;*.jpg;*.jpeg;*.bmp\0";

bool IsChecked(HWND dialog, int id) {
    return ::SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

}  // namespace

CUnknown* WINAPI CCaptureDeviceProp::CreateInstance(IUnknown* outer, HRESULT* phr) {
    auto* page = new (std::nothrow) CCaptureDeviceProp(outer);
    if (phr != nullptr) {
        *phr = S_OK;
    }
    return page;
}

CCaptureDeviceProp::CCaptureDeviceProp(IUnknown* outer)
    : CBasePropertyPage(kCaptureDevicePropName, outer, IDD_CAPTURE_DEVICE_PROP, IDS_CAPTURE_DEVICE_PROP_TITLE) {}

HRESULT CCaptureDeviceProp::OnConnect(IUnknown* object) {
    RETURN_HR_IF_NULL(E_POINTER, object);
    m_hasPendingEdits = false;
    m_pSettings3.Reset();
    m_pSettings2.Reset();
    m_pSettings.Reset();
    // The interface with the standby picture where the object has it, which
    // is the UTF-16 one as well; else the UTF-16 one, else the first one. A
    // failed query leaves all null.
    if (SUCCEEDED(object->QueryInterface(IID_ICaptureDeviceSettings3,
                                         reinterpret_cast<void**>(m_pSettings3.ReleaseAndGetAddressOf())))) {
        return S_OK;
    }
    if (SUCCEEDED(object->QueryInterface(IID_ICaptureDeviceSettings2,
                                         reinterpret_cast<void**>(m_pSettings2.ReleaseAndGetAddressOf())))) {
        return S_OK;
    }
    return object->QueryInterface(IID_ICaptureDeviceSettings,
                                  reinterpret_cast<void**>(m_pSettings.ReleaseAndGetAddressOf()));
}

HRESULT CCaptureDeviceProp::OnDisconnect() {
    m_pSettings3.Reset();
    m_pSettings2.Reset();
    m_pSettings.Reset();
    m_hasPendingEdits = false;
    return S_OK;
}

HRESULT CCaptureDeviceProp::OnActivate() {
    if (Settings() == nullptr || m_hwnd == nullptr) {
        return S_OK;
    }
    // Fresh values from the device replace edits kept from an earlier
    // activation.
    m_hasPendingEdits = false;

    int size[2] = {0, 0};
    Settings()->GetFrameSize(size);
    double rate = 0.0;
    Settings()->GetFrameRate(&rate);

    ::SendDlgItemMessageW(m_hwnd, IDC_QUALITY, CB_RESETCONTENT, 0, 0);
    for (const QualityItem& quality : kQualities) {
        ::SendDlgItemMessageW(m_hwnd, IDC_QUALITY, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(quality.label));
    }
    const int index = SizeIndexOf(size[0], size[1]);
    int item = 0;
    bool portrait = true;
    for (int q = 0; q < kQualityCount; ++q) {
        if (kQualities[q].portrait == index || kQualities[q].landscape == index) {
            item = q;
            portrait = kQualities[q].portrait == index;
        }
    }
    ::SendDlgItemMessageW(m_hwnd, IDC_QUALITY, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    ::SendDlgItemMessageW(m_hwnd, IDC_PORTRAIT, BM_SETCHECK, portrait ? BST_CHECKED : BST_UNCHECKED, 0);
    ::SendDlgItemMessageW(m_hwnd, IDC_LANDSCAPE, BM_SETCHECK, portrait ? BST_UNCHECKED : BST_CHECKED, 0);

    wchar_t title[kEditTextCapacity] = {};
    ReadTitleText(title);
    ::SetDlgItemTextW(m_hwnd, IDC_TITLE_TEXT, title);

    // The path, or nothing where the object has no standby picture (its
    // buttons then do nothing).
    wchar_t standbyImage[kStandbyImageCapacity] = {};
    if (m_pSettings3 == nullptr || FAILED(m_pSettings3->GetStandbyImage(standbyImage, kStandbyImageCapacity))) {
        standbyImage[0] = L'\0';
    }
    ::SetDlgItemTextW(m_hwnd, IDC_STANDBY_IMAGE, standbyImage);
    ::EnableWindow(::GetDlgItem(m_hwnd, IDC_STANDBY_IMAGE_BROWSE), m_pSettings3 != nullptr);
    ::EnableWindow(::GetDlgItem(m_hwnd, IDC_STANDBY_IMAGE_CLEAR), m_pSettings3 != nullptr);

    ShowOutputFormat();

    // Setting a non-empty text makes the edit box report a change, so the
    // page turns dirty here and tells its site at once.
    wchar_t rateText[kRateTextCapacity] = {};
    std::swprintf(rateText, kRateTextCapacity, L"%g", rate);
    ::SetDlgItemTextW(m_hwnd, IDC_FRAME_RATE, rateText);
    return S_OK;
}

void CCaptureDeviceProp::ShowOutputFormat() {
    // The format the host chose (or the stored one, before it chose): the
    // host sets it, so the page only shows it.
    const wchar_t* name = L"-";
    Microsoft::WRL::ComPtr<IAMStreamConfig> config;
    AM_MEDIA_TYPE* type = nullptr;
    if (Settings() != nullptr &&
        SUCCEEDED(Settings()->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(config.GetAddressOf()))) &&
        SUCCEEDED(config->GetFormat(&type)) && type != nullptr) {
        name = FormatNameOf(type->subtype);
        DeleteMediaType(type);
    }
    ::SetDlgItemTextW(m_hwnd, IDC_OUTPUT_FORMAT, name);
}

const wchar_t* CCaptureDeviceProp::FormatNameOf(const GUID& subtype) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) {
        return L"RGB24";
    }
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) {
        return L"RGB32";
    }
    // The FOURCC formats: the code is the subtype's first field.
    switch (subtype.Data1) {
    case MAKEFOURCC('N', 'V', '1', '2'):
        return L"NV12";
    case MAKEFOURCC('Y', 'U', 'Y', '2'):
        return L"YUY2";
    case MAKEFOURCC('I', '4', '2', '0'):
        return L"I420";
    default:
        return L"-";
    }
}

HRESULT CCaptureDeviceProp::OnDeactivate() {
    // A frame may apply a page after deactivating it (the user moved to
    // another tab, then pressed OK). The dialog is gone by then, so its
    // values are kept now. A window already destroyed with its parent has
    // nothing to give: then nothing is kept, and such an Apply writes nothing.
    if (Settings() != nullptr && m_hwnd != nullptr && ::IsWindow(m_hwnd)) {
        ReadControls(&m_pendingEdits);
        m_hasPendingEdits = true;
    }
    return S_OK;
}

HRESULT CCaptureDeviceProp::OnApplyChanges() {
    if (Settings() == nullptr) {
        return S_OK;
    }
    if (m_hwnd != nullptr) {
        Edits edits;
        ReadControls(&edits);
        WriteSettings(edits);
    } else if (m_hasPendingEdits) {
        WriteSettings(m_pendingEdits);
    } else {
        return S_OK;
    }
    m_hasPendingEdits = false;
    m_bDirty = FALSE;
    return S_OK;
}

INT_PTR CCaptureDeviceProp::OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        // Any notification of the five controls counts as an edit, focus
        // changes included.
        const int id = LOWORD(wParam);
        if (id >= IDC_QUALITY && id <= IDC_TITLE_TEXT) {
            MarkDirty();
        } else if (HIWORD(wParam) == BN_CLICKED && m_pSettings3 != nullptr && m_hwnd != nullptr) {
            // The path changes only through its buttons.
            if (id == IDC_STANDBY_IMAGE_BROWSE) {
                BrowseStandbyImage();
                return TRUE;
            }
            if (id == IDC_STANDBY_IMAGE_CLEAR) {
                ShowStandbyImage(L"");
                return TRUE;
            }
        }
    }
    return CBasePropertyPage::OnReceiveMessage(window, message, wParam, lParam);
}

void CCaptureDeviceProp::MarkDirty() {
    m_bDirty = TRUE;
    if (m_pPageSite != nullptr) {
        m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
    }
}

void CCaptureDeviceProp::ShowStandbyImage(const wchar_t* path) {
    ::SetDlgItemTextW(m_hwnd, IDC_STANDBY_IMAGE, path);
    MarkDirty();
}

void CCaptureDeviceProp::BrowseStandbyImage() {
    wchar_t path[kStandbyImageCapacity] = {};
    ::GetDlgItemTextW(m_hwnd, IDC_STANDBY_IMAGE, path, static_cast<int>(kStandbyImageCapacity));
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = m_hwnd;
    dialog.lpstrFilter = kStandbyImageFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = static_cast<DWORD>(kStandbyImageCapacity);
    // The host's current folder stays as it was.
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    // Cancelled, or a path that does not fit: the chosen path stays.
    if (::GetOpenFileNameW(&dialog)) {
        ShowStandbyImage(path);
    }
}

void CCaptureDeviceProp::ReadControls(Edits* edits) const {
    *edits = Edits{};
    edits->landscape = IsChecked(m_hwnd, IDC_LANDSCAPE) && !IsChecked(m_hwnd, IDC_PORTRAIT);
    const LRESULT item = ::SendDlgItemMessageW(m_hwnd, IDC_QUALITY, CB_GETCURSEL, 0, 0);
    edits->quality = (item >= 0 && item < kQualityCount) ? static_cast<int>(item) : -1;
    // Both reads stop at the buffer's end and always terminate, however long
    // the text in the control.
    ::GetDlgItemTextW(m_hwnd, IDC_FRAME_RATE, edits->rateText, kEditTextCapacity);
    ::GetDlgItemTextW(m_hwnd, IDC_TITLE_TEXT, edits->titleText, kEditTextCapacity);
    ::GetDlgItemTextW(m_hwnd, IDC_STANDBY_IMAGE, edits->standbyImage, static_cast<int>(kStandbyImageCapacity));
    edits->rateText[kEditTextCapacity - 1] = L'\0';
    edits->titleText[kEditTextCapacity - 1] = L'\0';
    edits->standbyImage[kStandbyImageCapacity - 1] = L'\0';
}

void CCaptureDeviceProp::WriteSettings(const Edits& edits) {
    // The current rate stands when the text holds no number.
    double rate = 0.0;
    Settings()->GetFrameRate(&rate);

    if (edits.quality >= 0 && edits.quality < kQualityCount) {
        const QualityItem& quality = kQualities[edits.quality];
        Settings()->SetSelectPixel(edits.landscape ? quality.landscape : quality.portrait);
    }

    double typed = 0.0;
    if (std::swscanf(edits.rateText, L"%lf", &typed) == 1 && !std::isnan(typed)) {
        rate = typed;
    }

    WriteTitleText(edits.titleText);
    if (m_pSettings3 != nullptr) {
        m_pSettings3->SetStandbyImage(edits.standbyImage);
    }

    // Written so that a rate that is not a number ends up at the minimum.
    if (!(rate >= kMinFrameRate)) {
        rate = kMinFrameRate;
    } else if (rate > kMaxFrameRate) {
        rate = kMaxFrameRate;
    }
    Settings()->SetFrameRate(rate);
}

void CCaptureDeviceProp::ReadTitleText(wchar_t (&title)[kEditTextCapacity]) const {
    title[0] = L'\0';
    if (Settings2() != nullptr && SUCCEEDED(Settings2()->GetTitleTextW(title, kEditTextCapacity))) {
        return;
    }
    // The 8-bit text is in the host's code page.
    char narrow[kEditTextCapacity] = {};
    Settings()->GetTitleText(narrow);
    narrow[kEditTextCapacity - 1] = '\0';
    if (::MultiByteToWideChar(CP_ACP, 0, narrow, -1, title, kEditTextCapacity) == 0) {
        title[0] = L'\0';
    }
}

void CCaptureDeviceProp::WriteTitleText(const wchar_t* title) {
    if (Settings2() != nullptr) {
        Settings2()->SetTitleTextW(title);
        return;
    }
    // Room for any code page's longest encoding of the edit box's text;
    // the device cuts it to what it stores.
    char narrow[kEditTextCapacity * 4] = {};
    if (::WideCharToMultiByte(CP_ACP, 0, title, -1, narrow, sizeof(narrow), nullptr, nullptr) == 0) {
        narrow[0] = '\0';
    }
    Settings()->SetTitleText(narrow);
}

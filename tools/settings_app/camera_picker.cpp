#include "tools/settings_app/camera_picker.h"

#include <string>

#include "settings/camera_list.h"
#include "tools/capture_client/camera_commands.h"
#include "tools/capture_client/capture_options.h"
#include "tools/settings_app/camera_picker_ids.h"

namespace qmsettings {

namespace {

using qmcapture::QuoteArgument;

constexpr wchar_t kCaption[] = L"QM Capture Settings";

// The name dialog's text: in before it opens, out after OK.
struct NameRequest {
    std::wstring name;
};

INT_PTR CALLBACK NameDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        const auto* request = reinterpret_cast<const NameRequest*>(lParam);
        ::SendDlgItemMessageW(dialog, IDC_CAMERA_NAME, EM_LIMITTEXT, kCameraNameCapacity - 1, 0);
        ::SetDlgItemTextW(dialog, IDC_CAMERA_NAME, request->name.c_str());
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            auto* request = reinterpret_cast<NameRequest*>(::GetWindowLongPtrW(dialog, DWLP_USER));
            wchar_t text[kCameraNameCapacity + 1] = {};
            ::GetDlgItemTextW(dialog, IDC_CAMERA_NAME, text, kCameraNameCapacity + 1);
            request->name = text;
            ::EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

// Asks for a name; false when cancelled.
bool AskName(HWND owner, std::wstring* name) {
    NameRequest request{*name};
    if (::DialogBoxParamW(reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(owner, GWLP_HINSTANCE)),
                          MAKEINTRESOURCEW(IDD_CAMERA_NAME), owner, &NameDialogProc,
                          reinterpret_cast<LPARAM>(&request)) != IDOK) {
        return false;
    }
    *name = request.name;
    return true;
}

// Runs one of qmcapture's camera commands; its messages show in a box
// when it fails.
void RunCommand(HWND dialog, qmcapture::CaptureAction action, const std::wstring& camera,
                const std::wstring& name) {
    qmcapture::CaptureOptions options;
    options.action = action;
    std::wstring commandLine;
    switch (action) {
    case qmcapture::CaptureAction::kAddCamera:
        options.cameraArgument = name;
        commandLine = L"--add-camera " + QuoteArgument(name);
        break;
    case qmcapture::CaptureAction::kRenameCamera:
        options.cameraArgument = camera;
        options.cameraNewName = name;
        commandLine = L"--rename-camera " + QuoteArgument(camera) + L" " + QuoteArgument(name);
        break;
    case qmcapture::CaptureAction::kRemoveCamera:
        options.cameraArgument = camera;
        commandLine = L"--remove-camera " + QuoteArgument(camera);
        break;
    case qmcapture::CaptureAction::kCapture:
    case qmcapture::CaptureAction::kListDevices:
    case qmcapture::CaptureAction::kListCapabilities:
    case qmcapture::CaptureAction::kShowProperties:
    case qmcapture::CaptureAction::kListWindows:
    case qmcapture::CaptureAction::kListMonitors:
    case qmcapture::CaptureAction::kStoreSettings:
    case qmcapture::CaptureAction::kListCameras:
    case qmcapture::CaptureAction::kCheck:
        return;
    }
    std::wstring output;
    std::wstring error;
    if (qmcapture::RunCameraCommand(options, commandLine, &output, &error) != 0 || !error.empty()) {
        ::MessageBoxW(dialog, error.empty() ? L"The camera list could not be changed." : error.c_str(), kCaption,
                      MB_OK | MB_ICONWARNING);
    }
}

void FillList(HWND dialog, int select) {
    const HWND list = ::GetDlgItem(dialog, IDC_CAMERA_LIST);
    ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (int camera = kFirstCamera; camera <= kMaxCameras; ++camera) {
        wchar_t name[kCameraNameCapacity] = {};
        if (CCameraList::GetName(camera, name, kCameraNameCapacity) != S_OK) {
            continue;
        }
        const std::wstring item = std::to_wstring(camera) + L": " + name;
        const LRESULT index = ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        if (index >= 0) {
            ::SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(index), camera);
            if (camera == select) {
                ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
            }
        }
    }
    if (::SendMessageW(list, LB_GETCURSEL, 0, 0) == LB_ERR) {
        ::SendMessageW(list, LB_SETCURSEL, 0, 0);
    }
}

int SelectedCamera(HWND dialog) {
    const HWND list = ::GetDlgItem(dialog, IDC_CAMERA_LIST);
    const LRESULT index = ::SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR) {
        return 0;
    }
    return static_cast<int>(::SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

// Camera 1 keeps its name and cannot go.
void UpdateButtons(HWND dialog) {
    const int camera = SelectedCamera(dialog);
    ::EnableWindow(::GetDlgItem(dialog, IDOK), camera != 0);
    ::EnableWindow(::GetDlgItem(dialog, IDC_CAMERA_RENAME), camera > kFirstCamera);
    ::EnableWindow(::GetDlgItem(dialog, IDC_CAMERA_REMOVE), camera > kFirstCamera);
}

INT_PTR CALLBACK PickerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        FillList(dialog, kFirstCamera);
        UpdateButtons(dialog);
        return TRUE;
    case WM_COMMAND: {
        const int camera = SelectedCamera(dialog);
        const std::wstring number = std::to_wstring(camera);
        switch (LOWORD(wParam)) {
        case IDOK:
            if (camera != 0) {
                ::EndDialog(dialog, camera);
            }
            return TRUE;
        case IDCANCEL:
            ::EndDialog(dialog, 0);
            return TRUE;
        case IDC_CAMERA_LIST:
            if (HIWORD(wParam) == LBN_DBLCLK && camera != 0) {
                ::EndDialog(dialog, camera);
            } else if (HIWORD(wParam) == LBN_SELCHANGE) {
                UpdateButtons(dialog);
            }
            return TRUE;
        case IDC_CAMERA_ADD: {
            std::wstring name;
            if (AskName(dialog, &name)) {
                RunCommand(dialog, qmcapture::CaptureAction::kAddCamera, L"", name);
                FillList(dialog, CCameraList::Find(name.c_str()));
                UpdateButtons(dialog);
            }
            return TRUE;
        }
        case IDC_CAMERA_RENAME: {
            wchar_t current[kCameraNameCapacity] = {};
            std::wstring name = CCameraList::GetName(camera, current, kCameraNameCapacity) == S_OK ? current : L"";
            if (camera > kFirstCamera && AskName(dialog, &name)) {
                RunCommand(dialog, qmcapture::CaptureAction::kRenameCamera, number, name);
                FillList(dialog, camera);
                UpdateButtons(dialog);
            }
            return TRUE;
        }
        case IDC_CAMERA_REMOVE:
            if (camera > kFirstCamera &&
                ::MessageBoxW(dialog, (L"Remove camera " + number + L" and its settings?").c_str(), kCaption,
                              MB_OKCANCEL | MB_ICONQUESTION) == IDOK) {
                RunCommand(dialog, qmcapture::CaptureAction::kRemoveCamera, number, L"");
                FillList(dialog, kFirstCamera);
                UpdateButtons(dialog);
            }
            return TRUE;
        default:
            break;
        }
        break;
    }
    default:
        break;
    }
    return FALSE;
}

}  // namespace

int ChooseCamera(HINSTANCE instance) {
    const INT_PTR chosen =
        ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_CAMERAS), nullptr, &PickerDialogProc, 0);
    return chosen > 0 ? static_cast<int>(chosen) : 0;
}

}  // namespace qmsettings

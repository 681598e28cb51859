// The settings pages as applications reach them: the registered module
// serves them through COM, the device names them through
// ISpecifyPropertyPages, and the pages made by the module edit the device
// made from its moniker.
#include <gtest/gtest.h>

#include <dshow.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "framework/com_util.h"
#include "resources/resource.h"
#include "tests/device/device_test_support.h"
#include "tests/support/property_page_harness.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

class DevicePropertyPageTest : public DeviceTest {};

std::wstring ClassKeyOf(REFCLSID clsid) {
    wchar_t text[CHARS_IN_GUID] = {};
    ::StringFromGUID2(clsid, text, CHARS_IN_GUID);
    return std::wstring(L"CLSID\\") + text;
}

std::wstring ReadClassString(const std::wstring& path, const wchar_t* value) {
    wchar_t data[1024] = {};
    DWORD bytes = sizeof(data) - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), value, RRF_RT_REG_SZ, nullptr, data, &bytes) !=
        ERROR_SUCCESS) {
        return L"<missing>";
    }
    return data;
}

// The pages an object names, in its order.
HRESULT PagesOf(IUnknown* object, std::vector<CLSID>* pages) {
    RETURN_HR_IF_NULL(E_POINTER, object);
    RETURN_HR_IF_NULL(E_POINTER, pages);
    ComPtr<ISpecifyPropertyPages> specify;
    RETURN_IF_FAILED(object->QueryInterface(IID_PPV_ARGS(&specify)));
    CAUUID named = {};
    RETURN_IF_FAILED(specify->GetPages(&named));
    const CoTaskMemPtr<GUID> ids(named.pElems);
    RETURN_HR_IF(E_UNEXPECTED, named.cElems > 0 && named.pElems == nullptr);
    pages->assign(named.pElems, named.pElems + named.cElems);
    return S_OK;
}

}  // namespace

TEST_F(DevicePropertyPageTest, PageClassesAreRegisteredBesideTheFilter) {
    const struct {
        const CLSID* clsid;
        const wchar_t* name;
    } pages[] = {{&CLSID_CaptureDeviceProp, kCaptureDevicePropName}, {&CLSID_CaptureWindowProp, kCaptureWindowPropName}};
    for (const auto& page : pages) {
        const std::wstring key = ClassKeyOf(*page.clsid);
        EXPECT_EQ(page.name, ReadClassString(key, nullptr));
        EXPECT_EQ(RegisteredModule::ModulePath(), ReadClassString(key + L"\\InprocServer32", nullptr));
        EXPECT_EQ(L"Both", ReadClassString(key + L"\\InprocServer32", L"ThreadingModel"));
    }
}

TEST_F(DevicePropertyPageTest, PageIsCreatableThroughCom) {
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_CaptureDeviceProp, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&page)));
    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, page->GetPageInfo(&info));
    CoTaskMemPtr<wchar_t> title(info.pszTitle);
    ASSERT_NE(nullptr, info.pszTitle);
    EXPECT_STREQ(L"QM Capture", info.pszTitle);
    EXPECT_EQ(nullptr, info.pszDocString);
    EXPECT_EQ(nullptr, info.pszHelpFile);

    // Measured from the module's own dialog, not the 340 x 150 default.
    HMODULE module = ::GetModuleHandleW(RegisteredModule::ModulePath().c_str());
    ASSERT_NE(nullptr, module) << "the page did not come from the registered module";
    SIZE expected = {};
    ASSERT_EQ(S_OK, MeasureDialogResource(module, IDD_CAPTURE_DEVICE_PROP, 171, 137, &expected));
    EXPECT_EQ(expected.cx, info.size.cx);
    EXPECT_EQ(expected.cy, info.size.cy);
}

TEST_F(DevicePropertyPageTest, WindowPageIsCreatableThroughCom) {
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_CaptureWindowProp, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&page)));
    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, page->GetPageInfo(&info));
    CoTaskMemPtr<wchar_t> title(info.pszTitle);
    ASSERT_NE(nullptr, info.pszTitle);
    // "ウィンドウ" (window).
    EXPECT_STREQ(L"\u30A6\u30A3\u30F3\u30C9\u30A6", info.pszTitle);
    HMODULE module = ::GetModuleHandleW(RegisteredModule::ModulePath().c_str());
    ASSERT_NE(nullptr, module) << "the page did not come from the registered module";
    SIZE expected = {};
    ASSERT_EQ(S_OK, MeasureDialogResource(module, IDD_CAPTURE_WINDOW_PROP, 266, 248, &expected));
    EXPECT_EQ(expected.cx, info.size.cx);
    EXPECT_EQ(expected.cy, info.size.cy);
}

TEST_F(DevicePropertyPageTest, FilterAndPinNameTheSettingsPageFirstAndTheWindowPageSecond) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateFromMoniker(&filter));
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, GetPin(filter.Get(), PINDIR_OUTPUT, &pin));
    for (IUnknown* object : {static_cast<IUnknown*>(filter.Get()), static_cast<IUnknown*>(pin.Get())}) {
        std::vector<CLSID> named;
        ASSERT_EQ(S_OK, PagesOf(object, &named));
        ASSERT_EQ(2u, named.size());
        EXPECT_TRUE(IsEqualCLSID(CLSID_CaptureDeviceProp, named[0]));
        EXPECT_TRUE(IsEqualCLSID(CLSID_CaptureWindowProp, named[1]));
        // What the device names, COM can make.
        for (const CLSID& clsid : named) {
            ComPtr<IPropertyPage> page;
            EXPECT_EQ(S_OK, ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&page)));
        }
    }
}

TEST_F(DevicePropertyPageTest, PageFromTheModuleEditsTheDevice) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateFromMoniker(&filter));
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_CaptureDeviceProp, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&page)));

    auto* site = new RecordingPageSite();
    ComPtr<IUnknown> siteRef;
    ASSERT_EQ(S_OK, site->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(siteRef.GetAddressOf())));
    PageHostWindow host;
    ASSERT_EQ(S_OK, page->SetPageSite(site));
    IUnknown* objects[] = {filter.Get()};
    ASSERT_EQ(S_OK, page->SetObjects(1, objects));
    const RECT rect = {8, 8, 8 + 360, 8 + 200};
    ASSERT_EQ(S_OK, page->Activate(host.get(), &rect, FALSE));
    PumpMessages();
    HWND dialog = host.PageWindow();
    ASSERT_NE(nullptr, dialog);
    // The default device: 204x360 is "標準", portrait, 30 frames per second.
    EXPECT_EQ(0, ::SendDlgItemMessageW(dialog, IDC_QUALITY, CB_GETCURSEL, 0, 0));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_PORTRAIT));
    EXPECT_EQ(L"30", ControlText(dialog, IDC_FRAME_RATE));

    site->ClearStatusChanges();
    ASSERT_EQ(S_OK, SelectComboItem(dialog, IDC_QUALITY, 1));
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_LANDSCAPE));
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_FRAME_RATE, L"10"));
    EXPECT_GE(site->DirtyReports(), 3);
    ASSERT_EQ(S_OK, page->Apply());
    EXPECT_EQ(S_FALSE, page->IsPageDirty());

    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, filter.As(&settings));
    int size[2] = {};
    ASSERT_EQ(S_OK, settings->GetFrameSize(size));
    EXPECT_EQ(852, size[0]);
    EXPECT_EQ(480, size[1]);
    double rate = 0.0;
    ASSERT_EQ(S_OK, settings->GetFrameRate(&rate));
    EXPECT_EQ(10.0, rate);
    EXPECT_EQ("4", StoredText("SelectPixel"));
    EXPECT_EQ("1000000", StoredText("FrameTime"));

    EXPECT_EQ(S_OK, page->Deactivate());
    EXPECT_EQ(S_OK, page->SetObjects(0, nullptr));
    EXPECT_EQ(S_OK, page->SetPageSite(nullptr));
}

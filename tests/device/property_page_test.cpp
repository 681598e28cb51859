// The settings page as applications reach it: the registered module serves
// it through COM, the device names it through ISpecifyPropertyPages, and
// the page made by the module edits the device made from its moniker.
#include <gtest/gtest.h>

#include <dshow.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <string>

#include "framework/com_util.h"
#include "resources/resource.h"
#include "tests/device/device_test_support.h"
#include "tests/support/property_page_harness.h"

using Microsoft::WRL::ComPtr;

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

// The pages an object names; E_UNEXPECTED unless it names exactly one.
HRESULT OnlyPageOf(IUnknown* object, CLSID* page) {
    RETURN_HR_IF_NULL(E_POINTER, object);
    RETURN_HR_IF_NULL(E_POINTER, page);
    ComPtr<ISpecifyPropertyPages> specify;
    RETURN_IF_FAILED(object->QueryInterface(IID_PPV_ARGS(&specify)));
    CAUUID pages = {};
    RETURN_IF_FAILED(specify->GetPages(&pages));
    const HRESULT hr = pages.cElems == 1 && pages.pElems != nullptr ? S_OK : E_UNEXPECTED;
    if (hr == S_OK) {
        *page = pages.pElems[0];
    }
    ::CoTaskMemFree(pages.pElems);
    return hr;
}

}  // namespace

TEST_F(DevicePropertyPageTest, PageClassIsRegisteredBesideTheFilter) {
    const std::wstring key = ClassKeyOf(CLSID_CaptureDeviceProp);
    EXPECT_EQ(kCaptureDevicePropName, ReadClassString(key, nullptr));
    EXPECT_EQ(RegisteredModule::ModulePath(), ReadClassString(key + L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"Both", ReadClassString(key + L"\\InprocServer32", L"ThreadingModel"));
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
    ASSERT_EQ(S_OK, MeasureDialogResource(module, IDD_CAPTURE_DEVICE_PROP, 171, 86, &expected));
    EXPECT_EQ(expected.cx, info.size.cx);
    EXPECT_EQ(expected.cy, info.size.cy);
}

TEST_F(DevicePropertyPageTest, FilterAndPinNameThePage) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateFromMoniker(&filter));
    CLSID named = GUID_NULL;
    ASSERT_EQ(S_OK, OnlyPageOf(filter.Get(), &named));
    EXPECT_TRUE(IsEqualCLSID(CLSID_CaptureDeviceProp, named));

    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, GetPin(filter.Get(), PINDIR_OUTPUT, &pin));
    named = GUID_NULL;
    ASSERT_EQ(S_OK, OnlyPageOf(pin.Get(), &named));
    EXPECT_TRUE(IsEqualCLSID(CLSID_CaptureDeviceProp, named));

    // What the filter names, COM can make.
    ComPtr<IPropertyPage> page;
    EXPECT_EQ(S_OK, ::CoCreateInstance(named, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&page)));
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

// The capture settings page driven as a property frame drives it: a page
// site of the tests' own, a real parent window, real control messages. The
// session tests run against the real capture filter and against its pin,
// the two objects a frame is given, and check what reached the device
// (ICaptureDeviceSettings, IAMStreamConfig::GetFormat) and the registry.
// The call tests use a recording stand-in for what the device cannot show:
// which settings calls the page makes, how often, with which exact
// arguments, and what the page does when every call fails.
#include <gtest/gtest.h>

#include <dshow.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "settings/capture_device_ids.h"
#include "settings/settings_store.h"
#include "framework/com_util.h"
#include "framework/media_type.h"
#include "framework/module_instance.h"
#include "module/class_factory.h"
#include "page/capture_device_prop.h"
#include "resources/resource.h"
#include "tests/page/fake_capture_settings.h"
#include "tests/page/page_session.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

// The quality labels as code points: "標準", " 高 ", "最高", "HD", "フルHD".
const std::wstring kQualityLabels[] = {L"\u6A19\u6E96", L" \u9AD8 ", L"\u6700\u9AD8", L"HD", L"\u30D5\u30EBHD"};
constexpr int kQualityCount = 5;
constexpr SIZE kFrameSizes[] = {{204, 360},  {272, 480},  {432, 768},   {568, 320},  {852, 480},
                                {1136, 640}, {720, 1280}, {1080, 1920}, {1280, 720}, {1920, 1080}};
// Per quality item, the size index in portrait and in landscape.
constexpr int kPortraitIndex[kQualityCount] = {0, 1, 2, 6, 7};
constexpr int kLandscapeIndex[kQualityCount] = {3, 4, 5, 8, 9};

int ComboCount(HWND dialog) {
    return static_cast<int>(::SendDlgItemMessageW(dialog, IDC_QUALITY, CB_GETCOUNT, 0, 0));
}

int ComboSelection(HWND dialog) {
    return static_cast<int>(::SendDlgItemMessageW(dialog, IDC_QUALITY, CB_GETCURSEL, 0, 0));
}

std::wstring ComboItemText(HWND dialog, int item) {
    const LRESULT length = ::SendDlgItemMessageW(dialog, IDC_QUALITY, CB_GETLBTEXTLEN, item, 0);
    if (length < 0) {
        return L"<no item>";
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    ::SendDlgItemMessageW(dialog, IDC_QUALITY, CB_GETLBTEXT, item, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
}

ULONG RefCountOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// A text in the system's 8-bit code page that is not plain ASCII, with its
// wide form; found by trying characters until one converts exactly.
bool NonAsciiAnsiText(std::string* ansi, std::wstring* wide) {
    const wchar_t candidates[] = {L'\u00E9', L'\u30AD', L'\u0436', L'\u03B1', L'\u00DF'};
    for (wchar_t c : candidates) {
        const std::wstring text = std::wstring(L"Caf") + c + L" 1";
        char buffer[32] = {};
        BOOL usedDefault = FALSE;
        const int bytes = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, buffer,
                                                sizeof(buffer), nullptr, &usedDefault);
        if (bytes > 0 && !usedDefault) {
            *ansi = buffer;
            *wide = text;
            return true;
        }
    }
    return false;
}

class CaptureDevicePropTest : public testing::TestWithParam<SettingsTarget> {
protected:
    void SetUp() override {
        ASSERT_TRUE(sandbox.ok());
        ASSERT_EQ(S_OK, GetParam().create(&object));
    }

    // First, so that the device reads and writes its settings in the
    // sandbox, and goes before the sandbox does.
    RegistrySandbox sandbox;
    ComPtr<IUnknown> object;
};

INSTANTIATE_TEST_SUITE_P(Targets, CaptureDevicePropTest,
                         testing::Values(SettingsTarget{"Filter", &CreateCaptureFilterTarget},
                                         SettingsTarget{"Pin", &CreateCapturePinTarget}),
                         [](const testing::TestParamInfo<SettingsTarget>& target) { return target.param.name; });

}  // namespace

TEST_P(CaptureDevicePropTest, FrameSessionEditsTheDevice) {
    ASSERT_EQ(S_OK, PrepareDevice(object.Get(), 1, 25.0, "Standby"));
    const ULONG references = RefCountOf(object.Get());

    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    EXPECT_EQ(references + 1, RefCountOf(object.Get()));

    // Title and the pixel size of the 171 x 137 dialog-unit dialog.
    SIZE expected = {};
    ASSERT_EQ(S_OK, MeasureDialogResource(ModuleInstance(), IDD_CAPTURE_DEVICE_PROP, 171, 137, &expected));
    ASSERT_NE(nullptr, session.info().pszTitle);
    EXPECT_STREQ(L"QM Capture", session.info().pszTitle);
    EXPECT_EQ(expected.cx, session.info().size.cx);
    EXPECT_EQ(expected.cy, session.info().size.cy);

    // The controls show the device's values: 272x480 is " 高 ", portrait.
    HWND dialog = session.dialog();
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(::IsWindowVisible(dialog));
    EXPECT_EQ(kQualityCount, ComboCount(dialog));
    EXPECT_EQ(1, ComboSelection(dialog));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_PORTRAIT));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_LANDSCAPE));
    EXPECT_EQ(L"25", ControlText(dialog, IDC_FRAME_RATE));
    EXPECT_EQ(L"Standby", ControlText(dialog, IDC_TITLE_TEXT));
    // Filling the frame-rate box already counts as an edit.
    EXPECT_GE(session.site()->DirtyReports(), 1);
    EXPECT_EQ(S_OK, session.page()->IsPageDirty());

    const RECT moved = {20, 30, 20 + 300, 30 + 150};
    EXPECT_EQ(S_OK, session.page()->Move(&moved));
    RECT placed = {};
    ::GetWindowRect(dialog, &placed);
    ::MapWindowPoints(nullptr, session.host(), reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(moved.left, placed.left);
    EXPECT_EQ(moved.top, placed.top);
    EXPECT_EQ(moved.right, placed.right);
    EXPECT_EQ(moved.bottom, placed.bottom);

    // A user's edits, each reported to the site.
    RecordingPageSite* site = session.site();
    site->ClearStatusChanges();
    ASSERT_EQ(S_OK, SelectComboItem(dialog, IDC_QUALITY, 2));
    EXPECT_GE(site->DirtyReports(), 1);
    site->ClearStatusChanges();
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_LANDSCAPE));
    EXPECT_GE(site->DirtyReports(), 1);
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_LANDSCAPE));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_PORTRAIT));
    site->ClearStatusChanges();
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_FRAME_RATE, L"12.5"));
    EXPECT_GE(site->DirtyReports(), 1);
    site->ClearStatusChanges();
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_TITLE_TEXT, L"On air"));
    EXPECT_GE(site->DirtyReports(), 1);
    for (DWORD flags : site->statusChanges()) {
        EXPECT_EQ(static_cast<DWORD>(PROPPAGESTATUS_DIRTY), flags);
    }

    ASSERT_EQ(S_OK, session.page()->Apply());
    EXPECT_EQ(S_FALSE, session.page()->IsPageDirty());

    DeviceSettings now;
    ASSERT_EQ(S_OK, ReadDeviceSettings(object.Get(), &now));
    EXPECT_EQ(1136, now.width);
    EXPECT_EQ(640, now.height);
    EXPECT_EQ(12.0, now.rate);
    EXPECT_EQ("On air", now.title);
    EXPECT_EQ("5", StoredText("SelectPixel"));
    EXPECT_EQ("800000", StoredText("FrameTime"));
    EXPECT_EQ("On air", StoredText("TitleText"));
    // The pin's format follows at once. The size is set before the rate, so
    // the type was built with the frame time of 25 frames per second.
    StreamFormat format;
    ASSERT_EQ(S_OK, ReadStreamFormat(object.Get(), &format));
    EXPECT_EQ(MEDIASUBTYPE_RGB24, format.subtype);
    EXPECT_EQ(1136, format.width);
    EXPECT_EQ(640, format.height);
    EXPECT_EQ(400000, format.avgTimePerFrame);

    // Applied again, the size is rebuilt with the frame time now in force.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_LANDSCAPE));
    ASSERT_EQ(S_OK, session.page()->Apply());
    ASSERT_EQ(S_OK, ReadStreamFormat(object.Get(), &format));
    EXPECT_EQ(1136, format.width);
    EXPECT_EQ(800000, format.avgTimePerFrame);

    EXPECT_EQ(S_OK, session.Close());
    EXPECT_FALSE(::IsWindow(dialog));
    EXPECT_EQ(references, RefCountOf(object.Get()));
    session.ReleasePage();
    EXPECT_EQ(references, RefCountOf(object.Get()));
}

TEST_P(CaptureDevicePropTest, ActivationShowsSizeAsQualityAndOrientation) {
    for (int quality = 0; quality < kQualityCount; ++quality) {
        for (const bool landscape : {false, true}) {
            const int index = landscape ? kLandscapeIndex[quality] : kPortraitIndex[quality];
            SCOPED_TRACE(index);
            ASSERT_EQ(S_OK, PrepareDevice(object.Get(), index, 30.0, "x"));
            PageSession session;
            ASSERT_EQ(S_OK, session.Open(object.Get()));
            HWND dialog = session.dialog();
            ASSERT_EQ(kQualityCount, ComboCount(dialog));
            EXPECT_EQ(quality, ComboSelection(dialog));
            EXPECT_EQ(kQualityLabels[quality], ComboItemText(dialog, ComboSelection(dialog)));
            EXPECT_EQ(!landscape, IsButtonChecked(dialog, IDC_PORTRAIT));
            EXPECT_EQ(landscape, IsButtonChecked(dialog, IDC_LANDSCAPE));
            EXPECT_EQ(S_OK, session.Close());
        }
    }
}

TEST_P(CaptureDevicePropTest, TheOutputFormatTheHostChoseIsShownAndCannotBeEdited) {
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, object.As(&config));
    struct Case {
        int capability;
        const wchar_t* shown;
    };
    // Capabilities 0..9 are RGB24, then ten each of NV12, YUY2, I420 and
    // RGB32.
    for (const Case& c : {Case{0, L"RGB24"}, Case{18, L"NV12"}, Case{23, L"YUY2"}, Case{31, L"I420"},
                          Case{49, L"RGB32"}}) {
        SCOPED_TRACE(c.capability);
        AM_MEDIA_TYPE* type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        ASSERT_EQ(S_OK, config->GetStreamCaps(c.capability, &type, reinterpret_cast<BYTE*>(&caps)));
        ASSERT_EQ(S_OK, config->SetFormat(type));
        DeleteMediaType(type);
        PageSession session;
        ASSERT_EQ(S_OK, session.Open(object.Get()));
        wchar_t shown[16] = {};
        ::GetDlgItemTextW(session.dialog(), IDC_OUTPUT_FORMAT, shown, 16);
        EXPECT_STREQ(c.shown, shown);
        // A label, not an edit box: the host chooses the format.
        wchar_t className[16] = {};
        ::GetClassNameW(::GetDlgItem(session.dialog(), IDC_OUTPUT_FORMAT), className, 16);
        EXPECT_STREQ(L"Static", className);
        EXPECT_EQ(S_OK, session.Close());
    }
}

TEST_P(CaptureDevicePropTest, SizeOutsideTheTableShowsStandardPortrait) {
    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_ICaptureDeviceSettings, reinterpret_cast<void**>(settings.GetAddressOf())));
    ASSERT_EQ(S_OK, settings->SetSelectPixel(4));
    const int odd[2] = {320, 568};
    ASSERT_EQ(S_OK, settings->SetFrameSize(odd));
    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    EXPECT_EQ(0, ComboSelection(session.dialog()));
    EXPECT_TRUE(IsButtonChecked(session.dialog(), IDC_PORTRAIT));
    EXPECT_FALSE(IsButtonChecked(session.dialog(), IDC_LANDSCAPE));
}

TEST_P(CaptureDevicePropTest, FrameRateIsShownWithPercentG) {
    struct Case {
        double rate;
        const char* frameTime;
        const wchar_t* shown;
    };
    const Case cases[] = {{30.0, "333333", L"30"}, {7.5, "1333333", L"7"}, {29.97, "333667", L"29"}, {1.0, "10000000", L"1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        ASSERT_EQ(S_OK, PrepareDevice(object.Get(), 0, c.rate, "x"));
        ASSERT_EQ(c.frameTime, StoredText("FrameTime"));
        PageSession session;
        ASSERT_EQ(S_OK, session.Open(object.Get()));
        EXPECT_EQ(c.shown, ControlText(session.dialog(), IDC_FRAME_RATE));
    }
}

TEST_P(CaptureDevicePropTest, TypedRateIsClampedOrKept) {
    ASSERT_EQ(S_OK, PrepareDevice(object.Get(), 0, 30.0, "x"));
    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_ICaptureDeviceSettings, reinterpret_cast<void**>(settings.GetAddressOf())));
    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    HWND dialog = session.dialog();

    struct Case {
        const wchar_t* text;
        double current;  // the device's rate before Apply
        const char* frameTime;
    };
    const Case cases[] = {
        {L"60", 20.0, "166666"},      // 60 frames per second
        {L"75", 20.0, "166666"},      // above 60: 60
        {L"0.5", 20.0, "10000000"},   // below 1: 1
        {L"-3", 20.0, "10000000"},
        {L"12.5fps", 20.0, "800000"}, // the number before the letters
        {L"  15", 20.0, "666666"},    // leading blanks skipped
        {L"2.5e1", 20.0, "400000"},   // exponent
        {L"abc", 20.0, "500000"},     // no number: the device's rate stays
        {L"", 10.0, "1000000"},
        {L"-", 25.0, "400000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "text \"" << std::string(c.text, c.text + wcslen(c.text)) << "\"");
        ASSERT_EQ(S_OK, settings->SetFrameRate(c.current));
        ASSERT_EQ(S_OK, TypeText(dialog, IDC_FRAME_RATE, c.text));
        // An empty text makes no change notification; the page must still
        // be dirty for Apply to read it.
        ASSERT_EQ(S_OK, ClickButton(dialog, IDC_PORTRAIT));
        ASSERT_EQ(S_OK, session.page()->IsPageDirty());
        ASSERT_EQ(S_OK, session.page()->Apply());
        EXPECT_EQ(c.frameTime, StoredText("FrameTime"));
    }
}

TEST_P(CaptureDevicePropTest, ApplyWithoutEditsStoresTheShownValuesAgain) {
    // 29.97 frames per second is a frame time of 333667, shown as 29; the
    // page is dirty from its activation, so Apply stores 29 (344827).
    ASSERT_EQ(S_OK, PrepareDevice(object.Get(), 4, 29.97, "Hello"));
    ASSERT_EQ("333667", StoredText("FrameTime"));
    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    ASSERT_EQ(S_OK, session.page()->IsPageDirty());
    ASSERT_EQ(S_OK, session.page()->Apply());
    EXPECT_EQ("4", StoredText("SelectPixel"));
    EXPECT_EQ("Hello", StoredText("TitleText"));
    EXPECT_EQ("344827", StoredText("FrameTime"));
    DeviceSettings now;
    ASSERT_EQ(S_OK, ReadDeviceSettings(object.Get(), &now));
    EXPECT_EQ(852, now.width);
    EXPECT_EQ(480, now.height);
    EXPECT_EQ(29.0, now.rate);
}

TEST_P(CaptureDevicePropTest, QualityAndOrientationGiveTheSizeIndex) {
    ASSERT_EQ(S_OK, PrepareDevice(object.Get(), 0, 30.0, "x"));
    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    HWND dialog = session.dialog();
    for (int landscape = 0; landscape < 2; ++landscape) {
        for (int quality = 0; quality < kQualityCount; ++quality) {
            const int index = landscape != 0 ? kLandscapeIndex[quality] : kPortraitIndex[quality];
            SCOPED_TRACE(index);
            ASSERT_EQ(S_OK, SelectComboItem(dialog, IDC_QUALITY, quality));
            ASSERT_EQ(S_OK, ClickButton(dialog, landscape ? IDC_LANDSCAPE : IDC_PORTRAIT));
            ASSERT_EQ(S_OK, session.page()->Apply());
            EXPECT_EQ(std::to_string(index), StoredText("SelectPixel"));
            DeviceSettings now;
            ASSERT_EQ(S_OK, ReadDeviceSettings(object.Get(), &now));
            EXPECT_EQ(kFrameSizes[index].cx, now.width);
            EXPECT_EQ(kFrameSizes[index].cy, now.height);
            StreamFormat format;
            ASSERT_EQ(S_OK, ReadStreamFormat(object.Get(), &format));
            EXPECT_EQ(kFrameSizes[index].cx, format.width);
            EXPECT_EQ(kFrameSizes[index].cy, format.height);
        }
    }
}

TEST_P(CaptureDevicePropTest, PageTextsReadAsUnicodeWhateverTheCodePage) {
    std::string ansiTitle;
    std::wstring wideTitle;
    ASSERT_TRUE(NonAsciiAnsiText(&ansiTitle, &wideTitle)) << "code page " << ::GetACP();
    ASSERT_EQ(S_OK, PrepareDevice(object.Get(), 0, 30.0, ansiTitle.c_str()));
    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    HWND dialog = session.dialog();

    // The page's own labels arrive as the same code points on any system,
    // also where the 8-bit code page is not 932 (code page here: GetACP()).
    RecordProperty("AnsiCodePage", static_cast<int>(::GetACP()));
    ASSERT_EQ(kQualityCount, ComboCount(dialog));
    for (int item = 0; item < kQualityCount; ++item) {
        EXPECT_EQ(kQualityLabels[item], ComboItemText(dialog, item)) << "item " << item;
    }
    // The standby text is 8-bit in the system code page, both ways.
    EXPECT_EQ(wideTitle, ControlText(dialog, IDC_TITLE_TEXT));
    ASSERT_EQ(S_OK, session.page()->Apply());
    EXPECT_EQ(ansiTitle, StoredText("TitleText"));
}

TEST_P(CaptureDevicePropTest, TextsLongerThanTheBuffersAreCut) {
    ASSERT_EQ(S_OK, PrepareDevice(object.Get(), 0, 20.0, "x"));
    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    HWND dialog = session.dialog();
    // 1000 digits: the first 255 still make a number far above 60.
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_FRAME_RATE, std::wstring(1000, L'1').c_str()));
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_TITLE_TEXT, std::wstring(1000, L'y').c_str()));
    ASSERT_EQ(1000, ::GetWindowTextLengthW(::GetDlgItem(dialog, IDC_TITLE_TEXT)));
    ASSERT_EQ(S_OK, session.page()->Apply());
    EXPECT_EQ("166666", StoredText("FrameTime"));
    const std::string title = StoredText("TitleText");
    EXPECT_FALSE(title.empty());
    EXPECT_LE(title.size(), 255u);
    EXPECT_EQ(std::string(title.size(), 'y'), title);
}

TEST_P(CaptureDevicePropTest, OnlyThePageControlsMakeItDirty) {
    ASSERT_EQ(S_OK, PrepareDevice(object.Get(), 0, 30.0, "x"));
    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    HWND dialog = session.dialog();
    ASSERT_EQ(S_OK, session.page()->Apply());
    ASSERT_EQ(S_FALSE, session.page()->IsPageDirty());
    RecordingPageSite* site = session.site();
    site->ClearStatusChanges();

    // Commands that name other controls.
    for (int id : {IDOK, IDCANCEL, 1000, 1006, 0xFFFF}) {
        ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }
    EXPECT_EQ(0u, site->statusChanges().size());
    EXPECT_EQ(S_FALSE, session.page()->IsPageDirty());

    // A control getting the focus is a notification of its own too.
    ::SetFocus(::GetDlgItem(dialog, IDC_TITLE_TEXT));
    PumpMessages();
    EXPECT_EQ(::GetDlgItem(dialog, IDC_TITLE_TEXT), ::GetFocus());
    EXPECT_GE(site->DirtyReports(), 1);
    EXPECT_EQ(S_OK, session.page()->IsPageDirty());

    // Any notification code of the five controls counts.
    ASSERT_EQ(S_OK, session.page()->Apply());
    site->ClearStatusChanges();
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_LANDSCAPE, BN_DOUBLECLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDC_LANDSCAPE)));
    EXPECT_EQ(1, site->DirtyReports());
    EXPECT_EQ(S_OK, session.page()->IsPageDirty());
}

TEST_P(CaptureDevicePropTest, ApplyAfterDeactivateStoresTheEdits) {
    ASSERT_EQ(S_OK, PrepareDevice(object.Get(), 0, 30.0, "Before"));
    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    HWND dialog = session.dialog();
    ASSERT_EQ(S_OK, SelectComboItem(dialog, IDC_QUALITY, 1));
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_LANDSCAPE));
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_FRAME_RATE, L"10"));
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_TITLE_TEXT, L"Later"));

    // The frame moves to another page, then the user presses OK.
    ASSERT_EQ(S_OK, session.page()->Deactivate());
    EXPECT_FALSE(::IsWindow(dialog));
    EXPECT_EQ(S_OK, session.page()->IsPageDirty());
    ASSERT_EQ(S_OK, session.page()->Apply());
    EXPECT_EQ(S_FALSE, session.page()->IsPageDirty());
    EXPECT_EQ("4", StoredText("SelectPixel"));
    EXPECT_EQ("1000000", StoredText("FrameTime"));
    EXPECT_EQ("Later", StoredText("TitleText"));
    // A clean page applies nothing.
    EXPECT_EQ(S_OK, session.page()->Apply());

    // Shown again, the page reads the device.
    ASSERT_EQ(S_OK, session.Activate());
    EXPECT_EQ(1, ComboSelection(session.dialog()));
    EXPECT_TRUE(IsButtonChecked(session.dialog(), IDC_LANDSCAPE));
    EXPECT_EQ(L"10", ControlText(session.dialog(), IDC_FRAME_RATE));
    EXPECT_EQ(L"Later", ControlText(session.dialog(), IDC_TITLE_TEXT));
}

TEST_P(CaptureDevicePropTest, PageDestroyedWithItsParentAppliesNothing) {
    ASSERT_EQ(S_OK, PrepareDevice(object.Get(), 1, 20.0, "Before"));
    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    ASSERT_EQ(S_OK, TypeText(session.dialog(), IDC_TITLE_TEXT, L"Lost"));
    // The frame's window goes first, taking the page's window with it.
    ::DestroyWindow(session.dialog());
    EXPECT_EQ(S_OK, session.page()->Deactivate());
    EXPECT_EQ(S_OK, session.page()->Apply());
    EXPECT_EQ("Before", StoredText("TitleText"));
    EXPECT_EQ("1", StoredText("SelectPixel"));
    EXPECT_EQ("500000", StoredText("FrameTime"));
}

TEST_P(CaptureDevicePropTest, FinalReleaseWhileShownReleasesTheDevice) {
    const ULONG references = RefCountOf(object.Get());
    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    HWND dialog = session.dialog();
    EXPECT_EQ(references + 1, RefCountOf(object.Get()));
    const ULONG siteReferences = static_cast<ULONG>(session.site()->RefCount());
    session.ReleasePage();
    EXPECT_FALSE(::IsWindow(dialog));
    EXPECT_EQ(references, RefCountOf(object.Get()));
    EXPECT_EQ(siteReferences - 1, static_cast<ULONG>(session.site()->RefCount()));
}

TEST(CaptureDevicePropNoSettingsTest, ObjectWithoutSettingsLeavesEverythingAlone) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    auto* other = new RecordingPageSite();  // any object without the interface
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, other->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(object.GetAddressOf())));

    PageSession session;
    EXPECT_EQ(E_NOINTERFACE, session.Attach(object.Get()));
    ASSERT_EQ(S_OK, session.Activate());
    HWND dialog = session.dialog();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(0, ComboCount(dialog));
    EXPECT_EQ(L"", ControlText(dialog, IDC_FRAME_RATE));
    EXPECT_EQ(L"", ControlText(dialog, IDC_TITLE_TEXT));

    ASSERT_EQ(S_OK, TypeText(dialog, IDC_FRAME_RATE, L"12"));
    ASSERT_EQ(S_OK, session.page()->IsPageDirty());
    EXPECT_EQ(S_OK, session.page()->Apply());
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_TITLE_TEXT, L"z"));
    EXPECT_EQ(S_OK, session.page()->Deactivate());
    EXPECT_EQ(S_OK, session.page()->Apply());
    EXPECT_EQ(0, RegistrySandbox::CountEntries(HKEY_CURRENT_USER, L"Software\\QMCapture"));
    EXPECT_EQ(S_OK, session.page()->SetObjects(0, nullptr));
}

namespace {

// The call tests: the recording stand-in in place of the device, for what
// only a recorder shows (call counts, exact arguments) and for settings
// calls that fail, which the real device never does.
class CaptureDevicePropCallsTest : public testing::Test {
protected:
    void SetUp() override {
        fake = new FakeCaptureSettings();
        ASSERT_EQ(S_OK, fake->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(object.GetAddressOf())));
    }

    HRESULT OpenAndClear() {
        RETURN_IF_FAILED(session.Open(object.Get()));
        fake->ClearCalls();
        return S_OK;
    }

    FakeCaptureSettings* fake = nullptr;  // kept alive by object
    ComPtr<IUnknown> object;
    PageSession session;
};

}  // namespace

TEST_F(CaptureDevicePropCallsTest, AnObjectWithoutTheStandbyImageHasItsButtonsDisabled) {
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    HWND dialog = session.dialog();
    EXPECT_EQ(L"", ControlText(dialog, IDC_STANDBY_IMAGE));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, IDC_STANDBY_IMAGE_BROWSE)));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, IDC_STANDBY_IMAGE_CLEAR)));
    // Apply still sets what the object has.
    fake->ClearCalls();
    ASSERT_EQ(S_OK, session.page()->Apply());
    EXPECT_EQ(1, fake->Count("SetFrameRate"));
    EXPECT_EQ(S_OK, session.Close());
}

TEST_F(CaptureDevicePropCallsTest, ActivateReadsTheSettingsAndApplySetsEachOnce) {
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    // What the page shows comes from the device; opening it sets nothing.
    EXPECT_GE(fake->Count("GetFrameSize"), 1);
    EXPECT_GE(fake->Count("GetFrameRate"), 1);
    EXPECT_GE(fake->Count("GetTitleText"), 1);
    EXPECT_EQ(0, fake->Count("SetSelectPixel") + fake->Count("SetFrameSize") + fake->Count("SetTitleText") +
                     fake->Count("SetFrameRate"));
    fake->ClearCalls();

    HWND dialog = session.dialog();
    ASSERT_EQ(S_OK, SelectComboItem(dialog, IDC_QUALITY, 2));
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_LANDSCAPE));
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_FRAME_RATE, L"12.5"));
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_TITLE_TEXT, L"On air"));
    EXPECT_TRUE(fake->calls().empty());
    ASSERT_EQ(S_OK, session.page()->Apply());

    // Each setting reaches the device once, with the value chosen: "最高"
    // with "横" is index 5.
    ASSERT_EQ(1, fake->Count("SetSelectPixel"));
    EXPECT_EQ(5.0, fake->Last("SetSelectPixel")->number);
    ASSERT_EQ(1, fake->Count("SetTitleText"));
    EXPECT_EQ("On air", fake->Last("SetTitleText")->text);
    ASSERT_EQ(1, fake->Count("SetFrameRate"));
    EXPECT_EQ(12.5, fake->Last("SetFrameRate")->number);
    EXPECT_EQ(0, fake->Count("SetFrameSize"));

    // Choosing " 高 " with "縦" is index 1.
    ASSERT_EQ(S_OK, SelectComboItem(dialog, IDC_QUALITY, 1));
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_PORTRAIT));
    fake->ClearCalls();
    ASSERT_EQ(S_OK, session.page()->Apply());
    ASSERT_EQ(1, fake->Count("SetSelectPixel"));
    EXPECT_EQ(1.0, fake->Last("SetSelectPixel")->number);
}

TEST_F(CaptureDevicePropCallsTest, RateReachesTheSetterClamped) {
    ASSERT_EQ(S_OK, OpenAndClear());
    HWND dialog = session.dialog();
    struct Case {
        const wchar_t* text;
        double passed;
    };
    // The stand-in reports 30 until a rate is applied, then the whole part
    // of the applied rate.
    const Case cases[] = {{L"60", 60.0},       {L"90", 60.0},   {L"0.5", 1.0}, {L"-3", 1.0},
                          {L"12.5abc", 12.5}, {L"abc", 12.0}, {L"1e400", 60.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text, c.text + wcslen(c.text)));
        ASSERT_EQ(S_OK, TypeText(dialog, IDC_FRAME_RATE, c.text));
        fake->ClearCalls();
        ASSERT_EQ(S_OK, session.page()->Apply());
        ASSERT_EQ(1, fake->Count("SetFrameRate"));
        EXPECT_EQ(c.passed, fake->Last("SetFrameRate")->number);
    }
}

TEST_F(CaptureDevicePropCallsTest, NoQualitySelectedLeavesTheSizeAlone) {
    ASSERT_EQ(S_OK, OpenAndClear());
    ASSERT_EQ(S_OK, SelectComboItem(session.dialog(), IDC_QUALITY, -1));
    ASSERT_EQ(S_OK, session.page()->Apply());
    EXPECT_EQ(0, fake->Count("SetSelectPixel"));
    EXPECT_EQ(0, fake->Count("SetFrameSize"));
    EXPECT_EQ(1, fake->Count("SetTitleText"));
    EXPECT_EQ(1, fake->Count("SetFrameRate"));
}

TEST_F(CaptureDevicePropCallsTest, NoOrientationCheckedCountsAsPortrait) {
    ASSERT_EQ(S_OK, PrepareDevice(object.Get(), 5, 30.0, "x"));
    ASSERT_EQ(S_OK, OpenAndClear());
    HWND dialog = session.dialog();
    ::SendDlgItemMessageW(dialog, IDC_LANDSCAPE, BM_SETCHECK, BST_UNCHECKED, 0);
    ::SendDlgItemMessageW(dialog, IDC_PORTRAIT, BM_SETCHECK, BST_UNCHECKED, 0);
    ASSERT_EQ(S_OK, session.page()->Apply());
    ASSERT_EQ(1, fake->Count("SetSelectPixel"));
    EXPECT_EQ(2.0, fake->Last("SetSelectPixel")->number);
}

TEST_F(CaptureDevicePropCallsTest, StandbyTextReachesTheSetterUpToTheBuffer) {
    ASSERT_EQ(S_OK, OpenAndClear());
    HWND dialog = session.dialog();
    // Longer than a setting holds: passed on as typed, the setter cuts it.
    const std::string hundred(100, 'h');
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_TITLE_TEXT, std::wstring(hundred.begin(), hundred.end()).c_str()));
    ASSERT_EQ(S_OK, session.page()->Apply());
    ASSERT_EQ(1, fake->Count("SetTitleText"));
    EXPECT_EQ(hundred, fake->Last("SetTitleText")->text);

    fake->ClearCalls();
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_TITLE_TEXT, std::wstring(300, L'k').c_str()));
    ASSERT_EQ(S_OK, session.page()->Apply());
    ASSERT_EQ(1, fake->Count("SetTitleText"));
    EXPECT_EQ(std::string(255, 'k'), fake->Last("SetTitleText")->text);
}

TEST_F(CaptureDevicePropCallsTest, FailingSettingsAreNotReported) {
    fake->FailEverything();
    ASSERT_EQ(S_OK, OpenAndClear());
    ASSERT_EQ(S_OK, TypeText(session.dialog(), IDC_FRAME_RATE, L"15"));
    EXPECT_EQ(S_OK, session.page()->Apply());
    EXPECT_EQ(S_FALSE, session.page()->IsPageDirty());
    // Every setting was still tried once: one failure stops none of the others.
    EXPECT_EQ(1, fake->Count("SetSelectPixel"));
    EXPECT_EQ(1, fake->Count("SetTitleText"));
    EXPECT_EQ(1, fake->Count("SetFrameRate"));
}

TEST_F(CaptureDevicePropCallsTest, DetachedPageMakesNoSettingsCalls) {
    ASSERT_EQ(S_OK, OpenAndClear());
    ASSERT_EQ(S_OK, session.page()->SetObjects(0, nullptr));
    ASSERT_EQ(S_OK, TypeText(session.dialog(), IDC_FRAME_RATE, L"15"));
    EXPECT_EQ(E_UNEXPECTED, session.page()->Apply());
    ASSERT_EQ(S_OK, session.page()->Deactivate());
    EXPECT_TRUE(fake->calls().empty());
    EXPECT_EQ(1, fake->RefCount());  // the test's own reference only
}

TEST(CaptureDevicePropCreationTest, CreationFunctionMakesAPage) {
    HRESULT hr = E_FAIL;
    CUnknown* created = CCaptureDeviceProp::CreateInstance(nullptr, &hr);
    ASSERT_NE(nullptr, created);
    EXPECT_EQ(S_OK, hr);
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(S_OK, created->NonDelegatingQueryInterface(IID_IPropertyPage, reinterpret_cast<void**>(page.GetAddressOf())));
    EXPECT_EQ(S_FALSE, page->IsPageDirty());
    // Without an object there is nothing to show.
    PageHostWindow host;
    const RECT rect = {0, 0, 100, 100};
    EXPECT_EQ(E_UNEXPECTED, page->Activate(host.get(), &rect, FALSE));
    EXPECT_EQ(0, host.ChildCount());

    // The result pointer is optional.
    CUnknown* another = CCaptureDeviceProp::CreateInstance(nullptr, nullptr);
    ASSERT_NE(nullptr, another);
    another->NonDelegatingAddRef();
    EXPECT_EQ(0u, another->NonDelegatingRelease());
}

TEST(CaptureDevicePropCreationTest, ClassFactoryServesThePage) {
    const CFactoryTemplate templates[] = {
        {kCaptureDevicePropName, &CLSID_CaptureDeviceProp, &CCaptureDeviceProp::CreateInstance, nullptr, nullptr},
    };
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, GetClassObjectFromTable(templates, 1, CLSID_CaptureDeviceProp, IID_IClassFactory,
                                            reinterpret_cast<void**>(factory.GetAddressOf())));
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void**>(page.GetAddressOf())));
    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, page->GetPageInfo(&info));
    EXPECT_STREQ(L"QM Capture", info.pszTitle);
    ::CoTaskMemFree(info.pszTitle);
}

TEST(CaptureDevicePropCreationTest, HooksWithoutSettingsDoNothing) {
    HRESULT hr = E_FAIL;
    auto* page = static_cast<CCaptureDeviceProp*>(CCaptureDeviceProp::CreateInstance(nullptr, &hr));
    ASSERT_NE(nullptr, page);
    ComPtr<IPropertyPage> owner;
    ASSERT_EQ(S_OK, page->NonDelegatingQueryInterface(IID_IPropertyPage, reinterpret_cast<void**>(owner.GetAddressOf())));
    EXPECT_EQ(E_POINTER, page->OnConnect(nullptr));
    EXPECT_EQ(S_OK, page->OnActivate());
    EXPECT_EQ(S_OK, page->OnDeactivate());
    EXPECT_EQ(S_OK, page->OnApplyChanges());
    EXPECT_EQ(S_OK, page->OnDisconnect());
}

TEST_P(CaptureDevicePropTest, TheStandbyImagePathIsShownReadOnlyClearedAndApplied) {
    const std::wstring path = L"C:\\pictures\\away.png";
    ComPtr<ICaptureDeviceSettings3> settings;
    ASSERT_EQ(S_OK, object.As(&settings));
    ASSERT_EQ(S_OK, settings->SetStandbyImage(path.c_str()));

    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    HWND dialog = session.dialog();
    EXPECT_EQ(path, ControlText(dialog, IDC_STANDBY_IMAGE));
    EXPECT_NE(0, ::GetWindowLongW(::GetDlgItem(dialog, IDC_STANDBY_IMAGE), GWL_STYLE) & ES_READONLY);
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(dialog, IDC_STANDBY_IMAGE_BROWSE)));
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(dialog, IDC_STANDBY_IMAGE_CLEAR)));
    // OK without an edit keeps the path.
    ASSERT_EQ(S_OK, session.page()->Apply());
    EXPECT_EQ(path, StoredWideText(kStandbyImageValue));

    // クリア empties the path on the page only; Apply stores it.
    const int dirtyBefore = session.site()->DirtyReports();
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_STANDBY_IMAGE_CLEAR));
    EXPECT_EQ(L"", ControlText(dialog, IDC_STANDBY_IMAGE));
    EXPECT_GT(session.site()->DirtyReports(), dirtyBefore);
    EXPECT_EQ(S_OK, session.page()->IsPageDirty());
    wchar_t stored[MAX_PATH] = {};
    ASSERT_EQ(S_OK, settings->GetStandbyImage(stored, MAX_PATH));
    EXPECT_EQ(path, stored);
    ASSERT_EQ(S_OK, session.page()->Apply());
    ASSERT_EQ(S_OK, settings->GetStandbyImage(stored, MAX_PATH));
    EXPECT_STREQ(L"", stored);
    EXPECT_EQ(L"", StoredWideText(kStandbyImageValue));
    EXPECT_EQ(S_OK, session.Close());
}

TEST_P(CaptureDevicePropTest, AStandbyTextTheCodePageCannotHoldSurvivesThePage) {
    // "待機中です" (standing by), stored as the device stores any text.
    const std::wstring japanese = L"\u5F85\u6A5F\u4E2D\u3067\u3059";
    ComPtr<ICaptureDeviceSettings2> settings;
    ASSERT_EQ(S_OK, object.As(&settings));
    ASSERT_EQ(S_OK, settings->SetTitleTextW(japanese.c_str()));

    PageSession session;
    ASSERT_EQ(S_OK, session.Open(object.Get()));
    EXPECT_EQ(japanese, ControlText(session.dialog(), IDC_TITLE_TEXT));
    // OK without an edit writes the text back whole, whatever the host's
    // code page.
    ASSERT_EQ(S_OK, session.page()->Apply());
    wchar_t title[kSettingsTextCapacity] = {};
    ASSERT_EQ(S_OK, settings->GetTitleTextW(title, kSettingsTextCapacity));
    EXPECT_EQ(japanese, title);
    ASSERT_EQ(S_OK, TypeText(session.dialog(), IDC_TITLE_TEXT, L"\u914D\u4FE1\u4E2D"));
    ASSERT_EQ(S_OK, session.page()->Apply());
    ASSERT_EQ(S_OK, settings->GetTitleTextW(title, kSettingsTextCapacity));
    EXPECT_EQ(std::wstring(L"\u914D\u4FE1\u4E2D"), title);
    EXPECT_EQ(S_OK, session.Close());
}

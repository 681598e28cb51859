// The window page's choice of what a camera shows, driven as a property
// frame drives it against the real capture filter: the kinds (a window
// with or without a crop, a monitor, a region) and the controls each
// enables, Apply storing them through the settings, numbers that would not
// store refused with a message and nothing written, the capture method
// list with graphics capture, and the thumbnail showing a region and a
// crop of real windows read from the screen.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "settings/capture_settings.h"
#include "settings/settings_store.h"
#include "framework/com_util.h"
#include "framework/memory_dib.h"
#include "page/capture_window_prop.h"
#include "resources/resource.h"
#include "window/monitor_list.h"
#include "tests/page/page_session.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/stored_settings.h"
#include "tests/support/test_window_thread.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

constexpr COLORREF kRed = RGB(220, 20, 20);
constexpr COLORREF kGreen = RGB(20, 200, 20);
constexpr COLORREF kBlue = RGB(20, 20, 220);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr DWORD kWaitMs = 5000;
constexpr wchar_t kWindowClass[] = L"QMWindowSourceTest::Window";
constexpr wchar_t kWindowTitle[] = L"Window source test";
// The page's host stands at the left; the test's window to its right, so
// that neither covers the other.
constexpr int kHostLeft = 40;
constexpr int kHostTop = 40;
constexpr int kHostWidth = 560;
constexpr int kHostHeight = 520;
constexpr int kWindowX = 700;
constexpr int kWindowY = 40;
constexpr int kWindowWidth = 320;
constexpr int kWindowHeight = 240;
// The page's caption, "ウィンドウ", which its messages carry too.
constexpr wchar_t kPageTitle[] = L"\u30A6\u30A3\u30F3\u30C9\u30A6";

const int kCropFields[] = {IDC_CROP_X, IDC_CROP_Y, IDC_CROP_WIDTH, IDC_CROP_HEIGHT};
const int kRegionFields[] = {IDC_REGION_X, IDC_REGION_Y, IDC_REGION_WIDTH, IDC_REGION_HEIGHT};
// The controls of each kind; the framing, mirror and pointer apply to all.
const int kWindowOnly[] = {IDC_WINDOW_LIST, IDC_WINDOW_TITLE, IDC_WINDOW_CLASS, IDC_CLASS_ONLY,    IDC_CROP_X,
                           IDC_CROP_Y,      IDC_CROP_WIDTH,   IDC_CROP_HEIGHT,  IDC_CAPTURE_METHOD};
// The refresh button lists the monitors as well as the windows.
const int kForEveryKind[] = {IDC_REFRESH_WINDOWS, IDC_SCALE_STRETCH, IDC_SCALE_FIT,  IDC_SCALE_FILL,
                             IDC_MIRROR,          IDC_SHOW_CURSOR};

HRESULT TypeRect(HWND dialog, const int (&fields)[4], const wchar_t* const (&texts)[4]) {
    for (int i = 0; i < 4; ++i) {
        RETURN_IF_FAILED(TypeText(dialog, fields[i], texts[i]));
    }
    return S_OK;
}

bool IsEnabled(HWND dialog, int id) {
    return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE;
}

std::wstring ComboItemText(HWND dialog, int id, int item) {
    const LRESULT length = ::SendDlgItemMessageW(dialog, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(item), 0);
    if (length < 0) {
        return L"<none>";
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    ::SendDlgItemMessageW(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
}

COLORREF ThumbnailPixel(const CMemoryDib& thumbnail, int x, int y) {
    if (!thumbnail || x < 0 || y < 0 || x >= thumbnail.Width() || y >= thumbnail.Height()) {
        return CLR_INVALID;
    }
    const BYTE* p = thumbnail.TopRow() + y * thumbnail.DownStride() + x * 3;
    return RGB(p[2], p[1], p[0]);
}

BOOL CALLBACK CollectChildText(HWND child, LPARAM texts) {
    wchar_t text[512] = {};
    ::GetWindowTextW(child, text, 512);
    *reinterpret_cast<std::wstring*>(texts) += text;
    return TRUE;
}

// Answers the message box a thread shows with the page's caption: keeps
// its text and presses OK. The box is modal on the page's thread, so it is
// answered from a thread of its own.
class MessageBoxAnswerer {
public:
    explicit MessageBoxAnswerer(DWORD pageThread)
        : m_thread([this, pageThread] { Answer(pageThread); }) {}
    ~MessageBoxAnswerer() { Join(); }
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    // Stops looking (a box that never came) and returns the box's text, or
    // empty when none was shown.
    std::wstring Join() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_text;
    }

private:
    struct Search {
        HWND box = nullptr;
    };
    static BOOL CALLBACK FindBox(HWND window, LPARAM search) {
        wchar_t className[16] = {};
        wchar_t caption[64] = {};
        ::GetClassNameW(window, className, 16);
        ::GetWindowTextW(window, caption, 64);
        if (::IsWindowVisible(window) && std::wstring(className) == L"#32770" && std::wstring(caption) == kPageTitle) {
            reinterpret_cast<Search*>(search)->box = window;
            return FALSE;
        }
        return TRUE;
    }

    void Answer(DWORD pageThread) {
        const ULONGLONG start = ::GetTickCount64();
        while (!m_stop && ::GetTickCount64() - start < kWaitMs) {
            Search search;
            ::EnumThreadWindows(pageThread, &FindBox, reinterpret_cast<LPARAM>(&search));
            if (search.box != nullptr) {
                ::EnumChildWindows(search.box, &CollectChildText, reinterpret_cast<LPARAM>(&m_text));
                ::PostMessageW(search.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                return;
            }
            ::Sleep(20);
        }
    }

    std::atomic<bool> m_stop{false};
    std::wstring m_text;
    std::thread m_thread;
};

class WindowSourceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sandbox.ok());
        ASSERT_TRUE(m_ui.ok());
        ASSERT_TRUE(::MoveWindow(m_session.host(), kHostLeft, kHostTop, kHostWidth, kHostHeight, TRUE));
        m_session.rect = {8, 8, 8 + 420, 8 + 420};
        ASSERT_EQ(S_OK, CreateCaptureFilterTarget(&m_device));
    }

    // Opens the page on the device; the stored values show.
    void Open() {
        ASSERT_EQ(S_OK, m_session.Open(m_device.Get()));
        ASSERT_NE(nullptr, m_session.dialog());
    }

    CCaptureWindowProp* Page() const { return static_cast<CCaptureWindowProp*>(m_session.page()); }
    HWND Dialog() const { return m_session.dialog(); }

    // A window of quadrants (red, green / blue, white) of the test's UI
    // thread; its client area's screen position in *origin.
    HWND CreateQuadrantWindow(POINT* origin) {
        HWND window = nullptr;
        EXPECT_EQ(S_OK, m_ui.Create(kWindowClass, kWindowTitle, kWindowWidth, kWindowHeight,
                                    QuadrantPainter(kWindowWidth, kWindowHeight, kRed, kGreen, kBlue, kWhite),
                                    &window, kWindowX, kWindowY));
        *origin = {0, 0};
        if (window != nullptr) {
            ::ClientToScreen(window, origin);
        }
        return window;
    }

    template <typename Test>
    bool RefreshThumbnailUntil(Test test) {
        const ULONGLONG start = ::GetTickCount64();
        do {
            ::SendMessageW(Dialog(), WM_TIMER, CCaptureWindowProp::kThumbnailTimer, 0);
            if (test(Page()->Thumbnail())) {
                return true;
            }
            ::Sleep(20);
        } while (::GetTickCount64() - start < kWaitMs);
        return false;
    }

    RegistrySandbox m_sandbox;
    TestWindowThread m_ui;
    ComPtr<IUnknown> m_device;
    PageSession m_session{&CCaptureWindowProp::CreateInstance};
};

// ---- Each kind: its controls, and what Apply stores ----------------------------

struct KindCase {
    const char* name;
    SourceKind kind;
    int button;
    // Fills the kind's controls as a user does.
    HRESULT (*fill)(HWND dialog);
    // The crop and region the device then reads (the region stored before
    // the test stays where the kind is not a region).
    StoredRect crop;
    StoredRect region;
    // The monitor list's item chosen, and whether the device reads its name
    // (item 0 is the primary, stored as an empty name).
    int monitorItem;
};

void PrintTo(const KindCase& kindCase, std::ostream* os) {
    *os << kindCase.name;
}

// What the tests store before the page opens: a region, chosen, so that
// every case changes the kind.
const StoredRect kStoredRegion = {5, 6, 64, 48};

const KindCase kKindCases[] = {
    {"WindowCropped", SourceKind::Window, IDC_SOURCE_WINDOW,
     [](HWND dialog) { return TypeRect(dialog, kCropFields, {L"10", L" 20", L"100 ", L"50"}); },
     {10, 20, 100, 50}, kStoredRegion, -1},
    {"WindowWhole", SourceKind::Window, IDC_SOURCE_WINDOW,
     [](HWND dialog) { return TypeRect(dialog, kCropFields, {L"", L"", L"", L""}); }, {}, kStoredRegion, -1},
    {"PrimaryMonitor", SourceKind::Monitor, IDC_SOURCE_MONITOR,
     [](HWND dialog) { return SelectComboItem(dialog, IDC_MONITOR_LIST, 0); }, {}, kStoredRegion, 0},
    {"NamedMonitor", SourceKind::Monitor, IDC_SOURCE_MONITOR,
     [](HWND dialog) { return SelectComboItem(dialog, IDC_MONITOR_LIST, 1); }, {}, kStoredRegion, 1},
    {"Region", SourceKind::Region, IDC_SOURCE_REGION,
     [](HWND dialog) { return TypeRect(dialog, kRegionFields, {L"-5", L"10", L"320", L"240"}); }, {},
     {-5, 10, 320, 240}, -1},
};

class WindowSourceKindTest : public WindowSourceTest, public testing::WithParamInterface<KindCase> {};

TEST_P(WindowSourceKindTest, EachKindEnablesItsControlsAndApplyStoresIt) {
    const KindCase& kindCase = GetParam();
    ASSERT_TRUE(StoreSourceRegion(kStoredRegion));
    ASSERT_NO_FATAL_FAILURE(Open());
    const HWND dialog = Dialog();
    // The stored kind and region show; no pointer stored: on for a region.
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_SOURCE_REGION));
    EXPECT_EQ(L"5", ControlText(dialog, IDC_REGION_X));
    EXPECT_EQ(L"48", ControlText(dialog, IDC_REGION_HEIGHT));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_SHOW_CURSOR));
    // Every monitor is listed after the primary's own item.
    const std::vector<MonitorInfo> monitors = ListMonitors();
    ASSERT_FALSE(monitors.empty());
    ASSERT_EQ(monitors.size() + 1, Page()->MonitorChoices().size());
    EXPECT_EQ(L"", Page()->MonitorChoices()[0]);
    EXPECT_EQ(std::wstring(monitors[0].deviceName), Page()->MonitorChoices()[1]);
    EXPECT_NE(std::wstring::npos, ComboItemText(dialog, IDC_MONITOR_LIST, 1).find(monitors[0].deviceName));

    ASSERT_EQ(S_OK, ClickButton(dialog, kindCase.button));
    EXPECT_EQ(S_OK, m_session.page()->IsPageDirty());
    for (const int id : kWindowOnly) {
        EXPECT_EQ(kindCase.kind == SourceKind::Window, IsEnabled(dialog, id)) << "control " << id;
    }
    EXPECT_EQ(kindCase.kind == SourceKind::Monitor, IsEnabled(dialog, IDC_MONITOR_LIST));
    for (const int id : kRegionFields) {
        EXPECT_EQ(kindCase.kind == SourceKind::Region, IsEnabled(dialog, id)) << "control " << id;
    }
    for (const int id : kForEveryKind) {
        EXPECT_TRUE(IsEnabled(dialog, id)) << "control " << id;
    }
    // The pointer box follows the kind's default while the user leaves it.
    EXPECT_EQ(kindCase.kind != SourceKind::Window, IsButtonChecked(dialog, IDC_SHOW_CURSOR));

    ASSERT_EQ(S_OK, kindCase.fill(dialog));
    ASSERT_EQ(S_OK, m_session.page()->Apply());
    EXPECT_EQ(S_FALSE, m_session.page()->IsPageDirty());
    EXPECT_EQ(std::to_string(static_cast<int>(kindCase.kind)), StoredText(kSourceKindValue));
    // The pointer was left alone: still the kind's default.
    EXPECT_EQ("<missing or malformed>", StoredText(kShowCursorValue));
    // What a device reads now.
    CCaptureSettings settings;
    const CCaptureSettings::Snapshot stored = settings.GetSnapshot();
    EXPECT_EQ(kindCase.kind, stored.sourceKind);
    EXPECT_EQ(kindCase.crop, stored.cropRect);
    EXPECT_EQ(kindCase.region, stored.sourceRegion);
    if (kindCase.monitorItem >= 0) {
        EXPECT_EQ(Page()->MonitorChoices()[static_cast<size_t>(kindCase.monitorItem)], stored.sourceMonitor);
    }
    EXPECT_EQ(S_OK, m_session.Close());

    // Opened again, the page shows what was stored.
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_TRUE(IsButtonChecked(Dialog(), kindCase.button));
    if (kindCase.monitorItem >= 0) {
        EXPECT_EQ(kindCase.monitorItem, ::SendDlgItemMessageW(Dialog(), IDC_MONITOR_LIST, CB_GETCURSEL, 0, 0));
    }
    EXPECT_EQ(S_OK, m_session.Close());
}

INSTANTIATE_TEST_SUITE_P(Kinds, WindowSourceKindTest, testing::ValuesIn(kKindCases),
                         [](const testing::TestParamInfo<KindCase>& param) { return std::string(param.param.name); });

// ---- Numbers that would not store ----------------------------------------------

struct InvalidCase {
    const char* name;
    int button;
    // The crop's or the region's boxes, as typed.
    bool region;
    const wchar_t* texts[4];
};

void PrintTo(const InvalidCase& invalidCase, std::ostream* os) {
    *os << invalidCase.name;
}

const InvalidCase kInvalidCases[] = {
    {"RegionNotANumber", IDC_SOURCE_REGION, true, {L"abc", L"0", L"100", L"100"}},
    {"RegionEmpty", IDC_SOURCE_REGION, true, {L"", L"", L"", L""}},
    {"RegionZeroWidth", IDC_SOURCE_REGION, true, {L"0", L"0", L"0", L"100"}},
    {"RegionPartlyEmpty", IDC_SOURCE_REGION, true, {L"0", L"0", L"100", L""}},
    {"RegionOriginOutOfBounds", IDC_SOURCE_REGION, true, {L"40000", L"0", L"100", L"100"}},
    {"CropFraction", IDC_SOURCE_WINDOW, false, {L"1.5", L"0", L"100", L"100"}},
    {"CropTooWide", IDC_SOURCE_WINDOW, false, {L"0", L"0", L"20000", L"100"}},
    {"CropPartlyEmpty", IDC_SOURCE_WINDOW, false, {L"1", L"", L"", L""}},
    {"CropTwoNumbersInABox", IDC_SOURCE_WINDOW, false, {L"1,2", L"3", L"4", L"5"}},
};

class WindowSourceInvalidTest : public WindowSourceTest, public testing::WithParamInterface<InvalidCase> {};

TEST_P(WindowSourceInvalidTest, ApplyRefusesWithAMessageAndStoresNothing) {
    const InvalidCase& invalidCase = GetParam();
    // Something stored for every value the page writes.
    ASSERT_TRUE(StoreWindowChoice(L"Stored title", L"Stored::Class", L"stored.exe"));
    ASSERT_TRUE(StoreCropRect({1, 2, 3, 4}));
    ASSERT_TRUE(StoreCaptureMethod(CaptureMethod::Print));
    ASSERT_TRUE(StoreSourceMonitor(L""));
    ASSERT_TRUE(StoreShowCursor(CursorChoice::On));
    ASSERT_TRUE(StoreScaleMode(ScaleMode::Fit));
    ASSERT_TRUE(StoreMirror(true));
    SettingsSnapshot before;
    ASSERT_TRUE(ReadSettingsKey(&before));

    ASSERT_NO_FATAL_FAILURE(Open());
    const HWND dialog = Dialog();
    ASSERT_EQ(S_OK, ClickButton(dialog, invalidCase.button));
    // Other edits go with the refused numbers.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SCALE_FILL));
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SHOW_CURSOR));
    ASSERT_EQ(S_OK, TypeRect(dialog, invalidCase.region ? kRegionFields : kCropFields, invalidCase.texts));

    std::wstring message;
    HRESULT applied = S_OK;
    {
        MessageBoxAnswerer answerer(::GetCurrentThreadId());
        applied = m_session.page()->Apply();
        message = answerer.Join();
    }
    EXPECT_EQ(E_INVALIDARG, applied);
    // The message names the boxes to correct: "範囲" (region) or
    // "切り抜き" (crop).
    const std::wstring named = invalidCase.region ? L"\u7BC4\u56F2" : L"\u5207\u308A\u629C\u304D";
    EXPECT_NE(std::wstring::npos, message.find(named)) << "message: " << testing::PrintToString(message);
    EXPECT_EQ(S_OK, m_session.page()->IsPageDirty()) << "the refused edits are not dropped";
    SettingsSnapshot after;
    ASSERT_TRUE(ReadSettingsKey(&after));
    EXPECT_TRUE(before == after) << "something was stored";

    // Only the chosen kind's numbers count: with another kind the same
    // boxes stand and Apply stores.
    ASSERT_EQ(S_OK, ClickButton(dialog, invalidCase.region ? IDC_SOURCE_MONITOR : IDC_SOURCE_REGION));
    if (!invalidCase.region) {
        ASSERT_EQ(S_OK, TypeRect(dialog, kRegionFields, {L"0", L"0", L"64", L"48"}));
    }
    ASSERT_EQ(S_OK, m_session.page()->Apply());
    EXPECT_EQ("2", StoredText(kScaleModeValue));
    EXPECT_EQ("0", StoredText(kShowCursorValue));
    EXPECT_EQ("1,2,3,4", StoredText(kCropRectValue)) << "a crop is stored only with a window";
    EXPECT_EQ(S_OK, m_session.Close());
}

INSTANTIATE_TEST_SUITE_P(Numbers, WindowSourceInvalidTest, testing::ValuesIn(kInvalidCases),
                         [](const testing::TestParamInfo<InvalidCase>& param) { return std::string(param.param.name); });

// ---- The capture method ---------------------------------------------------------

TEST_F(WindowSourceTest, TheMethodListOffersGraphicsCaptureAndStoresThree) {
    ASSERT_NO_FATAL_FAILURE(Open());
    HWND dialog = Dialog();
    // "自動" (auto, the default), "コピー", "プリント", "グラフィックス キャプチャ":
    // items in the order of the stored values.
    ASSERT_EQ(4, ::SendDlgItemMessageW(dialog, IDC_CAPTURE_METHOD, CB_GETCOUNT, 0, 0));
    EXPECT_EQ(0, ::SendDlgItemMessageW(dialog, IDC_CAPTURE_METHOD, CB_GETCURSEL, 0, 0));
    EXPECT_EQ(L"\u81EA\u52D5", ComboItemText(dialog, IDC_CAPTURE_METHOD, 0));
    EXPECT_EQ(L"\u30B0\u30E9\u30D5\u30A3\u30C3\u30AF\u30B9 \u30AD\u30E3\u30D7\u30C1\u30E3",
              ComboItemText(dialog, IDC_CAPTURE_METHOD, 3));

    ASSERT_EQ(S_OK, SelectComboItem(dialog, IDC_CAPTURE_METHOD, 3));
    EXPECT_EQ(S_OK, m_session.page()->IsPageDirty());
    ASSERT_EQ(S_OK, m_session.page()->Apply());
    EXPECT_EQ("3", StoredText(kCaptureMethodValue));
    EXPECT_EQ(CaptureMethod::Graphics, CCaptureSettings().GetSnapshot().captureMethod);
    EXPECT_EQ(S_OK, m_session.Close());

    ASSERT_NO_FATAL_FAILURE(Open());
    dialog = Dialog();
    EXPECT_EQ(3, ::SendDlgItemMessageW(dialog, IDC_CAPTURE_METHOD, CB_GETCURSEL, 0, 0));
    // Back to the copy, stored as "1".
    ASSERT_EQ(S_OK, SelectComboItem(dialog, IDC_CAPTURE_METHOD, 1));
    ASSERT_EQ(S_OK, m_session.page()->Apply());
    EXPECT_EQ("1", StoredText(kCaptureMethodValue));
    EXPECT_EQ(S_OK, m_session.Close());
}

// ---- A stored monitor that is not there -----------------------------------------

TEST_F(WindowSourceTest, AStoredMonitorThatIsNotThereKeepsItsName) {
    ASSERT_TRUE(StoreSourceMonitor(L"\\\\.\\DISPLAY9"));
    ASSERT_NO_FATAL_FAILURE(Open());
    const HWND dialog = Dialog();
    const LRESULT chosen = ::SendDlgItemMessageW(dialog, IDC_MONITOR_LIST, CB_GETCURSEL, 0, 0);
    ASSERT_EQ(static_cast<LRESULT>(Page()->MonitorChoices().size()) - 1, chosen);
    // "\\.\DISPLAY9 (見つかりません)".
    EXPECT_EQ(L"\\\\.\\DISPLAY9 (\u898B\u3064\u304B\u308A\u307E\u305B\u3093)",
              ComboItemText(dialog, IDC_MONITOR_LIST, static_cast<int>(chosen)));
    // An Apply of other edits keeps it.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_MIRROR));
    ASSERT_EQ(S_OK, m_session.page()->Apply());
    EXPECT_EQ(L"\\\\.\\DISPLAY9", StoredWideText(kSourceMonitorValue));
    EXPECT_EQ("1", StoredText(kSourceKindValue));
    EXPECT_EQ(S_OK, m_session.Close());
}

// ---- The thumbnail ---------------------------------------------------------------

TEST_F(WindowSourceTest, TheThumbnailShowsTheRegionAndTheCropAsTheDeviceReadsThem) {
    POINT origin = {};
    ASSERT_NE(nullptr, CreateQuadrantWindow(&origin));
    ASSERT_NO_FATAL_FAILURE(Open());
    const HWND dialog = Dialog();
    // The pointer left out, wherever it is.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SOURCE_REGION));
    if (IsButtonChecked(dialog, IDC_SHOW_CURSOR)) {
        ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SHOW_CURSOR));
    }
    // The default 204x360 output: a 68x120 frame in the thumbnail's middle,
    // columns 46 to 113, black beside it.
    const auto showsOnly = [](COLORREF colour) {
        return [colour](const CMemoryDib& t) {
            return ThumbnailPixel(t, 50, 10) == colour && ThumbnailPixel(t, 110, 110) == colour &&
                   ThumbnailPixel(t, 80, 60) == colour && ThumbnailPixel(t, 20, 60) == kBlack &&
                   ThumbnailPixel(t, 140, 60) == kBlack;
        };
    };
    // The region: the window's green quarter, on the screen.
    const std::wstring x = std::to_wstring(origin.x + kWindowWidth / 2 + 10);
    const std::wstring y = std::to_wstring(origin.y + 10);
    ASSERT_EQ(S_OK, TypeRect(dialog, kRegionFields, {x.c_str(), y.c_str(), L"140", L"100"}));
    EXPECT_TRUE(RefreshThumbnailUntil(showsOnly(kGreen))) << "the region is not shown";
    EXPECT_EQ(L"", ControlText(dialog, IDC_MATCH_RULE)) << "a region is not searched for";

    // The window, cropped to its blue quarter.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SOURCE_WINDOW));
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_WINDOW_TITLE, kWindowTitle));
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_WINDOW_CLASS, kWindowClass));
    ASSERT_EQ(S_OK, TypeRect(dialog, kCropFields, {L"10", L"130", L"140", L"100"}));
    EXPECT_TRUE(RefreshThumbnailUntil(showsOnly(kBlue))) << "the crop is not shown";
    // Without the crop: the whole window, its four quarters.
    ASSERT_EQ(S_OK, TypeRect(dialog, kCropFields, {L"", L"", L"", L""}));
    EXPECT_TRUE(RefreshThumbnailUntil([](const CMemoryDib& t) {
        return ThumbnailPixel(t, 55, 30) == kRed && ThumbnailPixel(t, 105, 30) == kGreen &&
               ThumbnailPixel(t, 55, 90) == kBlue && ThumbnailPixel(t, 105, 90) == kWhite;
    })) << "the whole window is not shown";
    EXPECT_EQ(S_OK, m_session.Close());
}

}  // namespace

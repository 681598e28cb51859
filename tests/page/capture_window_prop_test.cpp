// The window page driven as a property frame drives it, against the real
// capture filter, with real windows that the test's own UI thread owns:
// the list, choosing, typing, the framing controls, Apply writing the
// registry and a running device taking the choice over, the thumbnail,
// and the faults a user meets: a window that closes before it is chosen,
// a title longer than a setting holds, a window that stops answering.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>
#include <string>
#include <vector>

#include "settings/capture_device_settings.h"
#include "settings/capture_settings.h"
#include "framework/com_util.h"
#include "framework/memory_dib.h"
#include "page/capture_window_prop.h"
#include "resources/resource.h"
#include "tests/page/page_session.h"
#include "tests/support/fake_pins.h"
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
constexpr COLORREF kYellow = RGB(230, 230, 10);
constexpr COLORREF kBlack = RGB(0, 0, 0);

constexpr wchar_t kFirstClass[] = L"QMWindowPageTest::First";
constexpr wchar_t kSecondClass[] = L"QMWindowPageTest::Second";
constexpr wchar_t kFirstTitle[] = L"Window page test: first";
constexpr wchar_t kSecondTitle[] = L"Window page test: second";
// The size of the device's default output format.
constexpr int kFrameWidth = 204;
constexpr int kFrameHeight = 360;
constexpr DWORD kWaitMs = 5000;
// Where the page's host window stands, and the test's windows beside it.
constexpr int kHostLeft = 40;
constexpr int kHostTop = 40;
constexpr int kHostWidth = 560;
constexpr int kHostHeight = 440;
constexpr int kLeftWindowX = 700;
constexpr int kRightWindowX = 1100;

ULONGLONG MillisecondsSince(ULONGLONG start) {
    return ::GetTickCount64() - start;
}

struct ListRow {
    std::wstring title;
    std::wstring windowClass;
    std::wstring program;
    std::wstring size;
};

std::wstring ItemText(HWND list, int item, int column) {
    wchar_t text[512] = {};
    LVITEMW cell = {};
    cell.iSubItem = column;
    cell.pszText = text;
    cell.cchTextMax = 512;
    ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&cell));
    return text;
}

std::vector<ListRow> ListRows(HWND dialog) {
    const HWND list = ::GetDlgItem(dialog, IDC_WINDOW_LIST);
    std::vector<ListRow> rows;
    const int count = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        rows.push_back({ItemText(list, i, 0), ItemText(list, i, 1), ItemText(list, i, 2), ItemText(list, i, 3)});
    }
    return rows;
}

int RowOf(HWND dialog, const std::wstring& title) {
    const std::vector<ListRow> rows = ListRows(dialog);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].title == title) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int SelectedRow(HWND dialog) {
    return static_cast<int>(
        ::SendDlgItemMessageW(dialog, IDC_WINDOW_LIST, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// Selects a row as a click does: the list changes the item's state and
// tells the dialog (LVN_ITEMCHANGED).
HRESULT ChooseRow(HWND dialog, int row) {
    RETURN_HR_IF(E_INVALIDARG, row < 0);
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    RETURN_HR_IF(E_FAIL, !::SendDlgItemMessageW(dialog, IDC_WINDOW_LIST, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                                                reinterpret_cast<LPARAM>(&state)));
    PumpMessages();
    return S_OK;
}

std::wstring ProgramFileName() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full(path);
    return full.substr(full.find_last_of(L"\\/") + 1);
}

COLORREF ThumbnailPixel(const CMemoryDib& thumbnail, int x, int y) {
    if (!thumbnail || x < 0 || y < 0 || x >= thumbnail.Width() || y >= thumbnail.Height()) {
        return CLR_INVALID;
    }
    const BYTE* p = thumbnail.TopRow() + y * thumbnail.DownStride() + x * 3;
    return RGB(p[2], p[1], p[0]);
}

// Keeps the centre pixel of the last sample of the device's default size.
class CentreRecorder final : public FakeInputPin {
public:
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        BYTE* data = nullptr;
        if (sample != nullptr && SUCCEEDED(sample->GetPointer(&data)) && data != nullptr &&
            sample->GetActualDataLength() == DibStride(kFrameWidth, 24) * kFrameHeight) {
            // Bottom-up rows: the centre row counted from the bottom.
            const BYTE* p = data + (kFrameHeight - 1 - kFrameHeight / 2) * DibStride(kFrameWidth, 24) +
                            (kFrameWidth / 2) * 3;
            m_centre = RGB(p[2], p[1], p[0]);
        }
        return FakeInputPin::Receive(sample);
    }
    COLORREF Centre() const { return m_centre.load(); }

    // Waits until the centre has the colour; false when it never does.
    bool WaitForCentre(COLORREF colour, DWORD timeoutMs, ULONGLONG* seenAfterMs = nullptr) {
        const ULONGLONG start = ::GetTickCount64();
        while (MillisecondsSince(start) < timeoutMs) {
            if (Centre() == colour) {
                if (seenAfterMs != nullptr) {
                    *seenAfterMs = MillisecondsSince(start);
                }
                return true;
            }
            ::Sleep(5);
        }
        return false;
    }

private:
    std::atomic<COLORREF> m_centre{CLR_INVALID};
};

class CaptureWindowPropTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sandbox.ok());
        ASSERT_TRUE(m_ui.ok());
        // Room for the whole page, whose thumbnail lies low on it; the
        // test's windows stand to the right of the host.
        ASSERT_TRUE(::MoveWindow(m_session.host(), kHostLeft, kHostTop, kHostWidth, kHostHeight, TRUE));
        m_session.rect = {8, 8, 8 + 420, 8 + 340};
    }

    void TearDown() override {
        if (m_filter) {
            m_filter->Stop();
        }
        if (m_pin) {
            m_pin->Disconnect();
        }
    }

    // A window of the test's UI thread, beside the page's host window so
    // that neither covers the other.
    HWND CreateWindowOnUi(const wchar_t* className, const wchar_t* title, int width, int height,
                          const TestWindowPainter& painter, int x, int y = 0) {
        HWND window = nullptr;
        EXPECT_EQ(S_OK, m_ui.Create(className, title, width, height, painter, &window, x, y));
        return window;
    }

    HWND CreateQuadrantWindow(const wchar_t* className, const wchar_t* title, int x, int width = 320,
                              int height = 240) {
        return CreateWindowOnUi(className, title, width, height,
                                QuadrantPainter(width, height, kRed, kGreen, kBlue, kWhite), x);
    }

    // The capture filter, made by the module's factory, as a frame gets it.
    void CreateDevice() {
        ComPtr<IUnknown> object;
        ASSERT_EQ(S_OK, CreateCaptureFilterTarget(&object));
        ASSERT_EQ(S_OK, object.As(&m_filter));
    }

    // The device streaming into a recorder of the test's own.
    void RunDevice() {
        if (!m_filter) {
            ASSERT_NO_FATAL_FAILURE(CreateDevice());
        }
        ComPtr<IEnumPins> pins;
        ASSERT_EQ(S_OK, m_filter->EnumPins(&pins));
        ASSERT_EQ(S_OK, pins->Next(1, &m_pin, nullptr));
        m_recorder = MakeFake<CentreRecorder>();
        ASSERT_EQ(S_OK, m_pin->Connect(m_recorder.Get(), nullptr));
        // Without a graph: no reference clock, the stream runs from Run on.
        ASSERT_EQ(S_OK, m_filter->Run(0));
    }

    CCaptureWindowProp* Page() const { return static_cast<CCaptureWindowProp*>(m_session.page()); }

    // Refreshes the thumbnail as its timer does, until `test` holds or the
    // time is up.
    template <typename Test>
    bool RefreshThumbnailUntil(Test test, DWORD timeoutMs = kWaitMs) {
        const ULONGLONG start = ::GetTickCount64();
        do {
            ::SendMessageW(m_session.dialog(), WM_TIMER, CCaptureWindowProp::kThumbnailTimer, 0);
            if (test(Page()->Thumbnail())) {
                return true;
            }
            ::Sleep(20);
        } while (MillisecondsSince(start) < timeoutMs);
        return false;
    }

    RegistrySandbox m_sandbox;
    TestWindowThread m_ui;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IPin> m_pin;
    ComPtr<CentreRecorder> m_recorder;
    PageSession m_session{&CCaptureWindowProp::CreateInstance};
};

}  // namespace

TEST_F(CaptureWindowPropTest, ListsTheVisibleTitledWindowsButNotToolWindowsOrTheFrame) {
    ASSERT_NE(nullptr, CreateQuadrantWindow(kFirstClass, kFirstTitle, kLeftWindowX, 320, 240));
    const HWND hidden = CreateQuadrantWindow(kSecondClass, L"Window page test: hidden", kRightWindowX);
    m_ui.Run([&] { ::ShowWindow(hidden, SW_HIDE); });
    ASSERT_NE(nullptr, CreateQuadrantWindow(kSecondClass, L"", kRightWindowX, 100, 100));
    HWND tool = nullptr;
    m_ui.Run([&] {
        tool = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"Static", L"Window page test: tool",
                                 WS_POPUP | WS_VISIBLE, kRightWindowX, 500, 50, 50, nullptr, nullptr, nullptr, nullptr);
    });
    ASSERT_NE(nullptr, tool);

    ComPtr<IUnknown> device;
    ASSERT_EQ(S_OK, CreateCaptureFilterTarget(&device));
    ASSERT_EQ(S_OK, m_session.Open(device.Get()));
    const HWND dialog = m_session.dialog();
    ASSERT_NE(nullptr, dialog);
    // "ウィンドウ" on the frame's tab.
    EXPECT_STREQ(L"\u30A6\u30A3\u30F3\u30C9\u30A6", m_session.info().pszTitle);

    const std::vector<ListRow> rows = ListRows(dialog);
    const int first = RowOf(dialog, kFirstTitle);
    ASSERT_GE(first, 0) << "the test's window is not listed";
    EXPECT_EQ(kFirstClass, rows[first].windowClass);
    EXPECT_EQ(ProgramFileName(), rows[first].program);
    EXPECT_EQ(L"320x240", rows[first].size);
    for (const ListRow& row : rows) {
        EXPECT_FALSE(row.title.empty()) << "an untitled window is listed";
        EXPECT_NE(L"Window page test: hidden", row.title);
        EXPECT_NE(L"Window page test: tool", row.title);
        // The host window plays the property frame that shows the page.
        EXPECT_NE(L"Page host", row.title);
    }
    // The page lists what the capture client lists.
    std::vector<ListedWindow> listed;
    ASSERT_EQ(S_OK, ListCaptureWindows(::GetAncestor(dialog, GA_ROOT), &listed));
    EXPECT_EQ(listed.size(), rows.size());
    // Nothing is chosen or stored by opening the page.
    EXPECT_EQ(S_FALSE, m_session.page()->IsPageDirty());
    EXPECT_EQ(S_OK, m_session.Close());
    EXPECT_EQ("<missing or malformed>", StoredText(kWindowNameValue));
    m_ui.Run([&] { ::DestroyWindow(tool); });
}

TEST_F(CaptureWindowPropTest, ChoosingAWindowAndApplyingSwitchesARunningDevice) {
    ASSERT_NE(nullptr, CreateWindowOnUi(kFirstClass, kFirstTitle, 320, 240, SolidPainter(kRed), kLeftWindowX));
    ASSERT_NE(nullptr, CreateWindowOnUi(kSecondClass, kSecondTitle, 320, 240, SolidPainter(kYellow), kRightWindowX));
    ASSERT_TRUE(StoreWindowChoice(kFirstTitle, kFirstClass, L""));
    ASSERT_NO_FATAL_FAILURE(RunDevice());
    ASSERT_TRUE(m_recorder->WaitForCentre(kRed, kWaitMs)) << "the device does not show the first window";

    ASSERT_EQ(S_OK, m_session.Open(m_filter.Get()));
    const HWND dialog = m_session.dialog();
    // The stored choice shows in the fields and selects its entry.
    EXPECT_EQ(kFirstTitle, ControlText(dialog, IDC_WINDOW_TITLE));
    EXPECT_EQ(kFirstClass, ControlText(dialog, IDC_WINDOW_CLASS));
    EXPECT_EQ(RowOf(dialog, kFirstTitle), SelectedRow(dialog));
    EXPECT_EQ(S_FALSE, m_session.page()->IsPageDirty());

    m_session.site()->ClearStatusChanges();
    ASSERT_EQ(S_OK, ChooseRow(dialog, RowOf(dialog, kSecondTitle)));
    EXPECT_EQ(kSecondTitle, ControlText(dialog, IDC_WINDOW_TITLE));
    EXPECT_EQ(kSecondClass, ControlText(dialog, IDC_WINDOW_CLASS));
    EXPECT_GE(m_session.site()->DirtyReports(), 1);
    EXPECT_EQ(S_OK, m_session.page()->IsPageDirty());
    // Nothing reaches the device before Apply.
    ::Sleep(300);
    EXPECT_EQ(kRed, m_recorder->Centre());

    ASSERT_EQ(S_OK, m_session.page()->Apply());
    const ULONGLONG applied = ::GetTickCount64();
    EXPECT_EQ(S_FALSE, m_session.page()->IsPageDirty());
    EXPECT_EQ("Window page test: second", StoredText(kWindowNameValue));
    EXPECT_EQ("QMWindowPageTest::Second", StoredText(kWindowClassValue));
    ASSERT_TRUE(m_recorder->WaitForCentre(kYellow, kWaitMs)) << "the running device kept the old window";
    EXPECT_LE(MillisecondsSince(applied), 1000u);
    EXPECT_EQ(S_OK, m_session.Close());
}

TEST_F(CaptureWindowPropTest, TypedNamesAndTheClassOnlyBoxAreStoredAsTyped) {
    ASSERT_NE(nullptr, CreateWindowOnUi(kSecondClass, L"Some other title", 320, 240, SolidPainter(kYellow), kRightWindowX));
    ComPtr<IUnknown> device;
    ASSERT_EQ(S_OK, CreateCaptureFilterTarget(&device));
    ASSERT_EQ(S_OK, m_session.Open(device.Get()));
    const HWND dialog = m_session.dialog();
    // The defaults: the built-in window, stretched, not mirrored.
    EXPECT_EQ(L"Quillmere", ControlText(dialog, IDC_WINDOW_TITLE));
    EXPECT_EQ(L"Quillmere::MainFrame", ControlText(dialog, IDC_WINDOW_CLASS));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_CLASS_ONLY));

    ASSERT_EQ(S_OK, TypeText(dialog, IDC_WINDOW_TITLE, L"Typed title"));
    EXPECT_EQ(S_OK, m_session.page()->IsPageDirty());
    EXPECT_EQ(-1, SelectedRow(dialog)) << "no listed window has the typed title";
    ASSERT_EQ(S_OK, TypeText(dialog, IDC_WINDOW_CLASS, kSecondClass));
    ASSERT_EQ(S_OK, m_session.page()->Apply());
    EXPECT_EQ("Typed title", StoredText(kWindowNameValue));
    EXPECT_EQ("QMWindowPageTest::Second", StoredText(kWindowClassValue));

    // Class only: the title box is greyed and an empty title is stored,
    // which the device takes as any window of the class.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_CLASS_ONLY));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, IDC_WINDOW_TITLE)));
    EXPECT_EQ(RowOf(dialog, L"Some other title"), SelectedRow(dialog)) << "the class alone names the window";
    ASSERT_EQ(S_OK, m_session.page()->Apply());
    EXPECT_EQ("", StoredText(kWindowNameValue));
    EXPECT_EQ("QMWindowPageTest::Second", StoredText(kWindowClassValue));
    // And the thumbnail finds the window by its class alone.
    EXPECT_TRUE(RefreshThumbnailUntil([](const CMemoryDib& thumbnail) {
        return ThumbnailPixel(thumbnail, CCaptureWindowProp::kThumbnailWidth / 2,
                              CCaptureWindowProp::kThumbnailHeight / 2) == kYellow;
    }));
    EXPECT_EQ(S_OK, m_session.Close());

    // Opened again, the page shows what is stored.
    PageSession again(&CCaptureWindowProp::CreateInstance);
    ASSERT_EQ(S_OK, again.Open(device.Get()));
    EXPECT_TRUE(IsButtonChecked(again.dialog(), IDC_CLASS_ONLY));
    EXPECT_EQ(L"", ControlText(again.dialog(), IDC_WINDOW_TITLE));
    EXPECT_EQ(kSecondClass, ControlText(again.dialog(), IDC_WINDOW_CLASS));
    EXPECT_EQ(RowOf(again.dialog(), L"Some other title"), SelectedRow(again.dialog()));
    EXPECT_EQ(S_OK, again.Close());
}

TEST_F(CaptureWindowPropTest, FramingAndMirrorAreStoredAndShownAgain) {
    ComPtr<IUnknown> device;
    ASSERT_EQ(S_OK, CreateCaptureFilterTarget(&device));
    ASSERT_EQ(S_OK, m_session.Open(device.Get()));
    HWND dialog = m_session.dialog();
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_SCALE_STRETCH));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_SCALE_FIT));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_SCALE_FILL));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_MIRROR));

    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SCALE_FIT));
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_MIRROR));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_SCALE_STRETCH)) << "the three options are one group";
    ASSERT_EQ(S_OK, m_session.page()->Apply());
    EXPECT_EQ("1", StoredText(kScaleModeValue));
    EXPECT_EQ("1", StoredText(kMirrorValue));
    // Both reach a device that reads the settings.
    CCaptureSettings settings;
    EXPECT_EQ(ScaleMode::Fit, settings.GetSnapshot().scaleMode);
    EXPECT_TRUE(settings.GetSnapshot().mirror);

    // Changed, then the page deactivated (another tab), then OK: the
    // change is applied from what the page kept.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SCALE_FILL));
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_MIRROR));
    ASSERT_EQ(S_OK, m_session.page()->Deactivate());
    ASSERT_EQ(S_OK, m_session.page()->Apply());
    EXPECT_EQ("2", StoredText(kScaleModeValue));
    EXPECT_EQ("0", StoredText(kMirrorValue));

    ASSERT_EQ(S_OK, m_session.Activate());
    dialog = m_session.dialog();
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_SCALE_FILL));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_MIRROR));
    EXPECT_EQ(S_OK, m_session.Close());
}

TEST_F(CaptureWindowPropTest, TheThumbnailShowsTheWindowFramedAndMirroredAsTheDeviceWillSendIt) {
    ASSERT_NE(nullptr, CreateQuadrantWindow(kFirstClass, kFirstTitle, kLeftWindowX, 320, 240));
    ASSERT_NE(nullptr, CreateQuadrantWindow(kSecondClass, kSecondTitle, kRightWindowX, 200, 400));
    ComPtr<IUnknown> device;
    ASSERT_EQ(S_OK, CreateCaptureFilterTarget(&device));
    // 852x480 output: a 160x90 frame in the middle of the 160x120 thumbnail,
    // rows 15 to 104.
    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, device.As(&settings));
    ASSERT_EQ(S_OK, settings->SetSelectPixel(4));
    ASSERT_EQ(S_OK, m_session.Open(device.Get()));
    const HWND dialog = m_session.dialog();
    RECT thumbnail = {};
    ASSERT_TRUE(::GetClientRect(::GetDlgItem(dialog, IDC_THUMBNAIL), &thumbnail));
    EXPECT_EQ(CCaptureWindowProp::kThumbnailWidth, thumbnail.right);
    EXPECT_EQ(CCaptureWindowProp::kThumbnailHeight, thumbnail.bottom);

    // Stretched (the default): the 4:3 window over the whole frame.
    ASSERT_EQ(S_OK, ChooseRow(dialog, RowOf(dialog, kFirstTitle)));
    const auto stretched = [](const CMemoryDib& t) {
        return ThumbnailPixel(t, 40, 37) == kRed && ThumbnailPixel(t, 120, 37) == kGreen &&
               ThumbnailPixel(t, 40, 82) == kBlue && ThumbnailPixel(t, 120, 82) == kWhite &&
               ThumbnailPixel(t, 80, 7) == kBlack && ThumbnailPixel(t, 80, 112) == kBlack;
    };
    EXPECT_TRUE(RefreshThumbnailUntil(stretched)) << "the thumbnail never showed the window";

    // Fit: 120 pixels wide in the frame, black bars beside it.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SCALE_FIT));
    const auto fitted = [](const CMemoryDib& t) {
        return ThumbnailPixel(t, 50, 37) == kRed && ThumbnailPixel(t, 110, 82) == kWhite &&
               ThumbnailPixel(t, 10, 60) == kBlack && ThumbnailPixel(t, 150, 60) == kBlack;
    };
    EXPECT_TRUE(RefreshThumbnailUntil(fitted)) << "the thumbnail is not framed as chosen";

    // Mirrored: left and right swap.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_MIRROR));
    const auto mirrored = [](const CMemoryDib& t) {
        return ThumbnailPixel(t, 50, 37) == kGreen && ThumbnailPixel(t, 110, 37) == kRed &&
               ThumbnailPixel(t, 10, 60) == kBlack;
    };
    EXPECT_TRUE(RefreshThumbnailUntil(mirrored)) << "the thumbnail is not mirrored";

    // Another window, filling the frame: the 1:2 window's middle, cropped.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_MIRROR));
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SCALE_FILL));
    ASSERT_EQ(S_OK, ChooseRow(dialog, RowOf(dialog, kSecondTitle)));
    const auto filled = [](const CMemoryDib& t) {
        return ThumbnailPixel(t, 40, 37) == kRed && ThumbnailPixel(t, 120, 37) == kGreen &&
               ThumbnailPixel(t, 40, 82) == kBlue && ThumbnailPixel(t, 120, 82) == kWhite &&
               ThumbnailPixel(t, 5, 60) != kBlack && ThumbnailPixel(t, 80, 7) == kBlack;
    };
    EXPECT_TRUE(RefreshThumbnailUntil(filled)) << "the thumbnail did not follow the choice";

    // The thumbnail's own control shows that picture on screen.
    const HWND control = ::GetDlgItem(dialog, IDC_THUMBNAIL);
    ::RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    {
        WindowDc dc(control);
        ASSERT_NE(nullptr, dc.get());
        EXPECT_EQ(kRed, ::GetPixel(dc.get(), 40, 37));
        EXPECT_EQ(kWhite, ::GetPixel(dc.get(), 120, 82));
    }
    // Under the thumbnail: which rule found the window.
    wchar_t rule[64] = {};
    ::GetDlgItemTextW(dialog, IDC_MATCH_RULE, rule, 64);
    EXPECT_EQ(std::wstring(L"\u30BF\u30A4\u30C8\u30EB\u3067\u4E00\u81F4"), rule) << "not \"by its title\"";
    EXPECT_EQ(S_OK, m_session.Close());
    EXPECT_FALSE(Page()->Thumbnail()) << "the thumbnail outlived the page's dialog";
}

TEST_F(CaptureWindowPropTest, AWindowThatClosesBetweenListingAndChoosingStillNamesItself) {
    const HWND window = CreateQuadrantWindow(kFirstClass, kFirstTitle, kLeftWindowX);
    ComPtr<IUnknown> device;
    ASSERT_EQ(S_OK, CreateCaptureFilterTarget(&device));
    ASSERT_EQ(S_OK, m_session.Open(device.Get()));
    const HWND dialog = m_session.dialog();
    const int row = RowOf(dialog, kFirstTitle);
    ASSERT_GE(row, 0);
    m_ui.Destroy(window);

    ASSERT_EQ(S_OK, ChooseRow(dialog, row));
    EXPECT_EQ(kFirstTitle, ControlText(dialog, IDC_WINDOW_TITLE));
    EXPECT_EQ(kFirstClass, ControlText(dialog, IDC_WINDOW_CLASS));
    // No window to show: the thumbnail is black.
    EXPECT_TRUE(RefreshThumbnailUntil([](const CMemoryDib& t) {
        return ThumbnailPixel(t, 40, 30) == kBlack && ThumbnailPixel(t, 120, 90) == kBlack;
    }));
    // The choice is stored; the device finds the window once it is back.
    ASSERT_EQ(S_OK, m_session.page()->Apply());
    EXPECT_EQ("Window page test: first", StoredText(kWindowNameValue));
    // Refreshed, the list no longer has it.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_REFRESH_WINDOWS));
    EXPECT_EQ(-1, RowOf(dialog, kFirstTitle));
    EXPECT_EQ(S_OK, m_session.Close());
}

TEST_F(CaptureWindowPropTest, ALongTitleOfAnyClassIsStoredWholeAndTheDeviceFindsItsWindow) {
    // 90 characters, the last 40 of them outside ASCII, of a class of its
    // own: no code page and no fallback stands between the page and the
    // device.
    const std::wstring title = std::wstring(50, L'T') + std::wstring(40, L'\u00E9');
    ASSERT_NE(nullptr, CreateWindowOnUi(kFirstClass, title.c_str(), 320, 240, SolidPainter(kGreen), kLeftWindowX));
    ASSERT_NO_FATAL_FAILURE(CreateDevice());
    ASSERT_EQ(S_OK, m_session.Open(m_filter.Get()));
    const HWND dialog = m_session.dialog();
    ASSERT_EQ(S_OK, ChooseRow(dialog, RowOf(dialog, title)));
    EXPECT_EQ(title, ControlText(dialog, IDC_WINDOW_TITLE));
    ASSERT_EQ(S_OK, m_session.page()->Apply());

    EXPECT_EQ(title, StoredWideText(kWindowNameValue));
    EXPECT_EQ(kFirstClass, StoredWideText(kWindowClassValue));
    EXPECT_EQ(L"page_tests.exe", StoredWideText(kWindowProgramValue));
    ASSERT_NO_FATAL_FAILURE(RunDevice());
    EXPECT_TRUE(m_recorder->WaitForCentre(kGreen, kWaitMs)) << "the device did not find the window";
    EXPECT_EQ(S_OK, m_session.Close());
}

TEST_F(CaptureWindowPropTest, AWindowThatStopsAnsweringNeverHoldsUpThePage) {
    const HWND window = CreateQuadrantWindow(kFirstClass, kFirstTitle, kLeftWindowX);
    ASSERT_NE(nullptr, window);
    // The print runs on the window's own thread: the way that would wait.
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "2"));
    ComPtr<IUnknown> device;
    ASSERT_EQ(S_OK, CreateCaptureFilterTarget(&device));
    ASSERT_EQ(S_OK, m_session.Open(device.Get()));
    const HWND dialog = m_session.dialog();
    ASSERT_EQ(S_OK, ChooseRow(dialog, RowOf(dialog, kFirstTitle)));
    // The default 204x360 output: a 68x120 frame in the thumbnail's middle.
    const auto showsWindow = [](const CMemoryDib& t) { return ThumbnailPixel(t, 60, 30) == kRed; };
    ASSERT_TRUE(RefreshThumbnailUntil(showsWindow));

    m_ui.Hang(4000);
    ::Sleep(100);
    for (int i = 0; i < 5; ++i) {
        const ULONGLONG start = ::GetTickCount64();
        ::SendMessageW(dialog, WM_TIMER, CCaptureWindowProp::kThumbnailTimer, 0);
        EXPECT_LT(MillisecondsSince(start), 500u) << "a thumbnail refresh waited for the window";
        EXPECT_TRUE(showsWindow(Page()->Thumbnail())) << "the last picture is kept";
    }
    ULONGLONG start = ::GetTickCount64();
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_REFRESH_WINDOWS));
    EXPECT_LT(MillisecondsSince(start), 500u) << "listing waited for the window";
    EXPECT_GE(RowOf(dialog, kFirstTitle), 0);
    start = ::GetTickCount64();
    EXPECT_EQ(S_OK, m_session.Close());
    EXPECT_LT(MillisecondsSince(start), 500u) << "closing the page waited for the window";
}

TEST_F(CaptureWindowPropTest, AnObjectThatIsNotTheDeviceIsRefusedAndNothingIsStored) {
    const ComPtr<IPin> stranger = MakeFake<FakeInputPin>();
    ASSERT_EQ(S_OK, m_session.page()->SetPageSite(m_session.site()));
    IUnknown* objects[] = {stranger.Get()};
    EXPECT_EQ(E_NOINTERFACE, m_session.page()->SetObjects(1, objects));
    ASSERT_EQ(S_OK, m_session.Activate());
    EXPECT_EQ(0, static_cast<int>(::SendDlgItemMessageW(m_session.dialog(), IDC_WINDOW_LIST, LVM_GETITEMCOUNT, 0, 0)));
    ASSERT_EQ(S_OK, TypeText(m_session.dialog(), IDC_WINDOW_CLASS, L"Anything"));
    EXPECT_EQ(S_OK, m_session.page()->Apply());
    EXPECT_EQ("<missing or malformed>", StoredText(kWindowClassValue));
    EXPECT_EQ(S_OK, m_session.Close());
}

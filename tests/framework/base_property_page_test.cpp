// CBasePropertyPage driven as a property frame drives it, with a page of the
// tests' own that records its hooks: the state and failure tables, what
// Activate leaves set up, page information and size, the dirty flag and Apply,
// the extended style, and teardown by the final release.
#include <gtest/gtest.h>

#include <wrl/client.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/base_property_page.h"
#include "framework/com_util.h"
#include "framework/module_instance.h"
#include "resources/resource.h"
#include "tests/support/malloc_spy.h"
#include "tests/support/property_page_harness.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

constexpr int kMissingDialogId = 4242;
constexpr int kMissingStringId = 4243;

// What the test page saw; owned by the test so that it outlives the page.
struct PageLog {
    std::vector<std::string> events;
    bool destroyed = false;
    HWND dlgAtInitDialog = nullptr;
    HWND hwndAtInitDialog = reinterpret_cast<HWND>(1);
    bool objectAtInitDialog = false;
    LONG exStyleAtDeactivate = -1;
    LONG exStyleAtDestroy = -1;

    int Count(const std::string& event) const {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }
};

class TestPage : public CBasePropertyPage {
public:
    TestPage(int dialogId, int titleId, PageLog* log)
        : CBasePropertyPage(L"TestPage", nullptr, dialogId, titleId), m_log(log) {}
    ~TestPage() override { m_log->destroyed = true; }

    HRESULT OnConnect(IUnknown* object) override {
        m_log->events.push_back("OnConnect");
        if (FAILED(connectResult)) {
            return connectResult;
        }
        m_object = object;
        return S_OK;
    }
    HRESULT OnDisconnect() override {
        m_log->events.push_back("OnDisconnect");
        m_object.Reset();
        return S_OK;
    }
    HRESULT OnActivate() override {
        m_log->events.push_back(m_hwnd != nullptr ? "OnActivate" : "OnActivate without window");
        return S_OK;
    }
    HRESULT OnDeactivate() override {
        m_log->events.push_back("OnDeactivate");
        m_log->exStyleAtDeactivate = ::GetWindowLongW(m_hwnd, GWL_EXSTYLE);
        return S_OK;
    }
    HRESULT OnApplyChanges() override {
        m_log->events.push_back("OnApplyChanges");
        return applyResult;
    }
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
        case WM_INITDIALOG:
            m_log->events.push_back("WM_INITDIALOG");
            m_log->dlgAtInitDialog = m_Dlg;
            m_log->hwndAtInitDialog = m_hwnd;
            m_log->objectAtInitDialog = m_object != nullptr;
            break;
        case WM_DESTROY:
            m_log->exStyleAtDestroy = ::GetWindowLongW(window, GWL_EXSTYLE);
            break;
        default:
            break;
        }
        return CBasePropertyPage::OnReceiveMessage(window, message, wParam, lParam);
    }

    void MakeDirty() { m_bDirty = TRUE; }
    HWND Window() const { return m_hwnd; }
    HWND Dlg() const { return m_Dlg; }
    BOOL ObjectSet() const { return m_bObjectSet; }

    HRESULT connectResult = S_OK;
    HRESULT applyResult = S_OK;

private:
    PageLog* m_log;
    ComPtr<IUnknown> m_object;
};

// An object for the page to edit, with a visible reference count.
class PlainObject : public CUnknown {
public:
    PlainObject() : CUnknown(L"PlainObject", nullptr) {}
    LONG RefCount() const { return m_cRef.load(); }
};

ComPtr<IUnknown> AsUnknown(CUnknown* object) {
    ComPtr<IUnknown> unknown;
    object->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.GetAddressOf()));
    return unknown;
}

class BasePropertyPageTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, host.get());
        page = new TestPage(IDD_CAPTURE_DEVICE_PROP, IDS_CAPTURE_DEVICE_PROP_TITLE, &log);
        ASSERT_EQ(S_OK, page->NonDelegatingQueryInterface(IID_IPropertyPage,
                                                          reinterpret_cast<void**>(pageItf.GetAddressOf())));
        site = new RecordingPageSite();
        siteItf = AsUnknown(site);
        object = new PlainObject();
        objectItf = AsUnknown(object);
    }
    void TearDown() override {
        pageItf.Reset();
        PumpMessages();
    }

    // The frame's usual opening: site, object, activation.
    HRESULT SiteAttachActivate() {
        RETURN_IF_FAILED(pageItf->SetPageSite(site));
        IUnknown* objects[] = {objectItf.Get()};
        RETURN_IF_FAILED(pageItf->SetObjects(1, objects));
        return pageItf->Activate(host.get(), &rect, FALSE);
    }

    PageHostWindow host;
    RECT rect = {10, 20, 310, 220};
    PageLog log;
    TestPage* page = nullptr;  // kept alive by pageItf
    ComPtr<IPropertyPage> pageItf;
    RecordingPageSite* site = nullptr;  // kept alive by siteItf
    ComPtr<IUnknown> siteItf;
    PlainObject* object = nullptr;  // kept alive by objectItf
    ComPtr<IUnknown> objectItf;
};

}  // namespace

TEST_F(BasePropertyPageTest, QueryInterfaceGivesThePageAndItsIdentity) {
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, pageItf.As(&unknown));
    ComPtr<IPropertyPage> again;
    EXPECT_EQ(S_OK, unknown.As(&again));
    EXPECT_EQ(pageItf.Get(), again.Get());
    ComPtr<IPropertyPage2> other;
    EXPECT_EQ(E_NOINTERFACE, pageItf.As(&other));
    EXPECT_EQ(nullptr, other.Get());
    EXPECT_EQ(E_POINTER, pageItf->QueryInterface(IID_IPropertyPage, nullptr));
}

TEST_F(BasePropertyPageTest, FrameSessionShowsAnInitialisedPageOnTheRectangle) {
    ASSERT_EQ(S_OK, SiteAttachActivate());
    HWND window = host.PageWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(window, page->Window());
    EXPECT_EQ(window, page->Dlg());

    // The dialog was initialised once, with its object already there, m_Dlg
    // set and m_hwnd still null; OnActivate ran once, with the window.
    EXPECT_EQ(1, log.Count("OnConnect"));
    EXPECT_EQ(1, log.Count("WM_INITDIALOG"));
    EXPECT_TRUE(log.objectAtInitDialog);
    EXPECT_EQ(window, log.dlgAtInitDialog);
    EXPECT_EQ(nullptr, log.hwndAtInitDialog);
    EXPECT_EQ(1, log.Count("OnActivate"));
    EXPECT_EQ(0, log.Count("OnActivate without window"));

    // The page is a visible child of the parent, placed on the rectangle.
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_EQ(WS_CHILD, ::GetWindowLongW(window, GWL_STYLE) & (WS_CHILD | WS_POPUP | WS_CAPTION));
    RECT placed = {};
    ::GetWindowRect(window, &placed);
    ::MapWindowPoints(nullptr, host.get(), reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(rect.left, placed.left);
    EXPECT_EQ(rect.top, placed.top);
    EXPECT_EQ(rect.right, placed.right);
    EXPECT_EQ(rect.bottom, placed.bottom);

    const RECT moved = {5, 6, 205, 106};
    EXPECT_EQ(S_OK, pageItf->Move(&moved));
    ::GetWindowRect(window, &placed);
    ::MapWindowPoints(nullptr, host.get(), reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(moved.left, placed.left);
    EXPECT_EQ(moved.bottom, placed.bottom);

    EXPECT_EQ(S_OK, pageItf->Show(SW_HIDE));
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_EQ(S_OK, pageItf->Show(SW_SHOW));
    EXPECT_TRUE(::IsWindowVisible(window));

    EXPECT_EQ(S_OK, pageItf->Deactivate());
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(nullptr, page->Window());
    EXPECT_EQ(1, log.Count("OnDeactivate"));
    EXPECT_EQ(0, host.ChildCount());

    EXPECT_EQ(S_OK, pageItf->SetObjects(0, nullptr));
    EXPECT_EQ(1, log.Count("OnDisconnect"));
    EXPECT_EQ(S_OK, pageItf->SetPageSite(nullptr));
}

TEST_F(BasePropertyPageTest, PageCanBeActivatedAgainAfterDeactivate) {
    ASSERT_EQ(S_OK, SiteAttachActivate());
    ASSERT_EQ(S_OK, pageItf->Deactivate());
    ASSERT_EQ(S_OK, pageItf->Activate(host.get(), &rect, TRUE));
    EXPECT_EQ(2, log.Count("OnActivate"));
    EXPECT_EQ(1, host.ChildCount());
    EXPECT_EQ(S_OK, pageItf->Deactivate());
}

TEST_F(BasePropertyPageTest, SiteIsHeldOnceAndReleased) {
    const LONG before = site->RefCount();
    EXPECT_EQ(E_UNEXPECTED, pageItf->SetPageSite(nullptr));
    EXPECT_EQ(S_OK, pageItf->SetPageSite(site));
    EXPECT_EQ(before + 1, site->RefCount());
    EXPECT_EQ(E_UNEXPECTED, pageItf->SetPageSite(site));
    EXPECT_EQ(before + 1, site->RefCount());
    EXPECT_EQ(S_OK, pageItf->SetPageSite(nullptr));
    EXPECT_EQ(before, site->RefCount());
    EXPECT_EQ(E_UNEXPECTED, pageItf->SetPageSite(nullptr));
}

TEST_F(BasePropertyPageTest, SetObjectsChecksCountAndPointers) {
    EXPECT_EQ(E_POINTER, pageItf->SetObjects(1, nullptr));
    IUnknown* none[] = {nullptr};
    EXPECT_EQ(E_POINTER, pageItf->SetObjects(1, none));
    IUnknown* two[] = {objectItf.Get(), objectItf.Get()};
    EXPECT_EQ(E_UNEXPECTED, pageItf->SetObjects(2, two));
    EXPECT_EQ(0, log.Count("OnConnect"));
    EXPECT_FALSE(page->ObjectSet());

    IUnknown* one[] = {objectItf.Get()};
    EXPECT_EQ(S_OK, pageItf->SetObjects(1, one));
    EXPECT_TRUE(page->ObjectSet());
    EXPECT_EQ(S_OK, pageItf->SetObjects(0, nullptr));
    EXPECT_FALSE(page->ObjectSet());
    EXPECT_EQ(1, log.Count("OnDisconnect"));
}

TEST_F(BasePropertyPageTest, FailedConnectStillCountsAsAttached) {
    page->connectResult = E_NOINTERFACE;
    IUnknown* one[] = {objectItf.Get()};
    EXPECT_EQ(E_NOINTERFACE, pageItf->SetObjects(1, one));
    EXPECT_TRUE(page->ObjectSet());
    EXPECT_EQ(S_OK, pageItf->Activate(host.get(), &rect, FALSE));
    EXPECT_EQ(S_OK, pageItf->Deactivate());
}

TEST_F(BasePropertyPageTest, ActivateRefusesWithoutObjectTwiceAndWithoutRectangle) {
    ASSERT_EQ(S_OK, pageItf->SetPageSite(site));
    EXPECT_EQ(E_UNEXPECTED, pageItf->Activate(host.get(), &rect, FALSE));
    EXPECT_EQ(0, host.ChildCount());
    EXPECT_EQ(0, log.Count("WM_INITDIALOG"));

    IUnknown* one[] = {objectItf.Get()};
    ASSERT_EQ(S_OK, pageItf->SetObjects(1, one));
    EXPECT_EQ(E_POINTER, pageItf->Activate(host.get(), nullptr, FALSE));
    EXPECT_EQ(0, host.ChildCount());

    ASSERT_EQ(S_OK, pageItf->Activate(host.get(), &rect, FALSE));
    HWND first = host.PageWindow();
    EXPECT_EQ(E_UNEXPECTED, pageItf->Activate(host.get(), &rect, FALSE));
    EXPECT_EQ(1, host.ChildCount());
    EXPECT_EQ(first, page->Window());
    EXPECT_EQ(1, log.Count("OnActivate"));
    EXPECT_EQ(S_OK, pageItf->Deactivate());
}

TEST_F(BasePropertyPageTest, InactivePageRefusesDeactivateShowAndMove) {
    EXPECT_EQ(E_UNEXPECTED, pageItf->Deactivate());
    EXPECT_EQ(E_UNEXPECTED, pageItf->Show(SW_SHOW));
    EXPECT_EQ(E_UNEXPECTED, pageItf->Move(&rect));
    EXPECT_EQ(E_POINTER, pageItf->Move(nullptr));
    EXPECT_EQ(0, log.Count("OnDeactivate"));
}

TEST_F(BasePropertyPageTest, ShowAcceptsOnlyHideShowNormalAndShow) {
    ASSERT_EQ(S_OK, SiteAttachActivate());
    HWND window = host.PageWindow();
    EXPECT_EQ(E_INVALIDARG, pageItf->Show(SW_SHOWMINIMIZED));
    EXPECT_EQ(E_INVALIDARG, pageItf->Show(SW_MAXIMIZE));
    EXPECT_EQ(E_INVALIDARG, pageItf->Show(SW_SHOWNOACTIVATE));
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_FALSE(::IsIconic(window));
    EXPECT_EQ(S_OK, pageItf->Show(SW_HIDE));
    EXPECT_EQ(S_OK, pageItf->Show(SW_SHOWNORMAL));
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_EQ(S_OK, pageItf->Deactivate());
}

TEST_F(BasePropertyPageTest, ActivateWithMissingDialogFailsAndStaysInactive) {
    PageLog otherLog;
    auto* missing = new TestPage(kMissingDialogId, IDS_CAPTURE_DEVICE_PROP_TITLE, &otherLog);
    ComPtr<IPropertyPage> missingItf;
    ASSERT_EQ(S_OK, missing->NonDelegatingQueryInterface(IID_IPropertyPage,
                                                         reinterpret_cast<void**>(missingItf.GetAddressOf())));
    IUnknown* one[] = {objectItf.Get()};
    ASSERT_EQ(S_OK, missingItf->SetObjects(1, one));
    EXPECT_EQ(E_OUTOFMEMORY, missingItf->Activate(host.get(), &rect, FALSE));
    EXPECT_EQ(nullptr, missing->Window());
    EXPECT_EQ(0, otherLog.Count("OnActivate"));
    EXPECT_EQ(E_UNEXPECTED, missingItf->Deactivate());
    EXPECT_EQ(0, host.ChildCount());
}

TEST_F(BasePropertyPageTest, PageInfoHasTitleAndMeasuredSize) {
    SIZE expected = {};
    ASSERT_EQ(S_OK, MeasureDialogResource(::GetModuleHandleW(nullptr), IDD_CAPTURE_DEVICE_PROP, 171, 137, &expected));
    EXPECT_GT(expected.cx, 171);  // pixels, not dialog units

    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, pageItf->GetPageInfo(&info));
    CoTaskMemPtr<WCHAR> title(info.pszTitle);
    EXPECT_EQ(sizeof(PROPPAGEINFO), info.cb);
    ASSERT_NE(nullptr, info.pszTitle);
    EXPECT_STREQ(L"QM Capture", info.pszTitle);
    EXPECT_EQ(expected.cx, info.size.cx);
    EXPECT_EQ(expected.cy, info.size.cy);
    EXPECT_EQ(nullptr, info.pszDocString);
    EXPECT_EQ(nullptr, info.pszHelpFile);
    EXPECT_EQ(0u, info.dwHelpContext);
    // Measuring leaves no window behind and needs no activation.
    EXPECT_EQ(nullptr, page->Window());
    EXPECT_EQ(0, log.Count("OnActivate"));

    EXPECT_EQ(E_POINTER, pageItf->GetPageInfo(nullptr));
}

TEST_F(BasePropertyPageTest, PageInfoWithoutDialogOrTitleGivesDefaults) {
    PageLog otherLog;
    auto* missing = new TestPage(kMissingDialogId, kMissingStringId, &otherLog);
    ComPtr<IPropertyPage> missingItf;
    ASSERT_EQ(S_OK, missing->NonDelegatingQueryInterface(IID_IPropertyPage,
                                                         reinterpret_cast<void**>(missingItf.GetAddressOf())));
    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, missingItf->GetPageInfo(&info));
    CoTaskMemPtr<WCHAR> title(info.pszTitle);
    ASSERT_NE(nullptr, info.pszTitle);
    EXPECT_STREQ(L"", info.pszTitle);
    EXPECT_EQ(340, info.size.cx);
    EXPECT_EQ(150, info.size.cy);
}

// The page loads its title and dialog through ModuleInstance(): pointed at a
// module without them the page falls back to its defaults, and pointed back
// at the test program (which holds the resources, as the module does) it
// finds them again.
TEST_F(BasePropertyPageTest, PageInfoComesFromTheModuleInstance) {
    struct RestoreModuleInstance {
        HINSTANCE saved = ModuleInstance();
        ~RestoreModuleInstance() { SetModuleInstance(saved); }
    } restore;
    ASSERT_EQ(::GetModuleHandleW(nullptr), restore.saved);
    // The C runtime's DLL is loaded in every mingw-w64 program and holds no
    // dialog or string table of these numbers.
    const HMODULE other = ::GetModuleHandleW(L"msvcrt.dll");
    ASSERT_NE(nullptr, other);
    ASSERT_EQ(nullptr, ::FindResourceW(other, MAKEINTRESOURCEW(IDD_CAPTURE_DEVICE_PROP), RT_DIALOG));
    ASSERT_EQ(nullptr, ::FindResourceW(other, MAKEINTRESOURCEW(IDS_CAPTURE_DEVICE_PROP_TITLE / 16 + 1), RT_STRING));

    SetModuleInstance(other);
    PROPPAGEINFO elsewhere = {};
    ASSERT_EQ(S_OK, pageItf->GetPageInfo(&elsewhere));
    CoTaskMemPtr<WCHAR> elsewhereTitle(elsewhere.pszTitle);
    ASSERT_NE(nullptr, elsewhere.pszTitle);
    EXPECT_STREQ(L"", elsewhere.pszTitle);
    EXPECT_EQ(340, elsewhere.size.cx);
    EXPECT_EQ(150, elsewhere.size.cy);

    SetModuleInstance(restore.saved);
    PROPPAGEINFO own = {};
    ASSERT_EQ(S_OK, pageItf->GetPageInfo(&own));
    CoTaskMemPtr<WCHAR> ownTitle(own.pszTitle);
    ASSERT_NE(nullptr, own.pszTitle);
    EXPECT_STREQ(L"QM Capture", own.pszTitle);
    SIZE measured = {};
    ASSERT_EQ(S_OK, MeasureDialogResource(restore.saved, IDD_CAPTURE_DEVICE_PROP, 171, 137, &measured));
    EXPECT_EQ(measured.cx, own.size.cx);
    EXPECT_EQ(measured.cy, own.size.cy);
}

TEST_F(BasePropertyPageTest, PageInfoReportsTitleCopyFailureAndLeavesRecord) {
    MallocSpy spy;
    ASSERT_TRUE(spy.registered());
    PROPPAGEINFO info = {};
    info.cb = 7;
    spy.FailAll();
    EXPECT_EQ(E_OUTOFMEMORY, pageItf->GetPageInfo(&info));
    spy.Disarm();
    EXPECT_EQ(7u, info.cb);
    EXPECT_EQ(nullptr, info.pszTitle);
    EXPECT_EQ(0, info.size.cx);
}

TEST_F(BasePropertyPageTest, ApplyRunsTheHookOnlyWhenDirty) {
    ASSERT_EQ(S_OK, SiteAttachActivate());
    EXPECT_EQ(S_FALSE, pageItf->IsPageDirty());
    EXPECT_EQ(S_OK, pageItf->Apply());
    EXPECT_EQ(0, log.Count("OnApplyChanges"));

    page->MakeDirty();
    EXPECT_EQ(S_OK, pageItf->IsPageDirty());
    EXPECT_EQ(S_OK, pageItf->Apply());
    EXPECT_EQ(1, log.Count("OnApplyChanges"));
    EXPECT_EQ(S_FALSE, pageItf->IsPageDirty());

    // A failing hook keeps the page dirty and its code reaches the frame.
    page->MakeDirty();
    page->applyResult = E_FAIL;
    EXPECT_EQ(E_FAIL, pageItf->Apply());
    EXPECT_EQ(S_OK, pageItf->IsPageDirty());
    EXPECT_EQ(S_OK, pageItf->Deactivate());
}

TEST_F(BasePropertyPageTest, DirtyFlagSurvivesDeactivateAndApplyNeedsNoWindow) {
    ASSERT_EQ(S_OK, SiteAttachActivate());
    page->MakeDirty();
    ASSERT_EQ(S_OK, pageItf->Deactivate());
    EXPECT_EQ(S_OK, pageItf->IsPageDirty());
    EXPECT_EQ(S_OK, pageItf->Apply());
    EXPECT_EQ(1, log.Count("OnApplyChanges"));
    EXPECT_EQ(S_FALSE, pageItf->IsPageDirty());
}

TEST_F(BasePropertyPageTest, ApplyNeedsObjectAndSite) {
    page->MakeDirty();
    EXPECT_EQ(E_UNEXPECTED, pageItf->Apply());
    IUnknown* one[] = {objectItf.Get()};
    ASSERT_EQ(S_OK, pageItf->SetObjects(1, one));
    EXPECT_EQ(E_UNEXPECTED, pageItf->Apply());  // dirty, attached, no site
    ASSERT_EQ(S_OK, pageItf->SetPageSite(site));
    ASSERT_EQ(S_OK, pageItf->SetObjects(0, nullptr));
    EXPECT_EQ(E_UNEXPECTED, pageItf->Apply());  // sited, detached
    EXPECT_EQ(0, log.Count("OnApplyChanges"));
    EXPECT_EQ(S_OK, pageItf->IsPageDirty());
}

TEST_F(BasePropertyPageTest, HelpAndTranslateAcceleratorAreNotImplemented) {
    EXPECT_EQ(E_NOTIMPL, pageItf->Help(L"C:\\"));
    MSG msg = {};
    EXPECT_EQ(E_NOTIMPL, pageItf->TranslateAccelerator(&msg));
}

TEST_F(BasePropertyPageTest, ActivePageKeepsControlParentAndDropsItAtDeactivate) {
    ASSERT_EQ(S_OK, SiteAttachActivate());
    HWND window = host.PageWindow();

    // The frame drops the flag; the page puts it back.
    const LONG before = ::GetWindowLongW(window, GWL_EXSTYLE);
    ::SetWindowLongW(window, GWL_EXSTYLE, before & ~WS_EX_CONTROLPARENT);
    EXPECT_NE(0, ::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    ::SetWindowLongW(window, GWL_EXSTYLE, WS_EX_TRANSPARENT);
    const LONG now = ::GetWindowLongW(window, GWL_EXSTYLE);
    EXPECT_NE(0, now & WS_EX_CONTROLPARENT);
    EXPECT_NE(0, now & WS_EX_TRANSPARENT);
    // A change of the plain style passes untouched.
    const LONG style = ::GetWindowLongW(window, GWL_STYLE);
    ::SetWindowLongW(window, GWL_STYLE, style | WS_TABSTOP);
    EXPECT_NE(0, ::GetWindowLongW(window, GWL_STYLE) & WS_TABSTOP);

    ASSERT_EQ(S_OK, pageItf->Deactivate());
    ASSERT_NE(-1, log.exStyleAtDeactivate);
    ASSERT_NE(-1, log.exStyleAtDestroy);
    EXPECT_EQ(0, log.exStyleAtDeactivate & WS_EX_CONTROLPARENT);
    EXPECT_EQ(0, log.exStyleAtDestroy & WS_EX_CONTROLPARENT);
    EXPECT_NE(0, log.exStyleAtDestroy & WS_EX_TRANSPARENT);
}

TEST_F(BasePropertyPageTest, FinalReleaseUnsitesAndDetaches) {
    const LONG siteBefore = site->RefCount();
    const LONG objectBefore = object->RefCount();
    ASSERT_EQ(S_OK, pageItf->SetPageSite(site));
    IUnknown* one[] = {objectItf.Get()};
    ASSERT_EQ(S_OK, pageItf->SetObjects(1, one));
    EXPECT_EQ(siteBefore + 1, site->RefCount());
    EXPECT_EQ(objectBefore + 1, object->RefCount());

    const LONG live = CBaseObject::ObjectsActive();
    EXPECT_EQ(0u, pageItf.Reset());
    EXPECT_TRUE(log.destroyed);
    EXPECT_EQ(1, log.Count("OnDisconnect"));
    EXPECT_EQ(siteBefore, site->RefCount());
    EXPECT_EQ(objectBefore, object->RefCount());
    EXPECT_EQ(live - 1, CBaseObject::ObjectsActive());
}

TEST_F(BasePropertyPageTest, FinalReleaseOfAnActivePageDestroysItsWindowFirst) {
    ASSERT_EQ(S_OK, SiteAttachActivate());
    HWND window = host.PageWindow();
    ASSERT_NE(nullptr, window);
    pageItf.Reset();
    EXPECT_TRUE(log.destroyed);
    EXPECT_EQ(1, log.Count("OnDeactivate"));
    EXPECT_FALSE(::IsWindow(window));
    // The host goes on receiving messages without reaching the freed page.
    ::RedrawWindow(host.get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessages();
}

TEST(GetDialogSizeTest, MeasuresDialogResourcesInPixels) {
    SIZE expected = {};
    ASSERT_EQ(S_OK, MeasureDialogResource(::GetModuleHandleW(nullptr), IDD_CAPTURE_DEVICE_PROP, 171, 137, &expected));
    SIZE size = {-1, -1};
    EXPECT_TRUE(GetDialogSize(IDD_CAPTURE_DEVICE_PROP, CBasePropertyPage::DialogProc, 0, &size));
    EXPECT_EQ(expected.cx, size.cx);
    EXPECT_EQ(expected.cy, size.cy);

    SIZE untouched = {7, 8};
    EXPECT_FALSE(GetDialogSize(kMissingDialogId, CBasePropertyPage::DialogProc, 0, &untouched));
    EXPECT_EQ(7, untouched.cx);
    EXPECT_EQ(8, untouched.cy);
    EXPECT_FALSE(GetDialogSize(IDD_CAPTURE_DEVICE_PROP, CBasePropertyPage::DialogProc, 0, nullptr));
}

TEST(DialogProcTest, DialogWithoutPageHandlesItsMessagesItself) {
    PageHostWindow host;
    HWND dialog = ::CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_CAPTURE_DEVICE_PROP), host.get(),
                                       CBasePropertyPage::DialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(0, ::GetWindowLongPtrW(dialog, DWLP_USER));
    EXPECT_EQ(TRUE, CBasePropertyPage::DialogProc(dialog, WM_COMMAND, MAKEWPARAM(1001, EN_CHANGE), 0));
    ::DestroyWindow(dialog);
}

TEST(AMGetWideStringTest, CopiesIntoTaskMemory) {
    LPWSTR copy = reinterpret_cast<LPWSTR>(1);
    ASSERT_EQ(S_OK, AMGetWideString(L"QM \u30AD\u30E3\u30D7\u30C1\u30E3", &copy));
    CoTaskMemPtr<WCHAR> owned(copy);
    EXPECT_STREQ(L"QM \u30AD\u30E3\u30D7\u30C1\u30E3", copy);

    ASSERT_EQ(S_OK, AMGetWideString(L"", owned.put()));
    EXPECT_STREQ(L"", owned.get());
}

TEST(AMGetWideStringTest, RefusesBadArguments) {
    EXPECT_EQ(E_POINTER, AMGetWideString(L"x", nullptr));
    LPWSTR copy = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(E_INVALIDARG, AMGetWideString(nullptr, &copy));
    EXPECT_EQ(nullptr, copy);

    // The terminator must lie within the first 50,000 characters.
    std::wstring unterminated(50000, L'a');
    unterminated.push_back(L'\0');
    copy = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(E_INVALIDARG, AMGetWideString(unterminated.c_str(), &copy));
    EXPECT_EQ(nullptr, copy);
    std::wstring longest(49999, L'b');
    ASSERT_EQ(S_OK, AMGetWideString(longest.c_str(), &copy));
    CoTaskMemPtr<WCHAR> owned(copy);
    EXPECT_EQ(longest, std::wstring(copy));
}

TEST(AMGetWideStringTest, ReportsAllocationFailure) {
    MallocSpy spy;
    ASSERT_TRUE(spy.registered());
    LPWSTR copy = reinterpret_cast<LPWSTR>(1);
    spy.FailAll();
    EXPECT_EQ(E_OUTOFMEMORY, AMGetWideString(L"title", &copy));
    spy.Disarm();
    EXPECT_EQ(nullptr, copy);
}

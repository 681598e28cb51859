// The module's resources: dialog 101 byte for byte as the template says,
// its controls as the dialog manager builds them (texts read back as wide
// characters), the title string, and the isolation-aware manifest, both in
// this test program and in the built module.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/com_util.h"
#include "framework/module_instance.h"
#include "resources/resource.h"
#include "tests/page/page_session.h"
#include "tests/support/property_page_harness.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
constexpr DWORD kChildVisible = WS_CHILD | WS_VISIBLE;
// Predefined control classes as they appear in a dialog template.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kComboBoxClass = 0x0085;

struct ExpectedControl {
    DWORD id;
    WORD classOrdinal;
    const wchar_t* className;  // as GetClassNameW reports it
    const wchar_t* text;
    short x, y, cx, cy;
    DWORD style;
};

// The thirteen controls in template order. Texts as code points: "品質 :",
// "フレームレート :", "方向 :", "縦", "横", "待機中文字 :", "待機中画像 :",
// "参照…", "クリア".
const ExpectedControl kControls[] = {
    {IDC_QUALITY, kComboBoxClass, L"ComboBox", L"", 73, 7, 49, 114,
     kChildVisible | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
    {static_cast<DWORD>(IDC_STATIC), kStaticClass, L"Static", L"\u54C1\u8CEA :", 47, 8, 22, 8,
     kChildVisible | SS_LEFT | WS_GROUP},
    {static_cast<DWORD>(IDC_STATIC), kStaticClass, L"Static",
     L"\u30D5\u30EC\u30FC\u30E0\u30EC\u30FC\u30C8 :", 21, 45, 48, 8, kChildVisible | SS_LEFT | WS_GROUP},
    {IDC_FRAME_RATE, kEditClass, L"Edit", L"", 73, 44, 40, 12,
     kChildVisible | ES_CENTER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    {static_cast<DWORD>(IDC_STATIC), kStaticClass, L"Static", L"\u65B9\u5411 :", 47, 27, 22, 8,
     kChildVisible | SS_LEFT | WS_GROUP},
    {IDC_PORTRAIT, kButtonClass, L"Button", L"\u7E26", 76, 27, 24, 10, kChildVisible | BS_AUTORADIOBUTTON},
    {IDC_LANDSCAPE, kButtonClass, L"Button", L"\u6A2A", 106, 27, 24, 10, kChildVisible | BS_AUTORADIOBUTTON},
    {static_cast<DWORD>(IDC_STATIC), kStaticClass, L"Static", L"\u5F85\u6A5F\u4E2D\u6587\u5B57 :", 23, 66, 46, 8,
     kChildVisible | SS_LEFT | WS_GROUP},
    {IDC_TITLE_TEXT, kEditClass, L"Edit", L"", 73, 64, 89, 12,
     kChildVisible | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    {static_cast<DWORD>(IDC_STATIC), kStaticClass, L"Static", L"\u5F85\u6A5F\u4E2D\u753B\u50CF :", 23, 86, 46, 8,
     kChildVisible | SS_LEFT | WS_GROUP},
    {IDC_STANDBY_IMAGE, kEditClass, L"Edit", L"", 73, 84, 89, 12,
     kChildVisible | ES_AUTOHSCROLL | ES_READONLY | WS_BORDER | WS_TABSTOP},
    {IDC_STANDBY_IMAGE_BROWSE, kButtonClass, L"Button", L"\u53C2\u7167\u2026", 73, 100, 42, 14,
     kChildVisible | BS_PUSHBUTTON | WS_TABSTOP},
    {IDC_STANDBY_IMAGE_CLEAR, kButtonClass, L"Button", L"\u30AF\u30EA\u30A2", 120, 100, 42, 14,
     kChildVisible | BS_PUSHBUTTON | WS_TABSTOP},
    // The output format, shown and not edited.
    {static_cast<DWORD>(IDC_STATIC), kStaticClass, L"Static", L"\u51FA\u529B\u5F62\u5F0F :", 31, 122, 38, 8,
     kChildVisible | SS_LEFT | WS_GROUP},
    {IDC_OUTPUT_FORMAT, kStaticClass, L"Static", L"", 73, 122, 89, 8, kChildVisible | SS_LEFT | SS_NOPREFIX},
};

// Reads a DLGTEMPLATEEX and its items.
class TemplateReader {
public:
    TemplateReader(const BYTE* data, size_t size) : m_base(data), m_p(data), m_end(data + size) {}

    bool ok() const { return m_ok; }
    WORD Word() { return Read<WORD>(); }
    DWORD Dword() { return Read<DWORD>(); }
    short Short() { return static_cast<short>(Read<WORD>()); }
    BYTE Byte() { return Read<BYTE>(); }
    std::wstring String() {
        std::wstring text;
        for (WORD c = Word(); m_ok && c != 0; c = Word()) {
            text.push_back(static_cast<wchar_t>(c));
        }
        return text;
    }
    // A name or an ordinal: 0xFFFF followed by the ordinal.
    std::wstring StringOrOrdinal(WORD* ordinal) {
        *ordinal = 0;
        if (m_p + 2 <= m_end && *reinterpret_cast<const WORD*>(m_p) == 0xFFFF) {
            Word();
            *ordinal = Word();
            return std::wstring();
        }
        return String();
    }
    void AlignToDword() {
        const size_t offset = static_cast<size_t>(m_p - m_base);
        m_p = m_base + ((offset + 3) & ~static_cast<size_t>(3));
    }
    void Skip(size_t bytes) { m_p += bytes; }

private:
    template <typename T>
    T Read() {
        if (m_p + sizeof(T) > m_end) {
            m_ok = false;
            return T{};
        }
        T value;
        std::memcpy(&value, m_p, sizeof(T));
        m_p += sizeof(T);
        return value;
    }

    const BYTE* m_base;
    const BYTE* m_p;
    const BYTE* m_end;
    bool m_ok = true;
};

bool ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, const BYTE** data, size_t* size) {
    HRSRC info = ::FindResourceExW(module, type, name, language);
    if (info == nullptr) {
        return false;
    }
    HGLOBAL loaded = ::LoadResource(module, info);
    *data = static_cast<const BYTE*>(::LockResource(loaded));
    *size = ::SizeofResource(module, info);
    return *data != nullptr;
}

std::string ManifestText(HMODULE module) {
    const BYTE* data = nullptr;
    size_t size = 0;
    if (!ResourceBytes(module, RT_MANIFEST, ISOLATIONAWARE_MANIFEST_RESOURCE_ID,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), &data, &size)) {
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(data), size);
}

struct ActCtxTraits {
    using Type = HANDLE;
    static Type Null() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::ReleaseActCtx(h); }
};
using UniqueActCtx = UniqueResource<ActCtxTraits>;

// The activation context of a module's isolation-aware manifest.
UniqueActCtx ManifestContext(HMODULE module) {
    ACTCTXW context = {};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.hModule = module;
    context.lpResourceName = ISOLATIONAWARE_MANIFEST_RESOURCE_ID;
    return UniqueActCtx(::CreateActCtxW(&context));
}

class ModuleLibrary {
public:
    ModuleLibrary() {
        wchar_t path[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring module(path);
        module.resize(module.find_last_of(L"\\/") + 1);
        module += L"QMCaptureDevice.ax";
        m_module = ::LoadLibraryW(module.c_str());
    }
    ~ModuleLibrary() {
        if (m_module != nullptr) {
            ::FreeLibrary(m_module);
        }
    }
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;
    HMODULE get() const { return m_module; }

private:
    HMODULE m_module = nullptr;
};

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

void ExpectDialogTemplate(HMODULE module) {
    const BYTE* data = nullptr;
    size_t size = 0;
    ASSERT_TRUE(ResourceBytes(module, RT_DIALOG, MAKEINTRESOURCEW(IDD_CAPTURE_DEVICE_PROP), kJapanese, &data, &size))
        << "dialog 101 in Japanese";
    TemplateReader reader(data, size);
    EXPECT_EQ(1, reader.Word());       // dlgVer
    EXPECT_EQ(0xFFFF, reader.Word());  // signature of DLGTEMPLATEEX
    reader.Dword();                    // helpID
    EXPECT_EQ(0u, reader.Dword());     // exStyle
    EXPECT_EQ(static_cast<DWORD>(WS_CHILD | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS), reader.Dword());
    const WORD count = reader.Word();
    ASSERT_EQ(15, count);
    EXPECT_EQ(0, reader.Short());
    EXPECT_EQ(0, reader.Short());
    EXPECT_EQ(171, reader.Short());
    EXPECT_EQ(137, reader.Short());
    WORD ordinal = 0;
    EXPECT_EQ(L"", reader.StringOrOrdinal(&ordinal));  // no menu
    EXPECT_EQ(0, ordinal);
    EXPECT_EQ(L"", reader.StringOrOrdinal(&ordinal));  // the standard dialog class
    EXPECT_EQ(0, ordinal);
    EXPECT_EQ(L"", reader.String());  // no caption
    EXPECT_EQ(8, reader.Word());      // points
    EXPECT_EQ(400, reader.Word());    // weight
    EXPECT_EQ(0, reader.Byte());      // not italic
    EXPECT_EQ(1, reader.Byte());      // character set
    EXPECT_EQ(L"MS Shell Dlg", reader.String());

    for (const ExpectedControl& expected : kControls) {
        SCOPED_TRACE(testing::Message() << "control " << (&expected - kControls) + 1);
        reader.AlignToDword();
        reader.Dword();                  // helpID
        EXPECT_EQ(0u, reader.Dword());   // exStyle
        EXPECT_EQ(expected.style, reader.Dword());
        EXPECT_EQ(expected.x, reader.Short());
        EXPECT_EQ(expected.y, reader.Short());
        EXPECT_EQ(expected.cx, reader.Short());
        EXPECT_EQ(expected.cy, reader.Short());
        EXPECT_EQ(expected.id, reader.Dword());
        // The class by ordinal, or by name as windres writes it.
        const std::wstring className = reader.StringOrOrdinal(&ordinal);
        if (className.empty()) {
            EXPECT_EQ(expected.classOrdinal, ordinal);
        } else {
            EXPECT_EQ(0, ::lstrcmpiW(expected.className, className.c_str())) << testing::PrintToString(className);
        }
        EXPECT_EQ(std::wstring(expected.text), reader.StringOrOrdinal(&ordinal));
        reader.Skip(reader.Word());  // creation data
    }
    EXPECT_TRUE(reader.ok());
}

}  // namespace

TEST(ResourcesTest, DialogTemplateIsExactlyThePageLayout) {
    ExpectDialogTemplate(ModuleInstance());
}

TEST(ResourcesTest, DialogControlsReadBackAsUnicode) {
    PageHostWindow host;
    HWND dialog = ::CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_CAPTURE_DEVICE_PROP), host.get(),
                                       PlainDialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    EXPECT_FALSE(::IsWindowVisible(dialog));
    EXPECT_EQ(0, ::GetWindowTextLengthW(dialog));

    // Children in template order, which is also the tab order.
    HWND child = ::GetWindow(dialog, GW_CHILD);
    for (const ExpectedControl& expected : kControls) {
        SCOPED_TRACE(testing::Message() << "control " << (&expected - kControls) + 1);
        ASSERT_NE(nullptr, child);
        wchar_t className[32] = {};
        ::GetClassNameW(child, className, 32);
        EXPECT_EQ(0, ::lstrcmpiW(expected.className, className)) << "class " << testing::PrintToString(std::wstring(className));
        EXPECT_EQ(expected.id & 0xFFFF, static_cast<DWORD>(::GetDlgCtrlID(child)) & 0xFFFF);
        wchar_t text[64] = {};
        ::GetWindowTextW(child, text, 64);
        EXPECT_EQ(std::wstring(expected.text), text);

        // The dialog manager converts position and size separately, as
        // MapDialogRect does each field.
        RECT want = {expected.x, expected.y, expected.cx, expected.cy};
        ::MapDialogRect(dialog, &want);
        RECT got = {};
        ::GetWindowRect(child, &got);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
        EXPECT_EQ(want.left, got.left);
        EXPECT_EQ(want.top, got.top);
        EXPECT_EQ(want.right, got.right - got.left);
        if (expected.classOrdinal != kComboBoxClass) {  // a drop list is as tall as its edit field
            EXPECT_EQ(want.bottom, got.bottom - got.top);
        }
        child = ::GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(nullptr, child);

    // Without an activation context asking for them, the controls are the
    // system's own, which know nothing of BCM_GETIDEALSIZE.
    SIZE ideal = {};
    EXPECT_FALSE(::SendDlgItemMessageW(dialog, IDC_PORTRAIT, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));

    // The two radio buttons are one group.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_PORTRAIT));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_PORTRAIT));
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_LANDSCAPE));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_LANDSCAPE));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_PORTRAIT));
    // Control texts through the dialog item interface as well.
    wchar_t text[8] = {};
    EXPECT_EQ(1u, ::GetDlgItemTextW(dialog, IDC_LANDSCAPE, text, 8));
    EXPECT_STREQ(L"\u6A2A", text);
    ::DestroyWindow(dialog);
}

TEST(ResourcesTest, TitleStringIsJapaneseEntryOne) {
    const BYTE* data = nullptr;
    size_t size = 0;
    // String 1 lives in block 1 of the string table.
    EXPECT_TRUE(ResourceBytes(ModuleInstance(), RT_STRING, MAKEINTRESOURCEW(IDS_CAPTURE_DEVICE_PROP_TITLE / 16 + 1),
                              kJapanese, &data, &size));
    wchar_t title[64] = {};
    EXPECT_EQ(10, ::LoadStringW(ModuleInstance(), IDS_CAPTURE_DEVICE_PROP_TITLE, title, 64));
    EXPECT_STREQ(L"QM Capture", title);
}

TEST(ResourcesTest, WindowPageDialogHasItsJapaneseLabelsAndTitle) {
    // The list view's class must exist before the dialog is made; the page
    // registers it, as this does.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    ASSERT_TRUE(::InitCommonControlsEx(&controls));
    PageHostWindow host;
    HWND dialog = ::CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_CAPTURE_WINDOW_PROP), host.get(),
                                       PlainDialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    const struct {
        int id;
        const wchar_t* text;
    } labels[] = {
        {IDC_REFRESH_WINDOWS, L"\u66F4\u65B0"},                                      // 更新
        {IDC_CLASS_ONLY, L"\u30AF\u30E9\u30B9\u3060\u3051\u3067\u63A2\u3059"},  // クラスだけで探す
        {IDC_SCALE_STRETCH, L"\u62E1\u5927"},                                        // 拡大
        {IDC_SCALE_FIT, L"\u5168\u4F53"},                                            // 全体
        {IDC_SCALE_FILL, L"\u5207\u308A\u53D6\u308A"},                             // 切り取り
        {IDC_MIRROR, L"\u5DE6\u53F3\u53CD\u8EE2"},                                 // 左右反転
        {IDC_SOURCE_WINDOW, L"\u30A6\u30A3\u30F3\u30C9\u30A6"},                     // ウィンドウ
        {IDC_SOURCE_MONITOR, L"\u30E2\u30CB\u30BF\u30FC"},                          // モニター
        {IDC_SOURCE_REGION, L"\u7BC4\u56F2"},                                        // 範囲
        // マウス ポインターを表示
        {IDC_SHOW_CURSOR, L"\u30DE\u30A6\u30B9 \u30DD\u30A4\u30F3\u30BF\u30FC\u3092\u8868\u793A"},
    };
    for (const auto& label : labels) {
        EXPECT_EQ(std::wstring(label.text), ControlText(dialog, label.id)) << label.id;
    }
    wchar_t className[32] = {};
    ::GetClassNameW(::GetDlgItem(dialog, IDC_WINDOW_LIST), className, 32);
    EXPECT_EQ(0, ::lstrcmpiW(WC_LISTVIEWW, className));
    // The three framing options are one group: a click on one clears the others.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SCALE_FIT));
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SCALE_FILL));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_SCALE_FIT));
    // So are the three kinds, apart from the framing.
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SOURCE_MONITOR));
    ASSERT_EQ(S_OK, ClickButton(dialog, IDC_SOURCE_REGION));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_SOURCE_MONITOR));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_SCALE_FILL));
    for (const int id : {IDC_CROP_X, IDC_REGION_HEIGHT, IDC_MONITOR_LIST, IDC_CAPTURE_METHOD}) {
        EXPECT_NE(nullptr, ::GetDlgItem(dialog, id)) << id;
    }
    ::DestroyWindow(dialog);

    wchar_t title[16] = {};
    EXPECT_EQ(5, ::LoadStringW(ModuleInstance(), IDS_CAPTURE_WINDOW_PROP_TITLE, title, 16));
    EXPECT_STREQ(L"\u30A6\u30A3\u30F3\u30C9\u30A6", title);  // ウィンドウ

    // What the page says under the thumbnail of the rule that found it.
    const struct {
        UINT id;
        const wchar_t* text;
    } rules[] = {
        {IDS_MATCH_NONE, L"\u898B\u3064\u304B\u308A\u307E\u305B\u3093"},                    // 見つかりません
        {IDS_MATCH_TITLE, L"\u30BF\u30A4\u30C8\u30EB\u3067\u4E00\u81F4"},                 // タイトルで一致
        {IDS_MATCH_CLASS, L"\u30AF\u30E9\u30B9\u3067\u4E00\u81F4"},                        // クラスで一致
        {IDS_MATCH_PROGRAM, L"\u30D7\u30ED\u30B0\u30E9\u30E0\u3067\u4E00\u81F4"},        // プログラムで一致
        {IDS_MATCH_BUILT_IN, L"\u65E2\u5B9A\u306E\u30AF\u30E9\u30B9\u3067\u4E00\u81F4"},  // 既定のクラスで一致
    };
    for (const auto& rule : rules) {
        wchar_t text[64] = {};
        EXPECT_GT(::LoadStringW(ModuleInstance(), rule.id, text, 64), 0) << rule.id;
        EXPECT_STREQ(rule.text, text) << rule.id;
    }
}

TEST(ResourcesTest, WindowPageControlsLieInsideTheDialogWithoutOverlapping) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    ASSERT_TRUE(::InitCommonControlsEx(&controls));
    PageHostWindow host;
    HWND dialog = ::CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_CAPTURE_WINDOW_PROP), host.get(),
                                       PlainDialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    // The thumbnail as the page sizes it, in pixels.
    ::SetWindowPos(::GetDlgItem(dialog, IDC_THUMBNAIL), nullptr, 0, 0, 160, 120,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client = {};
    ASSERT_TRUE(::GetClientRect(dialog, &client));
    struct Placed {
        int id;
        RECT rect;
    };
    std::vector<Placed> placed;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        RECT rect = {};
        ::GetWindowRect(child, &rect);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        placed.push_back({::GetDlgCtrlID(child), rect});
    }
    ASSERT_GE(placed.size(), 30u);
    for (size_t i = 0; i < placed.size(); ++i) {
        const RECT& a = placed[i].rect;
        EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right <= client.right && a.bottom <= client.bottom)
            << "control " << placed[i].id << " leaves the dialog";
        for (size_t j = i + 1; j < placed.size(); ++j) {
            RECT overlap = {};
            EXPECT_FALSE(::IntersectRect(&overlap, &a, &placed[j].rect))
                << "controls " << placed[i].id << " and " << placed[j].id << " overlap";
        }
    }
    ::DestroyWindow(dialog);
}

TEST(ResourcesTest, ManifestAsksForCommonControls6) {
    const std::string manifest = ManifestText(ModuleInstance());
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\""));
    EXPECT_NE(std::string::npos, manifest.find("version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, manifest.find("publicKeyToken=\"6595b64144ccf1df\""));
    EXPECT_NE(std::string::npos, manifest.find("processorArchitecture=\"*\""));
    UniqueActCtx context = ManifestContext(ModuleInstance());
    EXPECT_NE(INVALID_HANDLE_VALUE, context.get()) << "error " << ::GetLastError();
}

TEST(ResourcesTest, ModuleCarriesTheSameResources) {
    ModuleLibrary module;
    ASSERT_NE(nullptr, module.get()) << "error " << ::GetLastError();
    ExpectDialogTemplate(module.get());
    wchar_t title[64] = {};
    EXPECT_EQ(10, ::LoadStringW(module.get(), IDS_CAPTURE_DEVICE_PROP_TITLE, title, 64));
    EXPECT_STREQ(L"QM Capture", title);
    EXPECT_EQ(ManifestText(ModuleInstance()), ManifestText(module.get()));
    UniqueActCtx context = ManifestContext(module.get());
    EXPECT_NE(INVALID_HANDLE_VALUE, context.get()) << "error " << ::GetLastError();
}

TEST(ResourcesTest, PageWorksWithCommonControls6Active) {
    // A host application whose manifest asks for Common Controls 6 creates
    // the page's controls from that version.
    UniqueActCtx context = ManifestContext(ModuleInstance());
    ASSERT_NE(INVALID_HANDLE_VALUE, context.get());
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(::ActivateActCtx(context.get(), &cookie));

    RegistrySandbox sandbox;
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, CreateCaptureFilterTarget(&object));
    ASSERT_EQ(S_OK, PrepareDevice(object.Get(), 3, 30.0, "x"));
    {
        PageSession session;
        ASSERT_EQ(S_OK, session.Open(object.Get()));
        HWND dialog = session.dialog();
        // The controls are the Common Controls 6 versions: only those
        // buttons know BCM_GETIDEALSIZE.
        SIZE ideal = {};
        EXPECT_TRUE(::SendDlgItemMessageW(dialog, IDC_PORTRAIT, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));
        EXPECT_EQ(5, ::SendDlgItemMessageW(dialog, IDC_QUALITY, CB_GETCOUNT, 0, 0));
        wchar_t item[8] = {};
        ::SendDlgItemMessageW(dialog, IDC_QUALITY, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(item));
        EXPECT_STREQ(L"\u6700\u9AD8", item);
        EXPECT_EQ(L"30", ControlText(dialog, IDC_FRAME_RATE));
        EXPECT_GE(session.site()->DirtyReports(), 1);
        ASSERT_EQ(S_OK, SelectComboItem(dialog, IDC_QUALITY, 2));
        ASSERT_EQ(S_OK, TypeText(dialog, IDC_FRAME_RATE, L"5"));
        ASSERT_EQ(S_OK, session.page()->Apply());
        EXPECT_EQ("5", StoredText("SelectPixel"));
        EXPECT_EQ("2000000", StoredText("FrameTime"));
        EXPECT_EQ(S_OK, session.Close());
    }
    ::DeactivateActCtx(0, cookie);
}

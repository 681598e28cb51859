// Registration steps against the real registry and the platform's filter
// mapper, with HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE redirected to
// scratch keys for each test.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <dshow.h>
#include <sddl.h>
#include <wrl/client.h>

#include <string>

#include "framework/com_util.h"
#include "module/registration.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;

namespace {

// {5C1B8F00-3C1E-4B4F-8E64-0D7F0B6A7A10}
constexpr GUID CLSID_RegTest = {0x5c1b8f00, 0x3c1e, 0x4b4f, {0x8e, 0x64, 0x0d, 0x7f, 0x0b, 0x6a, 0x7a, 0x10}};

std::wstring GuidText(const GUID& guid) {
    wchar_t text[39];
    ::StringFromGUID2(guid, text, 39);
    return text;
}

std::wstring ReadString(HKEY root, const std::wstring& path, const wchar_t* value) {
    wchar_t data[1024] = {};
    DWORD bytes = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    UniqueRegKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
        ::RegQueryValueExW(key.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return L"<missing>";
    }
    return data;
}

bool Exists(HKEY root, const std::wstring& path) {
    UniqueRegKey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void CreateKey(HKEY root, const std::wstring& path) {
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                               key.put(), nullptr));
}

// The native path of a key (\REGISTRY\...), which link keys point at.
bool NativeKeyPath(HKEY root, const wchar_t* path, std::wstring& native) {
    using NtQueryKeyFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<NtQueryKeyFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    UniqueRegKey key;
    if (query == nullptr || ::RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    // KEY_NAME_INFORMATION: a byte length followed by the name.
    alignas(ULONG) BYTE buffer[2048];
    ULONG length = 0;
    constexpr int kKeyNameInformation = 3;
    if (query(key.get(), kKeyNameInformation, buffer, sizeof(buffer), &length) != 0) {
        return false;
    }
    const ULONG bytes = *reinterpret_cast<ULONG*>(buffer);
    native.assign(reinterpret_cast<const wchar_t*>(buffer + sizeof(ULONG)), bytes / sizeof(wchar_t));
    return true;
}

class RegistrationTest : public testing::Test {
protected:
    void SetUp() override {
        // The mapper's COM class is looked up before the roots move.
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_PPV_ARGS(&m_mapper)));
        m_sandbox = std::make_unique<RegistrySandbox>(
            std::initializer_list<HKEY>{HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE});
        ASSERT_TRUE(m_sandbox->ok());
    }
    void TearDown() override {
        m_mapper.Reset();
        m_sandbox.reset();
    }
    ComPtr<IFilterMapper2> m_mapper;
    std::unique_ptr<RegistrySandbox> m_sandbox;
};

}  // namespace

TEST_F(RegistrationTest, ServerKeyHoldsNamePathAndThreadingModel) {
    const std::wstring key = L"CLSID\\" + GuidText(CLSID_RegTest);
    ASSERT_EQ(S_OK, AMovieSetupRegisterServer(CLSID_RegTest, L"QMCapture Property", L"C:\\d\\\u00e9t\u00e9.ax",
                                              L"Both", L"InprocServer32"));
    EXPECT_EQ(L"QMCapture Property", ReadString(HKEY_CLASSES_ROOT, key, nullptr));
    EXPECT_EQ(L"C:\\d\\\u00e9t\u00e9.ax", ReadString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"Both", ReadString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel"));
    // A second registration overwrites in place.
    ASSERT_EQ(S_OK, AMovieSetupRegisterServer(CLSID_RegTest, L"Other", L"x.ax", L"Both", L"InprocServer32"));
    EXPECT_EQ(L"Other", ReadString(HKEY_CLASSES_ROOT, key, nullptr));
    EXPECT_EQ(E_POINTER, AMovieSetupRegisterServer(CLSID_RegTest, nullptr, L"x", L"Both", L"InprocServer32"));

    // Removal takes subkeys that other software added with it.
    CreateKey(HKEY_CLASSES_ROOT, key + L"\\Extra\\Deeper\\Deepest");
    EXPECT_EQ(S_OK, AMovieSetupUnregisterServer(CLSID_RegTest));
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, key));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, L"CLSID"));
    // Nothing to remove is success.
    EXPECT_EQ(S_OK, AMovieSetupUnregisterServer(CLSID_RegTest));
}

TEST_F(RegistrationTest, EliminateSubKeyRefusesEmptyNameAndStopsAtSurvivingSubkey) {
    CreateKey(HKEY_CLASSES_ROOT, L"Tree\\A");
    CreateKey(HKEY_CLASSES_ROOT, L"Tree\\B");
    EXPECT_EQ(E_FAIL, EliminateSubKey(HKEY_CLASSES_ROOT, L""));
    EXPECT_EQ(E_FAIL, EliminateSubKey(HKEY_CLASSES_ROOT, nullptr));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, L"Tree\\B"));
    EXPECT_EQ(S_OK, EliminateSubKey(HKEY_CLASSES_ROOT, L"Missing"));

    // A symbolic link key survives RegDeleteKey, which removes the key it
    // points at instead; enumeration would find it again for ever.
    CreateKey(HKEY_CLASSES_ROOT, L"Target");
    std::wstring targetPath;
    ASSERT_TRUE(NativeKeyPath(HKEY_CLASSES_ROOT, L"Target", targetPath));
    {
        UniqueRegKey link;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Tree\\A\\A1", 0, nullptr,
                                                   REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                                                   nullptr, link.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                                   reinterpret_cast<const BYTE*>(targetPath.data()),
                                   static_cast<DWORD>(targetPath.size() * sizeof(wchar_t))));
    }
    EXPECT_TRUE(FAILED(EliminateSubKey(HKEY_CLASSES_ROOT, L"Tree")));
    // The removal stopped there: the rest is still in place.
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, L"Tree\\A"));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, L"Tree\\B"));
}

TEST_F(RegistrationTest, MapperRecordIsAnnouncedReplacedAndWithdrawn) {
    const AMOVIESETUP_FILTER setup = {&CLSID_RegTest, L"Registration Test", sudCaptureDevice.dwMerit,
                                      sudCaptureDevice.nPins, sudCaptureDevice.lpPin};
    const std::wstring instance = L"CLSID\\" + GuidText(CLSID_LegacyAmFilterCategory) + L"\\Instance\\" +
                                  GuidText(CLSID_RegTest);
    EXPECT_EQ(S_FALSE, AMovieSetupRegisterFilter2(nullptr, m_mapper.Get(), TRUE));
    EXPECT_EQ(E_POINTER, AMovieSetupRegisterFilter2(&setup, nullptr, TRUE));

    ASSERT_EQ(S_OK, AMovieSetupRegisterFilter2(&setup, m_mapper.Get(), TRUE));
    EXPECT_EQ(L"Registration Test", ReadString(HKEY_CLASSES_ROOT, instance, L"FriendlyName"));
    // Registering again replaces the entry.
    ASSERT_EQ(S_OK, AMovieSetupRegisterFilter2(&setup, m_mapper.Get(), TRUE));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, instance));

    ASSERT_EQ(S_OK, AMovieSetupRegisterFilter2(&setup, m_mapper.Get(), FALSE));
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, instance));
    // Withdrawing what is not registered counts as done.
    EXPECT_EQ(S_OK, AMovieSetupRegisterFilter2(&setup, m_mapper.Get(), FALSE));
}

TEST_F(RegistrationTest, OlderMapperGetsFilterPinAndType) {
    ComPtr<IFilterMapper> mapper;
    ASSERT_EQ(S_OK, m_mapper.As(&mapper));
    const AMOVIESETUP_FILTER setup = {&CLSID_RegTest, L"Registration Test", sudCaptureDevice.dwMerit,
                                      sudCaptureDevice.nPins, sudCaptureDevice.lpPin};
    EXPECT_EQ(S_FALSE, AMovieSetupRegisterFilter(nullptr, mapper.Get(), TRUE));
    ASSERT_EQ(S_OK, AMovieSetupRegisterFilter(&setup, mapper.Get(), TRUE));
    const std::wstring pins = L"CLSID\\" + GuidText(CLSID_RegTest) + L"\\Pins\\RGB Out";
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, pins));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, pins + L"\\Types\\" + GuidText(MEDIATYPE_Video)));
    ASSERT_EQ(S_OK, AMovieSetupRegisterFilter(&setup, mapper.Get(), FALSE));
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, pins));
    EXPECT_EQ(S_OK, AMovieSetupRegisterFilter(&setup, mapper.Get(), FALSE));
}

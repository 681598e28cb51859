// Registration steps against the real registry and the platform's filter
// mapper, with HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE redirected to
// scratch keys for each test.
#include <gtest/gtest.h>

#include <dshow.h>
#include <wrl/client.h>

#include <olectl.h>

#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "settings/camera_list.h"
#include "settings/capture_device_ids.h"
#include "framework/com_util.h"
#include "mf/media_source_ids.h"
#include "module/registration.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

// {5C1B8F00-3C1E-4B4F-8E64-0D7F0B6A7A10}
constexpr GUID CLSID_RegTest = {0x5c1b8f00, 0x3c1e, 0x4b4f, {0x8e, 0x64, 0x0d, 0x7f, 0x0b, 0x6a, 0x7a, 0x10}};

std::wstring GuidText(const GUID& guid) {
    wchar_t text[CHARS_IN_GUID];
    ::StringFromGUID2(guid, text, CHARS_IN_GUID);
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

// Deletes like RegDeleteKeyW, except that a key named "Stuck" is left in
// place while success is reported, and one named "Denied" is refused.
LONG WINAPI DeleteUnlessStuck(HKEY parent, LPCWSTR name) {
    if (std::wcscmp(name, L"Stuck") == 0) {
        return ERROR_SUCCESS;
    }
    if (std::wcscmp(name, L"Denied") == 0) {
        return ERROR_ACCESS_DENIED;
    }
    return ::RegDeleteKeyW(parent, name);
}

// Module file name lookups that fail as the platform does not on demand:
// without an error code, with one, and by filling the whole buffer.
DWORD WINAPI FailsWithoutAnError(HMODULE, LPWSTR name, DWORD capacity) {
    if (name != nullptr && capacity > 0) {
        name[0] = L'\0';
    }
    ::SetLastError(ERROR_SUCCESS);
    return 0;
}

DWORD WINAPI FailsWithModuleNotFound(HMODULE, LPWSTR, DWORD) {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
}

DWORD WINAPI FillsTheWholeBuffer(HMODULE, LPWSTR name, DWORD capacity) {
    for (DWORD i = 0; i < capacity; ++i) {
        name[i] = L'x';
    }
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return capacity;
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

    // A key that survives its deletion would be enumerated again for ever:
    // the removal stops there and leaves the rest in place.
    CreateKey(HKEY_CLASSES_ROOT, L"Tree\\A\\Stuck");
    EXPECT_EQ(E_ACCESSDENIED, EliminateSubKeyUsing(HKEY_CLASSES_ROOT, L"Tree", &DeleteUnlessStuck));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, L"Tree\\A\\Stuck"));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, L"Tree\\B"));
    // A refused deletion is reported as it is.
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Tree\\A\\Stuck"));
    CreateKey(HKEY_CLASSES_ROOT, L"Tree\\A\\Denied");
    EXPECT_EQ(E_ACCESSDENIED, EliminateSubKeyUsing(HKEY_CLASSES_ROOT, L"Tree", &DeleteUnlessStuck));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, L"Tree\\A\\Denied"));
    EXPECT_EQ(S_OK, EliminateSubKey(HKEY_CLASSES_ROOT, L"Tree"));
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, L"Tree"));
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

TEST(ModulePathTest, AFailureWithoutAnErrorCodeIsStillAFailure_FailureInjected) {
    std::vector<wchar_t> path;
    EXPECT_EQ(E_FAIL, GetModulePath(nullptr, path, &FailsWithoutAnError));
    EXPECT_TRUE(path.empty()) << "an empty path would be registered";
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), GetModulePath(nullptr, path, &FailsWithModuleNotFound));
    EXPECT_TRUE(path.empty());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), GetModulePath(nullptr, path, &FillsTheWholeBuffer));
    EXPECT_TRUE(path.empty());
    // The platform's own lookup names this program.
    ASSERT_EQ(S_OK, GetModulePath(nullptr, path));
    const std::wstring name(path.data());
    EXPECT_NE(std::wstring::npos, name.find(L"module_tests.exe")) << std::string(name.begin(), name.end());
}

TEST(ModulePathTest, TheLastErrorOfAFailedCallIsNeverSuccess) {
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(E_FAIL, HResultFromLastError());
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(E_ACCESSDENIED, HResultFromLastError());
    // A status code of 0 is success.
    EXPECT_EQ(S_OK, HResultFromWin32(ERROR_SUCCESS));
}

TEST_F(RegistrationTest, BothExportsWorkOnAThreadAlreadyInTheMultithreadedApartment) {
    // CoInitialize answers RPC_E_CHANGED_MODE there: COM is available, and
    // the thread's apartment is not the module's to end.
    HRESULT registered = E_PENDING;
    bool classKeyAfterRegister = false;
    bool announcedAfterRegister = false;
    HRESULT unregistered = E_PENDING;
    HRESULT comAfterwards = E_PENDING;
    const std::wstring classKey = L"CLSID\\" + GuidText(CLSID_CaptureDevice);
    const std::wstring instanceKey =
        L"CLSID\\" + GuidText(CLSID_VideoInputDeviceCategory) + L"\\Instance\\" + GuidText(CLSID_CaptureDevice);
    std::thread host([&] {
        if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
            return;
        }
        registered = DllRegisterServer();
        classKeyAfterRegister = Exists(HKEY_CLASSES_ROOT, classKey);
        announcedAfterRegister = Exists(HKEY_CLASSES_ROOT, instanceKey);
        unregistered = DllUnregisterServer();
        // Still in its apartment: the exports balanced what they started.
        ComPtr<IFilterMapper2> mapper;
        comAfterwards = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper));
        mapper.Reset();
        ::CoUninitialize();
    });
    host.join();
    EXPECT_EQ(S_OK, registered);
    EXPECT_TRUE(classKeyAfterRegister);
    EXPECT_TRUE(announcedAfterRegister);
    EXPECT_EQ(S_OK, unregistered);
    EXPECT_EQ(S_OK, comAfterwards);
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, classKey));
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, instanceKey));
}

TEST_F(RegistrationTest, EveryListedCameraJoinsTheVideoCategoryUnderItsNameAndOnlyWhileListed) {
    const std::wstring category = L"CLSID\\" + GuidText(CLSID_VideoInputDeviceCategory) + L"\\Instance\\";
    const auto instance = [&](int camera) { return category + GuidText(*CameraClassId(camera)); };
    int slides = 0;
    int meeting = 0;
    ASSERT_EQ(S_OK, CCameraList::Add(L"Slides", &slides));
    ASSERT_EQ(S_OK, CCameraList::Add(L"\u4F1A\u8B70\u30E1\u30E2", &meeting));
    ASSERT_EQ(2, slides);
    ASSERT_EQ(3, meeting);

    ASSERT_EQ(S_OK, DllRegisterServer());
    EXPECT_EQ(L"QM Capture Device", ReadString(HKEY_CLASSES_ROOT, instance(1), L"FriendlyName"));
    EXPECT_EQ(L"Slides", ReadString(HKEY_CLASSES_ROOT, instance(2), L"FriendlyName"));
    EXPECT_EQ(L"\u4F1A\u8B70\u30E1\u30E2", ReadString(HKEY_CLASSES_ROOT, instance(3), L"FriendlyName"));
    for (int camera = 4; camera <= kMaxCameras; ++camera) {
        EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, instance(camera))) << camera;
    }

    // A camera taken off the list leaves the category at the next
    // registration (an upgrade), which keeps the list and the others.
    ASSERT_EQ(S_OK, CCameraList::Remove(slides));
    ASSERT_EQ(S_OK, CCameraList::Rename(meeting, L"Notes"));
    ASSERT_EQ(S_OK, DllRegisterServer());
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, instance(2)));
    EXPECT_EQ(L"Notes", ReadString(HKEY_CLASSES_ROOT, instance(3), L"FriendlyName"));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, instance(1)));

    // Unregistering removes every camera from the category and every class,
    // and leaves the machine's list to the installer.
    ASSERT_EQ(S_OK, DllUnregisterServer());
    for (int camera = kFirstCamera; camera <= kMaxCameras; ++camera) {
        EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, instance(camera))) << camera;
        EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(*CameraClassId(camera)))) << camera;
    }
    wchar_t name[kCameraNameCapacity] = {};
    EXPECT_EQ(S_OK, CCameraList::GetName(meeting, name, kCameraNameCapacity));
    EXPECT_STREQ(L"Notes", name);
}

TEST_F(RegistrationTest, EachCamerasMediaSourceIsAnInprocClassWhileRegistered) {
    // What Windows 11's Frame Server creates for the virtual cameras: a
    // class of this module, free-threaded or apartment (Both).
    std::vector<wchar_t> module;
    ASSERT_EQ(S_OK, GetModulePath(nullptr, module));
    ASSERT_EQ(S_OK, DllRegisterServer());
    for (int camera = 1; camera <= kCameraMediaSourceCount; ++camera) {
        const std::wstring key = L"CLSID\\" + GuidText(*CameraMediaSourceClassId(camera));
        EXPECT_EQ(L"QM Capture Device Media Source " + std::to_wstring(camera),
                  ReadString(HKEY_CLASSES_ROOT, key, nullptr));
        EXPECT_EQ(std::wstring(module.data()), ReadString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr))
            << camera;
        EXPECT_EQ(L"Both", ReadString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel")) << camera;
    }
    ASSERT_EQ(S_OK, DllUnregisterServer());
    for (int camera = 1; camera <= kCameraMediaSourceCount; ++camera) {
        EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(*CameraMediaSourceClassId(camera)))) << camera;
    }
}

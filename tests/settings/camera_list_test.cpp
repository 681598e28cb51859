// The machine's camera list: names, numbers and what malformed entries
// mean. The list lives under HKEY_LOCAL_MACHINE, which each test redirects
// to a scratch key.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>

#include <atomic>
#include <string>
#include <thread>

#include "settings/camera_list.h"
#include "settings/camera_list_lock.h"
#include "settings/capture_device_ids.h"
#include "framework/com_util.h"
#include "tests/support/registry_sandbox.h"

using namespace qmtest;

namespace {

class CameraListTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_sandbox.ok()); }

    static std::wstring Name(int camera) {
        wchar_t name[kCameraNameCapacity] = {};
        return CCameraList::GetName(camera, name, kCameraNameCapacity) == S_OK ? name : L"";
    }
    // Stores raw data as a camera's entry.
    static void StoreRaw(int camera, DWORD type, const void* data, DWORD bytes) {
        const std::wstring path = std::wstring(kCameraListKeyPath) + L"\\" + std::to_wstring(camera);
        UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                   KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExW(key.get(), kCameraNameValue, 0, type, static_cast<const BYTE*>(data), bytes));
    }

    RegistrySandbox m_sandbox{HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
};

}  // namespace

TEST_F(CameraListTest, CamerasAreAddedNamedFoundRenamedAndRemoved) {
    EXPECT_EQ(L"QM Capture Device", Name(1));
    int camera = 0;
    ASSERT_EQ(S_OK, CCameraList::Add(L"Slides", &camera));
    EXPECT_EQ(2, camera);
    EXPECT_EQ(L"Slides", Name(2));
    EXPECT_EQ(2, CCameraList::Find(L"2"));
    EXPECT_EQ(2, CCameraList::Find(L"sLIDES"));
    EXPECT_EQ(1, CCameraList::Find(L"qm capture device"));
    EXPECT_EQ(0, CCameraList::Find(L"3"));
    EXPECT_EQ(0, CCameraList::Find(L"9"));
    EXPECT_EQ(0, CCameraList::Find(L""));

    // Names are unique without regard to case, camera 1's included.
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), CCameraList::Add(L"SLIDES", &camera));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), CCameraList::Add(L"QM Capture Device", &camera));
    // Renaming a camera to its own name in other letters is no clash.
    EXPECT_EQ(S_OK, CCameraList::Rename(2, L"SLIDES"));
    EXPECT_EQ(L"SLIDES", Name(2));

    EXPECT_EQ(E_INVALIDARG, CCameraList::Rename(1, L"Other"));
    EXPECT_EQ(E_INVALIDARG, CCameraList::Remove(1));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), CCameraList::Remove(3));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), CCameraList::Rename(3, L"Other"));
    EXPECT_EQ(E_INVALIDARG, CCameraList::Remove(9));
    EXPECT_EQ(E_POINTER, CCameraList::Add(L"x", nullptr));
    EXPECT_EQ(E_POINTER, CCameraList::Add(nullptr, &camera));

    ASSERT_EQ(S_OK, CCameraList::Remove(2));
    EXPECT_EQ(L"", Name(2));
    EXPECT_EQ(0, CCameraList::Find(L"Slides"));
}

TEST_F(CameraListTest, NamesOutsideOneTo63PrintableCharactersAreRefusedAndChangeNothing) {
    int camera = 0;
    const std::wstring longest(63, L'\u540D');
    for (const std::wstring& bad : {std::wstring(), std::wstring(64, L'a'), std::wstring(L"tab\there"),
                                    std::wstring(L"line\nbreak")}) {
        EXPECT_EQ(E_INVALIDARG, CCameraList::Add(bad.c_str(), &camera)) << bad.size();
    }
    EXPECT_EQ(0, RegistrySandbox::CountEntries(HKEY_LOCAL_MACHINE, kCameraListKeyPath));
    ASSERT_EQ(S_OK, CCameraList::Add(longest.c_str(), &camera));
    EXPECT_EQ(longest, Name(camera));
    EXPECT_EQ(E_INVALIDARG, CCameraList::Rename(camera, std::wstring(64, L'b').c_str()));
    EXPECT_EQ(longest, Name(camera));
}

TEST_F(CameraListTest, EightCamerasAtMostAndAFreedNumberIsTakenAgain) {
    for (int expected = 2; expected <= kMaxCameras; ++expected) {
        int camera = 0;
        ASSERT_EQ(S_OK, CCameraList::Add((L"Camera " + std::to_wstring(expected)).c_str(), &camera));
        EXPECT_EQ(expected, camera);
    }
    int camera = 0;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TOO_MANY_NAMES), CCameraList::Add(L"Ninth", &camera));
    ASSERT_EQ(S_OK, CCameraList::Remove(4));
    ASSERT_EQ(S_OK, CCameraList::Add(L"Again", &camera));
    EXPECT_EQ(4, camera);
}

TEST_F(CameraListTest, MalformedEntriesAreNotCamerasAndTheirNumbersAreFree) {
    const DWORD number = 7;
    StoreRaw(2, REG_DWORD, &number, sizeof(number));
    StoreRaw(3, REG_SZ, L"", sizeof(wchar_t));
    const std::wstring tooLong(100, L'x');
    StoreRaw(4, REG_SZ, tooLong.c_str(), static_cast<DWORD>((tooLong.size() + 1) * sizeof(wchar_t)));
    // Without its terminator, a name still reads whole and ends there.
    StoreRaw(5, REG_SZ, L"Bare", 4 * sizeof(wchar_t));
    StoreRaw(6, REG_SZ, L"bad\x01name", 9 * sizeof(wchar_t));
    for (int camera : {2, 3, 4, 6}) {
        EXPECT_EQ(L"", Name(camera)) << camera;
        wchar_t name[kCameraNameCapacity];
        EXPECT_EQ(S_FALSE, CCameraList::GetName(camera, name, kCameraNameCapacity)) << camera;
    }
    EXPECT_EQ(L"Bare", Name(5));
    int camera = 0;
    ASSERT_EQ(S_OK, CCameraList::Add(L"Fresh", &camera));
    EXPECT_EQ(2, camera);
    EXPECT_EQ(L"Fresh", Name(2));
}

TEST_F(CameraListTest, EachCameraHasItsOwnClassAndSettingsKey) {
    EXPECT_TRUE(IsEqualGUID(CLSID_CaptureDevice, *CameraClassId(1)));
    EXPECT_EQ(nullptr, CameraClassId(0));
    EXPECT_EQ(nullptr, CameraClassId(9));
    for (int a = 1; a <= kMaxCameras; ++a) {
        for (int b = a + 1; b <= kMaxCameras; ++b) {
            EXPECT_FALSE(IsEqualGUID(*CameraClassId(a), *CameraClassId(b))) << a << " " << b;
        }
    }
    EXPECT_STREQ("Software\\QMCapture", SettingsPathOfCamera(1).text);
    EXPECT_STREQ("Software\\QMCapture\\Cameras\\8", SettingsPathOfCamera(8).text);
    EXPECT_STREQ("Software\\QMCapture", SettingsPathOfCamera(0).text);
}

TEST_F(CameraListTest, RemovingACameraRemovesTheUsersSettingsOfIt) {
    int camera = 0;
    ASSERT_EQ(S_OK, CCameraList::Add(L"Slides", &camera));
    const CSettingsKey settings(SettingsPathOfCamera(camera).text);
    ASSERT_TRUE(settings.WriteNumber(kSelectPixelValue, 5));
    ASSERT_TRUE(CSettingsKey().WriteNumber(kSelectPixelValue, 3));
    ASSERT_EQ(S_OK, CCameraList::Remove(camera));
    char stored[kSettingsTextCapacity] = {};
    ASSERT_TRUE(settings.Read(kSelectPixelValue, "none", stored));
    EXPECT_STREQ("none", stored);
    // Camera 1's settings stay.
    ASSERT_TRUE(CSettingsKey().Read(kSelectPixelValue, "none", stored));
    EXPECT_STREQ("3", stored);
}

TEST_F(CameraListTest, TwoAddsAtOnceGetTwoNumbersAndBothNamesAreListed) {
    constexpr int kRounds = 100;
    int failedRounds = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::atomic<int> ready{0};
        int numbers[2] = {};
        HRESULT results[2] = {E_FAIL, E_FAIL};
        auto add = [&](int index) {
            // Both threads leave the gate together, so that the adds overlap.
            ++ready;
            while (ready.load() < 2) {
            }
            results[index] = CCameraList::Add(index == 0 ? L"Left" : L"Right", &numbers[index]);
        };
        std::thread left(add, 0);
        std::thread right(add, 1);
        left.join();
        right.join();
        const bool good = results[0] == S_OK && results[1] == S_OK && numbers[0] != numbers[1] &&
                          CCameraList::Find(L"Left") == numbers[0] && CCameraList::Find(L"Right") == numbers[1];
        failedRounds += good ? 0 : 1;
        for (int camera = kFirstCamera + 1; camera <= kMaxCameras; ++camera) {
            QM_IGNORE(CCameraList::Remove(camera), "only the listed ones go");
        }
    }
    EXPECT_EQ(0, failedRounds) << "of " << kRounds << " rounds";
}

TEST_F(CameraListTest, NamesMadeOnlyOfDigitsAreRefused) {
    int camera = 0;
    // ASCII digits, fullwidth digits and Arabic-Indic digits all read as a
    // number.
    for (const wchar_t* digits : {L"2", L"007", L"\uFF12\uFF13", L"\u0663"}) {
        EXPECT_EQ(E_INVALIDARG, CCameraList::Add(digits, &camera)) << static_cast<int>(digits[0]);
    }
    EXPECT_EQ(0, RegistrySandbox::CountEntries(HKEY_LOCAL_MACHINE, kCameraListKeyPath));
    ASSERT_EQ(S_OK, CCameraList::Add(L"Camera 2", &camera));
    EXPECT_EQ(E_INVALIDARG, CCameraList::Rename(camera, L"3"));
    EXPECT_EQ(L"Camera 2", Name(camera));
}

TEST_F(CameraListTest, ACameraNamedWithDigitsBeforeTheRuleKeepsItsNameAndNumber) {
    // Stored by an earlier version, which took such names.
    const wchar_t digits[] = L"2";
    ASSERT_NO_FATAL_FAILURE(StoreRaw(5, REG_SZ, digits, sizeof(digits)));
    EXPECT_EQ(L"2", Name(5));
    EXPECT_EQ(5, CCameraList::Find(L"5"));
    // A deceptive stored name is no camera's, however old.
    const wchar_t reversed[] = L"evil\u202Egpj";
    ASSERT_NO_FATAL_FAILURE(StoreRaw(6, REG_SZ, reversed, sizeof(reversed)));
    EXPECT_EQ(L"", Name(6));
}

TEST_F(CameraListTest, ControlsLoneSurrogatesAndTextDirectionCharactersAreRefused) {
    int camera = 0;
    for (const wchar_t* bad : {L"c1\u0085x", L"c1\u009Fx", L"lone \xD83C high", L"lone \xDFA5 low", L"end \xD83C",
                               L"evil\u202Egpj.exe", L"\u202Aembed", L"iso\u2066late\u2069", L"mark\u200F",
                               L"mark\u200E", L"arabic\u061C", L"line\u2028break"}) {
        EXPECT_EQ(E_INVALIDARG, CCameraList::Add(bad, &camera)) << std::wstring(bad).size();
    }
    EXPECT_EQ(0, RegistrySandbox::CountEntries(HKEY_LOCAL_MACHINE, kCameraListKeyPath));
    // A surrogate pair is one character: a camera emoji is a name.
    ASSERT_EQ(S_OK, CCameraList::Add(L"Cam \xD83C\xDFA5", &camera));
    EXPECT_EQ(L"Cam \xD83C\xDFA5", Name(camera));
}

TEST_F(CameraListTest, AddingOverADamagedEntryClearsTheSettingsLeftUnderItsNumber) {
    StoreRaw(2, REG_SZ, L"bad\x01name", 9 * sizeof(wchar_t));
    const CSettingsKey settings(SettingsPathOfCamera(2).text);
    ASSERT_TRUE(settings.Write(kStandbyImageValue, "C:\\old.png"));
    int camera = 0;
    ASSERT_EQ(S_OK, CCameraList::Add(L"Fresh", &camera));
    ASSERT_EQ(2, camera);
    char stored[kSettingsTextCapacity] = {};
    ASSERT_TRUE(settings.Read(kStandbyImageValue, "none", stored));
    EXPECT_STREQ("none", stored);
}

TEST_F(CameraListTest, EveryUserMayWaitOnTheListLockAndAHeldLockTimesOut) {
    CCameraListLock held;
    ASSERT_EQ(S_OK, held.Acquire());
    const UniqueHandle mutex(::OpenMutexW(READ_CONTROL, FALSE, kCameraListLockName));
    ASSERT_TRUE(mutex);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ::GetSecurityInfo(mutex.get(), SE_KERNEL_OBJECT,
                                                                   DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                                                   &dacl, nullptr, &descriptor));
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD sidBytes = sizeof(everyone);
    ASSERT_TRUE(::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &sidBytes));
    ACCESS_MASK granted = 0;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            ::EqualSid(&ace->SidStart, everyone)) {
            granted |= ace->Mask;
        }
    }
    ::LocalFree(descriptor);
    EXPECT_EQ(static_cast<ACCESS_MASK>(SYNCHRONIZE | MUTEX_MODIFY_STATE), granted);
    // The lock is the thread's: another thread's change gives up.
    HRESULT other = S_OK;
    std::thread([&other] {
        CCameraListLock waiting;
        other = waiting.Acquire(10);
    }).join();
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), other);
}

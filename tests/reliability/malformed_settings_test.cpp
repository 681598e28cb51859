// Malformed settings: every value of the settings key stored with the
// wrong type, empty, filling its 64 bytes without a terminator, too long,
// negative, huge or not a number, and the key missing or unreadable. The
// device must start with exactly the values these forms stand for (the
// defaults where a value cannot be read), never crash, and write nothing
// while it loads.
#include <gtest/gtest.h>

#include <dshow.h>
#include <wrl/client.h>

#include <cstring>
#include <string>
#include <vector>

#include "settings/capture_device_settings.h"
#include "settings/capture_settings.h"
#include "capture/output_formats.h"
#include "framework/com_util.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;

using namespace output_formats;
using namespace qmtest;

namespace {

constexpr size_t kTextCapacity = kSettingsTextCapacity;

// One malformed form of a stored value, as raw registry data, with what
// the device must load from it: as text (null: the value's default), as
// a frame time, a size index and a capture method.
struct MalformedValue {
    const char* name;
    DWORD type;
    std::string bytes;
    const char* text;
    REFERENCE_TIME frameTime;
    int selectPixel;
    CaptureMethod captureMethod;
};

std::string Repeat(char c, size_t n) {
    return std::string(n, c);
}

constexpr REFERENCE_TIME kDefault = kDefaultFrameTime;
constexpr REFERENCE_TIME kLongest = kMaxFrameTime;
constexpr REFERENCE_TIME kShortest = kMinFrameTime;
constexpr CaptureMethod kAuto = CaptureMethod::Auto;

// The ways a stored value can be wrong. Texts are read up to 63 bytes with
// their terminator; a value of another type, or one that does not end
// within 64 bytes, gives the default. Numbers are decimal text as atoi
// reads it: the frame time 0 or none gives the default and any other is
// clamped into 1 to 60 frames per second; a size index or capture method
// outside its range gives the default.
std::vector<MalformedValue> MalformedValues() {
    using namespace std::string_literals;
    const DWORD seven = 7;
    // Outlives the list: its text is the expected one.
    static const std::string kSixtyThree = Repeat('8', 63);
    return {
        {"REG_DWORD", REG_DWORD, std::string(reinterpret_cast<const char*>(&seven), sizeof(seven)), nullptr, kDefault,
         0, kAuto},
        {"REG_BINARY", REG_BINARY, "666666"s, nullptr, kDefault, 0, kAuto},
        {"REG_MULTI_SZ", REG_MULTI_SZ, "3\0\0"s, nullptr, kDefault, 0, kAuto},
        {"REG_EXPAND_SZ", REG_EXPAND_SZ, "%TEMP%\0"s, nullptr, kDefault, 0, kAuto},
        {"REG_QWORD", REG_QWORD, std::string(8, '\x01'), nullptr, kDefault, 0, kAuto},
        {"no bytes", REG_SZ, ""s, "", kDefault, 0, kAuto},
        {"empty text", REG_SZ, "\0"s, "", kDefault, 0, kAuto},
        {"64 digits, no terminator", REG_SZ, Repeat('7', 64), nullptr, kDefault, 0, kAuto},
        {"64 letters, no terminator", REG_SZ, Repeat('A', 64), nullptr, kDefault, 0, kAuto},
        {"63 bytes and terminator", REG_SZ, kSixtyThree + "\0"s, kSixtyThree.c_str(), kLongest, 0, kAuto},
        {"64 bytes and terminator", REG_SZ, Repeat('9', 64) + "\0"s, nullptr, kDefault, 0, kAuto},
        {"300 bytes", REG_SZ, Repeat('5', 300) + "\0"s, nullptr, kDefault, 0, kAuto},
        {"short, no terminator", REG_SZ, "42"s, "42", kShortest, 0, kAuto},
        {"minus one", REG_SZ, "-1\0"s, "-1", kShortest, 0, kAuto},
        {"most negative int", REG_SZ, "-2147483648\0"s, "-2147483648", kShortest, 0, kAuto},
        {"negative frame time", REG_SZ, "-333333\0"s, "-333333", kShortest, 0, kAuto},
        {"largest int", REG_SZ, "2147483647\0"s, "2147483647", kLongest, 0, kAuto},
        {"beyond 64 bits", REG_SZ, "99999999999999999999999\0"s, "99999999999999999999999", kLongest, 0, kAuto},
        {"zero", REG_SZ, "0\0"s, "0", kDefault, 0, kAuto},
        {"letters", REG_SZ, "abc\0"s, "abc", kDefault, 0, kAuto},
        {"blanks", REG_SZ, "   \0"s, "   ", kDefault, 0, kAuto},
        {"sign only", REG_SZ, "-\0"s, "-", kDefault, 0, kAuto},
        {"hexadecimal", REG_SZ, "0x10\0"s, "0x10", kDefault, 0, kAuto},
        {"embedded terminator", REG_SZ, "12\0" "34\0"s, "12", kShortest, 0, kAuto},
        {"blank, sign and digit", REG_SZ, " +1\0"s, " +1", kShortest, 1, CaptureMethod::Copy},
        {"digit and letters", REG_SZ, "2px\0"s, "2px", kShortest, 2, CaptureMethod::Print},
        {"five million", REG_SZ, "5000000\0"s, "5000000", 5000000, 0, kAuto},
        {"high bytes", REG_SZ, "\x81\x82\x83\xfe\xff\0"s, "\x81\x82\x83\xfe\xff", kDefault, 0, kAuto},
    };
}

const char* const kValueNames[] = {kWindowNameValue,   kWindowClassValue,  kWindowProgramValue,
                                   kTitleTextValue,    kFrameTimeValue,    kSelectPixelValue,
                                   kCaptureMethodValue, kScaleModeValue,   kMirrorValue};

// What the device loads from all its settings.
struct Loaded {
    std::wstring windowName = kDefaultWindowName;
    std::wstring windowClass = kDefaultWindowClass;
    std::wstring windowProgram = kDefaultWindowProgram;
    std::wstring titleText = kDefaultTitleTextW;
    REFERENCE_TIME frameTime = kDefaultFrameTime;
    int selectPixel = kDefaultSelectPixel;
    CaptureMethod captureMethod = kDefaultCaptureMethod;
    ScaleMode scaleMode = kDefaultScaleMode;
    bool mirror = kDefaultMirror;
};

// The 8-bit text as the registry hands it to the wide-character reader.
std::wstring Widened(const char* text) {
    wchar_t wide[kSettingsTextCapacity * 2] = {};
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide, ARRAYSIZE(wide) - 1);
    return wide;
}

// A window's title, class or program as the device reads the stored bytes:
// REG_SZ text (converted by the registry from the host's code page) of at
// most `capacity` characters with its terminator, or up to capacity - 1
// without one; anything else leaves the default.
std::wstring ExpectedWindowText(const MalformedValue& value, size_t capacity, const wchar_t* fallback) {
    if (value.type != REG_SZ) {
        return fallback;
    }
    std::wstring stored(value.bytes.size(), L'\0');
    const int characters = value.bytes.empty() ? 0
                                               : ::MultiByteToWideChar(CP_ACP, 0, value.bytes.data(),
                                                                       static_cast<int>(value.bytes.size()),
                                                                       &stored[0], static_cast<int>(stored.size()));
    stored.resize(static_cast<size_t>(characters));
    if (stored.size() > capacity || (stored.size() == capacity && stored.back() != L'\0')) {
        return fallback;
    }
    return stored.substr(0, stored.find(L'\0'));
}

// What the device must load when `valueName` alone is stored as `value`.
Loaded ExpectedLoad(const char* valueName, const MalformedValue& value) {
    Loaded loaded;
    const std::string name = valueName;
    if (name == kWindowNameValue) {
        loaded.windowName = ExpectedWindowText(value, kWindowTitleCapacity, kDefaultWindowName);
    } else if (name == kWindowClassValue) {
        loaded.windowClass = ExpectedWindowText(value, kWindowClassCapacity, kDefaultWindowClass);
    } else if (name == kWindowProgramValue) {
        loaded.windowProgram = ExpectedWindowText(value, kWindowProgramCapacity, kDefaultWindowProgram);
    } else if (name == kTitleTextValue && value.text != nullptr) {
        loaded.titleText = Widened(value.text);
    } else if (name == kFrameTimeValue) {
        loaded.frameTime = value.frameTime;
    } else if (name == kSelectPixelValue) {
        loaded.selectPixel = value.selectPixel;
    } else if (name == kCaptureMethodValue) {
        loaded.captureMethod = value.captureMethod;
    } else if (name == kScaleModeValue) {
        // Framing is a number 0..2 read as the capture method is.
        loaded.scaleMode = static_cast<ScaleMode>(static_cast<int>(value.captureMethod));
    } else if (name == kMirrorValue) {
        loaded.mirror = value.captureMethod == CaptureMethod::Copy;
    }
    return loaded;
}

// A settings text is sound when it ends within its 64 bytes.
void ExpectSoundText(const char* text, const char* what) {
    const size_t length = strnlen(text, kTextCapacity);
    EXPECT_LT(length, kTextCapacity) << what << " is not terminated within 64 bytes";
}

// Everything the device shows of its settings: exactly what it should
// have loaded, and its 8-bit standby text terminated in time.
void ExpectDevice(IBaseFilter* filter, const Loaded& expected) {
    ComPtr<ICaptureDeviceSettings2> settings;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_PPV_ARGS(&settings)));
    int size[2] = {};
    ASSERT_EQ(S_OK, settings->GetFrameSize(size));
    EXPECT_EQ(FrameSizeTable[expected.selectPixel].width, size[0]);
    EXPECT_EQ(FrameSizeTable[expected.selectPixel].height, size[1]);
    double rate = 0;
    ASSERT_EQ(S_OK, settings->GetFrameRate(&rate));
    EXPECT_EQ(static_cast<double>(kUnitsPerSecond / expected.frameTime), rate);
    wchar_t wide[kSettingsTextCapacity] = {};
    ASSERT_EQ(S_OK, settings->GetTitleTextW(wide, kSettingsTextCapacity));
    EXPECT_TRUE(expected.titleText == wide) << "TitleText";
    // The caller's buffer is larger than promised, so a missing terminator
    // would show as a long text rather than as a crash.
    char title[256];
    std::memset(title, 0x5A, sizeof(title));
    title[sizeof(title) - 1] = '\0';
    ASSERT_EQ(S_OK, settings->GetTitleText(title));
    ExpectSoundText(title, "TitleText");

    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_PPV_ARGS(&config)));
    AM_MEDIA_TYPE* format = nullptr;
    ASSERT_EQ(S_OK, config->GetFormat(&format));
    const VIDEOINFOHEADER* vih = GetVideoInfo(*format);
    ASSERT_NE(nullptr, vih);
    EXPECT_EQ(size[0], vih->bmiHeader.biWidth);
    EXPECT_EQ(size[1], vih->bmiHeader.biHeight);
    EXPECT_EQ(expected.frameTime, vih->AvgTimePerFrame);
    DeleteMediaType(format);
}

// The window names and the capture method are not on any interface; the
// settings that the pin owns load them the same way.
void ExpectSettings(const Loaded& expected) {
    CCaptureSettings source;
    const CCaptureSettings::Snapshot snapshot = source.GetSnapshot();
    EXPECT_EQ(expected.windowName, snapshot.windowName);
    EXPECT_EQ(expected.windowClass, snapshot.windowClass);
    EXPECT_EQ(expected.windowProgram, snapshot.windowProgram);
    EXPECT_TRUE(expected.titleText == snapshot.titleText) << "TitleText";
    EXPECT_EQ(expected.frameTime, snapshot.frameTime);
    EXPECT_EQ(static_cast<int>(expected.captureMethod), static_cast<int>(snapshot.captureMethod));
    EXPECT_EQ(expected.frameTime, source.GetFrameTime());
    EXPECT_EQ(expected.selectPixel, source.GetSelectPixel());
    EXPECT_EQ(static_cast<int>(expected.scaleMode), static_cast<int>(snapshot.scaleMode));
    EXPECT_EQ(expected.mirror, snapshot.mirror);
}

class MalformedSettingsTest : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override { ASSERT_TRUE(m_sandbox.ok()); }

    // Creates the device and its settings over the stored settings and
    // checks what they loaded; the key must be the same afterwards, byte
    // for byte.
    void CreateAndCheck(const Loaded& expected) {
        SettingsSnapshot before;
        const bool keyBefore = ReadSettingsKey(&before);
        {
            ComPtr<IBaseFilter> filter;
            ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
            ExpectDevice(filter.Get(), expected);
        }
        ExpectSettings(expected);
        SettingsSnapshot after;
        EXPECT_EQ(keyBefore, ReadSettingsKey(&after));
        EXPECT_TRUE(before == after) << "loading the settings changed the registry";
    }

    RegistrySandbox m_sandbox;
};

}  // namespace

TEST_P(MalformedSettingsTest, EachMalformedFormStartsSoundAndWritesNothing) {
    for (const MalformedValue& value : MalformedValues()) {
        SCOPED_TRACE(std::string(GetParam()) + " stored as " + value.name);
        ASSERT_TRUE(
            StoreSetting(GetParam(), value.type, value.bytes.data(), static_cast<DWORD>(value.bytes.size())));
        CreateAndCheck(ExpectedLoad(GetParam(), value));
        if (HasFatalFailure()) {
            return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EverySetting, MalformedSettingsTest, testing::ValuesIn(kValueNames),
                         [](const testing::TestParamInfo<const char*>& value) { return std::string(value.param); });

TEST(MalformedSettings, AllValuesMalformedAtOnceStillStream) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    const std::string unterminated = Repeat('W', 64);
    const DWORD unterminatedSize = static_cast<DWORD>(unterminated.size());
    ASSERT_TRUE(StoreSetting(kWindowNameValue, REG_SZ, unterminated.data(), unterminatedSize));
    ASSERT_TRUE(StoreSetting(kWindowClassValue, REG_SZ, unterminated.data(), unterminatedSize));
    ASSERT_TRUE(StoreSetting(kTitleTextValue, REG_SZ, unterminated.data(), unterminatedSize));
    ASSERT_TRUE(StoreText(kFrameTimeValue, "-2147483648"));
    ASSERT_TRUE(StoreText(kSelectPixelValue, "2147483647"));
    ASSERT_TRUE(StoreSetting(kScaleModeValue, REG_SZ, unterminated.data(), unterminatedSize));
    ASSERT_TRUE(StoreText(kMirrorValue, "-1"));
    SettingsSnapshot before;
    ASSERT_TRUE(ReadSettingsKey(&before));

    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
    Loaded expected;
    // A negative frame time is clamped to the shortest.
    expected.frameTime = kShortest;
    ExpectDevice(filter.Get(), expected);
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, GetPin(filter.Get(), PINDIR_OUTPUT, &pin));
    auto peer = MakeFake<FakeInputPin>();
    ASSERT_EQ(S_OK, pin->Connect(peer.Get(), nullptr));
    {
        Watchdog watchdog("streaming with malformed settings", 60000);
        ASSERT_EQ(S_OK, filter->Run(0));
        EXPECT_TRUE(WaitUntil([&] { return peer->Samples() >= 3; }, 20000));
        EXPECT_EQ(S_OK, filter->Stop());
    }
    EXPECT_EQ(S_OK, pin->Disconnect());
    SettingsSnapshot after;
    ASSERT_TRUE(ReadSettingsKey(&after));
    EXPECT_TRUE(before == after);
}

TEST(MalformedSettings, MissingKeyGivesDefaultsAndCreatesNothing) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    SettingsSnapshot snapshot;
    ASSERT_FALSE(ReadSettingsKey(&snapshot));
    {
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
        ExpectDevice(filter.Get(), Loaded{});
        ComPtr<ICaptureDeviceSettings> settings;
        ASSERT_EQ(S_OK, filter.As(&settings));
        int size[2] = {};
        settings->GetFrameSize(size);
        EXPECT_EQ(204, size[0]);
        EXPECT_EQ(360, size[1]);
        double rate = 0;
        settings->GetFrameRate(&rate);
        EXPECT_EQ(30.0, rate);
        char title[kTextCapacity];
        settings->GetTitleText(title);
        EXPECT_STREQ("- QM Capture -", title);
    }
    ExpectSettings(Loaded{});
    EXPECT_FALSE(ReadSettingsKey(&snapshot)) << "loading created the settings key";
}

namespace {

// Denies every access to the settings key through its DACL (an empty DACL
// grants nothing); the owner keeps the right to change the DACL back.
LONG DenyAllAccess(HKEY key) {
    ACL acl;
    if (!::InitializeAcl(&acl, sizeof(acl), ACL_REVISION)) {
        return static_cast<LONG>(::GetLastError());
    }
    SECURITY_DESCRIPTOR sd;
    ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE);
    return ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
}

LONG AllowAllAccess() {
    UniqueRegKey key;
    LONG result = ::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, WRITE_DAC, key.put());
    if (result != ERROR_SUCCESS) {
        return result;
    }
    // A null DACL grants everything.
    SECURITY_DESCRIPTOR sd;
    ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    return ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &sd);
}

}  // namespace

TEST(MalformedSettings, UnreadableKeyGivesDefaultsAndWritesNothing) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    // Sound values that would show if the key were read anyway.
    ASSERT_TRUE(StoreText(kSelectPixelValue, "5"));
    ASSERT_TRUE(StoreText(kFrameTimeValue, "1000000"));
    ASSERT_TRUE(StoreText(kTitleTextValue, "stored"));
    SettingsSnapshot stored;
    ASSERT_TRUE(ReadSettingsKey(&stored));
    {
        UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ | WRITE_DAC, key.put()));
        ASSERT_EQ(ERROR_SUCCESS, DenyAllAccess(key.get()));
    }
    UniqueRegKey probe;
    const LONG openResult = ::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, probe.put());
    probe.reset();
    if (openResult == ERROR_SUCCESS) {
        ASSERT_EQ(ERROR_SUCCESS, AllowAllAccess());
        GTEST_SKIP() << "the platform does not enforce registry key DACLs";
    }
    EXPECT_EQ(ERROR_ACCESS_DENIED, openResult);
    {
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
        ExpectDevice(filter.Get(), Loaded{});
        ComPtr<ICaptureDeviceSettings> settings;
        ASSERT_EQ(S_OK, filter.As(&settings));
        int size[2] = {};
        settings->GetFrameSize(size);
        EXPECT_EQ(204, size[0]) << "the unreadable key's size was used";
        double rate = 0;
        settings->GetFrameRate(&rate);
        EXPECT_EQ(30.0, rate);
        char title[kTextCapacity];
        settings->GetTitleText(title);
        EXPECT_STREQ("- QM Capture -", title);
    }
    ExpectSettings(Loaded{});
    ASSERT_EQ(ERROR_SUCCESS, AllowAllAccess());
    SettingsSnapshot after;
    ASSERT_TRUE(ReadSettingsKey(&after));
    EXPECT_TRUE(stored == after);
}

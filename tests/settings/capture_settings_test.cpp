// Settings: the registry format, the sanitising of stored values, and the
// values one device holds, with the setters that persist them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "settings/capture_settings.h"
#include "capture/output_formats.h"
#include "window/window_search.h"
#include "framework/diagnostic_log.h"
#include "tests/support/capture_test_support.h"
#include "tests/support/registry_sandbox.h"

using namespace qmtest;


namespace {

class CaptureSettingsTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_sandbox.ok()); }
    RegistrySandbox m_sandbox;
};

constexpr wchar_t kSettingsKeyW[] = L"Software\\QMCapture";

}  // namespace

// ---- ReadSetting / WriteSetting ------------------------------------------

TEST_F(CaptureSettingsTest, ReadWithoutKeyGivesDefaultAndCreatesNothing) {
    char text[kSettingsTextCapacity];
    EXPECT_TRUE(ReadSetting("fallback", text, kTitleTextValue));
    EXPECT_STREQ("fallback", text);
    EXPECT_EQ(0, RegistrySandbox::CountEntries(HKEY_CURRENT_USER, kSettingsKeyW));
}

TEST_F(CaptureSettingsTest, WriteStoresTerminatedRegSzAndReadReturnsIt) {
    ASSERT_TRUE(WriteSetting("Hello", kTitleTextValue));
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(ReadStoredSetting(kTitleTextValue, &type, &data));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::string("Hello\0", 6), data);
    char text[kSettingsTextCapacity];
    EXPECT_TRUE(ReadSetting("x", text, kTitleTextValue));
    EXPECT_STREQ("Hello", text);
}

TEST_F(CaptureSettingsTest, MissingValueOrTooLongValueGivesDefault) {
    ASSERT_TRUE(StoreText(kWindowNameValue, "present"));
    char text[kSettingsTextCapacity];
    EXPECT_TRUE(ReadSetting("fallback", text, kTitleTextValue));
    EXPECT_STREQ("fallback", text);
    const std::string longText(64, 'L');  // 65 bytes with the terminator
    ASSERT_TRUE(StoreText(kTitleTextValue, longText.c_str()));
    EXPECT_TRUE(ReadSetting("fallback", text, kTitleTextValue));
    EXPECT_STREQ("fallback", text);
}

TEST_F(CaptureSettingsTest, SixtyThreeCharactersAreReadWhole) {
    const std::string text63(63, 'a');
    ASSERT_TRUE(StoreText(kTitleTextValue, text63.c_str()));
    char text[kSettingsTextCapacity];
    EXPECT_TRUE(ReadSetting("fallback", text, kTitleTextValue));
    EXPECT_EQ(text63, text);
}

TEST_F(CaptureSettingsTest, UnterminatedOrForeignTypedValuesNeverLeaveAnUnterminatedBuffer) {
    char text[kSettingsTextCapacity];
    // 64 bytes of data and no terminator: the default. (Some registries
    // report such a value as too long for the buffer, others hand it over
    // unterminated; either way the default takes its place.)
    const std::string full(64, 'F');
    ASSERT_TRUE(StoreSetting(kTitleTextValue, REG_SZ, full.data(), 64));
    std::memset(text, 'X', sizeof(text));
    QM_IGNORE(ReadSetting("fallback", text, kTitleTextValue), "registries differ on what it returns here");
    EXPECT_STREQ("fallback", text);
    // Shorter REG_SZ data without a terminator is terminated after its end.
    ASSERT_TRUE(StoreSetting(kTitleTextValue, REG_SZ, "abc", 3));
    std::memset(text, 'X', sizeof(text));
    EXPECT_TRUE(ReadSetting("fallback", text, kTitleTextValue));
    EXPECT_STREQ("abc", text);
    // Not REG_SZ.
    const DWORD number = 12345;
    ASSERT_TRUE(StoreSetting(kTitleTextValue, REG_DWORD, &number, sizeof(number)));
    EXPECT_FALSE(ReadSetting("fallback", text, kTitleTextValue));
    EXPECT_STREQ("fallback", text);
    ASSERT_TRUE(StoreSetting(kTitleTextValue, REG_BINARY, full.data(), 64));
    EXPECT_FALSE(ReadSetting("fallback", text, kTitleTextValue));
    EXPECT_STREQ("fallback", text);
}

// ---- Parsing and conversion ----------------------------------------------

TEST(CaptureSettingsParsing, FrameTimeIsNeverZeroOrAbsurd) {
    EXPECT_EQ(666666, ParseFrameTime("666666"));
    EXPECT_EQ(400000, ParseFrameTime("  400000xyz"));
    EXPECT_EQ(kDefaultFrameTime, ParseFrameTime("0"));
    EXPECT_EQ(kDefaultFrameTime, ParseFrameTime("abc"));
    EXPECT_EQ(kDefaultFrameTime, ParseFrameTime(""));
    EXPECT_EQ(kDefaultFrameTime, ParseFrameTime("-"));
    EXPECT_EQ(kMinFrameTime, ParseFrameTime("-5"));
    EXPECT_EQ(kMinFrameTime, ParseFrameTime("1000"));
    EXPECT_EQ(kMaxFrameTime, ParseFrameTime("20000000"));
    EXPECT_EQ(kMaxFrameTime, ParseFrameTime("99999999999999999999999"));
    EXPECT_EQ(kMinFrameTime, ParseFrameTime("-99999999999999999999999"));
}

TEST(CaptureSettingsParsing, SelectPixelOutsideTheTableGivesZero) {
    EXPECT_EQ(3, ParseSelectPixel("3"));
    EXPECT_EQ(5, ParseSelectPixel("5"));
    EXPECT_EQ(6, ParseSelectPixel("6"));
    EXPECT_EQ(9, ParseSelectPixel("9"));
    EXPECT_EQ(0, ParseSelectPixel("10"));
    EXPECT_EQ(0, ParseSelectPixel("-1"));
    EXPECT_EQ(0, ParseSelectPixel("x"));
    EXPECT_EQ(0, ParseSelectPixel("4294967299"));
    // The output format: a place among the five formats, else RGB24 (0).
    EXPECT_EQ(1, ParseOutputFormat("1"));
    EXPECT_EQ(4, ParseOutputFormat("4"));
    EXPECT_EQ(0, ParseOutputFormat("5"));
    EXPECT_EQ(0, ParseOutputFormat("-1"));
    EXPECT_EQ(0, ParseOutputFormat("nv12"));
    EXPECT_EQ(0, ParseOutputFormat(""));
}

TEST_F(CaptureSettingsTest, TheStoredOutputFormatNamesAPixelFormat) {
    // Places of the order the DirectShow pin offers formats in; anything
    // else RGB24, as the stored value's parser reads it.
    const struct {
        const char* stored;
        PixelFormat format;
    } cases[] = {{"0", PixelFormat::Rgb24}, {"1", PixelFormat::Nv12}, {"2", PixelFormat::Yuy2},
                 {"3", PixelFormat::I420},  {"4", PixelFormat::Rgb32}, {"5", PixelFormat::Rgb24},
                 {"yuy2", PixelFormat::Rgb24}};
    for (const auto& c : cases) {
        ASSERT_TRUE(StoreText(kOutputFormatValue, c.stored));
        const CCaptureSettings settings;
        EXPECT_EQ(c.format, settings.GetOutputFormat()) << c.stored;
    }
    for (int place = 0; place < kOutputFormatCount; ++place) {
        EXPECT_EQ(place, OutputFormatOf(PixelFormatOfOutputFormat(place)));
    }
}

TEST(CaptureSettingsParsing, FrameTimeFromRateClampsAndRefusesNonPositiveRates) {
    REFERENCE_TIME frameTime = 7;
    ASSERT_TRUE(FrameTimeFromRate(30.0, &frameTime));
    EXPECT_EQ(333333, frameTime);
    ASSERT_TRUE(FrameTimeFromRate(29.97, &frameTime));
    EXPECT_EQ(333667, frameTime);
    ASSERT_TRUE(FrameTimeFromRate(25.0, &frameTime));
    EXPECT_EQ(400000, frameTime);
    ASSERT_TRUE(FrameTimeFromRate(60.0, &frameTime));
    EXPECT_EQ(166666, frameTime);
    ASSERT_TRUE(FrameTimeFromRate(100.0, &frameTime));
    EXPECT_EQ(166666, frameTime);
    ASSERT_TRUE(FrameTimeFromRate(50.0, &frameTime));
    EXPECT_EQ(200000, frameTime);
    EXPECT_EQ(60.0, FrameRateFromFrameTime(166666));
    ASSERT_TRUE(FrameTimeFromRate(1.0, &frameTime));
    EXPECT_EQ(10000000, frameTime);
    ASSERT_TRUE(FrameTimeFromRate(0.5, &frameTime));
    EXPECT_EQ(10000000, frameTime);
    ASSERT_TRUE(FrameTimeFromRate(1e-300, &frameTime));
    EXPECT_EQ(10000000, frameTime);
    ASSERT_TRUE(FrameTimeFromRate(std::numeric_limits<double>::infinity(), &frameTime));
    EXPECT_EQ(166666, frameTime);
    frameTime = 7;
    EXPECT_FALSE(FrameTimeFromRate(0.0, &frameTime));
    EXPECT_FALSE(FrameTimeFromRate(-5.0, &frameTime));
    EXPECT_FALSE(FrameTimeFromRate(std::nan(""), &frameTime));
    EXPECT_EQ(7, frameTime);
}

TEST(CaptureSettingsParsing, FrameRateIsWholeFramesPerSecond) {
    EXPECT_EQ(30.0, FrameRateFromFrameTime(333333));
    EXPECT_EQ(25.0, FrameRateFromFrameTime(400000));
    EXPECT_EQ(29.0, FrameRateFromFrameTime(333667));
    EXPECT_EQ(7.0, FrameRateFromFrameTime(1333333));
    EXPECT_EQ(0.0, FrameRateFromFrameTime(0));
}

TEST(CaptureSettingsParsing, LongTextsAreCutWithinSixtyThreeBytes) {
    char text[kSettingsTextCapacity];
    const std::string longText(100, 'a');
    EXPECT_FALSE(CopySettingText(text, longText.c_str()));
    EXPECT_EQ(std::string(63, 'a'), text);
    EXPECT_TRUE(CopySettingText(text, "short"));
    EXPECT_STREQ("short", text);
}

TEST(CaptureSettingsParsing, DoubleByteCharactersAreNeverSplit) {
    constexpr UINT kShiftJis = 932;
    ASSERT_TRUE(::IsDBCSLeadByteEx(kShiftJis, 0x82)) << "code page 932 is not available";
    char text[kSettingsTextCapacity];
    // 62 single bytes, then "\x82\xa0" (one character): it would end at
    // byte 64, so it is dropped whole.
    std::string input(62, 'a');
    input += "\x82\xa0";
    EXPECT_FALSE(CopySettingText(text, input.c_str(), kShiftJis));
    EXPECT_EQ(std::string(62, 'a'), text);
    // 61 single bytes and the character: exactly 63 bytes, kept.
    input = std::string(61, 'a') + "\x82\xa0" + "zz";
    EXPECT_FALSE(CopySettingText(text, input.c_str(), kShiftJis));
    EXPECT_EQ(std::string(61, 'a') + "\x82\xa0", text);
    // A run of double-byte characters of odd total is cut to 62 bytes.
    input.clear();
    for (int i = 0; i < 40; ++i) {
        input += "\x82\xa0";
    }
    EXPECT_FALSE(CopySettingText(text, input.c_str(), kShiftJis));
    EXPECT_EQ(62u, std::strlen(text));
}

// ---- Loading ----------------------------------------------------------------

TEST_F(CaptureSettingsTest, DefaultsWithoutAnyStoredValueAndNothingWritten) {
    CCaptureSettings source;
    EXPECT_STREQ(L"Quillmere", source.GetSnapshot().windowName);
    EXPECT_STREQ(L"Quillmere::MainFrame", source.GetSnapshot().windowClass);
    char title[kSettingsTextCapacity];
    ASSERT_EQ(S_OK, source.GetTitleText(title));
    EXPECT_STREQ("- QM Capture -", title);
    EXPECT_EQ(333333, source.GetFrameTime());
    EXPECT_EQ(0, source.GetSelectPixel());
    EXPECT_EQ(0, RegistrySandbox::CountEntries(HKEY_CURRENT_USER, kSettingsKeyW));
}

TEST_F(CaptureSettingsTest, StoredValuesAreLoaded) {
    ASSERT_TRUE(StoreText(kWindowNameValue, "Other title"));
    ASSERT_TRUE(StoreText(kWindowClassValue, "Other::Class"));
    ASSERT_TRUE(StoreText(kTitleTextValue, "standby"));
    ASSERT_TRUE(StoreText(kFrameTimeValue, "666666"));
    ASSERT_TRUE(StoreText(kSelectPixelValue, "3"));
    CCaptureSettings source;
    EXPECT_STREQ(L"Other title", source.GetSnapshot().windowName);
    EXPECT_STREQ(L"Other::Class", source.GetSnapshot().windowClass);
    char title[kSettingsTextCapacity];
    source.GetTitleText(title);
    EXPECT_STREQ("standby", title);
    double rate = 0;
    ASSERT_EQ(S_OK, source.GetFrameRate(&rate));
    EXPECT_EQ(15.0, rate);
    EXPECT_EQ(3, source.GetSelectPixel());
}

TEST_F(CaptureSettingsTest, BadStoredNumbersFallBackOrAreClamped) {
    struct Case {
        const char* frameTime;
        REFERENCE_TIME expected;
    };
    for (const Case& c : {Case{"0", 333333}, Case{"zero", 333333}, Case{"-5", 166666}, Case{"20000000", 10000000},
                          Case{"", 333333}}) {
        ASSERT_TRUE(StoreText(kFrameTimeValue, c.frameTime));
        CCaptureSettings source;
        EXPECT_EQ(c.expected, source.GetFrameTime()) << c.frameTime;
        double rate = -1;
        ASSERT_EQ(S_OK, source.GetFrameRate(&rate));
        EXPECT_GE(rate, 1.0) << c.frameTime;
    }
    const DWORD number = 666666;
    ASSERT_TRUE(StoreSetting(kFrameTimeValue, REG_DWORD, &number, sizeof(number)));
    for (const char* index : {"10", "-1", "five"}) {
        ASSERT_TRUE(StoreText(kSelectPixelValue, index));
        CCaptureSettings source;
        EXPECT_EQ(333333, source.GetFrameTime());
        EXPECT_EQ(0, source.GetSelectPixel()) << index;
    }
    ASSERT_TRUE(StoreSetting(kSelectPixelValue, REG_DWORD, &number, sizeof(number)));
    CCaptureSettings source;
    EXPECT_EQ(0, source.GetSelectPixel());
}

TEST_F(CaptureSettingsTest, BadStoredTextsEndUpTerminatedDefaults) {
    const std::string full(64, 'F');
    // Without a terminator, but shorter than a title may be: taken whole.
    ASSERT_TRUE(StoreSetting(kWindowNameValue, REG_SZ, full.data(), 64));
    ASSERT_TRUE(StoreSetting(kWindowClassValue, REG_BINARY, full.data(), 64));
    ASSERT_TRUE(StoreSetting(kTitleTextValue, REG_EXPAND_SZ, "%PATH%", 7));
    CCaptureSettings source;
    EXPECT_EQ(std::wstring(64, L'F'), source.GetSnapshot().windowName);
    EXPECT_STREQ(L"Quillmere::MainFrame", source.GetSnapshot().windowClass);
    // A title that fills the whole setting without a terminator: the default.
    const std::wstring fills(kWindowTitleCapacity, L'T');
    ASSERT_TRUE(StoreWideSetting(kWindowNameValue, REG_SZ, fills.data(),
                                 static_cast<DWORD>(fills.size() * sizeof(wchar_t))));
    EXPECT_STREQ(L"Quillmere", CCaptureSettings().GetSnapshot().windowName);
    char title[kSettingsTextCapacity];
    source.GetTitleText(title);
    EXPECT_STREQ("- QM Capture -", title);
}

// ---- Setters ---------------------------------------------------------------

TEST_F(CaptureSettingsTest, SetFrameRatePersistsTheClampedFrameTime) {
    CCaptureSettings source;
    ASSERT_EQ(S_OK, source.SetFrameRate(60.0));
    EXPECT_EQ("166666", StoredText(kFrameTimeValue));
    ASSERT_EQ(S_OK, source.SetFrameRate(30.0));
    EXPECT_EQ("333333", StoredText(kFrameTimeValue));
    ASSERT_EQ(S_OK, source.SetFrameRate(240.0));
    EXPECT_EQ("166666", StoredText(kFrameTimeValue));
    ASSERT_EQ(S_OK, source.SetFrameRate(0.5));
    EXPECT_EQ("10000000", StoredText(kFrameTimeValue));
    EXPECT_EQ(10000000, source.GetFrameTime());
    ASSERT_EQ(S_OK, source.SetFrameRate(29.97));
    double rate = 0;
    source.GetFrameRate(&rate);
    EXPECT_EQ(29.0, rate);
    EXPECT_EQ("333667", StoredText(kFrameTimeValue));
    // A new device reads what was stored.
    CCaptureSettings next;
    EXPECT_EQ(333667, next.GetFrameTime());
}

TEST_F(CaptureSettingsTest, SetFrameRateIgnoresRatesThatAreNotPositive) {
    CCaptureSettings source;
    EXPECT_EQ(S_OK, source.SetFrameRate(0.0));
    EXPECT_EQ(S_OK, source.SetFrameRate(-5.0));
    EXPECT_EQ(S_OK, source.SetFrameRate(std::nan("")));
    EXPECT_EQ(0, RegistrySandbox::CountEntries(HKEY_CURRENT_USER, kSettingsKeyW));
    EXPECT_EQ(333333, source.GetFrameTime());
}

TEST_F(CaptureSettingsTest, GetFrameRateRefusesNull) {
    CCaptureSettings source;
    EXPECT_EQ(E_POINTER, source.GetFrameRate(nullptr));
}

TEST_F(CaptureSettingsTest, TitleTextNullPointersAreRefused) {
    CCaptureSettings source;
    EXPECT_EQ(E_POINTER, source.GetTitleText(nullptr));
    EXPECT_EQ(E_POINTER, source.SetTitleText(nullptr));
    EXPECT_EQ(0, RegistrySandbox::CountEntries(HKEY_CURRENT_USER, kSettingsKeyW));
}

TEST_F(CaptureSettingsTest, SetTitleTextCutsLongTextsAndPersistsThem) {
    CCaptureSettings source;
    const std::string longText(80, 'T');
    ASSERT_EQ(S_OK, source.SetTitleText(longText.c_str()));
    char title[kSettingsTextCapacity];
    ASSERT_EQ(S_OK, source.GetTitleText(title));
    EXPECT_EQ(std::string(63, 'T'), title);
    EXPECT_EQ(std::string(63, 'T'), StoredText(kTitleTextValue));
}

TEST_F(CaptureSettingsTest, AnEmptyTitleIsStoredAndLoadedAsEmpty) {
    {
        CCaptureSettings source;
        ASSERT_EQ(S_OK, source.SetTitleText(""));
    }
    EXPECT_EQ("", StoredText(kTitleTextValue));
    CCaptureSettings next;
    char title[kSettingsTextCapacity] = "x";
    next.GetTitleText(title);
    EXPECT_STREQ("", title);
}

TEST_F(CaptureSettingsTest, PersistSelectPixelValidatesTheIndex) {
    CCaptureSettings source;
    EXPECT_EQ(E_INVALIDARG, source.PersistSelectPixel(10));
    EXPECT_EQ(E_INVALIDARG, source.PersistSelectPixel(-1));
    EXPECT_EQ(0, RegistrySandbox::CountEntries(HKEY_CURRENT_USER, kSettingsKeyW));
    ASSERT_EQ(S_OK, source.PersistSelectPixel(4));
    EXPECT_EQ("4", StoredText(kSelectPixelValue));
    EXPECT_EQ(4, source.GetSelectPixel());
}

TEST_F(CaptureSettingsTest, FormatFrameTimeKeepsOrClampsAndIsNotPersisted) {
    CCaptureSettings source;
    source.SetFrameTime(0);
    EXPECT_EQ(333333, source.GetFrameTime());
    source.SetFrameTime(-5);
    EXPECT_EQ(333333, source.GetFrameTime());
    source.SetFrameTime(500000);
    EXPECT_EQ(500000, source.GetFrameTime());
    source.SetFrameTime(20000000);
    EXPECT_EQ(10000000, source.GetFrameTime());
    source.SetFrameTime(1000);
    EXPECT_EQ(166666, source.GetFrameTime());
    EXPECT_EQ(0, RegistrySandbox::CountEntries(HKEY_CURRENT_USER, kSettingsKeyW));
}

// ---- Capture method ----------------------------------------------------------

TEST(CaptureSettingsParsing, CaptureMethodIsAutoUnlessOneToThree) {
    EXPECT_EQ(CaptureMethod::Auto, ParseCaptureMethod("0"));
    EXPECT_EQ(CaptureMethod::Copy, ParseCaptureMethod("1"));
    EXPECT_EQ(CaptureMethod::Print, ParseCaptureMethod("2"));
    EXPECT_EQ(CaptureMethod::Print, ParseCaptureMethod(" 2x"));
    EXPECT_EQ(CaptureMethod::Graphics, ParseCaptureMethod("3"));
    for (const char* text : {"4", "-1", "", "print", "4294967297", "4294967299"}) {
        EXPECT_EQ(CaptureMethod::Auto, ParseCaptureMethod(text)) << text;
    }
}

TEST_F(CaptureSettingsTest, CaptureMethodIsLoadedAndMalformedValuesMeanAuto) {
    EXPECT_EQ(CaptureMethod::Auto, CCaptureSettings().GetSnapshot().captureMethod);
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "2"));
    EXPECT_EQ(CaptureMethod::Print, CCaptureSettings().GetSnapshot().captureMethod);
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "3"));
    EXPECT_EQ(CaptureMethod::Graphics, CCaptureSettings().GetSnapshot().captureMethod);
    const DWORD one = 1;
    ASSERT_TRUE(StoreSetting(kCaptureMethodValue, REG_DWORD, &one, sizeof(one)));
    EXPECT_EQ(CaptureMethod::Auto, CCaptureSettings().GetSnapshot().captureMethod);
    // Stored as the page stores it: each of the four reads back; nothing
    // outside them is written.
    for (const CaptureMethod method :
         {CaptureMethod::Graphics, CaptureMethod::Copy, CaptureMethod::Print, CaptureMethod::Auto}) {
        ASSERT_TRUE(StoreCaptureMethod(method));
        EXPECT_EQ(method, CCaptureSettings().GetSnapshot().captureMethod);
    }
    EXPECT_FALSE(StoreCaptureMethod(static_cast<CaptureMethod>(4)));
    EXPECT_FALSE(StoreCaptureMethod(static_cast<CaptureMethod>(-1)));
    EXPECT_EQ("0", StoredText(kCaptureMethodValue));
}

// ---- Framing ---------------------------------------------------------------------

TEST(CaptureSettingsParsing, ScaleModeIsStretchUnlessOneOrTwoAndMirrorOnlyForOne) {
    EXPECT_EQ(ScaleMode::Stretch, ParseScaleMode("0"));
    EXPECT_EQ(ScaleMode::Fit, ParseScaleMode("1"));
    EXPECT_EQ(ScaleMode::Fill, ParseScaleMode("2"));
    EXPECT_EQ(ScaleMode::Fill, ParseScaleMode(" 2x"));
    EXPECT_TRUE(ParseMirror("1"));
    EXPECT_TRUE(ParseMirror(" +1"));
    for (const char* text : {"3", "-1", "", "fit", "4294967297", "-2", "0x1"}) {
        EXPECT_EQ(ScaleMode::Stretch, ParseScaleMode(text)) << text;
        EXPECT_FALSE(ParseMirror(text)) << text;
    }
    EXPECT_FALSE(ParseMirror("0"));
    EXPECT_FALSE(ParseMirror("2"));
    EXPECT_FALSE(ParseMirror("on"));
}

TEST_F(CaptureSettingsTest, FramingIsLoadedStoredAndReloadedWithABitEach) {
    CCaptureSettings settings;
    CCaptureSettings::Snapshot snapshot = settings.GetSnapshot();
    EXPECT_EQ(ScaleMode::Stretch, snapshot.scaleMode);
    EXPECT_FALSE(snapshot.mirror);

    ASSERT_TRUE(StoreScaleMode(ScaleMode::Fit));
    EXPECT_EQ("1", StoredText(kScaleModeValue));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kScaleModeChanged), settings.Reload());
    EXPECT_EQ(ScaleMode::Fit, settings.GetSnapshot().scaleMode);

    ASSERT_TRUE(StoreMirror(true));
    EXPECT_EQ("1", StoredText(kMirrorValue));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kMirrorChanged), settings.Reload());
    EXPECT_TRUE(settings.GetSnapshot().mirror);

    ASSERT_TRUE(StoreScaleMode(ScaleMode::Fill));
    ASSERT_TRUE(StoreMirror(false));
    EXPECT_EQ("2", StoredText(kScaleModeValue));
    EXPECT_EQ("0", StoredText(kMirrorValue));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kScaleModeChanged | CCaptureSettings::kMirrorChanged),
              settings.Reload());
    snapshot = settings.GetSnapshot();
    EXPECT_EQ(ScaleMode::Fill, snapshot.scaleMode);
    EXPECT_FALSE(snapshot.mirror);
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kNoChange), settings.Reload());

    // A new device loads what is stored.
    EXPECT_EQ(ScaleMode::Fill, CCaptureSettings().GetSnapshot().scaleMode);
    // A value of another type means the default again, and is a change.
    const DWORD two = 2;
    ASSERT_TRUE(StoreSetting(kScaleModeValue, REG_DWORD, &two, sizeof(two)));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kScaleModeChanged), settings.Reload());
    EXPECT_EQ(ScaleMode::Stretch, settings.GetSnapshot().scaleMode);
}

TEST_F(CaptureSettingsTest, AWindowChoiceIsStoredAsUnicodeTextAndReloadedAsAWindowChange) {
    CCaptureSettings settings;
    // "会議 - Notes", which no Western code page holds.
    const wchar_t* meeting = L"\u4F1A\u8B70 - Notes";
    ASSERT_TRUE(StoreWindowChoice(meeting, L"Notes::Main", L"notes.exe"));
    EXPECT_EQ(std::wstring(meeting), StoredWideText(kWindowNameValue));
    EXPECT_EQ(L"Notes::Main", StoredWideText(kWindowClassValue));
    EXPECT_EQ(L"notes.exe", StoredWideText(kWindowProgramValue));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kWindowChanged), settings.Reload());
    CCaptureSettings::Snapshot snapshot = settings.GetSnapshot();
    EXPECT_STREQ(meeting, snapshot.windowName);
    EXPECT_STREQ(L"Notes::Main", snapshot.windowClass);
    EXPECT_STREQ(L"notes.exe", snapshot.windowProgram);

    // Any window of the class: an empty title. A program alone: no class.
    ASSERT_TRUE(StoreWindowChoice(L"", L"Notes::Main", L""));
    EXPECT_EQ(L"", StoredWideText(kWindowNameValue));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kWindowChanged), settings.Reload());
    ASSERT_TRUE(StoreWindowChoice(L"", L"", L"notes.exe"));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kWindowChanged), settings.Reload());
    EXPECT_STREQ(L"", settings.GetSnapshot().windowClass);
    EXPECT_FALSE(StoreWindowChoice(nullptr, L"Notes::Main", L""));
    EXPECT_FALSE(StoreWindowChoice(L"x", nullptr, L""));
    EXPECT_FALSE(StoreWindowChoice(L"x", L"Notes::Main", nullptr));
    EXPECT_EQ(L"", StoredWideText(kWindowNameValue));
}

TEST_F(CaptureSettingsTest, ALongWindowTitleIsStoredWholeUpToWhatASettingHolds) {
    // 100 characters, past the 63 bytes older versions kept.
    const std::wstring title = std::wstring(62, L'w') + std::wstring(38, L'\u00E9');
    ASSERT_TRUE(StoreWindowChoice(title.c_str(), L"Some::Class", L""));
    EXPECT_EQ(title, StoredWideText(kWindowNameValue));
    EXPECT_EQ(title, CCaptureSettings().GetSnapshot().windowName);
    // Longer than a setting holds: cut, never between a surrogate pair.
    std::wstring huge(kWindowTitleCapacity - 2, L'x');
    huge += L"\U0001F600 and more";
    ASSERT_TRUE(StoreWindowChoice(huge.c_str(), L"Some::Class", L""));
    const std::wstring stored = CCaptureSettings().GetSnapshot().windowName;
    EXPECT_EQ(std::wstring(kWindowTitleCapacity - 2, L'x'), stored);
    EXPECT_TRUE(TitleMayBeCut(stored.c_str()));
}

TEST_F(CaptureSettingsTest, AWindowTitleAnOlderVersionStoredInTheHostsCodePageReadsTheSame) {
    ASSERT_TRUE(StoreText(kWindowNameValue, "Untitled - Notepad"));
    ASSERT_TRUE(StoreText(kWindowClassValue, "Notepad"));
    const CCaptureSettings::Snapshot snapshot = CCaptureSettings().GetSnapshot();
    EXPECT_STREQ(L"Untitled - Notepad", snapshot.windowName);
    EXPECT_STREQ(L"Notepad", snapshot.windowClass);
    EXPECT_STREQ(L"", snapshot.windowProgram);
}

// ---- The standby text in UTF-16 ------------------------------------------------

namespace {

constexpr UINT kShiftJis = 932;
// "待機中です" (standing by), five characters.
constexpr wchar_t kStandingBy[] = L"\u5F85\u6A5F\u4E2D\u3067\u3059";

}  // namespace

TEST_F(CaptureSettingsTest, AUnicodeTitleStoredInTheRegistryIsReadWhole) {
    const std::wstring stored(kStandingBy);
    ASSERT_TRUE(StoreWideText(kTitleTextValue, stored.c_str()));
    CCaptureSettings settings;
    EXPECT_EQ(stored, settings.GetSnapshot().titleText);
    wchar_t title[kSettingsTextCapacity] = {};
    ASSERT_EQ(S_OK, settings.GetTitleTextW(title, kSettingsTextCapacity));
    EXPECT_EQ(stored, title);
    // Cut to the capacity asked for, at a character boundary.
    ASSERT_EQ(S_OK, settings.GetTitleTextW(title, 3));
    EXPECT_EQ(stored.substr(0, 2), title);
    EXPECT_EQ(E_INVALIDARG, settings.GetTitleTextW(title, 0));
    EXPECT_EQ(E_POINTER, settings.GetTitleTextW(nullptr, 10));
}

TEST_F(CaptureSettingsTest, AUnicodeTitleSetIsStoredAsUnicode) {
    {
        CCaptureSettings settings;
        ASSERT_EQ(S_OK, settings.SetTitleTextW(kStandingBy));
    }
    EXPECT_EQ(std::wstring(kStandingBy), StoredWideText(kTitleTextValue));
    EXPECT_EQ(std::wstring(kStandingBy), CCaptureSettings().GetSnapshot().titleText);
    // 80 characters are cut to 63, never between the halves of a pair:
    // 62 letters and a character outside the basic plane do not fit.
    CCaptureSettings settings;
    std::wstring pair = std::wstring(62, L'a') + L"\U0001F600";
    ASSERT_EQ(S_OK, settings.SetTitleTextW(pair.c_str()));
    EXPECT_EQ(std::wstring(62, L'a'), StoredWideText(kTitleTextValue));
    ASSERT_EQ(S_OK, settings.SetTitleTextW(std::wstring(80, L'b').c_str()));
    EXPECT_EQ(std::wstring(63, L'b'), StoredWideText(kTitleTextValue));
    EXPECT_EQ(E_POINTER, settings.SetTitleTextW(nullptr));
}

TEST(CaptureSettingsParsing, TitleTextRoundTripsThroughAJapaneseCodePage) {
    ASSERT_TRUE(::IsValidCodePage(kShiftJis)) << "code page 932 is not available";
    char narrow[kSettingsTextCapacity];
    wchar_t wide[kSettingsTextCapacity];
    EXPECT_TRUE(CodePageSettingTextFromWide(narrow, kStandingBy, kShiftJis));
    EXPECT_EQ(10u, std::strlen(narrow)) << "five double-byte characters";
    EXPECT_TRUE(WideSettingTextFromCodePage(wide, narrow, kShiftJis));
    EXPECT_EQ(std::wstring(kStandingBy), wide);

    // 40 Japanese characters do not fit 63 bytes: 31 whole ones do.
    std::wstring many;
    for (int i = 0; i < 40; ++i) {
        many += L"\u5F85";
    }
    EXPECT_FALSE(CodePageSettingTextFromWide(narrow, many.c_str(), kShiftJis));
    EXPECT_EQ(62u, std::strlen(narrow));
    EXPECT_TRUE(WideSettingTextFromCodePage(wide, narrow, kShiftJis));
    EXPECT_EQ(many.substr(0, 31), wide);
    // A code page without the characters gets its default character.
    EXPECT_TRUE(CodePageSettingTextFromWide(narrow, kStandingBy, 1252));
    EXPECT_STREQ("?????", narrow);
}

TEST_F(CaptureSettingsTest, TheEightBitMethodsConvertInTheHostsCodePage) {
    CCaptureSettings settings;
    ASSERT_EQ(S_OK, settings.SetTitleText("Be right back"));
    EXPECT_EQ(std::wstring(L"Be right back"), StoredWideText(kTitleTextValue));
    char title[kSettingsTextCapacity];
    ASSERT_EQ(S_OK, settings.GetTitleText(title));
    EXPECT_STREQ("Be right back", title);
}

// ---- Reloading -----------------------------------------------------------------

TEST_F(CaptureSettingsTest, AReloadTakesOverOnlyWhatTheRegistryChanged) {
    CCaptureSettings settings;
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kNoChange), settings.Reload());
    // A format's frame time is not stored; a reload of other values keeps it.
    settings.SetFrameTime(666666);
    ASSERT_TRUE(StoreText(kWindowClassValue, "Other::Frame"));
    ASSERT_TRUE(StoreText(kTitleTextValue, "away"));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kWindowChanged | CCaptureSettings::kTitleTextChanged),
              settings.Reload());
    CCaptureSettings::Snapshot snapshot = settings.GetSnapshot();
    EXPECT_STREQ(L"Other::Frame", snapshot.windowClass);
    EXPECT_EQ(std::wstring(L"away"), snapshot.titleText);
    EXPECT_EQ(666666, snapshot.frameTime);

    ASSERT_TRUE(StoreText(kFrameTimeValue, "1000000"));
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "1"));
    ASSERT_TRUE(StoreText(kSelectPixelValue, "4"));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kFrameTimeChanged | CCaptureSettings::kCaptureMethodChanged |
                                    CCaptureSettings::kSelectPixelChanged),
              settings.Reload());
    snapshot = settings.GetSnapshot();
    EXPECT_EQ(1000000, snapshot.frameTime);
    EXPECT_EQ(CaptureMethod::Copy, snapshot.captureMethod);
    EXPECT_EQ(4, settings.GetSelectPixel());
    // Nothing is written by reloading.
    EXPECT_EQ("4", StoredText(kSelectPixelValue));
}

TEST_F(CaptureSettingsTest, TheDevicesOwnWritesAreNoChangeToReload) {
    CCaptureSettings settings;
    ASSERT_EQ(S_OK, settings.SetFrameRate(15.0));
    ASSERT_EQ(S_OK, settings.SetTitleText("mine"));
    ASSERT_EQ(S_OK, settings.PersistSelectPixel(2));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kNoChange), settings.Reload());
}

TEST_F(CaptureSettingsTest, TheDiagnosticLogSettingTurnsTheModulesLogOnAndOff) {
    diagnostic_log::Enable(false);
    ASSERT_TRUE(WriteSetting("1", kDiagnosticLogValue));
    CCaptureSettings settings;
    EXPECT_TRUE(settings.GetSnapshot().diagnosticLog);
    EXPECT_TRUE(diagnostic_log::IsEnabled());
    ASSERT_TRUE(WriteSetting("0", kDiagnosticLogValue));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kDiagnosticLogChanged), settings.Reload());
    EXPECT_FALSE(diagnostic_log::IsEnabled());
}

// ---- What is shown -----------------------------------------------------------

TEST(CaptureSettingsParsing, SourceValuesThatDoNotParseMeanTheDefault) {
    struct RectCase {
        const char* text;
        StoredRect expected;
    };
    const RectCase rects[] = {
        {"100,200,640,360", {100, 200, 640, 360}},
        {" -1920 , 0 , 1920 , 1080 ", {-1920, 0, 1920, 1080}},
        {"0,0,1,1", {0, 0, 1, 1}},
        {"0,0,16384,16384", {0, 0, 16384, 16384}},
        {"", {}},
        {"1,2,3", {}},
        {"1,2,3,4,5", {}},
        {"1,2,0,4", {}},
        {"1,2,-3,4", {}},
        {"1,2,16385,4", {}},
        {"40000,0,10,10", {}},
        {"1,2,3,4x", {}},
        {"a,b,c,d", {}},
        {"1,,3,4", {}},
        {"99999999999999999999,0,1,1", {}},
    };
    for (const RectCase& c : rects) {
        EXPECT_EQ(c.expected, ParseStoredRect(c.text)) << "\"" << c.text << "\"";
        if (!c.expected.Empty()) {
            // What is parsed is stored back as the same text.
            char text[kSettingsTextCapacity];
            FormatStoredRect(c.expected, text);
            EXPECT_EQ(c.expected, ParseStoredRect(text));
            EXPECT_TRUE(IsStorableRect(c.expected));
        }
    }
    EXPECT_EQ(SourceKind::Monitor, ParseSourceKind("1"));
    EXPECT_EQ(SourceKind::Region, ParseSourceKind("2"));
    for (const char* text : {"0", "3", "-1", "monitor", ""}) {
        EXPECT_EQ(SourceKind::Window, ParseSourceKind(text)) << text;
    }
    EXPECT_EQ(CursorChoice::On, ParseCursorChoice("1"));
    EXPECT_EQ(CursorChoice::Off, ParseCursorChoice("0"));
    for (const char* text : {"2", "on", ""}) {
        EXPECT_EQ(CursorChoice::Default, ParseCursorChoice(text)) << text;
    }
    // Missing, the pointer is drawn for the screen's sources only.
    EXPECT_FALSE(ShowsCursor(CursorChoice::Default, SourceKind::Window));
    EXPECT_TRUE(ShowsCursor(CursorChoice::Default, SourceKind::Monitor));
    EXPECT_TRUE(ShowsCursor(CursorChoice::Default, SourceKind::Region));
    EXPECT_TRUE(ShowsCursor(CursorChoice::On, SourceKind::Window));
    EXPECT_FALSE(ShowsCursor(CursorChoice::Off, SourceKind::Monitor));
}

TEST_F(CaptureSettingsTest, StoredSourcesAreLoadedAndTheirChangesReported) {
    CCaptureSettings source;
    EXPECT_EQ(SourceKind::Window, source.GetSnapshot().sourceKind);
    EXPECT_TRUE(source.GetSnapshot().cropRect.Empty());
    ASSERT_TRUE(StoreSourceMonitor(L"\\\\.\\DISPLAY2"));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kSourceChanged), source.Reload());
    EXPECT_EQ(SourceKind::Monitor, source.GetSnapshot().sourceKind);
    EXPECT_STREQ(L"\\\\.\\DISPLAY2", source.GetSnapshot().sourceMonitor);
    ASSERT_TRUE(StoreSourceRegion({-100, 50, 640, 360}));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kSourceChanged), source.Reload());
    EXPECT_EQ((StoredRect{-100, 50, 640, 360}), source.GetSnapshot().sourceRegion);
    EXPECT_EQ("-100,50,640,360", StoredText(kSourceRegionValue));
    ASSERT_TRUE(StoreCropRect({10, 20, 30, 40}));
    ASSERT_TRUE(StoreShowCursor(CursorChoice::Off));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kCropChanged | CCaptureSettings::kCursorChanged),
              source.Reload());
    EXPECT_EQ(CursorChoice::Off, source.GetSnapshot().showCursor);
    // The window again keeps the crop; the default pointer removes the value.
    ASSERT_TRUE(StoreSourceWindow());
    ASSERT_TRUE(StoreShowCursor(CursorChoice::Default));
    EXPECT_EQ(static_cast<unsigned>(CCaptureSettings::kSourceChanged | CCaptureSettings::kCursorChanged),
              source.Reload());
    EXPECT_EQ((StoredRect{10, 20, 30, 40}), source.GetSnapshot().cropRect);
    EXPECT_EQ("<missing or malformed>", StoredText(kShowCursorValue));
    ASSERT_TRUE(StoreCropRect({}));
    EXPECT_EQ("", StoredText(kCropRectValue));
    // Nothing is stored that would not read back.
    EXPECT_FALSE(StoreSourceRegion({}));
    EXPECT_FALSE(StoreCropRect({0, 0, 20000, 10}));
    EXPECT_FALSE(StoreSourceMonitor(L"\\\\.\\A-NAME-FAR-TOO-LONG-FOR-A-MONITOR"));
    EXPECT_EQ("-100,50,640,360", StoredText(kSourceRegionValue));
}

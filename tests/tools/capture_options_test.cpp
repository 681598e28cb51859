// The capture client's command line, parsed directly: defaults, every
// option, and the refusals that must end in a usage error.
#include <gtest/gtest.h>

#include "tools/capture_client/capture_options.h"

using namespace qmcapture;

namespace {

ParseStatus Parse(std::vector<std::wstring> args, CaptureOptions* options, std::wstring* error = nullptr) {
    std::wstring ignored;
    return ParseCaptureOptions(args, options, error != nullptr ? error : &ignored);
}

}  // namespace

TEST(CaptureOptionsTest, NoArgumentsCaptureFromTheDefaultDevice) {
    CaptureOptions options;
    ASSERT_EQ(ParseStatus::kOk, Parse({}, &options));
    EXPECT_EQ(CaptureAction::kCapture, options.action);
    EXPECT_EQ(L"QM Capture Device", options.deviceName);
    EXPECT_EQ(0, options.width);
    EXPECT_EQ(0.0, options.frameRate);
    EXPECT_EQ(5.0, options.EffectiveSeconds());
    EXPECT_TRUE(options.save.first);
    EXPECT_TRUE(options.save.last);
    EXPECT_EQ(0u, options.save.every);
    EXPECT_EQ(L".", options.outputDir);
    EXPECT_TRUE(options.summaryFile.empty());
    EXPECT_FALSE(options.noClock);
}

TEST(CaptureOptionsTest, EveryOptionTakesItsValueSeparateOrAfterEquals) {
    CaptureOptions options;
    ASSERT_EQ(ParseStatus::kOk,
              Parse({L"-d", L"My Cam", L"--size=1136x640", L"--fps", L"29.97", L"--seconds=2.5", L"-n", L"90",
                     L"--output", L"out\\x64", L"--prefix=shot", L"--save", L"first,every:30,7",
                     L"--summary=s.txt", L"--no-clock", L"--timeout", L"3"},
                    &options));
    EXPECT_EQ(L"My Cam", options.deviceName);
    EXPECT_EQ(1136, options.width);
    EXPECT_EQ(640, options.height);
    EXPECT_DOUBLE_EQ(29.97, options.frameRate);
    EXPECT_DOUBLE_EQ(2.5, options.EffectiveSeconds());
    EXPECT_EQ(90u, options.frames);
    EXPECT_EQ(L"out\\x64", options.outputDir);
    EXPECT_EQ(L"shot", options.filePrefix);
    EXPECT_TRUE(options.save.first);
    EXPECT_FALSE(options.save.last);
    EXPECT_EQ(30u, options.save.every);
    EXPECT_EQ(std::vector<uint32_t>{7}, options.save.indexes);
    EXPECT_EQ(L"s.txt", options.summaryFile);
    EXPECT_TRUE(options.noClock);
    EXPECT_DOUBLE_EQ(3.0, options.stallSeconds);
}

TEST(CaptureOptionsTest, FramesAloneCaptureWithoutTimeLimit) {
    CaptureOptions options;
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--frames", L"1"}, &options));
    EXPECT_EQ(1u, options.frames);
    EXPECT_EQ(0.0, options.EffectiveSeconds());
}

TEST(CaptureOptionsTest, ActionsAreRecognisedAndExcludeEachOther) {
    CaptureOptions options;
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--list"}, &options));
    EXPECT_EQ(CaptureAction::kListDevices, options.action);
    ASSERT_EQ(ParseStatus::kOk, Parse({L"-c", L"-d", L"X"}, &options));
    EXPECT_EQ(CaptureAction::kListCapabilities, options.action);
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--properties"}, &options));
    EXPECT_EQ(CaptureAction::kShowProperties, options.action);

    ASSERT_EQ(ParseStatus::kOk, Parse({L"--windows"}, &options));
    EXPECT_EQ(CaptureAction::kListWindows, options.action);

    std::wstring error;
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--list", L"--caps"}, &options, &error));
    EXPECT_NE(std::wstring::npos, error.find(L"exclude"));
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--windows", L"--properties"}, &options, &error));
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--windows=all"}, &options, &error));
    EXPECT_EQ(L"option --windows takes no value", error);
}

TEST(CaptureOptionsTest, WindowAndFramingOptionsAloneOnlyStore) {
    CaptureOptions options;
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--use-window", L"Untitled - Notepad", L"--use-class=Notepad", L"--scale",
                                       L"fit", L"--mirror=on"},
                                      &options));
    EXPECT_EQ(CaptureAction::kStoreSettings, options.action);
    EXPECT_TRUE(options.StoresSettings());
    EXPECT_EQ(L"Untitled - Notepad", options.useWindow.value_or(L"<none>"));
    EXPECT_EQ(L"Notepad", options.useClass.value_or(L"<none>"));
    EXPECT_EQ(ScaleMode::Fit, options.scale.value_or(ScaleMode::Stretch));
    EXPECT_TRUE(options.mirror.value_or(false));

    // Each alone, and the other values of each.
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--scale=stretch"}, &options));
    EXPECT_EQ(ScaleMode::Stretch, options.scale.value_or(ScaleMode::Fill));
    EXPECT_FALSE(options.useWindow || options.useClass || options.mirror);
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--scale", L"fill"}, &options));
    EXPECT_EQ(ScaleMode::Fill, options.scale.value_or(ScaleMode::Stretch));
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--mirror", L"off"}, &options));
    EXPECT_FALSE(options.mirror.value_or(true));
    EXPECT_EQ(CaptureAction::kStoreSettings, options.action);
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--use-class", L"Notepad"}, &options));
    EXPECT_FALSE(options.useWindow);
    EXPECT_EQ(CaptureAction::kStoreSettings, options.action);
}

TEST(CaptureOptionsTest, TheStandbyImageOptionTakesAPathOrNone) {
    CaptureOptions options;
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--standby-image", L"C:\\pictures\\away.png"}, &options));
    EXPECT_EQ(CaptureAction::kStoreSettings, options.action);
    EXPECT_EQ(L"C:\\pictures\\away.png", options.standbyImage.value_or(L"<unset>"));
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--standby-image=none"}, &options));
    EXPECT_EQ(L"", options.standbyImage.value_or(L"<unset>"));
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--standby-image", L"away.jpg", L"--seconds", L"1"}, &options));
    EXPECT_EQ(CaptureAction::kCapture, options.action);
    EXPECT_TRUE(options.StoresSettings());

    std::wstring error;
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--standby-image="}, &options, &error));
    EXPECT_NE(std::wstring::npos, error.find(L"--standby-image")) << error;
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--standby-image", std::wstring(260, L'a')}, &options, &error));
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--standby-image"}, &options, &error));
    EXPECT_EQ(L"option --standby-image needs a value", error);
    // The longest path that can be stored is taken.
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--standby-image", std::wstring(259, L'a')}, &options));
}

TEST(CaptureOptionsTest, WindowAndFramingOptionsWithAnActionOrACaptureAreStoredFirst) {
    CaptureOptions options;
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--mirror", L"on", L"--seconds", L"2"}, &options));
    EXPECT_EQ(CaptureAction::kCapture, options.action);
    EXPECT_TRUE(options.mirror.value_or(false));
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--scale", L"fit", L"--windows"}, &options));
    EXPECT_EQ(CaptureAction::kListWindows, options.action);
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--use-class", L"X", L"--device", L"Cam"}, &options));
    EXPECT_EQ(CaptureAction::kCapture, options.action);
    ASSERT_EQ(ParseStatus::kOk, Parse({}, &options));
    EXPECT_FALSE(options.StoresSettings());
}

TEST(CaptureOptionsTest, HelpAndVersionAreReported) {
    CaptureOptions options;
    EXPECT_EQ(ParseStatus::kHelp, Parse({L"--help"}, &options));
    EXPECT_EQ(ParseStatus::kHelp, Parse({L"-h"}, &options));
    EXPECT_EQ(ParseStatus::kHelp, Parse({L"--fps", L"30", L"-h"}, &options));
    EXPECT_EQ(ParseStatus::kVersion, Parse({L"--version"}, &options));
}

TEST(CaptureOptionsTest, UnknownOptionAndStrayArgumentAreUsageErrors) {
    CaptureOptions options;
    std::wstring error;
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--bogus"}, &options, &error));
    EXPECT_EQ(L"unknown option '--bogus'", error);
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"-x"}, &options, &error));
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"capture"}, &options, &error));
    EXPECT_EQ(L"unexpected argument 'capture'", error);
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--list=yes"}, &options, &error));
    EXPECT_EQ(L"option --list takes no value", error);
}

TEST(CaptureOptionsTest, FormatIsNamedInAnyCaseAndShapesACapture) {
    CaptureOptions options;
    ASSERT_EQ(ParseStatus::kOk, Parse({}, &options));
    EXPECT_FALSE(options.format.has_value());
    const struct {
        const wchar_t* name;
        SampleFormat format;
    } cases[] = {
        {L"nv12", SampleFormat::kNv12}, {L"YUY2", SampleFormat::kYuy2}, {L"i420", SampleFormat::kI420},
        {L"Rgb32", SampleFormat::kRgb32}, {L"rgb24", SampleFormat::kRgb24},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(ParseStatus::kOk, Parse({L"--format", c.name}, &options)) << c.name;
        ASSERT_TRUE(options.format.has_value()) << c.name;
        EXPECT_EQ(c.format, *options.format) << c.name;
        EXPECT_EQ(CaptureAction::kCapture, options.action);
    }
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--format=yuy2", L"--size", L"1280x720"}, &options));
    EXPECT_EQ(SampleFormat::kYuy2, *options.format);
    ASSERT_EQ(ParseStatus::kOk, Parse({L"-f", L"i420"}, &options));
    EXPECT_EQ(SampleFormat::kI420, *options.format);
    // With a setting to store, a format makes it a capture, not a store alone.
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--mirror", L"on", L"--format", L"nv12"}, &options));
    EXPECT_EQ(CaptureAction::kCapture, options.action);

    std::wstring error;
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--format", L"mjpg"}, &options, &error));
    EXPECT_EQ(L"bad value 'mjpg' for --format (expected rgb24, nv12, yuy2, i420 or rgb32)", error);
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--format"}, &options, &error));
    EXPECT_EQ(L"option --format needs a value", error);
}

// The few things the parser does with one option and the argument after
// it, and the names every option answers to.
TEST(CaptureOptionsTest, ShortNamesActLikeTheLongOnes) {
    // What a parse set, as text, for the fields the short names reach.
    const auto describe = [](const CaptureOptions& o) {
        return o.deviceName + L"|" + std::to_wstring(o.width) + L"x" + std::to_wstring(o.height) + L"|" +
               (o.format ? SampleFormatName(*o.format) : L"-") + L"|" + std::to_wstring(o.frameRate) + L"|" +
               std::to_wstring(o.seconds) + L"|" + std::to_wstring(o.frames) + L"|" + o.outputDir + L"|" +
               std::to_wstring(static_cast<int>(o.action));
    };
    const struct {
        const wchar_t* shortName;
        const wchar_t* longName;
        const wchar_t* value;
    } pairs[] = {
        {L"-d", L"--device", L"Cam"}, {L"-s", L"--size", L"852x480"}, {L"-f", L"--format", L"i420"},
        {L"-r", L"--fps", L"15"},     {L"-t", L"--seconds", L"2"},    {L"-n", L"--frames", L"7"},
        {L"-o", L"--output", L"out"}, {L"-l", L"--list", nullptr},    {L"-c", L"--caps", nullptr},
        {L"-p", L"--properties", nullptr},
    };
    for (const auto& pair : pairs) {
        CaptureOptions byShort;
        CaptureOptions byLong;
        std::vector<std::wstring> shortArgs = {pair.shortName};
        std::vector<std::wstring> longArgs = {pair.longName};
        if (pair.value != nullptr) {
            shortArgs.push_back(pair.value);
            longArgs.push_back(pair.value);
        }
        ASSERT_EQ(ParseStatus::kOk, Parse(shortArgs, &byShort)) << pair.shortName;
        ASSERT_EQ(ParseStatus::kOk, Parse(longArgs, &byLong)) << pair.longName;
        EXPECT_EQ(describe(byLong), describe(byShort)) << pair.shortName;
        EXPECT_NE(describe(CaptureOptions()), describe(byShort)) << pair.shortName << " changed nothing";
    }
    CaptureOptions options;
    EXPECT_EQ(ParseStatus::kHelp, Parse({L"/?"}, &options));
    EXPECT_EQ(ParseStatus::kVersion, Parse({L"-V"}, &options));
}

TEST(CaptureOptionsTest, RenamingACameraTakesTwoArgumentsOfItsOwn) {
    CaptureOptions options;
    std::wstring error;
    const std::wstring needsBoth = L"option --rename-camera needs a camera and a new name (--rename-camera 2 \"Slides\")";
    // The new name must follow as an argument of its own.
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--rename-camera=2", L"Notes"}, &options, &error));
    EXPECT_EQ(needsBoth, error);
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--rename-camera", L"2", L""}, &options, &error));
    EXPECT_EQ(needsBoth, error);
    // An empty camera is its own mistake, whatever follows.
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--rename-camera", L""}, &options, &error));
    EXPECT_EQ(L"bad value '' for --rename-camera (expected a camera number or name)", error);
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--rename-camera"}, &options, &error));
    EXPECT_EQ(L"option --rename-camera needs a value", error);
    // The argument after the new name is an option again.
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--rename-camera", L"3", L"--list", L"-d", L"X"}, &options, &error));
    EXPECT_EQ(L"--list", options.cameraNewName);
    EXPECT_EQ(L"X", options.deviceName);

    // The switch of an elevated run is neither an action nor a capture.
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--elevated-run", L"--remove-camera", L"2"}, &options, &error));
    EXPECT_TRUE(options.elevatedRun);
    EXPECT_EQ(CaptureAction::kRemoveCamera, options.action);
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--elevated-run", L"--mirror", L"on"}, &options, &error));
    EXPECT_EQ(CaptureAction::kStoreSettings, options.action);
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--help=me"}, &options, &error));
    EXPECT_EQ(L"option --help takes no value", error);
}

TEST(CaptureOptionsTest, MissingValueIsAUsageError) {
    CaptureOptions options;
    std::wstring error;
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--device"}, &options, &error));
    EXPECT_EQ(L"option --device needs a value", error);
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"-r"}, &options, &error));
}

namespace {

struct BadValue {
    const wchar_t* option;
    const wchar_t* value;
};

class CaptureOptionsBadValueTest : public testing::TestWithParam<BadValue> {};

}  // namespace

TEST_P(CaptureOptionsBadValueTest, IsRefusedAndLeavesOptionsUnchanged) {
    CaptureOptions options;
    options.deviceName = L"kept";
    std::wstring error;
    EXPECT_EQ(ParseStatus::kUsageError, Parse({GetParam().option, GetParam().value}, &options, &error));
    EXPECT_NE(std::wstring::npos, error.find(GetParam().option)) << error;
    EXPECT_EQ(L"kept", options.deviceName);
    EXPECT_EQ(0, options.width);
    EXPECT_EQ(0.0, options.frameRate);
    EXPECT_EQ(0u, options.frames);
    EXPECT_FALSE(options.StoresSettings());
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, CaptureOptionsBadValueTest,
    testing::Values(BadValue{L"--fps", L"abc"}, BadValue{L"--fps", L"0"}, BadValue{L"--fps", L"-5"},
                    BadValue{L"--fps", L"nan"}, BadValue{L"--fps", L"inf"}, BadValue{L"--fps", L"1e999"},
                    BadValue{L"--fps", L"30fps"}, BadValue{L"--fps", L" 30"}, BadValue{L"--fps", L""},
                    BadValue{L"--fps", L"1001"}, BadValue{L"--seconds", L"0"}, BadValue{L"--seconds", L"-1"},
                    BadValue{L"--seconds", L"1e9"}, BadValue{L"--frames", L"0"}, BadValue{L"--frames", L"-3"},
                    BadValue{L"--frames", L"1.5"}, BadValue{L"--frames", L"+3"},
                    BadValue{L"--frames", L"99999999999"}, BadValue{L"--frames", L"0x10"},
                    BadValue{L"--timeout", L"0"}, BadValue{L"--size", L"1136"}, BadValue{L"--size", L"12x"},
                    BadValue{L"--size", L"x480"}, BadValue{L"--size", L"0x480"}, BadValue{L"--size", L"640x0"},
                    BadValue{L"--size", L"1136*640"}, BadValue{L"--size", L"-640x480"},
                    BadValue{L"--size", L"99999x480"}, BadValue{L"--device", L""},
                    BadValue{L"--prefix", L"a\\b"}, BadValue{L"--save", L"middle"},
                    BadValue{L"--save", L"every:0"}, BadValue{L"--save", L"first,,last"},
                    BadValue{L"--save", L"-1"}, BadValue{L"--scale", L"Fit"}, BadValue{L"--scale", L""},
                    BadValue{L"--scale", L"1"}, BadValue{L"--scale", L"letterbox"}, BadValue{L"--mirror", L"yes"},
                    BadValue{L"--mirror", L"1"}, BadValue{L"--mirror", L""}, BadValue{L"--mirror", L"ON"},
                    BadValue{L"--use-window", L""}, BadValue{L"--use-class", L""}, BadValue{L"--format", L""},
                    BadValue{L"--format", L"mjpg"}, BadValue{L"--format", L"nv21"}, BadValue{L"--format", L"rgb"},
                    BadValue{L"--format", L"nv12 "}));

INSTANTIATE_TEST_SUITE_P(
    Sources, CaptureOptionsBadValueTest,
    testing::Values(BadValue{L"--use-monitor", L"0"}, BadValue{L"--use-monitor", L""},
                    BadValue{L"--use-monitor", L"\\\\.\\DISPLAY1234567890123456789012345"},
                    BadValue{L"--use-region", L"1,2,3"}, BadValue{L"--use-region", L"0,0,0,10"},
                    BadValue{L"--use-region", L"0,0,10,-10"}, BadValue{L"--use-region", L"0,0,16385,10"},
                    BadValue{L"--use-region", L"40000,0,10,10"}, BadValue{L"--use-region", L"a,b,c,d"},
                    BadValue{L"--use-region", L"1,2,3,4,5"}, BadValue{L"--use-region", L"1,2,3,\u0664"},
                    BadValue{L"--use-region", L""}, BadValue{L"--crop", L""}, BadValue{L"--crop", L"None"},
                    BadValue{L"--crop", L"0,0,x,1"}, BadValue{L"--cursor", L"yes"}, BadValue{L"--cursor", L"On"},
                    BadValue{L"--cursor", L""}, BadValue{L"--method", L"dxgi"}, BadValue{L"--method", L"3"},
                    BadValue{L"--method", L"Auto"}, BadValue{L"--method", L""}));

TEST(CaptureOptionsTest, SourceOptionsTakeTheirValuesAndAMonitorMayBeLeftOut) {
    CaptureOptions options;
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--use-monitor"}, &options));
    EXPECT_EQ(CaptureAction::kStoreSettings, options.action);
    EXPECT_EQ(L"", options.useMonitor.value_or(L"<unset>"));
    // An option after it is not its value.
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--use-monitor", L"--cursor", L"off"}, &options));
    EXPECT_EQ(L"", options.useMonitor.value_or(L"<unset>"));
    EXPECT_EQ(CursorChoice::Off, options.cursor.value_or(CursorChoice::Default));
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--use-monitor", L"2", L"--windows"}, &options));
    EXPECT_EQ(L"2", options.useMonitor.value_or(L"<unset>"));
    EXPECT_EQ(CaptureAction::kListWindows, options.action);
    ASSERT_EQ(ParseStatus::kOk, Parse({L"--use-monitor=\\\\.\\DISPLAY2"}, &options));
    EXPECT_EQ(L"\\\\.\\DISPLAY2", options.useMonitor.value_or(L"<unset>"));

    ASSERT_EQ(ParseStatus::kOk, Parse({L"--use-region", L"-1280, 0, 1280, 720", L"--crop=none", L"--method",
                                       L"graphics", L"--cursor", L"default"},
                                      &options));
    ASSERT_TRUE(options.useRegion.has_value());
    EXPECT_EQ((StoredRect{-1280, 0, 1280, 720}), *options.useRegion);
    ASSERT_TRUE(options.crop.has_value());
    EXPECT_TRUE(options.crop->Empty());
    EXPECT_EQ(CaptureMethod::Graphics, options.method.value_or(CaptureMethod::Auto));
    EXPECT_EQ(CursorChoice::Default, options.cursor.value_or(CursorChoice::On));
    EXPECT_TRUE(options.StoresSettings());

    ASSERT_EQ(ParseStatus::kOk, Parse({L"--crop", L"10,20,300,200", L"--seconds", L"1"}, &options));
    EXPECT_EQ((StoredRect{10, 20, 300, 200}), options.crop.value_or(StoredRect{}));
    EXPECT_EQ(CaptureAction::kCapture, options.action);

    ASSERT_EQ(ParseStatus::kOk, Parse({L"--monitors"}, &options));
    EXPECT_EQ(CaptureAction::kListMonitors, options.action);
    std::wstring error;
    EXPECT_EQ(ParseStatus::kUsageError, Parse({L"--monitors", L"--windows"}, &options, &error));
    EXPECT_NE(std::wstring::npos, error.find(L"exclude")) << error;
}

TEST(CaptureOptionsTest, AWindowAMonitorAndARegionExcludeEachOther) {
    for (const std::vector<std::wstring>& args : std::vector<std::vector<std::wstring>>{
             {L"--use-monitor", L"--use-region", L"0,0,10,10"},
             {L"--use-class", L"Notepad", L"--use-monitor"},
             {L"--use-region", L"0,0,10,10", L"--use-program", L"notes.exe"},
             {L"--use-window", L"T", L"--use-region=0,0,10,10", L"--use-monitor", L"1"}}) {
        CaptureOptions options;
        options.deviceName = L"kept";
        std::wstring error;
        EXPECT_EQ(ParseStatus::kUsageError, Parse(args, &options, &error)) << args[0];
        EXPECT_NE(std::wstring::npos, error.find(L"choose what is shown")) << error;
        EXPECT_EQ(L"kept", options.deviceName);
    }
}

TEST(FrameSelectionTest, ListIsParsedSortedAndWithoutRepeats) {
    FrameSelection selection;
    std::wstring error;
    ASSERT_TRUE(ParseFrameSelection(L"12,last,every:30,7,12", &selection, &error)) << error;
    EXPECT_FALSE(selection.first);
    EXPECT_TRUE(selection.last);
    EXPECT_EQ(30u, selection.every);
    EXPECT_EQ((std::vector<uint32_t>{7, 12}), selection.indexes);

    EXPECT_TRUE(selection.SelectsWhileCapturing(0));  // every:30 includes frame 0
    EXPECT_TRUE(selection.SelectsWhileCapturing(7));
    EXPECT_TRUE(selection.SelectsWhileCapturing(60));
    EXPECT_FALSE(selection.SelectsWhileCapturing(8));
    EXPECT_FALSE(selection.SelectsWhileCapturing(59));
}

TEST(FrameSelectionTest, NoneSelectsNothing) {
    FrameSelection selection;
    selection.first = true;
    std::wstring error;
    ASSERT_TRUE(ParseFrameSelection(L"none", &selection, &error));
    EXPECT_TRUE(selection.Empty());
    EXPECT_FALSE(selection.SelectsWhileCapturing(0));
}

TEST(CaptureOptionsTest, UsageNamesEveryOption) {
    const std::wstring usage = CaptureUsageText();
    EXPECT_EQ(0u, usage.find(L"Usage: qmcapture"));
    for (const wchar_t* option : {L"--list", L"--caps", L"--properties", L"--device", L"--size", L"--fps",
                                  L"--seconds", L"--frames", L"--timeout", L"--no-clock", L"--output", L"--prefix",
                                  L"--save", L"--summary", L"--help", L"--version", L"--windows",
                                  L"--use-window", L"--use-class", L"--scale", L"--mirror", L"--standby-image",
                                  L"--format", L"nv12", L"yuy2", L"i420", L"rgb32", L"--monitors",
                                  L"--use-monitor", L"--use-region", L"--crop", L"--cursor", L"--method",
                                  L"graphics", L"default"}) {
        EXPECT_NE(std::wstring::npos, usage.find(option)) << option;
    }
}

// Where the capture device's per-user settings are stored: REG_SZ values
// under a key of HKEY_CURRENT_USER ("Software\QMCapture"), numbers as
// decimal text; and the writes that the window page and the capture client
// make for the user.
#pragma once

#include <windows.h>

#include <cstddef>

#include "settings/capture_device_settings.h"
#include "settings/capture_method.h"
#include "settings/scale_mode.h"
#include "settings/source_choice.h"

inline constexpr char kSettingsKeyPath[] = "Software\\QMCapture";

inline constexpr char kWindowNameValue[] = "WindowName";
inline constexpr char kWindowClassValue[] = "WindowClass";
inline constexpr char kWindowProgramValue[] = "WindowProgram";
inline constexpr char kTitleTextValue[] = "TitleText";
inline constexpr char kFrameTimeValue[] = "FrameTime";
inline constexpr char kSelectPixelValue[] = "SelectPixel";
inline constexpr char kOutputFormatValue[] = "OutputFormat";
inline constexpr char kCaptureMethodValue[] = "CaptureMethod";
inline constexpr char kScaleModeValue[] = "ScaleMode";
inline constexpr char kMirrorValue[] = "Mirror";
inline constexpr char kDiagnosticLogValue[] = "DiagnosticLog";
inline constexpr char kStandbyImageValue[] = "StandbyImage";
inline constexpr char kSourceKindValue[] = "SourceKind";
inline constexpr char kSourceMonitorValue[] = "SourceMonitor";
inline constexpr char kSourceRegionValue[] = "SourceRegion";
inline constexpr char kCropRectValue[] = "CropRect";
inline constexpr char kShowCursorValue[] = "ShowCursor";

// One settings key: reads and writes of its values. A key that does not
// exist is read as empty (every value missing) and created by the first
// write.
class CSettingsKey {
public:
    // path: below HKEY_CURRENT_USER, at most kMaxPath - 1 characters; a
    // longer one is cut (and then names a key nobody writes).
    static constexpr size_t kMaxPath = 128;
    explicit CSettingsKey(const char* path = kSettingsKeyPath);

    const char* Path() const { return m_path; }

    // Reads an 8-bit value into a kSettingsTextCapacity-byte destination,
    // which always ends up a terminated string of at most 63 bytes. A
    // missing key or value, or one longer than the buffer, yields the
    // default text and true. A value that is not REG_SZ, or REG_SZ data that
    // fills the buffer without a terminator, yields the default text and
    // false. Otherwise the stored text and true.
    [[nodiscard]] bool Read(const char* valueName, const char* defaultText, char* destination) const;
    // The same for UTF-16 text into `capacity` characters (at least 1):
    // at most capacity - 1 characters remain, never half a surrogate pair.
    [[nodiscard]] bool ReadWide(const char* valueName, const wchar_t* defaultText, wchar_t* destination,
                                size_t capacity) const;

    // Writes a text as REG_SZ (terminator included); true on success.
    [[nodiscard]] bool Write(const char* valueName, const char* text) const;
    [[nodiscard]] bool WriteWide(const char* valueName, const wchar_t* text) const;
    // A number as decimal text.
    [[nodiscard]] bool WriteNumber(const char* valueName, long long value) const;
    // Removes a value; true also when there was none.
    [[nodiscard]] bool Remove(const char* valueName) const;

private:
    char m_path[kMaxPath] = {};
};

// The first camera's key, in the shapes the rest of the code and its tests
// have always used: 8-bit texts of at most 63 bytes, and UTF-16 texts of at
// most 63 characters.
[[nodiscard]] bool ReadSetting(const char* defaultText, char* destination, const char* valueName);
[[nodiscard]] bool WriteSetting(const char* text, const char* valueName);
[[nodiscard]] bool ReadSettingW(const wchar_t* defaultText, wchar_t* destination, const char* valueName);
[[nodiscard]] bool WriteSettingW(const wchar_t* text, const char* valueName);

// What the window page and the capture client store for the user; a
// running device takes it over through its registry watch. The window's
// title, class and program (its file name), as UTF-16 text, each cut only
// where it would not fit its setting (an empty title: any window of the
// class; an empty class: any window of the program). False when a value
// could not be written. keyPath: the settings key of the camera (below
// HKEY_CURRENT_USER), camera 1's by default.
[[nodiscard]] bool StoreWindowChoice(const wchar_t* windowName, const wchar_t* windowClass,
                                     const wchar_t* windowProgram, const char* keyPath = kSettingsKeyPath);
[[nodiscard]] bool StoreScaleMode(ScaleMode mode, const char* keyPath = kSettingsKeyPath);
// How a window is read: "0" auto to "3" graphics capture. False, and
// nothing written, for a value outside the four.
[[nodiscard]] bool StoreCaptureMethod(CaptureMethod method, const char* keyPath = kSettingsKeyPath);
// What is shown: a window (the stored window choice), a monitor by its
// device name (empty: the primary), or a region; the monitor's name and the
// region are stored only with their kind, and a window keeps its stored
// crop. False when a value could not be written (or a name too long).
[[nodiscard]] bool StoreSourceWindow(const char* keyPath = kSettingsKeyPath);
[[nodiscard]] bool StoreSourceMonitor(const wchar_t* deviceName, const char* keyPath = kSettingsKeyPath);
[[nodiscard]] bool StoreSourceRegion(const StoredRect& region, const char* keyPath = kSettingsKeyPath);
// The part of a window's client area shown; an empty rectangle: all of it.
[[nodiscard]] bool StoreCropRect(const StoredRect& crop, const char* keyPath = kSettingsKeyPath);
// The pointer on or off (CursorChoice::Default removes the value: the
// kind's default).
[[nodiscard]] bool StoreShowCursor(CursorChoice choice, const char* keyPath = kSettingsKeyPath);
[[nodiscard]] bool StoreMirror(bool mirror, const char* keyPath = kSettingsKeyPath);
// The standby picture's path (empty: none). False, and nothing written,
// for null or a path of kStandbyImageCapacity characters or more.
[[nodiscard]] bool StoreStandbyImage(const wchar_t* path, const char* keyPath = kSettingsKeyPath);

// Per-user settings of the capture device: registry access under
// HKEY_CURRENT_USER\Software\QMCapture, and the rules that turn stored
// texts into sane values.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "capture/capture_device_settings.h"

inline constexpr char kSettingsKeyPath[] = "Software\\QMCapture";

inline constexpr char kWindowNameValue[] = "WindowName";
inline constexpr char kWindowClassValue[] = "WindowClass";
inline constexpr char kTitleTextValue[] = "TitleText";
inline constexpr char kFrameTimeValue[] = "FrameTime";
inline constexpr char kSelectPixelValue[] = "SelectPixel";

inline constexpr char kDefaultWindowName[] = "Quillmere";
inline constexpr char kDefaultWindowClass[] = "Quillmere::MainFrame";
inline constexpr char kDefaultTitleText[] = "- QM Capture -";

// Frame durations in 100-ns units: about 30 frames per second at the
// shortest, one frame per second at the longest.
inline constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;
inline constexpr REFERENCE_TIME kMinFrameTime = 333333;
inline constexpr REFERENCE_TIME kMaxFrameTime = kUnitsPerSecond;
inline constexpr REFERENCE_TIME kDefaultFrameTime = kMinFrameTime;

inline constexpr int kFrameSizeCount = 6;
inline constexpr int kDefaultSelectPixel = 0;

// Reads one value of the settings key into a kSettingsTextCapacity-byte
// destination, which always ends up a terminated string of at most 63
// bytes. A missing key or value, or one longer than the buffer, yields the
// default text and true. A value that is not REG_SZ, or REG_SZ data that
// fills the buffer without a terminator, yields the default text and
// false. Otherwise the stored text and true.
bool ReadSetting(const char* defaultText, char* destination, const char* valueName);

// Writes a text as REG_SZ (terminator included); true on success.
bool WriteSetting(const char* text, const char* valueName);

// Copies text into a kSettingsTextCapacity-byte destination, cut at a
// character boundary of the code page so that at most 63 bytes remain;
// a double-byte character is never split. Returns false when it cut.
bool CopySettingText(char* destination, const char* text, UINT codePage = CP_ACP);

// A stored frame time: decimal text. "0", text without a number, and a
// missing or unreadable value give kDefaultFrameTime; anything else is
// clamped into kMinFrameTime..kMaxFrameTime.
REFERENCE_TIME ParseFrameTime(const char* text);

// A stored size index: decimal text within 0..kFrameSizeCount-1, else 0.
int ParseSelectPixel(const char* text);

// The frame time for a rate in frames per second, clamped into
// kMinFrameTime..kMaxFrameTime; false (and nothing changed) for a rate
// that is not above zero or not a number.
bool FrameTimeFromRate(double rate, REFERENCE_TIME* frameTime);

// Whole frames per second for a frame time (10,000,000 / frameTime,
// truncated); 0 for a frame time that is not positive.
double FrameRateFromFrameTime(REFERENCE_TIME frameTime);

// A frame time clamped into kMinFrameTime..kMaxFrameTime.
REFERENCE_TIME ClampFrameTime(REFERENCE_TIME frameTime);

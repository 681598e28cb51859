// The values of the capture device's settings: their defaults, the rules
// that turn stored texts into sane values, and the bounded copies and
// conversions of the setting texts.
#pragma once

#include <windows.h>

#include <cstddef>

#include "settings/capture_device_settings.h"
#include "framework/pixel_format.h"
#include "settings/capture_method.h"
#include "settings/frame_time.h"
#include "settings/scale_mode.h"
#include "settings/source_choice.h"

// The window to capture: its title (whole, UTF-16; longer ones are stored
// cut), its class and the file name of its program.
inline constexpr size_t kWindowTitleCapacity = 512;
inline constexpr size_t kWindowClassCapacity = 257;
inline constexpr size_t kWindowProgramCapacity = MAX_PATH;
inline constexpr wchar_t kDefaultWindowName[] = L"Quillmere";
inline constexpr wchar_t kDefaultWindowClass[] = L"Quillmere::MainFrame";
inline constexpr wchar_t kDefaultWindowProgram[] = L"";
// The standby picture: the path of a PNG, JPEG or BMP file, at most
// MAX_PATH - 1 characters; empty for none.
inline constexpr size_t kStandbyImageCapacity = MAX_PATH;
inline constexpr wchar_t kDefaultStandbyImage[] = L"";
inline constexpr char kDefaultTitleText[] = "- QM Capture -";
inline constexpr wchar_t kDefaultTitleTextW[] = L"- QM Capture -";
inline constexpr int kDefaultSelectPixel = 0;
// The output format, as its place in kOutputFormats (the order the
// DirectShow pin offers formats in): 0 RGB24 (the default, and what the
// device sent before it had others), 1 NV12, 2 YUY2, 3 I420, 4 RGB32.
inline constexpr int kOutputFormatCount = 5;
inline constexpr int kDefaultOutputFormat = 0;
inline constexpr PixelFormat kOutputFormats[kOutputFormatCount] = {
    PixelFormat::Rgb24, PixelFormat::Nv12, PixelFormat::Yuy2, PixelFormat::I420, PixelFormat::Rgb32,
};
inline constexpr CaptureMethod kDefaultCaptureMethod = CaptureMethod::Auto;
inline constexpr SourceKind kDefaultSourceKind = SourceKind::Window;
// A monitor's device name as Windows reports it ("\\.\DISPLAY2"): at most
// 31 characters (CCHDEVICENAME with its terminator).
inline constexpr size_t kMonitorNameCapacity = 32;
inline constexpr wchar_t kDefaultSourceMonitor[] = L"";
// The largest width or height of a region or a crop: beyond any screen.
inline constexpr int kMaxStoredRectSide = 16384;
// The bounds of a stored rectangle's origin: the virtual screen's.
inline constexpr int kMaxStoredRectOrigin = 32767;
inline constexpr ScaleMode kDefaultScaleMode = ScaleMode::Stretch;
inline constexpr bool kDefaultMirror = false;

// A stored frame time: decimal text. "0", text without a number, and a
// missing or unreadable value give kDefaultFrameTime; anything else is
// clamped into kMinFrameTime..kMaxFrameTime.
int64_t ParseFrameTime(const char* text);

// A stored size index: decimal text within the size table, else 0.
int ParseSelectPixel(const char* text);
// A stored output format: decimal text below kOutputFormatCount, else 0.
int ParseOutputFormat(const char* text);
// The format a stored output format names; RGB24 for a value outside
// kOutputFormats.
PixelFormat PixelFormatOfOutputFormat(int outputFormat);
// The stored value that names a format.
int OutputFormatOf(PixelFormat format);

// A stored capture method: "0", "1", "2" or "3" as decimal text; anything
// else is Auto.
CaptureMethod ParseCaptureMethod(const char* text);

// A stored source kind: "0", "1" or "2" as decimal text; anything else is
// a window.
SourceKind ParseSourceKind(const char* text);

// A stored rectangle: "X,Y,W,H", four decimal integers separated by commas
// (spaces allowed around them), W and H from 1 to kMaxStoredRectSide, X and
// Y within +-kMaxStoredRectOrigin. Anything else, or an empty text, is the
// empty rectangle (none).
StoredRect ParseStoredRect(const char* text);
// Whether a rectangle is one ParseStoredRect gives back (not empty, within
// the bounds).
bool IsStorableRect(const StoredRect& rect);
// "X,Y,W,H" into a kSettingsTextCapacity-byte destination; "" for an empty
// rectangle.
void FormatStoredRect(const StoredRect& rect, char* destination);

// A stored pointer switch: "1" on, "0" off, anything else the default.
CursorChoice ParseCursorChoice(const char* text);

// A stored scale mode: "0", "1" or "2" as decimal text; anything else is
// Stretch.
ScaleMode ParseScaleMode(const char* text);

// A stored switch ("Mirror", "DiagnosticLog"): "1" as decimal text turns
// it on; anything else does not.
bool ParseSwitch(const char* text);
inline bool ParseMirror(const char* text) {
    return ParseSwitch(text);
}

// Copies text into a kSettingsTextCapacity-byte destination, cut at a
// character boundary of the code page so that at most 63 bytes remain;
// a double-byte character is never split. Returns false when it cut.
bool CopySettingText(char* destination, const char* text, UINT codePage = CP_ACP);

// Copies a UTF-16 text into a kSettingsTextCapacity-character destination,
// cut so that at most 63 characters remain and never between the two
// halves of a surrogate pair. Returns false when it cut.
bool CopySettingTextW(wchar_t* destination, const wchar_t* text);

// Copies a UTF-16 text into `capacity` characters (at least 1), cut so
// that at most capacity - 1 remain, never between the two halves of a
// surrogate pair.
void CopyWideText(wchar_t* destination, const wchar_t* text, size_t capacity);

// A setting text between a code page's 8-bit text and UTF-16. From 8-bit
// text to at most 63 UTF-16 characters, and from UTF-16 into at most 63
// bytes of the code page, cut at a character boundary in both directions;
// characters the code page cannot represent become its default character.
// False when the text was cut.
bool WideSettingTextFromCodePage(wchar_t* destination, const char* text, UINT codePage = CP_ACP);
bool CodePageSettingTextFromWide(char* destination, const wchar_t* text, UINT codePage = CP_ACP);

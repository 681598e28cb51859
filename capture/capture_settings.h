// Per-user settings of the capture device: registry access under
// HKEY_CURRENT_USER\Software\QMCapture, the rules that turn stored texts
// into sane values, and CCaptureSettings, the values one device holds.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "capture/capture_device_settings.h"
#include "framework/com_util.h"

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

// A stored size index: decimal text within the size table, else 0.
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

// The settings one capture device holds: loaded from the registry when the
// device is created, changed by its setters, each change persisted at once.
//
// Any thread may call any method. A value lock (a leaf: nothing is called
// under it) guards the values. Setters that persist hold a persistence
// lock across their registry write, so that the stored value is always the
// last one set; they take it before the value lock, and write outside it,
// so that a registry write never delays a reader such as the streaming
// thread.
class CCaptureSettings {
public:
    // What one frame needs, copied at once so that it stays consistent.
    struct Snapshot {
        REFERENCE_TIME frameTime;
        char windowName[kSettingsTextCapacity];
        char windowClass[kSettingsTextCapacity];
        char titleText[kSettingsTextCapacity];
    };

    // Loads every value; nothing is written.
    CCaptureSettings();
    CCaptureSettings(const CCaptureSettings&) = delete;
    CCaptureSettings& operator=(const CCaptureSettings&) = delete;

    Snapshot GetSnapshot() const;
    REFERENCE_TIME GetFrameTime() const;
    // The stored size index (0..5): as loaded, or as last persisted.
    int GetSelectPixel() const;

    // Whole frames per second of the frame time; E_POINTER for null.
    HRESULT GetFrameRate(double* rate) const;
    // Sets the frame time from a rate (clamped to 1..30 frames per second)
    // and persists it; a rate that is not above zero changes nothing. S_OK
    // also when the registry write fails.
    HRESULT SetFrameRate(double rate);
    // text: a buffer of at least kSettingsTextCapacity bytes.
    HRESULT GetTitleText(char* text) const;
    // Cut to 63 bytes at a character boundary, then stored and persisted.
    HRESULT SetTitleText(const char* text);
    // Persists a size index; E_INVALIDARG and nothing written outside 0..5.
    HRESULT PersistSelectPixel(int index);
    // The frame time of a format accepted by IAMStreamConfig::SetFormat;
    // not persisted. 0 or below keeps the current frame time; any other
    // value is clamped into kMinFrameTime..kMaxFrameTime.
    void SetFrameTime(REFERENCE_TIME avgTimePerFrame);

private:
    mutable CCritSec m_valueLock;
    CCritSec m_persistLock;
    REFERENCE_TIME FrameTime = kDefaultFrameTime;
    char WindowName[kSettingsTextCapacity] = {};
    char WindowClass[kSettingsTextCapacity] = {};
    char TitleText[kSettingsTextCapacity] = {};
    int m_selectPixel = kDefaultSelectPixel;
};

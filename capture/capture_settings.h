// Per-user settings of the capture device: registry access under
// HKEY_CURRENT_USER\Software\QMCapture, the rules that turn stored texts
// into sane values, and CCaptureSettings, the values one device holds.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "capture/capture_device_settings.h"
#include "capture/scale_mode.h"
#include "framework/com_util.h"

inline constexpr char kSettingsKeyPath[] = "Software\\QMCapture";

inline constexpr char kWindowNameValue[] = "WindowName";
inline constexpr char kWindowClassValue[] = "WindowClass";
inline constexpr char kTitleTextValue[] = "TitleText";
inline constexpr char kFrameTimeValue[] = "FrameTime";
inline constexpr char kSelectPixelValue[] = "SelectPixel";
inline constexpr char kCaptureMethodValue[] = "CaptureMethod";
inline constexpr char kScaleModeValue[] = "ScaleMode";
inline constexpr char kMirrorValue[] = "Mirror";

inline constexpr char kDefaultWindowName[] = "Quillmere";
inline constexpr char kDefaultWindowClass[] = "Quillmere::MainFrame";
inline constexpr char kDefaultTitleText[] = "- QM Capture -";
inline constexpr wchar_t kDefaultTitleTextW[] = L"- QM Capture -";

// Frame durations in 100-ns units: about 30 frames per second at the
// shortest, one frame per second at the longest.
inline constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;
inline constexpr REFERENCE_TIME kMinFrameTime = 333333;
inline constexpr REFERENCE_TIME kMaxFrameTime = kUnitsPerSecond;
inline constexpr REFERENCE_TIME kDefaultFrameTime = kMinFrameTime;

inline constexpr int kDefaultSelectPixel = 0;

// How the picture of a window is read (the stored "CaptureMethod").
enum class CaptureMethod : int {
    // Copy, and print a window whose copy stays black.
    Auto = 0,
    // A copy from the window's DC: cheap, but black for windows the GPU
    // draws, and covered parts read as what covers them.
    Copy = 1,
    // The window prints itself (PrintWindow, full content): right for
    // covered and GPU-drawn windows, but it runs on the target's UI thread.
    Print = 2,
};
inline constexpr CaptureMethod kDefaultCaptureMethod = CaptureMethod::Auto;

inline constexpr ScaleMode kDefaultScaleMode = ScaleMode::Stretch;
inline constexpr bool kDefaultMirror = false;

// Reads one value of the settings key into a kSettingsTextCapacity-byte
// destination, which always ends up a terminated string of at most 63
// bytes. A missing key or value, or one longer than the buffer, yields the
// default text and true. A value that is not REG_SZ, or REG_SZ data that
// fills the buffer without a terminator, yields the default text and
// false. Otherwise the stored text and true.
bool ReadSetting(const char* defaultText, char* destination, const char* valueName);

// Writes a text as REG_SZ (terminator included); true on success.
bool WriteSetting(const char* text, const char* valueName);

// The same for UTF-16 texts of at most 63 characters.
bool ReadSettingW(const wchar_t* defaultText, wchar_t* destination, const char* valueName);
bool WriteSettingW(const wchar_t* text, const char* valueName);

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

// A stored capture method: "0", "1" or "2" as decimal text; anything else
// is Auto.
CaptureMethod ParseCaptureMethod(const char* text);

// A stored scale mode: "0", "1" or "2" as decimal text; anything else is
// Stretch.
ScaleMode ParseScaleMode(const char* text);

// A stored mirror flag: "1" as decimal text mirrors; anything else does not.
bool ParseMirror(const char* text);

// What the window page and the capture client store for the user; a
// running device takes it over through its registry watch. The window's
// title and class are UTF-16 text, stored as 8-bit text in the host's code
// page and cut to 63 bytes at a character boundary (an empty title: any
// window of the class). False when a value could not be written.
bool StoreWindowChoice(const wchar_t* windowName, const wchar_t* windowClass);
bool StoreScaleMode(ScaleMode mode);
bool StoreMirror(bool mirror);

// Copies a UTF-16 text into a kSettingsTextCapacity-character destination,
// cut so that at most 63 characters remain and never between the two
// halves of a surrogate pair. Returns false when it cut.
bool CopySettingTextW(wchar_t* destination, const wchar_t* text);

// The standby text between the 8-bit interface and its UTF-16 store. From
// 8-bit text in a code page to at most 63 UTF-16 characters, and back into
// at most 63 bytes of that code page, cut at a character boundary in both
// directions; characters the code page cannot represent become its
// default character. False when the text was cut.
bool TitleTextFromCodePage(wchar_t* destination, const char* text, UINT codePage = CP_ACP);
bool TitleTextToCodePage(char* destination, const wchar_t* text, UINT codePage = CP_ACP);

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
// device is created, changed by its setters (each change persisted at
// once), and reloaded while streaming when the stored values change.
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
        CaptureMethod captureMethod;
        ScaleMode scaleMode;
        bool mirror;
        char windowName[kSettingsTextCapacity];
        char windowClass[kSettingsTextCapacity];
        wchar_t titleText[kSettingsTextCapacity];
    };

    // What a reload found changed in the registry.
    enum Change : unsigned {
        kNoChange = 0,
        kWindowChanged = 1u << 0,  // WindowName or WindowClass
        kTitleTextChanged = 1u << 1,
        kFrameTimeChanged = 1u << 2,
        kCaptureMethodChanged = 1u << 3,
        kSelectPixelChanged = 1u << 4,
        kScaleModeChanged = 1u << 5,
        kMirrorChanged = 1u << 6,
    };

    // Loads every value; nothing is written.
    CCaptureSettings();
    CCaptureSettings(const CCaptureSettings&) = delete;
    CCaptureSettings& operator=(const CCaptureSettings&) = delete;

    // Reads the stored values again and takes over those that differ from
    // what this device last read or wrote: a value another process, another
    // device or the user changed. Values this device set and did not store
    // (a frame time from SetFormat) stay unless their stored value changed.
    // Nothing is written. Returns the Change bits of what was taken over.
    unsigned Reload();

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
    // The standby text in the host's 8-bit code page: text is a buffer of
    // at least kSettingsTextCapacity bytes.
    HRESULT GetTitleText(char* text) const;
    // 8-bit text in the host's code page, stored as UTF-16 and persisted.
    HRESULT SetTitleText(const char* text);
    // The standby text as stored: capacity in characters, at least 1; the
    // text is cut to fit, at a character boundary.
    HRESULT GetTitleTextW(wchar_t* text, int capacity) const;
    // Cut to 63 characters, stored and persisted.
    HRESULT SetTitleTextW(const wchar_t* text);
    // Persists a size index; E_INVALIDARG and nothing written outside 0..5.
    HRESULT PersistSelectPixel(int index);
    // The frame time of a format accepted by IAMStreamConfig::SetFormat;
    // not persisted. 0 or below keeps the current frame time; any other
    // value is clamped into kMinFrameTime..kMaxFrameTime.
    void SetFrameTime(REFERENCE_TIME avgTimePerFrame);

private:
    // The values as the registry holds them (or held when last read or
    // written by this device).
    struct Stored {
        REFERENCE_TIME frameTime = kDefaultFrameTime;
        int selectPixel = kDefaultSelectPixel;
        CaptureMethod captureMethod = kDefaultCaptureMethod;
        ScaleMode scaleMode = kDefaultScaleMode;
        bool mirror = kDefaultMirror;
        char windowName[kSettingsTextCapacity] = {};
        char windowClass[kSettingsTextCapacity] = {};
        wchar_t titleText[kSettingsTextCapacity] = {};
    };
    static Stored ReadStored();

    mutable CCritSec m_valueLock;
    CCritSec m_persistLock;
    // Guarded by the value lock.
    Stored m_stored;
    // The frame time in use: the stored one, or one set by a format.
    REFERENCE_TIME FrameTime = kDefaultFrameTime;
};

// CCaptureSettings: the settings one capture device holds. They are loaded
// from the registry when the device is created, changed by its setters
// (each change persisted at once), and reloaded while streaming when the
// stored values change.
//
// Every stored value is one row of a table (capture_settings.cpp): its
// value name, its field in Values, how its text is parsed (with the
// default for text that is missing or bad) and the change bit a reload
// reports for it. Reading, reloading and the frame's snapshot loop over
// that table, so a new setting is one row plus its field and its bit.
//
// Any thread may call any method. A value lock (a leaf: nothing is called
// under it) guards the values. Setters that persist hold a persistence
// lock across their registry write, so that the stored value is always the
// last one set; they take it before the value lock, and write outside it,
// so that a registry write never delays a reader such as the streaming
// thread.
#pragma once

#include <windows.h>
#include <cstdint>

#include "settings/capture_device_settings.h"
#include "settings/settings_store.h"
#include "settings/settings_values.h"
#include "settings/window_identity.h"
#include "framework/com_util.h"

class CCaptureSettings {
public:
    // One field per stored value.
    struct Values {
        int64_t frameTime = kDefaultFrameTime;
        int selectPixel = kDefaultSelectPixel;
        int outputFormat = kDefaultOutputFormat;
        CaptureMethod captureMethod = kDefaultCaptureMethod;
        ScaleMode scaleMode = kDefaultScaleMode;
        bool mirror = kDefaultMirror;
        // Whether the device writes its diagnostic log (for all devices of
        // the process: the log is the module's).
        bool diagnosticLog = false;
        wchar_t windowName[kWindowTitleCapacity] = {};
        wchar_t windowClass[kWindowClassCapacity] = {};
        wchar_t windowProgram[kWindowProgramCapacity] = {};
        wchar_t titleText[kSettingsTextCapacity] = {};
        // The standby picture's file; empty for none.
        wchar_t standbyImage[kStandbyImageCapacity] = {};
        // What is shown: a window (the fields above), a monitor (by its
        // device name; empty: the primary) or a region of the screen.
        SourceKind sourceKind = kDefaultSourceKind;
        wchar_t sourceMonitor[kMonitorNameCapacity] = {};
        StoredRect sourceRegion;
        // The part of a window's client area shown; empty: all of it.
        StoredRect cropRect;
        // Whether the pointer is drawn (ShowsCursor says for the kind).
        CursorChoice showCursor = CursorChoice::Default;

        // The window these values name, for the search; valid while they are.
        WindowIdentity Identity() const { return {windowClass, windowName, windowProgram}; }
    };
    // What one frame needs, copied at once so that it stays consistent: the
    // values, with the frame time in use (which a format may have set).
    using Snapshot = Values;

    // What a reload found changed in the registry.
    enum Change : unsigned {
        kNoChange = 0,
        kWindowChanged = 1u << 0,  // WindowName, WindowClass or WindowProgram
        kTitleTextChanged = 1u << 1,
        kFrameTimeChanged = 1u << 2,
        kCaptureMethodChanged = 1u << 3,
        kSelectPixelChanged = 1u << 4,
        kScaleModeChanged = 1u << 5,
        kMirrorChanged = 1u << 6,
        kDiagnosticLogChanged = 1u << 7,
        kStandbyImageChanged = 1u << 8,
        kOutputFormatChanged = 1u << 9,
        kSourceChanged = 1u << 10,  // SourceKind, SourceMonitor or SourceRegion
        kCropChanged = 1u << 11,
        kCursorChanged = 1u << 12,
    };

    // Loads every value of the key (HKEY_CURRENT_USER\keyPath); nothing is
    // written.
    explicit CCaptureSettings(const char* keyPath = kSettingsKeyPath);
    CCaptureSettings(const CCaptureSettings&) = delete;
    CCaptureSettings& operator=(const CCaptureSettings&) = delete;

    const CSettingsKey& Key() const { return m_key; }

    // Reads the stored values again and takes over those that differ from
    // what this device last read or wrote: a value another process, another
    // device or the user changed. Values this device set and did not store
    // (a frame time from SetFormat) stay unless their stored value changed.
    // Nothing is written. Returns the Change bits of what was taken over.
    unsigned Reload();

    Snapshot GetSnapshot() const;
    int64_t GetFrameTime() const;
    // The stored size index: as loaded, or as last persisted.
    int GetSelectPixel() const;
    // The format the stored output format names.
    PixelFormat GetOutputFormat() const;

    // Whole frames per second of the frame time; E_POINTER for null.
    HRESULT GetFrameRate(double* rate) const;
    // Sets the frame time from a rate (clamped to 1..60 frames per second)
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
    // The standby picture's path: capacity in characters, at least 1.
    // HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) and an empty text when
    // it does not fit (a cut path names another file).
    HRESULT GetStandbyImage(wchar_t* path, int capacity) const;
    // Stored and persisted; empty clears it. E_INVALIDARG, and nothing
    // changes, for kStandbyImageCapacity characters or more.
    HRESULT SetStandbyImage(const wchar_t* path);
    // Persists a size index; E_INVALIDARG and nothing written outside the
    // size table.
    HRESULT PersistSelectPixel(int index);
    // The frame time of a format accepted by IAMStreamConfig::SetFormat;
    // not persisted. 0 or below keeps the current frame time; any other
    // value is clamped into kMinFrameTime..kMaxFrameTime.
    void SetFrameTime(int64_t avgTimePerFrame);

private:
    // Changes a stored value under the value lock, then writes its row.
    template <typename Update>
    void SetAndPersist(const char* valueName, Update update);

    const CSettingsKey m_key;
    mutable CCritSec m_valueLock;
    CCritSec m_persistLock;
    // The values as the registry holds them, or held when this device last
    // read or wrote them; under the value lock.
    Values m_stored;
    // The frame time in use: the stored one, or one a format set. Under the
    // value lock.
    int64_t FrameTime = kDefaultFrameTime;
};

// The frame source of the capture pin: the device's settings, the frame
// canvas and standby font, the captured window, and the production and
// pacing of frames. The output pin owns one and forwards to it.
//
// Threads and locks:
// - The frame lock (FrameLock) guards the canvas, CapturedWindow, the
//   standby font, TitleText and FrameTime. FillBuffer holds it while it
//   draws a picture and copies it into the sample, never while it waits
//   for the frame's due time. Every setter and RebuildCanvas take it, so a
//   rebuild never overlaps a frame. The pin takes it as well around its
//   own changes of the current media type, so that type and canvas change
//   together.
// - Setters that persist a value (SetFrameRate, SetTitleText,
//   PersistSelectPixel, SetSelectPixel) first take a persistence lock and
//   write the registry outside the frame lock, so that registry writes
//   never delay a frame and the stored value is always the last one set.
// - Lock order: the filter's state lock, then the persistence lock, then
//   the frame lock. Nothing here takes the state lock. So never call a
//   persisting setter while holding the frame lock.
// - NextSampleStart, the schedule and the timer belong to the streaming
//   thread: only OnThreadCreate, FillBuffer and OnThreadDestroy use them.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "capture/capture_device_settings.h"
#include "capture/client_area_grabber.h"
#include "capture/frame_canvas.h"
#include "capture/frame_pacer.h"
#include "capture/frame_scaler.h"
#include "capture/pacing_timer.h"
#include "framework/com_util.h"
#include "framework/media_type.h"

class CFrameSource {
public:
    // Reads the settings once and builds the font and a black canvas of the
    // stored size. No window search and no capture happen before the first
    // FillBuffer. clock is the pacing time source (not owned, must outlive
    // this object); null means the performance counter.
    explicit CFrameSource(IPacingClock* clock = nullptr);
    ~CFrameSource();
    CFrameSource(const CFrameSource&) = delete;
    CFrameSource& operator=(const CFrameSource&) = delete;

    // The lock every change of picture state takes (see above). Re-entrant.
    CCritSec& FrameLock() { return m_frameLock; }

    // Settings as loaded; window title and class never change.
    const char* GetWindowName() const { return WindowName; }
    const char* GetWindowClass() const { return WindowClass; }
    // The size index read at construction (0..5), or the last persisted.
    int GetSelectPixel() const;
    REFERENCE_TIME GetFrameTime() const;

    // ICaptureDeviceSettings, less what belongs to the pin's media type.
    HRESULT GetFrameRate(double* rate) const;
    // Sets FrameTime from a rate (clamped to 1..30 frames per second) and
    // persists it; a rate that is not above zero changes nothing. S_OK.
    HRESULT SetFrameRate(double rate);
    // text: a buffer of at least kSettingsTextCapacity bytes.
    HRESULT GetTitleText(char* text) const;
    // Cut to 63 bytes at a character boundary, then stored and persisted.
    HRESULT SetTitleText(const char* text);

    // Persists a size index; E_INVALIDARG and nothing written outside 0..5.
    HRESULT PersistSelectPixel(int index);
    // The whole SetSelectPixel: rebuilds currentType (the pin's current
    // media type) for the index, resizes the canvas and persists the index.
    // E_INVALIDARG for an index outside 0..5, or the BuildMediaType error;
    // then nothing changed.
    HRESULT SetSelectPixel(int index, CMediaType* currentType);

    // The frame time of a format accepted by IAMStreamConfig::SetFormat;
    // not persisted. 0 or below keeps the current frame time; any other
    // value is clamped into kMinFrameTime..kMaxFrameTime.
    void SetFrameTime(REFERENCE_TIME avgTimePerFrame);

    // Sizes the canvas (black) and forgets the captured window, so that the
    // next frame searches again and is a standby frame. When the new canvas
    // cannot be built the previous one is kept (cleared to black) and an
    // error returned (E_INVALIDARG for a size that is not positive or too
    // large, else E_OUTOFMEMORY): samples of the new size then receive no
    // picture, since they no longer match the canvas.
    HRESULT RebuildCanvas(int width, int height);

    // Streaming thread: the first sample starts at 0, the first frame is
    // due at once, and the pacing timer is created.
    HRESULT OnThreadCreate();
    // Streaming thread: releases the pacing timer.
    HRESULT OnThreadDestroy();

    // Streaming thread: draws the next picture (the captured window scaled
    // to the canvas, or the standby frame while searching), copies it into
    // the sample when the sizes agree, waits until the frame is due and
    // stamps the sample n x FrameTime .. (n + 1) x FrameTime, sync point.
    // wakeEvent (may be null) is the worker's manual-reset request event: a
    // signal ends the wait at once and is left set. S_OK; E_POINTER for a
    // null sample.
    HRESULT FillBuffer(IMediaSample* sample, HANDLE wakeEvent);

    // Observers (take the frame lock).
    HWND GetCapturedWindow() const;
    int GetCanvasWidth() const;
    int GetCanvasHeight() const;
    // 0 while there is no canvas pixel memory.
    DWORD GetCanvasImageSize() const;
    // Copies the canvas picture; E_INVALIDARG unless size is its image size.
    HRESULT CopyCanvasPixels(BYTE* destination, DWORD size) const;
    // Streaming thread only.
    REFERENCE_TIME GetNextSampleStart() const { return NextSampleStart; }

private:
    void LoadSettings();
    void CreateStandbyFont();
    // Under the frame lock.
    void DrawPicture();
    void CopyCapturedWindow();
    void DrawStandbyFrame();
    void ClearCanvas();
    // Outside every lock.
    void WaitUntilDue(HANDLE wakeEvent);

    mutable CCritSec m_frameLock;
    CCritSec m_persistLock;

    CPerformanceCounterClock m_counterClock;
    IPacingClock* m_clock;
    CFramePacer m_pacer;
    CPacingTimer m_timer;
    CClientAreaGrabber m_grabber;
    CFrameScaler m_scaler;

    REFERENCE_TIME NextSampleStart = 0;
    REFERENCE_TIME FrameTime;
    FrameCanvasPtr Canvas;
    UniqueGdiObject StandbyFont;
    // Looked at, never owned: the window belongs to another application.
    HWND CapturedWindow = nullptr;
    char WindowName[kSettingsTextCapacity] = {};
    char WindowClass[kSettingsTextCapacity] = {};
    char TitleText[kSettingsTextCapacity] = {};
    int m_selectPixel = 0;
};

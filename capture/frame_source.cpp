#include "capture/frame_source.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "capture/capture_settings.h"
#include "capture/output_formats.h"

namespace {

// The standby text stands on a line whose bottom is this far above the
// bottom edge of the picture.
constexpr int kStandbyTextBottomMargin = 5;
constexpr LONG kStandbyFontHeight = 16;
// "ＭＳ ゴシック" (MS Gothic), the face the page and the standby text share.
constexpr wchar_t kStandbyFontFace[] = L"\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF";
constexpr COLORREF kStandbyTextColour = RGB(255, 255, 255);

void FormatDecimal(char (&text)[16], long long value) {
    std::snprintf(text, sizeof(text), "%d", static_cast<int>(value));
}

}  // namespace

CFrameSource::CFrameSource(IPacingClock* clock)
    : m_clock(clock != nullptr ? clock : &m_counterClock), m_pacer(*m_clock), FrameTime(kDefaultFrameTime) {
    LoadSettings();
    CreateStandbyFont();
    const FrameSize& size = FrameSizeTable[m_selectPixel];
    RebuildCanvas(size.width, size.height);
}

CFrameSource::~CFrameSource() = default;

void CFrameSource::LoadSettings() {
    ReadSetting(kDefaultWindowName, WindowName, kWindowNameValue);
    ReadSetting(kDefaultWindowClass, WindowClass, kWindowClassValue);
    ReadSetting(kDefaultTitleText, TitleText, kTitleTextValue);

    char text[kSettingsTextCapacity];
    char defaultText[16];
    FormatDecimal(defaultText, kDefaultFrameTime);
    FrameTime = ReadSetting(defaultText, text, kFrameTimeValue) ? ParseFrameTime(text) : kDefaultFrameTime;

    FormatDecimal(defaultText, kDefaultSelectPixel);
    m_selectPixel = ReadSetting(defaultText, text, kSelectPixelValue) ? ParseSelectPixel(text) : kDefaultSelectPixel;
}

void CFrameSource::CreateStandbyFont() {
    LOGFONTW font = {};
    if (!::SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(font), &font, 0)) {
        font = LOGFONTW{};
        font.lfCharSet = DEFAULT_CHARSET;
    }
    font.lfHeight = kStandbyFontHeight;
    font.lfWeight = FW_NORMAL;
    static_assert(sizeof(kStandbyFontFace) <= sizeof(font.lfFaceName), "face name fits");
    std::memcpy(font.lfFaceName, kStandbyFontFace, sizeof(kStandbyFontFace));
    StandbyFont.reset(::CreateFontIndirectW(&font));
}

int CFrameSource::GetSelectPixel() const {
    CAutoLock lock(&m_frameLock);
    return m_selectPixel;
}

REFERENCE_TIME CFrameSource::GetFrameTime() const {
    CAutoLock lock(&m_frameLock);
    return FrameTime;
}

HRESULT CFrameSource::GetFrameRate(double* rate) const {
    RETURN_HR_IF_NULL(E_POINTER, rate);
    *rate = FrameRateFromFrameTime(GetFrameTime());
    return S_OK;
}

HRESULT CFrameSource::SetFrameRate(double rate) {
    REFERENCE_TIME frameTime = 0;
    if (!FrameTimeFromRate(rate, &frameTime)) {
        return S_OK;
    }
    CAutoLock persist(&m_persistLock);
    {
        CAutoLock lock(&m_frameLock);
        FrameTime = frameTime;
    }
    char text[16];
    FormatDecimal(text, frameTime);
    // A failed write is not reported: the rate still applies to this device.
    WriteSetting(text, kFrameTimeValue);
    return S_OK;
}

HRESULT CFrameSource::GetTitleText(char* text) const {
    RETURN_HR_IF_NULL(E_POINTER, text);
    CAutoLock lock(&m_frameLock);
    std::memcpy(text, TitleText, std::strlen(TitleText) + 1);
    return S_OK;
}

HRESULT CFrameSource::SetTitleText(const char* text) {
    RETURN_HR_IF_NULL(E_POINTER, text);
    char copy[kSettingsTextCapacity];
    CopySettingText(copy, text);
    CAutoLock persist(&m_persistLock);
    {
        CAutoLock lock(&m_frameLock);
        std::memcpy(TitleText, copy, sizeof(copy));
    }
    WriteSetting(copy, kTitleTextValue);
    return S_OK;
}

HRESULT CFrameSource::PersistSelectPixel(int index) {
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= kFrameSizeTableCount);
    CAutoLock persist(&m_persistLock);
    {
        CAutoLock lock(&m_frameLock);
        m_selectPixel = index;
    }
    char text[16];
    FormatDecimal(text, index);
    WriteSetting(text, kSelectPixelValue);
    return S_OK;
}

HRESULT CFrameSource::SetSelectPixel(int index, CMediaType* currentType) {
    RETURN_HR_IF_NULL(E_POINTER, currentType);
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= kFrameSizeTableCount);
    CAutoLock persist(&m_persistLock);
    {
        CAutoLock lock(&m_frameLock);
        // The type first: when it cannot be built, nothing has changed yet.
        RETURN_IF_FAILED(BuildMediaType(currentType, FrameTime, index));
        RebuildCanvas(FrameSizeTable[index].width, FrameSizeTable[index].height);
    }
    return PersistSelectPixel(index);
}

void CFrameSource::SetFrameTime(REFERENCE_TIME avgTimePerFrame) {
    if (avgTimePerFrame <= 0) {
        return;
    }
    CAutoLock lock(&m_frameLock);
    FrameTime = ClampFrameTime(avgTimePerFrame);
}

HRESULT CFrameSource::RebuildCanvas(int width, int height) {
    CAutoLock lock(&m_frameLock);
    CapturedWindow = nullptr;
    HRESULT hr = S_OK;
    const bool sameSize = Canvas && Canvas->pixels != nullptr && Canvas->Width() == width && Canvas->Height() == height;
    if (!sameSize) {
        if (width <= 0 || height <= 0 || width > kMaxFrameDimension || height > kMaxFrameDimension) {
            hr = E_INVALIDARG;
        } else {
            // Built aside and swapped in only when complete: a failure keeps
            // the previous canvas and never leaves a record without pixels.
            FrameCanvasPtr fresh(new (std::nothrow) FrameCanvas);
            if (fresh && BuildCanvas(fresh.get(), width, height)) {
                Canvas = std::move(fresh);
            } else {
                hr = E_OUTOFMEMORY;
            }
        }
    }
    if (Canvas && Canvas->pixels != nullptr) {
        ClearCanvas();
        ::SetBkMode(Canvas->memoryDc.get(), TRANSPARENT);
        ::SetTextColor(Canvas->memoryDc.get(), kStandbyTextColour);
    }
    return hr;
}

HRESULT CFrameSource::OnThreadCreate() {
    NextSampleStart = 0;
    m_pacer.Restart();
    // Without the timer the wait falls back to whole milliseconds.
    m_timer.Start();
    return S_OK;
}

HRESULT CFrameSource::OnThreadDestroy() {
    m_timer.Stop();
    return S_OK;
}

HRESULT CFrameSource::FillBuffer(IMediaSample* sample, HANDLE wakeEvent) {
    RETURN_HR_IF_NULL(E_POINTER, sample);
    REFERENCE_TIME start = NextSampleStart;
    BYTE* buffer = nullptr;
    if (FAILED(sample->GetPointer(&buffer))) {
        buffer = nullptr;
    }
    const long size = sample->GetSize();
    {
        CAutoLock lock(&m_frameLock);
        DrawPicture();
        // An allocator may hand out buffers larger than asked for: the
        // picture fills the front and the data length says how much. A
        // smaller sample is left untouched rather than half filled.
        const DWORD imageSize = Canvas ? Canvas->ImageSize() : 0;
        if (buffer != nullptr && imageSize != 0 && size >= 0 && static_cast<DWORD>(size) >= imageSize) {
            std::memcpy(buffer, Canvas->pixels, imageSize);
            sample->SetActualDataLength(static_cast<long>(imageSize));
        }
    }

    WaitUntilDue(wakeEvent);

    const REFERENCE_TIME frameTime = GetFrameTime();
    m_pacer.Advance(frameTime);
    NextSampleStart = start + frameTime;
    REFERENCE_TIME end = NextSampleStart;
    sample->SetTime(&start, &end);
    sample->SetSyncPoint(TRUE);
    return S_OK;
}

void CFrameSource::WaitUntilDue(HANDLE wakeEvent) {
    for (;;) {
        const REFERENCE_TIME remaining = m_pacer.TimeUntilDue();
        if (remaining <= 0) {
            return;
        }
        // A pending request (stop, pause) needs the worker now; the frame
        // goes out early, which a stopping graph discards anyway.
        if (m_timer.Wait(remaining, wakeEvent)) {
            return;
        }
    }
}

void CFrameSource::DrawPicture() {
    if (CapturedWindow != nullptr && ::IsWindow(CapturedWindow)) {
        CopyCapturedWindow();
        return;
    }
    // Found windows are captured from the next frame on: this one stays a
    // standby frame.
    CapturedWindow = ::FindWindowA(WindowClass, WindowName);
    if (CapturedWindow == nullptr) {
        CapturedWindow = ::FindWindowA(kDefaultWindowClass, nullptr);
    }
    DrawStandbyFrame();
}

void CFrameSource::CopyCapturedWindow() {
    if (!Canvas || Canvas->pixels == nullptr) {
        return;
    }
    // Nothing copied (a minimised window, a failed copy): the canvas keeps
    // its previous picture.
    if (!m_grabber.Grab(CapturedWindow)) {
        return;
    }
    const int width = Canvas->Width();
    const int height = Canvas->Height();
    if (FAILED(m_scaler.Prepare(m_grabber.Width(), m_grabber.Height(), width, height))) {
        return;
    }
    // The grabber's DIB must hold the BitBlt's result before it is read.
    ::GdiFlush();
    const LONG stride = Canvas->Stride();
    // The canvas is bottom-up: its top row is the last one in memory.
    BYTE* top = Canvas->pixels + static_cast<ptrdiff_t>(height - 1) * stride;
    m_scaler.Scale(m_grabber.Pixels(), m_grabber.Stride(), top, -static_cast<ptrdiff_t>(stride));
}

void CFrameSource::DrawStandbyFrame() {
    if (!Canvas || Canvas->pixels == nullptr) {
        return;
    }
    ClearCanvas();
    RECT line = {0, 0, Canvas->Width(), Canvas->Height() - kStandbyTextBottomMargin};
    HDC dc = Canvas->memoryDc.get();
    {
        // Without the font (its creation failed) the DC's own font draws.
        ScopedSelectObject font(dc, StandbyFont.get());
        ::DrawTextA(dc, TitleText, -1, &line, DT_SINGLELINE | DT_BOTTOM | DT_CENTER);
    }
    // GDI may batch the drawing; the pixels are read directly next.
    ::GdiFlush();
}

void CFrameSource::ClearCanvas() {
    std::memset(Canvas->pixels, 0, Canvas->ImageSize());
}

HWND CFrameSource::GetCapturedWindow() const {
    CAutoLock lock(&m_frameLock);
    return CapturedWindow;
}

int CFrameSource::GetCanvasWidth() const {
    CAutoLock lock(&m_frameLock);
    return Canvas ? Canvas->Width() : 0;
}

int CFrameSource::GetCanvasHeight() const {
    CAutoLock lock(&m_frameLock);
    return Canvas ? Canvas->Height() : 0;
}

DWORD CFrameSource::GetCanvasImageSize() const {
    CAutoLock lock(&m_frameLock);
    return Canvas ? Canvas->ImageSize() : 0;
}

HRESULT CFrameSource::CopyCanvasPixels(BYTE* destination, DWORD size) const {
    RETURN_HR_IF_NULL(E_POINTER, destination);
    CAutoLock lock(&m_frameLock);
    RETURN_HR_IF(E_INVALIDARG, !Canvas || Canvas->ImageSize() == 0 || size != Canvas->ImageSize());
    std::memcpy(destination, Canvas->pixels, size);
    return S_OK;
}

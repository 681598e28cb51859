#include "picture/frame_picture.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

#include "settings/frame_sizes.h"

namespace {

// The standby text stands on a line whose bottom is this far above the
// bottom edge of the picture, at the smaller sizes.
constexpr int kStandbyTextBottomMargin = 5;
// Pictures whose shorter side is at least this draw the text in proportion.
constexpr int kProportionalTextFrom = 720;
constexpr int kProportionalTextUnit = 360;
// "ＭＳ ゴシック" (MS Gothic), the face the page and the standby text share.
constexpr wchar_t kStandbyFontFace[] = L"\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF";
constexpr COLORREF kStandbyTextColour = RGB(255, 255, 255);
// The size of the canvas before anyone asks for another: the first entry
// of the size table.
constexpr int kInitialWidth = FrameSizeTable[0].width;
constexpr int kInitialHeight = FrameSizeTable[0].height;

// Faces with Japanese glyphs, in order of preference: the face the page
// and the standby text were designed with, the UI faces every Windows 10
// and 11 has, and the Gothic faces of other systems (IPA under Wine).
constexpr const wchar_t* kStandbyFontFaces[] = {
    kStandbyFontFace, L"Yu Gothic UI", L"Meiryo UI", L"MS UI Gothic", L"IPAGothic", L"IPAPGothic",
};

int CALLBACK NoteFaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool HasFace(HDC dc, const wchar_t* face) {
    LOGFONTW query = {};
    query.lfCharSet = DEFAULT_CHARSET;
    if (std::wcslen(face) >= LF_FACESIZE) {
        return false;
    }
    std::wcscpy(query.lfFaceName, face);
    bool found = false;
    ::EnumFontFamiliesExW(dc, &query, &NoteFaceFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

// The bytes of an RGB24 target's row that a picture writes: its padding
// too where the rows are a DIB's (the DirectShow layout, whose padding the
// picture clears), else only the pixels (a target may be a rectangle of a
// larger picture, whose neighbours are not the picture's).
size_t RowBytesOf(const FramePlane& plane, int width) {
    const size_t dibStride = static_cast<size_t>(DibStride(width, 24));
    const size_t stride = static_cast<size_t>(plane.stride < 0 ? -plane.stride : plane.stride);
    return stride == dibStride ? dibStride : static_cast<size_t>(width) * 3;
}

}  // namespace

LONG CFramePicture::StandbyFontHeightFor(int width, int height) {
    const int shorter = width < height ? width : height;
    return shorter < kProportionalTextFrom ? kStandbyFontHeight
                                           : static_cast<LONG>(kStandbyFontHeight * shorter / kProportionalTextUnit);
}

int CFramePicture::StandbyTextMarginFor(int width, int height) {
    const int shorter = width < height ? width : height;
    return shorter < kProportionalTextFrom ? kStandbyTextBottomMargin
                                           : kStandbyTextBottomMargin * shorter / kProportionalTextUnit;
}

UniqueGdiObject CFramePicture::CreateStandbyFont(LONG height) {
    LOGFONTW font = {};
    if (!::SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(font), &font, 0)) {
        font = LOGFONTW{};
        font.lfCharSet = DEFAULT_CHARSET;
    }
    font.lfHeight = height;
    font.lfWeight = FW_NORMAL;
    UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    for (const wchar_t* face : kStandbyFontFaces) {
        if (dc && HasFace(dc.get(), face)) {
            std::wcscpy(font.lfFaceName, face);
            break;
        }
    }
    return UniqueGdiObject(::CreateFontIndirectW(&font));
}

CFramePicture::CFramePicture() : m_standbyFont(CreateStandbyFont()) {
    QM_IGNORE(Resize(kInitialWidth, kInitialHeight), "without a canvas the samples carry no picture until a resize");
}

HRESULT CFramePicture::Resize(int width, int height) {
    CAutoLock lock(&m_lock);
    HRESULT hr = S_OK;
    const bool sameSize = m_canvas && m_canvas->Pixels() != nullptr && m_canvas->Width() == width &&
                          m_canvas->Height() == height;
    if (!sameSize) {
        if (width <= 0 || height <= 0 || width > kMaxFrameDimension || height > kMaxFrameDimension) {
            hr = E_INVALIDARG;
        } else {
            // Built aside and swapped in only when complete: a failure keeps
            // the previous canvas and never leaves a record without pixels.
            FrameCanvasPtr fresh(new (std::nothrow) FrameCanvas);
            if (fresh && m_build(fresh.get(), width, height)) {
                m_canvas = std::move(fresh);
            } else {
                hr = E_OUTOFMEMORY;
            }
        }
    }
    if (m_canvas && m_canvas->Pixels() != nullptr) {
        ClearCanvas();
        ::SetBkMode(m_canvas->Dc(), TRANSPARENT);
        ::SetTextColor(m_canvas->Dc(), kStandbyTextColour);
        // The text in proportion to the picture; a font that cannot be made
        // leaves the one there is.
        const LONG fontHeight = StandbyFontHeightFor(m_canvas->Width(), m_canvas->Height());
        if (fontHeight != m_standbyFontHeight) {
            UniqueGdiObject font = CreateStandbyFont(fontHeight);
            if (font) {
                m_standbyFont = std::move(font);
                m_standbyFontHeight = fontHeight;
            }
        }
    }
    return hr;
}

void CFramePicture::InjectCanvasBuilderForTesting(CanvasBuilder build) {
    CAutoLock lock(&m_lock);
    m_build = build != nullptr ? build : &BuildCanvas;
}

bool CFramePicture::RenderWindow(const BYTE* topRow, ptrdiff_t stride, int width, int height, ScaleMode mode,
                                 bool mirror, const FrameTarget& target) {
    CAutoLock lock(&m_lock);
    if (!HasCanvas()) {
        return false;
    }
    m_lastWasWindow = true;
    return ScaleInto(topRow, stride, width, height, mode, mirror, target);
}

bool CFramePicture::Fits(const FrameTarget& target) const {
    return IsUsable(target) && target.width == m_canvas->Width() && target.height == m_canvas->Height();
}

bool CFramePicture::ScaleInto(const BYTE* topRow, ptrdiff_t stride, int width, int height, ScaleMode mode,
                              bool mirror, const FrameTarget& target) {
    const int canvasWidth = m_canvas->Width();
    const int canvasHeight = m_canvas->Height();
    const FrameGeometry geometry = ComputeFrameGeometry(mode, mirror, width, height, canvasWidth, canvasHeight);
    if (!Fits(target) || topRow == nullptr ||
        FAILED(m_scaler.Prepare(width, height, canvasWidth, canvasHeight, geometry))) {
        return false;
    }
    if (target.format == PixelFormat::Rgb24) {
        // Straight into the target, in its own row order.
        const FramePlane& plane = target.planes[0];
        ClearAroundTarget(plane.top, plane.stride, RowBytesOf(plane, canvasWidth), canvasHeight, geometry.target);
        m_scaler.Scale(topRow, stride, plane.top, plane.stride);
        return true;
    }
    // Another format: a band of rows at a time, scaled into the BGR strip
    // and converted from it into the target while the strip is still in
    // the cache.
    BYTE* strip = BgrStrip();
    if (strip == nullptr) {
        return false;
    }
    const ptrdiff_t stripStride = static_cast<ptrdiff_t>(canvasWidth) * 3;
    const RECT& rectangle = geometry.target;
    for (int first = 0; first < canvasHeight; first += kStripRows) {
        const int rows = std::min(kStripRows, canvasHeight - first);
        const auto bandRow = [first, rows](LONG row) { return std::clamp(static_cast<int>(row) - first, 0, rows); };
        const RECT inBand = {rectangle.left, bandRow(rectangle.top), rectangle.right, bandRow(rectangle.bottom)};
        ClearAroundTarget(strip, stripStride, static_cast<size_t>(stripStride), rows, inBand);
        m_scaler.ScaleBand(topRow, stride, strip, stripStride, first, rows);
        if (!Convert({strip, stripStride, canvasWidth, rows}, BandOf(target, first, rows))) {
            return false;
        }
    }
    return true;
}

bool CFramePicture::RenderStandby(const wchar_t* text, const FrameTarget& target) {
    CAutoLock lock(&m_lock);
    if (!HasCanvas()) {
        return false;
    }
    if (text == nullptr) {
        text = L"";
    }
    // The same standby frame again is already there: nothing to draw.
    if (m_content != Content::Standby || std::wcscmp(m_standbyText, text) != 0) {
        ClearCanvas();
        DrawStandbyImage();
        RECT line = {0, 0, m_canvas->Width(),
                     m_canvas->Height() - StandbyTextMarginFor(m_canvas->Width(), m_canvas->Height())};
        HDC dc = m_canvas->Dc();
        {
            // Without the font (its creation failed) the DC's own font draws.
            ScopedSelectObject font(dc, m_standbyFont.get());
            ::DrawTextW(dc, text, -1, &line, DT_SINGLELINE | DT_BOTTOM | DT_CENTER | DT_NOPREFIX);
        }
        // GDI may batch the drawing; the pixels are read directly next.
        ::GdiFlush();
        const size_t length = std::wcslen(text);
        if (length < kRememberedTextLength) {
            std::wmemcpy(m_standbyText, text, length + 1);
            m_content = Content::Standby;
        }
    }
    m_lastWasWindow = false;
    return CopyInto(target);
}

void CFramePicture::SetStandbyImage(CStandbyImage&& image) {
    CAutoLock lock(&m_lock);
    m_standbyImage = std::move(image);
    // The canvas no longer shows the standby frame: the next one draws it.
    if (HasCanvas()) {
        ClearCanvas();
    }
}

void CFramePicture::DrawStandbyImage() {
    if (m_standbyImage.Empty()) {
        return;
    }
    const int canvasWidth = m_canvas->Width();
    const int canvasHeight = m_canvas->Height();
    const int width = m_standbyImage.Width();
    const int height = m_standbyImage.Height();
    const FrameGeometry geometry = ComputeFrameGeometry(ScaleMode::Fit, false, width, height, canvasWidth, canvasHeight);
    if (FAILED(m_scaler.Prepare(width, height, canvasWidth, canvasHeight, geometry))) {
        return;  // the plain black standby frame
    }
    // The canvas's rows are bottom-up: addressed from the top row with a
    // negative stride. Only the target rectangle is written; the bars stay
    // as cleared.
    const ptrdiff_t rowBytes = static_cast<ptrdiff_t>(DibStride(canvasWidth, 24));
    BYTE* top = m_canvas->Pixels() + (canvasHeight - 1) * rowBytes;
    m_scaler.Scale(m_standbyImage.TopRow(), m_standbyImage.Stride(), top, -rowBytes);
}

void CFramePicture::DetachFromStreamingThread() {
    CAutoLock lock(&m_lock);
    m_scaler.DetachFromThread();
}

bool CFramePicture::RenderPrevious(const BYTE* keptTopRow, ptrdiff_t keptStride, int keptWidth, int keptHeight,
                                   ScaleMode mode, bool mirror, const FrameTarget& target) {
    CAutoLock lock(&m_lock);
    if (!HasCanvas()) {
        return false;
    }
    if (m_lastWasWindow && keptTopRow != nullptr) {
        return ScaleInto(keptTopRow, keptStride, keptWidth, keptHeight, mode, mirror, target);
    }
    return CopyInto(target);
}

void CFramePicture::ClearCanvas() {
    std::memset(m_canvas->Pixels(), 0, m_canvas->ImageSize());
    m_content = Content::Black;
}

bool CFramePicture::CopyInto(const FrameTarget& target) {
    if (!Fits(target)) {
        return false;
    }
    // The canvas is a bottom-up DIB: addressed from its top row with a
    // negative stride.
    const int width = m_canvas->Width();
    const int height = m_canvas->Height();
    const ptrdiff_t canvasStride = static_cast<ptrdiff_t>(DibStride(width, 24));
    const BYTE* canvasTop = m_canvas->Pixels() + canvasStride * (height - 1);
    if (target.format != PixelFormat::Rgb24) {
        return Convert({canvasTop, -canvasStride, width, height}, target);
    }
    const FramePlane& plane = target.planes[0];
    if (plane.stride == -canvasStride) {
        // The same layout (a DirectShow RGB24 sample): one copy of the block.
        std::memcpy(plane.top + plane.stride * (height - 1), m_canvas->Pixels(), m_canvas->ImageSize());
        return true;
    }
    const size_t rowBytes = RowBytesOf(plane, width);
    for (int y = 0; y < height; ++y) {
        std::memcpy(plane.top + plane.stride * y, canvasTop - canvasStride * y, rowBytes);
    }
    return true;
}

bool CFramePicture::Convert(const Bgr24Picture& picture, const FrameTarget& target) const {
    return SUCCEEDED(m_converter.Convert(picture, target));
}

BYTE* CFramePicture::BgrStrip() {
    const size_t bytes = static_cast<size_t>(m_canvas->Width()) * 3 * kStripRows;
    if (bytes > m_bgrStripBytes) {
        // Once per wider canvas, never per frame.
        m_bgrStrip.reset(new (std::nothrow) BYTE[bytes]);
        m_bgrStripBytes = m_bgrStrip ? bytes : 0;
    }
    return m_bgrStrip.get();
}

int CFramePicture::Width() const {
    CAutoLock lock(&m_lock);
    return m_canvas ? m_canvas->Width() : 0;
}

int CFramePicture::Height() const {
    CAutoLock lock(&m_lock);
    return m_canvas ? m_canvas->Height() : 0;
}

DWORD CFramePicture::ImageSize() const {
    CAutoLock lock(&m_lock);
    return m_canvas ? m_canvas->ImageSize() : 0;
}

HRESULT CFramePicture::CopyPixels(BYTE* destination, DWORD size) const {
    RETURN_HR_IF_NULL(E_POINTER, destination);
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(E_INVALIDARG, !m_canvas || m_canvas->ImageSize() == 0 || size != m_canvas->ImageSize());
    std::memcpy(destination, m_canvas->Pixels(), size);
    return S_OK;
}

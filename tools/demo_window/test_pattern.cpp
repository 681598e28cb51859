#include "tools/demo_window/test_pattern.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace qmdemo {

namespace {

// Colour bars, left to right, at full intensity.
constexpr COLORREF kBars[] = {
    RGB(255, 255, 255), RGB(255, 255, 0), RGB(0, 255, 255), RGB(0, 255, 0),
    RGB(255, 0, 255),   RGB(255, 0, 0),   RGB(0, 0, 255),   RGB(0, 0, 0),
};
constexpr int kBarCount = sizeof(kBars) / sizeof(kBars[0]);
constexpr int kRampSteps = 16;
// Corner markers, clockwise from the top left: tell a flipped or mirrored
// capture from a correct one.
constexpr COLORREF kTopLeftMarker = RGB(255, 0, 0);
constexpr COLORREF kTopRightMarker = RGB(0, 255, 0);
constexpr COLORREF kBottomRightMarker = RGB(0, 0, 255);
constexpr COLORREF kBottomLeftMarker = RGB(255, 255, 255);
constexpr COLORREF kPanelColour = RGB(16, 16, 24);
constexpr COLORREF kTextColour = RGB(240, 240, 240);
constexpr COLORREF kAccentColour = RGB(255, 200, 0);
// One sweep of the moving bar across the picture, seconds.
constexpr double kSweepSeconds = 2.0;
constexpr wchar_t kFontFace[] = L"Tahoma";

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
    // ExtTextOut with ETO_OPAQUE fills with the background colour without
    // creating a brush per rectangle.
    ::SetBkColor(dc, colour);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

RECT MakeRect(int left, int top, int right, int bottom) { return RECT{left, top, right, bottom}; }

}  // namespace

void TestPattern::EnsureFonts(int height) {
    const int large = std::max(12, height / 8);
    if (large == m_fontHeight && m_largeFont) {
        return;
    }
    m_fontHeight = large;
    m_largeFont.reset(::CreateFontW(-large, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                    DEFAULT_PITCH | FF_SWISS, kFontFace));
    m_smallFont.reset(::CreateFontW(-std::max(10, large / 3), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                    DEFAULT_PITCH | FF_SWISS, kFontFace));
}

void TestPattern::Draw(HDC dc, int width, int height, const PatternFrame& frame) {
    if (width <= 0 || height <= 0) {
        return;
    }
    EnsureFonts(height);

    const int barsBottom = height * 55 / 100;
    const int rampBottom = height * 63 / 100;

    for (int i = 0; i < kBarCount; ++i) {
        FillSolid(dc, MakeRect(width * i / kBarCount, 0, width * (i + 1) / kBarCount, barsBottom), kBars[i]);
    }
    for (int i = 0; i < kRampSteps; ++i) {
        const int level = 255 * i / (kRampSteps - 1);
        FillSolid(dc, MakeRect(width * i / kRampSteps, barsBottom, width * (i + 1) / kRampSteps, rampBottom),
                  RGB(level, level, level));
    }
    FillSolid(dc, MakeRect(0, rampBottom, width, height), kPanelColour);

    // The sweeping bar moves with the clock, not with the frame count, so
    // its speed stays the same whatever the repaint rate.
    const double phase = std::fmod(frame.elapsedSeconds, kSweepSeconds) / kSweepSeconds;
    const int barWidth = std::max(4, width / 40);
    const int barLeft = static_cast<int>(phase * (width - barWidth));
    FillSolid(dc, MakeRect(barLeft, 0, barLeft + barWidth, rampBottom), RGB(0, 0, 0));
    FillSolid(dc, MakeRect(barLeft + barWidth / 4, 0, barLeft + barWidth - barWidth / 4, rampBottom),
              RGB(255, 255, 255));
    // A progress strip along the panel's top edge follows the bar.
    FillSolid(dc, MakeRect(0, rampBottom, barLeft + barWidth, rampBottom + std::max(2, height / 120)),
              kAccentColour);

    const int marker = std::max(8, height / 18);
    FillSolid(dc, MakeRect(0, 0, marker, marker), kTopLeftMarker);
    FillSolid(dc, MakeRect(width - marker, 0, width, marker), kTopRightMarker);
    FillSolid(dc, MakeRect(width - marker, height - marker, width, height), kBottomRightMarker);
    FillSolid(dc, MakeRect(0, height - marker, marker, height), kBottomLeftMarker);

    ::SetBkMode(dc, TRANSPARENT);
    const int margin = marker + height / 60;
    const int panelTop = rampBottom + height / 40;

    wchar_t clock[32];
    std::swprintf(clock, 32, L"%02u:%02u:%02u.%03u", frame.localTime.wHour, frame.localTime.wMinute,
                  frame.localTime.wSecond, frame.localTime.wMilliseconds);
    wchar_t counter[48];
    std::swprintf(counter, 48, L"#%06llu", static_cast<unsigned long long>(frame.frameNumber));

    {
        const ScopedSelectObject font(dc, m_largeFont.get());
        ::SetTextColor(dc, kTextColour);
        RECT clockRect = MakeRect(margin, panelTop, width - margin, height - marker);
        ::DrawTextW(dc, clock, -1, &clockRect, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        ::SetTextColor(dc, kAccentColour);
        RECT counterRect = MakeRect(margin, panelTop, width - margin, height - marker);
        ::DrawTextW(dc, counter, -1, &counterRect, DT_RIGHT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    }

    wchar_t caption[128];
    std::swprintf(caption, 128, L"Quillmere test pattern   %dx%d   repaint %d Hz   %04u-%02u-%02u", width, height,
                  frame.refreshRate, frame.localTime.wYear, frame.localTime.wMonth, frame.localTime.wDay);
    const ScopedSelectObject font(dc, m_smallFont.get());
    ::SetTextColor(dc, kTextColour);
    RECT captionRect = MakeRect(margin, panelTop, width - margin, height - height / 40);
    ::DrawTextW(dc, caption, -1, &captionRect, DT_LEFT | DT_BOTTOM | DT_SINGLELINE | DT_NOPREFIX);
}

}  // namespace qmdemo

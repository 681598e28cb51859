// The demo's animated test pattern: colour bars, a grey ramp, a bar that
// sweeps across the picture, corner markers, a frame counter and the time
// of day with milliseconds, so that a captured frame shows at a glance that
// the picture is live, which way up it is and how fresh it is.
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/com_util.h"

namespace qmdemo {

struct PatternFrame {
    uint64_t frameNumber = 0;
    // Seconds since the demo started; drives the sweeping bar.
    double elapsedSeconds = 0.0;
    SYSTEMTIME localTime = {};
    // Timer rate the window repaints at, shown for reference.
    int refreshRate = 0;
};

class TestPattern {
public:
    TestPattern() = default;
    TestPattern(const TestPattern&) = delete;
    TestPattern& operator=(const TestPattern&) = delete;

    // Draws one frame into `dc` covering width x height. Fonts are made for
    // the height on first use and again when it changes.
    void Draw(HDC dc, int width, int height, const PatternFrame& frame);

private:
    void EnsureFonts(int height);

    int m_fontHeight = 0;
    UniqueGdiObject m_largeFont;
    UniqueGdiObject m_smallFont;
};

}  // namespace qmdemo

// The platform's window reader, with a copy that reads back black on
// demand, as the copy of a GPU-drawn window does on Windows (Wine draws no
// window on the GPU).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstring>

#include "window/window_capture.h"
#include "framework/memory_dib.h"

namespace qmtest {

class BlackCopyReader final : public IWindowReader {
public:
    bool Copy(HWND window, const RECT& part, CMemoryDib& dib) override {
        ++copies;
        if (!m_platform.Copy(window, part, dib)) {
            return false;
        }
        if (black) {
            ::GdiFlush();
            for (int y = 0; y < part.bottom - part.top; ++y) {
                std::memset(dib.Pixels() + y * dib.Stride(), 0, static_cast<size_t>(part.right - part.left) * 4);
            }
        }
        return true;
    }
    bool Print(HWND window, SIZE windowSize, POINT clientOrigin, CMemoryDib& dib) override {
        ++prints;
        return m_platform.Print(window, windowSize, clientOrigin, dib);
    }
    bool CopyScreen(const RECT& area, const RECT* monitors, int count, CMemoryDib& dib) override {
        return m_platform.CopyScreen(area, monitors, count, dib);
    }

    std::atomic<bool> black{true};
    std::atomic<int> copies{0};
    std::atomic<int> prints{0};

private:
    CPlatformWindowReader m_platform;
};

}  // namespace qmtest

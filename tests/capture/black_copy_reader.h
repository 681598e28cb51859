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
    bool Copy(HWND window, SIZE client, CMemoryDib& dib) override {
        ++copies;
        if (!m_platform.Copy(window, client, dib)) {
            return false;
        }
        if (black) {
            ::GdiFlush();
            for (int y = 0; y < client.cy; ++y) {
                std::memset(dib.Pixels() + y * dib.Stride(), 0, static_cast<size_t>(client.cx) * 4);
            }
        }
        return true;
    }
    bool Print(HWND window, SIZE windowSize, POINT clientOrigin, CMemoryDib& dib) override {
        ++prints;
        return m_platform.Print(window, windowSize, clientOrigin, dib);
    }

    std::atomic<bool> black{true};
    std::atomic<int> copies{0};
    std::atomic<int> prints{0};

private:
    CPlatformWindowReader m_platform;
};

}  // namespace qmtest

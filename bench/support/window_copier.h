// One BitBlt of a window's client area into a 32-bit DIB, made on a thread
// of its own, as the device's capture thread reads windows. Under Wine a
// program's main thread pays many times more for the same copy of another
// process's window than any other thread (window_read_bench shows it), so
// a reference copy made there would flatter every ratio against it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/com_util.h"
#include "framework/memory_dib.h"

namespace qmbench {

class WindowCopier {
public:
    // A top-down 32-bit DIB of the size, and the thread that fills it.
    WindowCopier(int width, int height);
    ~WindowCopier();
    WindowCopier(const WindowCopier&) = delete;
    WindowCopier& operator=(const WindowCopier&) = delete;

    bool ok() const { return m_dib && m_thread; }

    // Copies the window's client area (from its origin, the DIB's size) and
    // returns once the copy is in the DIB.
    void Read(HWND window);

    const uint32_t* bits() const { return reinterpret_cast<const uint32_t*>(m_dib.Pixels()); }
    const BYTE* Pixels() const { return m_dib.Pixels(); }
    ptrdiff_t Stride() const { return m_dib.Stride(); }

private:
    static DWORD WINAPI ThreadProc(LPVOID parameter);

    CMemoryDib m_dib;
    UniqueHandle m_request{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    UniqueHandle m_done{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    // Written before m_request is set; null asks the thread to end.
    HWND m_window = nullptr;
    UniqueHandle m_thread;
};

}  // namespace qmbench

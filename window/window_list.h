// The windows a user can choose to capture, as the window page and the
// capture client list them: the visible top-level windows that have a
// title, without tool windows and windows the system keeps hidden
// (cloaked), each with its title, class, owning program and client size.
//
// Listing never waits for a window's thread: titles are read from the
// system's copy (a window of this process on another thread, asked for its
// text with a message, would hold up the lister if that thread hung), and
// nothing else needs an answer from the window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ListedWindow {
    HWND window = nullptr;
    std::wstring title;
    std::wstring className;
    // The file name of the owning process's program ("notepad.exe"); empty
    // when the process cannot be asked.
    std::wstring program;
    // The client area's size as the device captures it (per-monitor DPI).
    SIZE client = {0, 0};
};

// The choosable windows of the calling thread's desktop, in the system's
// z-order (topmost first). `excluded` (may be null) and the windows it
// owns are left out: the page passes its property frame. E_OUTOFMEMORY, or
// S_OK with the list.
HRESULT ListCaptureWindows(HWND excluded, std::vector<ListedWindow>* windows);

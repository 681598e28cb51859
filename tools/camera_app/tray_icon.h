// qmcamera's icon in the notification area: it says that the cameras are
// there while the program runs, and its menu opens the settings, turns the
// start at logon on or off (tools/camera_app/logon_entry.h; ticked while
// the user's logon entry starts this program), or ends the program. The
// window behind it lives on the thread that creates it, which must pump
// its messages (RunUntil does).
#pragma once

#include <windows.h>

namespace qmcamera {

class CTrayIcon {
public:
    // Menu commands, also what a test sends to the window.
    static constexpr UINT kCommandSettings = 1;
    static constexpr UINT kCommandQuit = 2;
    static constexpr UINT kCommandStartAtLogon = 3;

    CTrayIcon() = default;
    ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // Makes the hidden window and adds the icon; Quit sets `quit`. An icon
    // the shell refuses (no notification area) leaves the window: the
    // program still ends with Ctrl+C. False when the window cannot be made.
    [[nodiscard]] bool Create(HANDLE quit);

    // Pumps this thread's messages until `quit` is set.
    void RunUntil(HANDLE quit);

    // The menu as it shows now, its start-at-logon item ticked when the
    // user's logon entry starts this program; null when no menu can be
    // made. The caller destroys it.
    static HMENU MakeMenu();

    HWND hwnd() const { return m_window; }
    bool HasIcon() const { return m_added; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void ShowMenu();
    void OpenSettings();
    // Removes the logon entry when it starts this program, else makes it
    // start this program; a failure shows in a balloon from the icon.
    void ToggleStartAtLogon();

    HWND m_window = nullptr;
    HANDLE m_quit = nullptr;
    bool m_added = false;
    UINT m_taskbarCreated = 0;
};

}  // namespace qmcamera

// The window a benchmark captures lives in a child process, as the
// captured application's window does: reading another process's window
// goes through the display server and costs far more than reading one's
// own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "framework/com_util.h"

namespace qmbench {

// Pictures the child can show.
enum class BenchPicture {
    // An application-like picture: panels, gradients, a photo-like area,
    // hairlines and antialiased text.
    Application,
    // One-pixel black and white checkerboard.
    Checkerboard,
};

// Renders a picture as top-down 0x00RRGGBB rows.
std::vector<uint32_t> RenderBenchPicture(BenchPicture picture, int width, int height);

// Call first in main: when the program was started as a child window
// process, shows the window until the parent ends or closes it and returns
// true (main then returns 0).
bool RunChildWindowIfAsked(int argc, char** argv);

class ChildProcessWindow {
public:
    ChildProcessWindow() = default;
    ~ChildProcessWindow();
    ChildProcessWindow(const ChildProcessWindow&) = delete;
    ChildProcessWindow& operator=(const ChildProcessWindow&) = delete;

    // Starts this program again as a child that shows a top-level window of
    // class "Quillmere::MainFrame", title "Quillmere", with the client size
    // and picture, and waits until it is painted.
    HRESULT Start(BenchPicture picture, int clientWidth, int clientHeight);
    HWND hwnd() const { return m_window; }
    void Close();

private:
    UniqueHandle m_process;
    HWND m_window = nullptr;
};

// Median of a set of figures (the set is reordered).
double Median(std::vector<double>& values);

// The nearest-rank percentile (fraction 0..1] of a set of figures; 0 for
// an empty set.
double Percentile(std::vector<double> values, double fraction);

}  // namespace qmbench

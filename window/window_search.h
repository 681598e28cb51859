// The search for the window to capture: which top-level window a stored
// identity (class, title, program) names now. The device, the window page
// and the capture client all search with this, so that they agree.
//
// The rules, in order; each names the windows it accepts:
//   1. ExactTitle: the class and the exact title (an empty stored title:
//      any title of the class).
//   2. TitlePrefix: the class and a title that starts with the stored one,
//      when the stored title may have been cut (older versions stored at
//      most 63 bytes of the host's code page; titles longer than a setting
//      holds are stored cut).
//   3. ClassAndProgram: the class and the program, when a program is
//      stored: the window's title changed (a browser tab, a document).
//   4. ProgramOnly: the program alone, when no class is stored.
//   5. BuiltInClass: any window of the built-in class "Quillmere::MainFrame".
// A visible window wins over a hidden one whatever their rules: the first
// rule with a visible window decides, and only when no rule has one does
// the first rule with a hidden window. Among windows of one rule, the one
// nearest the top of the z-order wins.
//
// The search never waits for a window's thread: titles are the system's
// copy, classes and programs need no answer from the window.
#pragma once

#include <windows.h>

#include <cstddef>

#include "settings/window_identity.h"

enum class WindowMatchRule {
    None = 0,
    ExactTitle = 1,
    TitlePrefix = 2,
    ClassAndProgram = 3,
    ProgramOnly = 4,
    BuiltInClass = 5,
};

struct WindowMatch {
    HWND window = nullptr;
    WindowMatchRule rule = WindowMatchRule::None;
    bool visible = false;
};

// The window the identity names now (null, rule None: none).
WindowMatch FindCaptureWindow(const WindowIdentity& identity);

// Whether `window` is one the identity accepts, and by which rule (None:
// not at all).
WindowMatchRule MatchOfWindow(HWND window, const WindowIdentity& identity);

// Whether a stored title may be the cut start of a longer one: as long as
// a setting holds (or one character less, where the cut kept a surrogate
// pair whole), or 62 or 63 bytes in the host's code page (where older
// versions cut).
bool TitleMayBeCut(const wchar_t* title);

// The file name of the window's program ("notes.exe") into `name`; false
// (and empty) when the process cannot be asked.
bool ProgramOfWindow(HWND window, wchar_t* name, size_t capacity);

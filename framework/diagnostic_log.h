// The diagnostic log: a text file the device appends its failures and its
// state changes to (stream start and stop, window found and lost, capture
// method switches, settings reloaded), so that a user can send what
// happened inside a capture application. Off by default; the per-user
// setting "DiagnosticLog" = "1" turns it on.
//
// The file is %LOCALAPPDATA%\QMCapture\diagnostic.log of the user the
// process runs as (the environment variable first, so that a test can
// point it elsewhere; else the shell's folder). It is bounded: once it passes kMaxBytes it becomes
// diagnostic.old.log (replacing an older one) and a new file starts. Each
// line says when (local time), which process and thread, and what.
//
// Module state: any thread, any time, no lock. Each line is appended by one
// write of its own to a file opened for appending, so that lines of several
// threads and processes never mix.
#pragma once

#include <windows.h>

#include <cstddef>

namespace diagnostic_log {

inline constexpr long long kMaxBytes = 1024 * 1024;

// Turns writing on or off for the whole module.
void Enable(bool enabled);
bool IsEnabled();

// Appends one line (printf format, UTF-8 text) when enabled; a line longer
// than about 1000 bytes is cut. Never fails visibly: a log that cannot be
// written is skipped.
void Write(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The log file's path; false when the user's local application data folder
// is unknown.
[[nodiscard]] bool FilePath(wchar_t* path, size_t capacity);

}  // namespace diagnostic_log

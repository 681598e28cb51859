// qmcamera's entry among the programs Windows starts when the user logs
// on: the value "QM Capture Camera" of
// HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run, whose
// data is the quoted full path of qmcamera.exe and kTrayOption, so that
// the cameras are there after every logon, with only the icon in the
// notification area to show for it. The entry belongs to the user who
// runs qmcamera (the cameras are per user); nothing else is written.
//
// `qmcamera --autostart on|off`, the icon's menu and the setup program
// change it; a program that runs the cameras is not started or ended by
// a change.
#pragma once

#include <windows.h>

#include <string>

namespace qmcamera {

// The process exit code of `--autostart` when the entry cannot be
// changed (the platform's error is printed).
inline constexpr int kExitLogonEntryFailed = 6;

// The option that starts qmcamera with its icon alone: it lets go of its
// console window, and is ended from the icon's menu.
inline constexpr wchar_t kTrayOption[] = L"--tray";

class CLogonEntry {
public:
    static constexpr wchar_t kRunKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    static constexpr wchar_t kValueName[] = L"QM Capture Camera";

    enum class State {
        // No value of that name.
        Absent,
        // It starts `program` (the path compared without regard to case;
        // the options after it may be any).
        ThisProgram,
        // It starts something else: another copy of qmcamera, or a value
        // of that name that is not a command line qmcamera wrote.
        OtherProgram,
    };

    // `program`: the full path of the qmcamera.exe the entry is about.
    explicit CLogonEntry(std::wstring program) : m_program(std::move(program)) {}

    // The full path of the running program; empty when it cannot be told.
    static std::wstring RunningProgram();

    // The entry's data for `program`: "\"<program>\" --tray".
    static std::wstring CommandLine(const std::wstring& program);

    // The program a command line starts: the quoted path, or the text up
    // to the first space when it is not quoted.
    static std::wstring ProgramOf(const std::wstring& commandLine);

    const std::wstring& Program() const { return m_program; }

    // Whether the user's logon entry is there and starts Program().
    // `state` is unchanged on failure (E_POINTER when null).
    [[nodiscard]] HRESULT Query(State* state) const;

    // Writes the entry for Program() (the Run key is made when missing),
    // in place of any entry of that name. E_INVALIDARG for a program that
    // is not a full path (empty, relative, or with a quote in it).
    [[nodiscard]] HRESULT Add() const;

    // Removes the user's entry, wherever it points; S_FALSE when there
    // was none.
    [[nodiscard]] static HRESULT Remove();

private:
    std::wstring m_program;
};

}  // namespace qmcamera

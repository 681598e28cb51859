#include "window/window_search.h"

#include <dwmapi.h>

#include <cwchar>

#include "settings/settings_values.h"
#include "framework/com_util.h"

namespace {

constexpr int kRules = 6;
// Program paths longer than this are taken as unknown.
constexpr DWORD kPathCapacity = 1024;
// Processes whose program one search remembers.
constexpr int kRememberedProcesses = 32;
// Where older versions cut a title: 63 bytes of the host's code page, at a
// character boundary (so 62 when a double-byte character did not fit).
constexpr int kOldCutBytes = 63;

bool SameText(const wchar_t* a, const wchar_t* b) {
    return ::CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    const size_t length = std::wcslen(prefix);
    return std::wcslen(text) >= length &&
           ::CompareStringOrdinal(text, static_cast<int>(length), prefix, static_cast<int>(length), TRUE) ==
               CSTR_EQUAL;
}

// Visible, and not kept out of sight by the system (Windows 8 and later
// cloak the frames of suspended store applications and of other virtual
// desktops; where the system cannot say, nothing is cloaked).
bool IsShown(HWND window) {
    if (!::IsWindowVisible(window)) {
        return false;
    }
    DWORD cloaked = 0;
    return FAILED(::DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof(cloaked))) || cloaked == 0;
}

// One search: the identity, what follows from it, and the best window of
// each rule so far.
class Search {
public:
    explicit Search(const WindowIdentity& identity)
        : m_identity(identity),
          m_hasClass(identity.windowClass[0] != L'\0'),
          m_hasName(identity.windowName[0] != L'\0'),
          m_hasProgram(identity.program[0] != L'\0'),
          m_mayBeCut(m_hasName && TitleMayBeCut(identity.windowName)) {}

    WindowMatchRule RuleOf(HWND window) {
        wchar_t className[kWindowClassCapacity] = {};
        if (::GetClassNameW(window, className, static_cast<int>(kWindowClassCapacity)) <= 0) {
            return WindowMatchRule::None;
        }
        const bool classMatches = m_hasClass && SameText(className, m_identity.windowClass);
        if (classMatches) {
            if (!m_hasName) {
                return WindowMatchRule::ExactTitle;
            }
            // The system's copy of the title: never a message to the window.
            wchar_t title[kWindowTitleCapacity] = {};
            ::InternalGetWindowText(window, title, static_cast<int>(kWindowTitleCapacity));
            if (SameText(title, m_identity.windowName)) {
                return WindowMatchRule::ExactTitle;
            }
            if (m_mayBeCut && StartsWith(title, m_identity.windowName)) {
                return WindowMatchRule::TitlePrefix;
            }
            if (m_hasProgram && ProgramMatches(window)) {
                return WindowMatchRule::ClassAndProgram;
            }
        } else if (!m_hasClass && m_hasProgram && ProgramMatches(window)) {
            return WindowMatchRule::ProgramOnly;
        }
        if (SameText(className, kDefaultWindowClass)) {
            return WindowMatchRule::BuiltInClass;
        }
        return WindowMatchRule::None;
    }

    void Consider(HWND window) {
        const WindowMatchRule rule = RuleOf(window);
        if (rule == WindowMatchRule::None) {
            return;
        }
        // Windows come topmost first: the first of each kind is kept.
        HWND* slots = IsShown(window) ? m_visible : m_hidden;
        HWND& slot = slots[static_cast<int>(rule)];
        if (slot == nullptr) {
            slot = window;
        }
    }

    WindowMatch Best() const {
        for (const bool visible : {true, false}) {
            const HWND* slots = visible ? m_visible : m_hidden;
            for (int rule = 1; rule < kRules; ++rule) {
                if (slots[rule] != nullptr) {
                    return {slots[rule], static_cast<WindowMatchRule>(rule), visible};
                }
            }
        }
        return {};
    }

private:
    // Whether the window's program is the stored one; each process is
    // asked once per search.
    bool ProgramMatches(HWND window) {
        DWORD processId = 0;
        if (::GetWindowThreadProcessId(window, &processId) == 0) {
            return false;
        }
        for (int i = 0; i < m_remembered; ++i) {
            if (m_processes[i] == processId) {
                return m_matches[i];
            }
        }
        wchar_t program[kWindowProgramCapacity] = {};
        const bool matches = ProgramOfWindow(window, program, kWindowProgramCapacity) &&
                             SameText(program, m_identity.program);
        if (m_remembered < kRememberedProcesses) {
            m_processes[m_remembered] = processId;
            m_matches[m_remembered] = matches;
            ++m_remembered;
        }
        return matches;
    }

    const WindowIdentity& m_identity;
    const bool m_hasClass;
    const bool m_hasName;
    const bool m_hasProgram;
    const bool m_mayBeCut;
    HWND m_visible[kRules] = {};
    HWND m_hidden[kRules] = {};
    DWORD m_processes[kRememberedProcesses] = {};
    bool m_matches[kRememberedProcesses] = {};
    int m_remembered = 0;
};

BOOL CALLBACK ConsiderOne(HWND window, LPARAM parameter) {
    reinterpret_cast<Search*>(parameter)->Consider(window);
    return TRUE;
}

}  // namespace

WindowMatch FindCaptureWindow(const WindowIdentity& identity) {
    Search search(identity);
    QM_IGNORE(::EnumWindows(&ConsiderOne, reinterpret_cast<LPARAM>(&search)), "a desktop without windows finds none");
    return search.Best();
}

WindowMatchRule MatchOfWindow(HWND window, const WindowIdentity& identity) {
    if (window == nullptr || !::IsWindow(window)) {
        return WindowMatchRule::None;
    }
    Search search(identity);
    return search.RuleOf(window);
}

bool TitleMayBeCut(const wchar_t* title) {
    // A cut that would split a surrogate pair stops one character short.
    const size_t length = std::wcslen(title);
    if (length + 2 >= kWindowTitleCapacity) {
        return true;
    }
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, title, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    return bytes == kOldCutBytes || bytes == kOldCutBytes - 1;
}

bool ProgramOfWindow(HWND window, wchar_t* name, size_t capacity) {
    if (name == nullptr || capacity == 0) {
        return false;
    }
    name[0] = L'\0';
    DWORD processId = 0;
    if (::GetWindowThreadProcessId(window, &processId) == 0) {
        return false;
    }
    UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        return false;
    }
    wchar_t path[kPathCapacity] = {};
    DWORD length = kPathCapacity;
    if (!::QueryFullProcessImageNameW(process.get(), 0, path, &length)) {
        return false;
    }
    const wchar_t* file = path;
    for (const wchar_t* p = path; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/') {
            file = p + 1;
        }
    }
    if (std::wcslen(file) >= capacity) {
        return false;
    }
    std::wcscpy(name, file);
    return true;
}

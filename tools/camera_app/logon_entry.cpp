#include "tools/camera_app/logon_entry.h"

#include <vector>

#include "framework/com_util.h"

namespace qmcamera {

namespace {

// A full path of a program: "C:\..." or "\\server\share\...", and nothing
// that would end the quotes around it.
bool IsFullPath(const std::wstring& path) {
    if (path.find(L'"') != std::wstring::npos) {
        return false;
    }
    const bool drive = path.size() > 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool share = path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
    return drive || share;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

// The value's text, expanded when it is REG_EXPAND_SZ; S_FALSE when the
// value (or the Run key) is missing. (RegGetValue cannot be used: asked
// for REG_EXPAND_SZ without RRF_NOEXPAND it fails with
// ERROR_INVALID_PARAMETER.)
HRESULT ReadEntry(std::wstring* text) {
    HKEY opened = nullptr;
    const LSTATUS open = ::RegOpenKeyExW(HKEY_CURRENT_USER, CLogonEntry::kRunKeyPath, 0, KEY_QUERY_VALUE, &opened);
    if (open == ERROR_FILE_NOT_FOUND) {
        return S_FALSE;
    }
    RETURN_HR_IF(HResultFromWin32(open), open != ERROR_SUCCESS);
    const UniqueRegKey key(opened);
    std::vector<wchar_t> buffer;
    DWORD type = REG_NONE;
    for (int attempt = 0;; ++attempt) {
        DWORD bytes = 0;
        LSTATUS status = ::RegQueryValueExW(key.get(), CLogonEntry::kValueName, nullptr, &type, nullptr, &bytes);
        if (status == ERROR_FILE_NOT_FOUND) {
            return S_FALSE;
        }
        RETURN_HR_IF(HResultFromWin32(status), status != ERROR_SUCCESS);
        // Room for a terminating null the value may lack.
        buffer.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        status = ::RegQueryValueExW(key.get(), CLogonEntry::kValueName, nullptr, &type,
                                    reinterpret_cast<BYTE*>(buffer.data()), &bytes);
        if (status == ERROR_MORE_DATA && attempt < 3) {
            continue;  // it grew between the two calls
        }
        if (status == ERROR_FILE_NOT_FOUND) {
            return S_FALSE;
        }
        RETURN_HR_IF(HResultFromWin32(status), status != ERROR_SUCCESS);
        break;
    }
    // Not a command line at all: an empty one, which starts nothing.
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        text->clear();
        return S_OK;
    }
    buffer.back() = L'\0';
    if (type == REG_SZ) {
        text->assign(buffer.data());
        return S_OK;
    }
    const DWORD needed = ::ExpandEnvironmentStringsW(buffer.data(), nullptr, 0);
    RETURN_HR_IF(HResultFromLastError(), needed == 0);
    std::vector<wchar_t> expanded(needed, L'\0');
    RETURN_HR_IF(HResultFromLastError(), ::ExpandEnvironmentStringsW(buffer.data(), expanded.data(), needed) == 0);
    expanded.back() = L'\0';
    text->assign(expanded.data());
    return S_OK;
}

}  // namespace

std::wstring CLogonEntry::RunningProgram() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            return std::wstring(path.data(), length);
        }
        // Cut short: Windows paths reach 32767 characters.
        if (path.size() >= 32768) {
            return std::wstring();
        }
        path.resize(path.size() * 2);
    }
}

std::wstring CLogonEntry::CommandLine(const std::wstring& program) {
    return L"\"" + program + L"\" " + kTrayOption;
}

std::wstring CLogonEntry::ProgramOf(const std::wstring& commandLine) {
    const size_t start = commandLine.find_first_not_of(L' ');
    if (start == std::wstring::npos) {
        return std::wstring();
    }
    if (commandLine[start] == L'"') {
        const size_t end = commandLine.find(L'"', start + 1);
        return commandLine.substr(start + 1, end == std::wstring::npos ? std::wstring::npos : end - start - 1);
    }
    const size_t end = commandLine.find(L' ', start);
    return commandLine.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

HRESULT CLogonEntry::Query(State* state) const {
    RETURN_HR_IF_NULL(E_POINTER, state);
    std::wstring text;
    const HRESULT read = ReadEntry(&text);
    RETURN_IF_FAILED(read);
    if (read == S_FALSE) {
        *state = State::Absent;
        return S_OK;
    }
    *state = !m_program.empty() && SamePath(ProgramOf(text), m_program) ? State::ThisProgram : State::OtherProgram;
    return S_OK;
}

HRESULT CLogonEntry::Add() const {
    RETURN_HR_IF(E_INVALIDARG, !IsFullPath(m_program));
    const std::wstring data = CommandLine(m_program);
    HKEY opened = nullptr;
    const LSTATUS created = ::RegCreateKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                              KEY_SET_VALUE, nullptr, &opened, nullptr);
    RETURN_HR_IF(HResultFromWin32(created), created != ERROR_SUCCESS);
    const UniqueRegKey key(opened);
    const LSTATUS written =
        ::RegSetValueExW(key.get(), kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RETURN_HR_IF(HResultFromWin32(written), written != ERROR_SUCCESS);
    return S_OK;
}

HRESULT CLogonEntry::Remove() {
    const LSTATUS status = ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, kValueName);
    if (status == ERROR_FILE_NOT_FOUND) {
        return S_FALSE;
    }
    RETURN_HR_IF(HResultFromWin32(status), status != ERROR_SUCCESS);
    return S_OK;
}

}  // namespace qmcamera

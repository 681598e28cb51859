#include "framework/diagnostic_log.h"

#include <shlobj.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "framework/com_util.h"

namespace diagnostic_log {

namespace {

std::atomic<bool> g_enabled{false};

constexpr wchar_t kFolderName[] = L"QMCapture";
constexpr wchar_t kFileName[] = L"diagnostic.log";
constexpr wchar_t kOldFileName[] = L"diagnostic.old.log";
constexpr size_t kMaxLine = 1024;

bool LocalAppData(wchar_t* path, size_t capacity) {
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", path, static_cast<DWORD>(capacity));
    if (length > 0 && length < capacity) {
        return true;
    }
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        return false;
    }
    return std::swprintf(path, capacity, L"%ls", folder) > 0;
}

bool PathOf(const wchar_t* fileName, wchar_t* path, size_t capacity) {
    wchar_t folder[MAX_PATH] = {};
    if (!LocalAppData(folder, MAX_PATH)) {
        return false;
    }
    const int written = std::swprintf(path, capacity, L"%ls\\%ls\\%ls", folder, kFolderName, fileName);
    return written > 0 && static_cast<size_t>(written) < capacity;
}

// Starts a new file once the current one passed the bound. Two processes
// may both see it full; the second rename then finds no file, harmlessly.
void KeepBounded(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
        return;
    }
    const long long size = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size < kMaxBytes) {
        return;
    }
    wchar_t old[MAX_PATH * 2] = {};
    if (PathOf(kOldFileName, old, MAX_PATH * 2)) {
        QM_IGNORE(::MoveFileExW(path, old, MOVEFILE_REPLACE_EXISTING), "a file in use stays; it is tried again");
    }
}

}  // namespace

void Enable(bool enabled) {
    g_enabled.store(enabled);
}

bool IsEnabled() {
    return g_enabled.load();
}

bool FilePath(wchar_t* path, size_t capacity) {
    if (path == nullptr || capacity == 0) {
        return false;
    }
    return PathOf(kFileName, path, capacity);
}

void Write(const char* format, ...) {
    if (!g_enabled.load() || format == nullptr) {
        return;
    }
    // Never through the failure hook: a failure here must not log itself.
    const DWORD lastError = ::GetLastError();
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    char line[kMaxLine];
    int length = std::snprintf(line, sizeof(line), "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu:%lu] ", now.wYear,
                               now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                               ::GetCurrentProcessId(), ::GetCurrentThreadId());
    if (length < 0) {
        length = 0;
    }
    va_list arguments;
    va_start(arguments, format);
    const int text = std::vsnprintf(line + length, sizeof(line) - static_cast<size_t>(length) - 2, format, arguments);
    va_end(arguments);
    if (text > 0) {
        length += text;
    }
    if (static_cast<size_t>(length) > sizeof(line) - 3) {
        length = static_cast<int>(sizeof(line) - 3);
    }
    line[length++] = '\r';
    line[length++] = '\n';

    wchar_t path[MAX_PATH * 2] = {};
    if (PathOf(kFileName, path, MAX_PATH * 2)) {
        wchar_t folder[MAX_PATH * 2] = {};
        if (LocalAppData(folder, MAX_PATH) &&
            std::swprintf(folder + std::wcslen(folder), MAX_PATH, L"\\%ls", kFolderName) > 0) {
            QM_IGNORE(::CreateDirectoryW(folder, nullptr), "it usually exists already");
        }
        const HANDLE opened = ::CreateFileW(path, FILE_APPEND_DATA,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (opened != INVALID_HANDLE_VALUE) {
            {
                UniqueHandle file(opened);
                DWORD written = 0;
                QM_IGNORE(::WriteFile(file.get(), line, static_cast<DWORD>(length), &written, nullptr),
                          "a log that cannot be written is skipped");
            }
            KeepBounded(path);
        }
    }
    ::SetLastError(lastError);
}

}  // namespace diagnostic_log

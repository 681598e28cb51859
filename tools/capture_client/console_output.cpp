#include "tools/capture_client/console_output.h"

#include <windows.h>

#include <cstdarg>
#include <cwchar>
#include <vector>

namespace qmcapture {

namespace {

void WriteText(DWORD stdHandle, const std::wstring& text) {
    if (text.empty()) {
        return;
    }
    const HANDLE handle = ::GetStdHandle(stdHandle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(handle, &mode)) {
        ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = ToUtf8(text);
    ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

std::wstring FormatText(const wchar_t* format, ...) {
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list args;
        va_start(args, format);
        const int length = std::vswprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
        if (length >= 0 && static_cast<size_t>(length) < buffer.size()) {
            return std::wstring(buffer.data(), static_cast<size_t>(length));
        }
        // vswprintf reports only failure when the text does not fit.
        if (buffer.size() >= 1u << 20) {
            return std::wstring();
        }
        buffer.resize(buffer.size() * 4);
    }
}

void WriteStdout(const std::wstring& text) { WriteText(STD_OUTPUT_HANDLE, text); }

void WriteStderr(const std::wstring& text) { WriteText(STD_ERROR_HANDLE, text); }

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                           0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                          nullptr, nullptr);
    return bytes;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

}  // namespace qmcapture

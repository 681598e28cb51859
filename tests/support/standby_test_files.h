// Files for the standby picture tests: a scratch folder, pictures written
// there (PNG through the capture client's writer on WIC's encoder, BMP by
// hand so that its header can claim any size), and the diagnostic log
// pointed into the folder so that a test can read the lines it gained.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "framework/memory_dib.h"
#include "framework/com_util.h"
#include "framework/diagnostic_log.h"
#include "tools/capture_client/png_file.h"

namespace qmtest {

// A fresh folder under %TEMP%, emptied and removed at the end.
class ScratchFolder {
public:
    ScratchFolder() {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        static LONG counter = 0;
        m_path = std::wstring(temp) + L"qm-standby-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                 std::to_wstring(::InterlockedIncrement(&counter));
        ::CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~ScratchFolder() {
        for (const std::wstring& file : m_files) {
            ::DeleteFileW(file.c_str());
        }
        ::RemoveDirectoryW((m_path + L"\\QMCapture").c_str());
        ::RemoveDirectoryW(m_path.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return m_path; }
    // A file in the folder, removed at the end.
    std::wstring File(const wchar_t* name) {
        m_files.push_back(m_path + L"\\" + name);
        return m_files.back();
    }

private:
    std::wstring m_path;
    std::vector<std::wstring> m_files;
};

using PixelColour = std::function<COLORREF(int x, int y)>;

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream file(path.c_str(), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file.good();
}

inline std::string ReadBytes(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// A 32-bit BGRA PNG through the capture client's writer (WIC's encoder);
// alpha(x, y) gives each pixel's opacity (null: opaque).
inline HRESULT WritePng(const std::wstring& path, int width, int height, const PixelColour& colour,
                        const std::function<BYTE(int x, int y)>& alpha = nullptr) {
    RETURN_HR_IF(E_INVALIDARG, width <= 0 || height <= 0);
    return qmcapture::WritePngFile(path, static_cast<UINT>(width), static_cast<UINT>(height),
                                   GUID_WICPixelFormat32bppBGRA, static_cast<UINT>(width) * 4,
                                   [&](UINT row, BYTE* pixels) {
                                       const int y = static_cast<int>(row);
                                       for (int x = 0; x < width; ++x) {
                                           BYTE* p = pixels + static_cast<size_t>(x) * 4;
                                           const COLORREF c = colour(x, y);
                                           p[0] = GetBValue(c);
                                           p[1] = GetGValue(c);
                                           p[2] = GetRValue(c);
                                           p[3] = alpha ? alpha(x, y) : 255;
                                       }
                                       return static_cast<const BYTE*>(pixels);
                                   });
}

// A one-bit PNG of any size, all white (or black), written a row at a
// time from one row, so that the test never holds the whole picture: a
// small file that declares a huge picture.
inline HRESULT WriteBlackWhitePng(const std::wstring& path, UINT width, UINT height, bool white) {
    const UINT stride = (width + 7) / 8;
    const std::vector<BYTE> row(stride, white ? 0xFF : 0x00);
    return qmcapture::WritePngFile(path, width, height, GUID_WICPixelFormatBlackWhite, stride,
                                   [&row](UINT, BYTE*) { return row.data(); });
}

// A 24-bit bottom-up BMP: the file and info headers, then the rows. With
// `claimedWidth`/`claimedHeight` the header claims that size while only
// the pixels of width x height follow.
inline std::string BmpBytes(int width, int height, const PixelColour& colour, int claimedWidth = 0,
                            int claimedHeight = 0) {
    const int stride = static_cast<int>(DibStride(width, 24));
    const int imageSize = stride * height;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(imageSize);
    info.biSize = sizeof(info);
    info.biWidth = claimedWidth > 0 ? claimedWidth : width;
    info.biHeight = claimedHeight > 0 ? claimedHeight : height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof(file));
    bytes.append(reinterpret_cast<const char*>(&info), sizeof(info));
    for (int row = 0; row < height; ++row) {
        std::string line(static_cast<size_t>(stride), '\0');
        const int y = height - 1 - row;
        for (int x = 0; x < width; ++x) {
            const COLORREF c = colour(x, y);
            line[static_cast<size_t>(x) * 3] = static_cast<char>(GetBValue(c));
            line[static_cast<size_t>(x) * 3 + 1] = static_cast<char>(GetGValue(c));
            line[static_cast<size_t>(x) * 3 + 2] = static_cast<char>(GetRValue(c));
        }
        bytes += line;
    }
    return bytes;
}

inline PixelColour Solid(COLORREF colour) {
    return [colour](int, int) { return colour; };
}

// Points %LOCALAPPDATA% at a folder and turns the log on for one scope;
// puts both back afterwards and removes the log file.
class LogInFolder {
public:
    explicit LogInFolder(const std::wstring& folder) {
        wchar_t previous[MAX_PATH] = {};
        m_hadPrevious = ::GetEnvironmentVariableW(L"LOCALAPPDATA", previous, MAX_PATH) > 0;
        m_previous = previous;
        ::SetEnvironmentVariableW(L"LOCALAPPDATA", folder.c_str());
        wchar_t path[MAX_PATH * 2] = {};
        if (diagnostic_log::FilePath(path, MAX_PATH * 2)) {
            m_path = path;
        }
        diagnostic_log::Enable(true);
    }
    ~LogInFolder() {
        diagnostic_log::Enable(false);
        ::DeleteFileW(m_path.c_str());
        ::SetEnvironmentVariableW(L"LOCALAPPDATA", m_hadPrevious ? m_previous.c_str() : nullptr);
    }
    LogInFolder(const LogInFolder&) = delete;
    LogInFolder& operator=(const LogInFolder&) = delete;

    bool ok() const { return !m_path.empty(); }
    // The lines that contain `text`.
    std::vector<std::string> LinesWith(const std::string& text) const {
        std::vector<std::string> lines;
        std::istringstream log(ReadBytes(m_path));
        for (std::string line; std::getline(log, line);) {
            if (line.find(text) != std::string::npos) {
                lines.push_back(line);
            }
        }
        return lines;
    }

private:
    std::wstring m_path;
    std::wstring m_previous;
    bool m_hadPrevious = false;
};

inline std::string Utf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size > 0 ? size : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    utf8.resize(std::strlen(utf8.c_str()));
    return utf8;
}

}  // namespace qmtest

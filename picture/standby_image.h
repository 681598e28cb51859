// CStandbyImage: the picture the standby frame shows, read from a PNG, JPEG
// or BMP file through WIC into 32-bit BGRX rows (top-down, four bytes per
// pixel, no padding), the layout the frame scaler reads. Transparent parts
// come out black, as if the picture lay on the black standby frame.
//
// A picture larger than any frame needs is decoded straight to the size
// the largest fit into a frame size shows (at most 1920 x 1080 for a wide
// picture, 1080 x 1920 for a tall one), through WIC's scaler, a strip of
// rows at a time: a file that declares 8192 x 8192 costs 1080 x 1080 x 4
// bytes here, not 256 MiB.
//
// A file is read only when asked (when the setting changes or a stream
// starts), never per frame, and off the streaming thread
// (CStandbyImageLoader). A file that cannot be used (missing, not a
// picture of those three formats, damaged, or wider or higher than
// kMaxDimension) leaves the picture empty and writes one line to the
// diagnostic log saying which file and why; its size is checked before any
// pixel memory is allocated.
//
// Threads. A plain value: the thread that holds one uses it. Load
// initialises COM on its thread for the call where it is not yet.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <memory>

class CStandbyImage {
public:
    // Largest width and height taken, in pixels.
    static constexpr UINT kMaxDimension = 8192;

    CStandbyImage() = default;
    CStandbyImage(CStandbyImage&& other) noexcept;
    CStandbyImage& operator=(CStandbyImage&& other) noexcept;
    CStandbyImage(const CStandbyImage&) = delete;
    CStandbyImage& operator=(const CStandbyImage&) = delete;

    // Reads the picture from a file. S_OK with the picture; S_FALSE and
    // empty for an empty path or null (no picture chosen; nothing logged).
    // Otherwise a failure code, the picture empty and one log line:
    // WINCODEC_ERR_IMAGESIZEOUTOFRANGE for a picture over kMaxDimension,
    // WINCODEC_ERR_COMPONENTNOTFOUND for a format other than PNG, JPEG or
    // BMP (or no picture at all), E_OUTOFMEMORY, E_ABORT when `cancel`
    // (may be null) turned true meanwhile, or what WIC reported.
    [[nodiscard]] HRESULT Load(const wchar_t* path, const std::atomic<bool>* cancel = nullptr);
    void Clear();

    bool Empty() const { return !m_pixels; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // The top row's first pixel; null while empty.
    const BYTE* TopRow() const { return m_pixels.get(); }
    ptrdiff_t Stride() const { return static_cast<ptrdiff_t>(m_width) * 4; }

    // The size a width x height picture is kept at: the largest fit of it
    // into a frame size of the table, never larger than its own.
    static SIZE KeptSize(UINT width, UINT height);

private:
    // The decoding steps; `step` names the one that failed, for the log.
    HRESULT Decode(const wchar_t* path, const std::atomic<bool>* cancel, const char** step);

    std::unique_ptr<BYTE[]> m_pixels;
    int m_width = 0;
    int m_height = 0;
};

// The off-screen picture every output frame is drawn into: a 24-bit
// bottom-up DIB section selected into a memory DC, laid out exactly like
// an RGB24 video sample of its size, so a frame leaves it in one copy.
#pragma once

#include <windows.h>

#include <memory>

#include "framework/com_util.h"
#include "framework/memory_dib.h"

struct GlobalMemoryTraits {
    using Type = HGLOBAL;
    static Type Null() { return nullptr; }
    static void Close(Type h) { ::GlobalFree(h); }
};
using UniqueGlobalMemory = UniqueResource<GlobalMemoryTraits>;

// Bitmap header plus a 256-entry colour table: what GDI reads for a DIB.
inline constexpr SIZE_T kCanvasHeaderBytes = sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);

struct FrameCanvas {
    FrameCanvas() = default;
    ~FrameCanvas() { Release(); }
    FrameCanvas(const FrameCanvas&) = delete;
    FrameCanvas& operator=(const FrameCanvas&) = delete;

    // Puts the DC's original bitmap back before the DIB section goes, then
    // frees DC and header. The record is empty afterwards.
    void Release();

    const BITMAPINFOHEADER* Header() const {
        return header ? static_cast<const BITMAPINFOHEADER*>(static_cast<void*>(header.get())) : nullptr;
    }
    int Width() const { return Header() != nullptr ? Header()->biWidth : 0; }
    int Height() const { return Header() != nullptr ? Header()->biHeight : 0; }
    // Picture bytes (what is cleared and copied into samples); 0 without
    // pixel memory.
    DWORD ImageSize() const { return dib ? Header()->biSizeImage : 0; }
    BYTE* Pixels() const { return dib.Pixels(); }
    HDC Dc() const { return dib.Dc(); }

    // GlobalAlloc'ed, zero-filled: BITMAPINFOHEADER plus grey colour table.
    UniqueGlobalMemory header;
    // The DIB section in its memory DC; empty while there is none.
    CMemoryDib dib;
};

// (Re)creates the header, memory DC and DIB section of a canvas record for
// a size. False when the size is not positive, its picture would exceed
// 2 GB, or an allocation fails; the record may then hold a header but
// never pixels.
[[nodiscard]] bool BuildCanvas(FrameCanvas* canvas, int width, int height);

// Releases everything the canvas holds and frees the record.
void DestroyCanvas(FrameCanvas* canvas);

struct FrameCanvasDeleter {
    void operator()(FrameCanvas* canvas) const { DestroyCanvas(canvas); }
};
using FrameCanvasPtr = std::unique_ptr<FrameCanvas, FrameCanvasDeleter>;

// Converts the device's 24-bit BGR frames into the formats Media
// Foundation clients take: NV12 (a plane of luma, then one of interleaved
// U and V at half the width and height) and RGB32 (BGRA with alpha 255).
//
// Pictures are addressed by their top row and a signed row stride in
// bytes, as CFrameScaler does, so a bottom-up DirectShow RGB24 frame passes
// its last memory row and a negative stride; the outputs are written in
// whatever order their own top rows and strides give (Media Foundation
// wants NV12 top-down). The arithmetic (BT.601, limited range) is defined
// once, in frame_converter_kernels.h; the loops exist as plain C++ (the
// reference), for SSE2 and for AVX2 (chosen at run time when the processor
// has it), and all three give exactly the same bytes.
//
// A converter holds no buffers: every call writes straight into the
// caller's planes and allocates nothing, so it may run for every frame.
// It is safe to call from any number of threads at once.
#pragma once

#include <windows.h>

#include <cstddef>

#include "picture/frame_converter_kernels.h"

// A 24-bit BGR picture: its top row and the signed distance in bytes from
// one row to the one below it.
struct Bgr24Picture {
    const BYTE* top;
    ptrdiff_t stride;
    int width;
    int height;
};

// Where an NV12 picture goes: the top rows of the luma plane (width x
// height bytes) and of the chroma plane (height / 2 rows of width bytes,
// U and V alternating), each with its own signed stride.
struct Nv12Planes {
    BYTE* luma;
    ptrdiff_t lumaStride;
    BYTE* chroma;
    ptrdiff_t chromaStride;
};

class CFrameConverter {
public:
    // The loops the converter can run: the scalar reference, SSE2, AVX2.
    enum class Instructions { Scalar, Sse2, Avx2 };
    // Whether this processor (and its operating system) can run a set.
    [[nodiscard]] static bool IsSupported(Instructions instructions);
    // The fastest set this processor can run: what a new converter uses.
    static Instructions Best();
    // "scalar", "SSE2" or "AVX2", for reports.
    static const char* NameOf(Instructions instructions);

    CFrameConverter();

    // Uses another set from the next call on; E_NOTIMPL (and nothing
    // changes) when the processor cannot run it.
    [[nodiscard]] HRESULT UseInstructions(Instructions instructions);
    Instructions CurrentInstructions() const { return m_instructions; }

    // NV12 from a BGR picture. E_POINTER for a null row pointer;
    // E_INVALIDARG for a width or height that is not even and positive (or
    // beyond kMaxFrameDimension), or a stride shorter than a row (3 bytes a
    // pixel for the source, 1 for each plane). Nothing is written then.
    [[nodiscard]] HRESULT ToNv12(const Bgr24Picture& source, const Nv12Planes& target) const;

    // BGRA with alpha 255 from a BGR picture, into the target's top row
    // and signed stride. Any positive size up to kMaxFrameDimension;
    // otherwise the errors of ToNv12, the target's rows being 4 bytes a
    // pixel.
    [[nodiscard]] HRESULT ToRgb32(const Bgr24Picture& source, BYTE* targetTop, ptrdiff_t targetStride) const;

private:
    Instructions m_instructions;
    const frame_converter_kernels::KernelSet* m_kernels;
};

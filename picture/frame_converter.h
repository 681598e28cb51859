// Converts the device's 24-bit BGR frames into every format frames are
// made in (frame_target.h): RGB24 (a copy), RGB32 (BGRA with alpha 255),
// NV12 (a plane of luma, then one of interleaved U and V at half the
// width and height), YUY2 (Y0 U Y1 V for every two pixels of a row) and
// I420 (planes of luma, U and V, the chroma at half the width and height).
//
// Pictures are addressed by their top row and a signed row stride in
// bytes, as CFrameScaler does, so a bottom-up DirectShow RGB24 frame passes
// its last memory row and a negative stride; the outputs are written in
// whatever order their own top rows and strides give (Media Foundation
// wants NV12 top-down). Chroma shared between pixels is the converted
// average of their channels: of each 2 x 2 block for NV12 and I420, of
// each horizontal pair for YUY2. The arithmetic (BT.601, limited range)
// is defined once, in frame_converter_kernels.h; the loops exist as plain
// C++ (the reference), for SSE2 and for AVX2 (chosen at run time when the
// processor has it), and all three give exactly the same bytes.
//
// A converter holds no buffers: every call writes straight into the
// caller's planes and allocates nothing, so it may run for every frame.
// It is safe to call from any number of threads at once.
#pragma once

#include <windows.h>

#include <cstddef>

#include "framework/cpu_features.h"
#include "picture/frame_converter_kernels.h"
#include "picture/frame_target.h"

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
    // The instruction sets of cpu_features: the converter has loops for
    // all three, the scalar reference, SSE2 and AVX2.
    using Instructions = cpu_features::InstructionSet;
    // Whether this processor (and its operating system) can run a set.
    [[nodiscard]] static bool IsSupported(Instructions instructions);
    // The fastest set this processor can run: what a new converter uses,
    // the same set a new CFrameScaler uses.
    static Instructions Best();
    // "scalar", "SSE2" or "AVX2", for reports.
    static const char* NameOf(Instructions instructions) { return cpu_features::NameOf(instructions); }

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

    // The source in the target's format. E_POINTER for a null source row;
    // E_INVALIDARG, and nothing written, for a target that is not
    // IsUsable, a source of another size, or a stride (the source's or a
    // plane's) shorter than a row.
    [[nodiscard]] HRESULT Convert(const Bgr24Picture& source, const FrameTarget& target) const;

    // Convert for rows firstRow..firstRow + rowCount - 1 of the picture
    // only, so that a caller can convert a frame in strips (on several
    // threads, or between other work). For NV12 and I420, whose rows share
    // chroma in pairs, firstRow and rowCount must be even. Beyond the
    // errors of Convert, E_INVALIDARG for rows outside the picture.
    [[nodiscard]] HRESULT ConvertRows(const Bgr24Picture& source, const FrameTarget& target, int firstRow,
                                      int rowCount) const;

    // Black in the target's format: 0 for RGB, with alpha 255 for RGB32;
    // Y 16 with U and V 128 for the YUV formats. E_INVALIDARG for a target
    // that is not IsUsable or has a short stride.
    [[nodiscard]] HRESULT FillBlack(const FrameTarget& target) const;

private:
    Instructions m_instructions;
    const frame_converter_kernels::KernelSet* m_kernels;
};

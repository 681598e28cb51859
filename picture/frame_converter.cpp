#include "picture/frame_converter.h"

#include "framework/com_util.h"
#include "framework/cpu_features.h"
#include "settings/frame_sizes.h"

namespace kernels = frame_converter_kernels;

void frame_converter_kernels::ScalarRowPairColumns(const RowPair& rows, int first) {
    for (int x = first; x < rows.width; x += 2) {
        const size_t offset = static_cast<size_t>(x) * kSourceBytesPerPixel;
        const BYTE* const top = rows.top + offset;
        const BYTE* const bottom = rows.bottom + offset;
        rows.lumaTop[x] = LumaOf(top[0], top[1], top[2]);
        rows.lumaTop[x + 1] = LumaOf(top[3], top[4], top[5]);
        rows.lumaBottom[x] = LumaOf(bottom[0], bottom[1], bottom[2]);
        rows.lumaBottom[x + 1] = LumaOf(bottom[3], bottom[4], bottom[5]);
        const int blue = AverageOfFour(top[0] + top[3] + bottom[0] + bottom[3]);
        const int green = AverageOfFour(top[1] + top[4] + bottom[1] + bottom[4]);
        const int red = AverageOfFour(top[2] + top[5] + bottom[2] + bottom[5]);
        rows.chroma[x] = BlueDifferenceOf(blue, green, red);
        rows.chroma[x + 1] = RedDifferenceOf(blue, green, red);
    }
}

void frame_converter_kernels::ScalarRgb32Columns(const BYTE* source, BYTE* target, int first, int width) {
    for (int x = first; x < width; ++x) {
        const BYTE* const from = source + static_cast<size_t>(x) * kSourceBytesPerPixel;
        BYTE* const to = target + static_cast<size_t>(x) * kRgb32BytesPerPixel;
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
        to[3] = 0xFF;
    }
}

namespace {

void ScalarRowPair(const kernels::RowPair& rows) {
    kernels::ScalarRowPairColumns(rows, 0);
}

void ScalarRgb32Row(const BYTE* source, BYTE* target, int width) {
    kernels::ScalarRgb32Columns(source, target, 0, width);
}

const kernels::KernelSet& KernelsOf(CFrameConverter::Instructions instructions) {
    switch (instructions) {
    case CFrameConverter::Instructions::Scalar:
        return kernels::kScalarKernels;
    case CFrameConverter::Instructions::Sse2:
        return kernels::kSse2Kernels;
    case CFrameConverter::Instructions::Avx2:
        return kernels::kAvx2Kernels;
    }
    return kernels::kScalarKernels;
}

bool IsFrameLength(int length) {
    return length > 0 && length <= kMaxFrameDimension;
}

// Whether a stride reaches past a row of `rowBytes`, in either direction.
bool CoversRow(ptrdiff_t stride, int rowBytes) {
    return stride >= rowBytes || -stride >= rowBytes;
}

BYTE* RowOf(BYTE* top, ptrdiff_t stride, int y) {
    return top + stride * y;
}

const BYTE* RowOf(const BYTE* top, ptrdiff_t stride, int y) {
    return top + stride * y;
}

}  // namespace

const kernels::KernelSet kernels::kScalarKernels = {ScalarRowPair, ScalarRgb32Row};

bool CFrameConverter::IsSupported(Instructions instructions) {
    return instructions != Instructions::Avx2 || cpu_features::HasAvx2();
}

CFrameConverter::Instructions CFrameConverter::Best() {
    return IsSupported(Instructions::Avx2) ? Instructions::Avx2 : Instructions::Sse2;
}

CFrameConverter::CFrameConverter() : m_instructions(Best()), m_kernels(&KernelsOf(m_instructions)) {}

HRESULT CFrameConverter::UseInstructions(Instructions instructions) {
    if (!IsSupported(instructions)) {
        return E_NOTIMPL;
    }
    m_instructions = instructions;
    m_kernels = &KernelsOf(instructions);
    return S_OK;
}

HRESULT CFrameConverter::ToNv12(const Bgr24Picture& source, const Nv12Planes& target) const {
    RETURN_HR_IF(E_POINTER, source.top == nullptr || target.luma == nullptr || target.chroma == nullptr);
    RETURN_HR_IF(E_INVALIDARG, !IsFrameLength(source.width) || !IsFrameLength(source.height) ||
                                   source.width % 2 != 0 || source.height % 2 != 0);
    RETURN_HR_IF(E_INVALIDARG, !CoversRow(source.stride, source.width * kernels::kSourceBytesPerPixel) ||
                                   !CoversRow(target.lumaStride, source.width) ||
                                   !CoversRow(target.chromaStride, source.width));
    kernels::RowPair rows = {};
    rows.width = source.width;
    for (int y = 0; y < source.height; y += 2) {
        rows.top = RowOf(source.top, source.stride, y);
        rows.bottom = RowOf(source.top, source.stride, y + 1);
        rows.lumaTop = RowOf(target.luma, target.lumaStride, y);
        rows.lumaBottom = RowOf(target.luma, target.lumaStride, y + 1);
        rows.chroma = RowOf(target.chroma, target.chromaStride, y / 2);
        m_kernels->rowPair(rows);
    }
    return S_OK;
}

HRESULT CFrameConverter::ToRgb32(const Bgr24Picture& source, BYTE* targetTop, ptrdiff_t targetStride) const {
    RETURN_HR_IF(E_POINTER, source.top == nullptr || targetTop == nullptr);
    RETURN_HR_IF(E_INVALIDARG, !IsFrameLength(source.width) || !IsFrameLength(source.height));
    RETURN_HR_IF(E_INVALIDARG, !CoversRow(source.stride, source.width * kernels::kSourceBytesPerPixel) ||
                                   !CoversRow(targetStride, source.width * kernels::kRgb32BytesPerPixel));
    for (int y = 0; y < source.height; ++y) {
        m_kernels->rgb32Row(RowOf(source.top, source.stride, y), RowOf(targetTop, targetStride, y), source.width);
    }
    return S_OK;
}

const char* CFrameConverter::NameOf(Instructions instructions) {
    switch (instructions) {
    case Instructions::Scalar:
        return "scalar";
    case Instructions::Sse2:
        return "SSE2";
    case Instructions::Avx2:
        return "AVX2";
    }
    return "?";
}

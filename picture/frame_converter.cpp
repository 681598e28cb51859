#include "picture/frame_converter.h"

#include <cstring>

#include "framework/com_util.h"
#include "framework/kernel_table.h"

namespace kernels = frame_converter_kernels;

namespace {

// The scalar conversion of the 2 x 2 blocks of a row pair from column
// `first` on: four lumas, and U and V of the block's averages, handed to
// `writeChroma(x, u, v)` for the block at columns x, x + 1.
template <class WriteChroma>
void ScalarBlocks(const kernels::RowPair& rows, int first, WriteChroma writeChroma) {
    using namespace frame_converter_kernels;
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
        writeChroma(x, BlueDifferenceOf(blue, green, red), RedDifferenceOf(blue, green, red));
    }
}

}  // namespace

void frame_converter_kernels::ScalarNv12Columns(const RowPair& rows, int first) {
    ScalarBlocks(rows, first, [&rows](int x, BYTE u, BYTE v) {
        rows.chroma[x] = u;
        rows.chroma[x + 1] = v;
    });
}

void frame_converter_kernels::ScalarI420Columns(const RowPair& rows, int first) {
    ScalarBlocks(rows, first, [&rows](int x, BYTE u, BYTE v) {
        rows.chroma[x / 2] = u;
        rows.redDifference[x / 2] = v;
    });
}

void frame_converter_kernels::ScalarYuy2Columns(const BYTE* source, BYTE* target, int first, int width) {
    for (int x = first; x < width; x += 2) {
        const BYTE* const from = source + static_cast<size_t>(x) * kSourceBytesPerPixel;
        BYTE* const to = target + static_cast<size_t>(x) * kYuy2BytesPerPixel;
        const int blue = AverageOfTwo(from[0] + from[3]);
        const int green = AverageOfTwo(from[1] + from[4]);
        const int red = AverageOfTwo(from[2] + from[5]);
        to[0] = LumaOf(from[0], from[1], from[2]);
        to[1] = BlueDifferenceOf(blue, green, red);
        to[2] = LumaOf(from[3], from[4], from[5]);
        to[3] = RedDifferenceOf(blue, green, red);
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

void ScalarNv12RowPair(const kernels::RowPair& rows) {
    kernels::ScalarNv12Columns(rows, 0);
}

void ScalarI420RowPair(const kernels::RowPair& rows) {
    kernels::ScalarI420Columns(rows, 0);
}

void ScalarYuy2Row(const BYTE* source, BYTE* target, int width) {
    kernels::ScalarYuy2Columns(source, target, 0, width);
}

void ScalarRgb32Row(const BYTE* source, BYTE* target, int width) {
    kernels::ScalarRgb32Columns(source, target, 0, width);
}

constexpr cpu_features::KernelTable<kernels::KernelSet> kKernelTable(&kernels::kScalarKernels, &kernels::kSse2Kernels,
                                                                     &kernels::kAvx2Kernels);

// Whether a stride reaches past a row of `rowBytes`, in either direction.
bool CoversRow(ptrdiff_t stride, int rowBytes) {
    return stride >= rowBytes || -stride >= rowBytes;
}

// The bytes of one row of a plane of the format at a width (no padding).
int RowBytesOf(PixelFormat format, int width, int plane) {
    switch (format) {
    case PixelFormat::Rgb24:
        return width * kernels::kSourceBytesPerPixel;
    case PixelFormat::Rgb32:
        return width * kernels::kRgb32BytesPerPixel;
    case PixelFormat::Yuy2:
        return width * kernels::kYuy2BytesPerPixel;
    case PixelFormat::Nv12:
        return width;
    case PixelFormat::I420:
        return plane == 0 ? width : width / 2;
    }
    return width;
}

// Whether each of the target's planes has a stride of at least a row.
bool StridesCoverRows(const FrameTarget& target) {
    for (int plane = 0; plane < PlaneCountOf(target.format); ++plane) {
        if (!CoversRow(target.planes[plane].stride, RowBytesOf(target.format, target.width, plane))) {
            return false;
        }
    }
    return true;
}

// The formats whose rows share chroma in pairs (4:2:0).
bool PairsRows(PixelFormat format) {
    return format == PixelFormat::Nv12 || format == PixelFormat::I420;
}

BYTE* RowOf(const FramePlane& plane, int y) {
    return plane.top + plane.stride * y;
}

const BYTE* RowOf(const Bgr24Picture& picture, int y) {
    return picture.top + picture.stride * y;
}

void FillRows(const FramePlane& plane, int rows, int rowBytes, BYTE value) {
    for (int y = 0; y < rows; ++y) {
        std::memset(RowOf(plane, y), value, static_cast<size_t>(rowBytes));
    }
}

}  // namespace

const kernels::KernelSet kernels::kScalarKernels = {ScalarNv12RowPair, ScalarI420RowPair, ScalarYuy2Row,
                                                    ScalarRgb32Row};

bool CFrameConverter::IsSupported(Instructions instructions) {
    return kKernelTable.For(instructions) != nullptr;
}

CFrameConverter::Instructions CFrameConverter::Best() {
    return kKernelTable.Fastest().set;
}

CFrameConverter::CFrameConverter() {
    const auto fastest = kKernelTable.Fastest();
    m_instructions = fastest.set;
    m_kernels = fastest.kernels;
}

HRESULT CFrameConverter::UseInstructions(Instructions instructions) {
    const kernels::KernelSet* chosen = kKernelTable.For(instructions);
    if (chosen == nullptr) {
        return E_NOTIMPL;
    }
    m_instructions = instructions;
    m_kernels = chosen;
    return S_OK;
}

HRESULT CFrameConverter::ToNv12(const Bgr24Picture& source, const Nv12Planes& target) const {
    RETURN_HR_IF(E_POINTER, source.top == nullptr || target.luma == nullptr || target.chroma == nullptr);
    FrameTarget frame;
    frame.format = PixelFormat::Nv12;
    frame.width = source.width;
    frame.height = source.height;
    frame.planes[0] = {target.luma, target.lumaStride};
    frame.planes[1] = {target.chroma, target.chromaStride};
    return Convert(source, frame);
}

HRESULT CFrameConverter::ToRgb32(const Bgr24Picture& source, BYTE* targetTop, ptrdiff_t targetStride) const {
    RETURN_HR_IF(E_POINTER, source.top == nullptr || targetTop == nullptr);
    FrameTarget frame;
    frame.format = PixelFormat::Rgb32;
    frame.width = source.width;
    frame.height = source.height;
    frame.planes[0] = {targetTop, targetStride};
    return Convert(source, frame);
}

HRESULT CFrameConverter::Convert(const Bgr24Picture& source, const FrameTarget& target) const {
    return ConvertRows(source, target, 0, target.height);
}

HRESULT CFrameConverter::ConvertRows(const Bgr24Picture& source, const FrameTarget& target, int firstRow,
                                     int rowCount) const {
    RETURN_HR_IF(E_POINTER, source.top == nullptr);
    RETURN_HR_IF(E_INVALIDARG, !IsUsable(target) || !StridesCoverRows(target));
    RETURN_HR_IF(E_INVALIDARG, source.width != target.width || source.height != target.height ||
                                   !CoversRow(source.stride, source.width * kernels::kSourceBytesPerPixel));
    RETURN_HR_IF(E_INVALIDARG, firstRow < 0 || rowCount < 0 || rowCount > target.height - firstRow);
    RETURN_HR_IF(E_INVALIDARG, PairsRows(target.format) && (firstRow % 2 != 0 || rowCount % 2 != 0));
    const int width = target.width;
    const int end = firstRow + rowCount;
    const FramePlane& first = target.planes[0];
    switch (target.format) {
    case PixelFormat::Rgb24:
        for (int y = firstRow; y < end; ++y) {
            std::memcpy(RowOf(first, y), RowOf(source, y), static_cast<size_t>(width) * kernels::kSourceBytesPerPixel);
        }
        break;
    case PixelFormat::Rgb32:
        for (int y = firstRow; y < end; ++y) {
            m_kernels->rgb32Row(RowOf(source, y), RowOf(first, y), width);
        }
        break;
    case PixelFormat::Yuy2:
        for (int y = firstRow; y < end; ++y) {
            m_kernels->yuy2Row(RowOf(source, y), RowOf(first, y), width);
        }
        break;
    case PixelFormat::Nv12:
    case PixelFormat::I420: {
        const bool planar = target.format == PixelFormat::I420;
        const auto rowPair = planar ? m_kernels->i420RowPair : m_kernels->nv12RowPair;
        kernels::RowPair rows = {};
        rows.width = width;
        for (int y = firstRow; y < end; y += 2) {
            rows.top = RowOf(source, y);
            rows.bottom = RowOf(source, y + 1);
            rows.lumaTop = RowOf(first, y);
            rows.lumaBottom = RowOf(first, y + 1);
            rows.chroma = RowOf(target.planes[1], y / 2);
            rows.redDifference = planar ? RowOf(target.planes[2], y / 2) : nullptr;
            rowPair(rows);
        }
        break;
    }
    }
    return S_OK;
}

HRESULT CFrameConverter::FillBlack(const FrameTarget& target) const {
    RETURN_HR_IF(E_INVALIDARG, !IsUsable(target) || !StridesCoverRows(target));
    const int width = target.width;
    const int height = target.height;
    switch (target.format) {
    case PixelFormat::Rgb24:
        FillRows(target.planes[0], height, RowBytesOf(target.format, width, 0), 0);
        break;
    case PixelFormat::Rgb32:
        for (int y = 0; y < height; ++y) {
            BYTE* const row = RowOf(target.planes[0], y);
            for (int x = 0; x < width; ++x) {
                BYTE* const pixel = row + static_cast<size_t>(x) * kernels::kRgb32BytesPerPixel;
                pixel[0] = 0;
                pixel[1] = 0;
                pixel[2] = 0;
                pixel[3] = 0xFF;
            }
        }
        break;
    case PixelFormat::Yuy2:
        for (int y = 0; y < height; ++y) {
            BYTE* const row = RowOf(target.planes[0], y);
            for (int x = 0; x < width; ++x) {
                row[2 * x] = kernels::kBlackLuma;
                row[2 * x + 1] = kernels::kNeutralChroma;
            }
        }
        break;
    case PixelFormat::Nv12:
        FillRows(target.planes[0], height, width, kernels::kBlackLuma);
        FillRows(target.planes[1], height / 2, width, kernels::kNeutralChroma);
        break;
    case PixelFormat::I420:
        FillRows(target.planes[0], height, width, kernels::kBlackLuma);
        FillRows(target.planes[1], height / 2, width / 2, kernels::kNeutralChroma);
        FillRows(target.planes[2], height / 2, width / 2, kernels::kNeutralChroma);
        break;
    }
    return S_OK;
}

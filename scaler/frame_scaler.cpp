#include "scaler/frame_scaler.h"

#include <algorithm>
#include <new>

#include "framework/kernel_table.h"

namespace kernels = frame_scaler_kernels;

namespace {

bool Within(const RECT& rect, int width, int height) {
    return rect.left >= 0 && rect.top >= 0 && rect.left < rect.right && rect.top < rect.bottom &&
           rect.right <= width && rect.bottom <= height;
}

// No scalar loops: SSE2 is the least any processor the module runs on has.
constexpr cpu_features::KernelTable<kernels::KernelSet> kKernelTable(nullptr, &kernels::kSse2Kernels,
                                                                     &kernels::kAvx2Kernels);

}  // namespace

bool CFrameScaler::IsSupported(Instructions instructions) {
    return kKernelTable.For(instructions) != nullptr;
}

CFrameScaler::Instructions CFrameScaler::Best() {
    return kKernelTable.Fastest().set;
}

CFrameScaler::CFrameScaler() {
    const auto fastest = kKernelTable.Fastest();
    m_instructions = fastest.set;
    m_kernels = fastest.kernels;
}

HRESULT CFrameScaler::UseInstructions(Instructions instructions) {
    const kernels::KernelSet* chosen = kKernelTable.For(instructions);
    if (chosen == nullptr) {
        return E_NOTIMPL;
    }
    m_instructions = instructions;
    m_kernels = chosen;
    Reset();
    return S_OK;
}

std::vector<std::vector<CFrameScaler::Tap>> CFrameScaler::ComputeAxisWeights(int sourceLength, int targetLength) {
    return ::ComputeAxisWeights(sourceLength, targetLength, kWeightOne);
}

bool CFrameScaler::IsPreparedFor(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight) const {
    return IsPreparedFor(sourceWidth, sourceHeight, targetWidth, targetHeight,
                         ComputeFrameGeometry(ScaleMode::Stretch, false, sourceWidth, sourceHeight, targetWidth,
                                              targetHeight));
}

bool CFrameScaler::IsPreparedFor(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                                 const FrameGeometry& geometry) const {
    return m_prepared && m_sourceWidth == sourceWidth && m_sourceHeight == sourceHeight &&
           m_targetWidth == targetWidth && m_targetHeight == targetHeight && m_geometry == geometry;
}

HRESULT CFrameScaler::Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight) {
    return Prepare(sourceWidth, sourceHeight, targetWidth, targetHeight,
                   ComputeFrameGeometry(ScaleMode::Stretch, false, sourceWidth, sourceHeight, targetWidth,
                                        targetHeight));
}

HRESULT CFrameScaler::Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                              const FrameGeometry& geometry) {
    QM_DCHECK_ON_THREAD(m_owner);
    if (sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0 ||
        !Within(geometry.source, sourceWidth, sourceHeight) || !Within(geometry.target, targetWidth, targetHeight)) {
        return E_INVALIDARG;
    }
    if (IsPreparedFor(sourceWidth, sourceHeight, targetWidth, targetHeight, geometry)) {
        return S_OK;
    }
    Reset();
    m_sourceWidth = sourceWidth;
    m_sourceHeight = sourceHeight;
    m_targetWidth = targetWidth;
    m_targetHeight = targetHeight;
    m_geometry = geometry;
    m_columns = static_cast<int>(geometry.source.right - geometry.source.left);
    m_rows = static_cast<int>(geometry.source.bottom - geometry.source.top);
    m_width = static_cast<int>(geometry.target.right - geometry.target.left);
    m_height = static_cast<int>(geometry.target.bottom - geometry.target.top);
    // A checkerboard is finer than the target can show only when the
    // picture shrinks along at least one axis; otherwise it is kept.
    m_correct = (m_width < m_columns || m_height < m_rows) && m_columns >= 2 && m_rows >= 2;
    m_copy = m_width == m_columns && m_height == m_rows;
    m_useWindows = CHorizontalWindowPass::Suits(m_columns, m_width);
    if (m_copy) {
        m_prepared = true;
        return S_OK;
    }
    try {
        Build();
    } catch (const std::bad_alloc&) {
        Reset();
        return E_OUTOFMEMORY;
    }
    m_prepared = true;
    return S_OK;
}

void CFrameScaler::Build() {
    const RECT& source = m_geometry.source;
    m_vertical.Build(source.top, source.bottom, m_height, m_correct);
    if (m_useWindows) {
        m_windowPass.Build(m_columns, m_width, m_geometry.mirror, *m_kernels);
    } else {
        m_pixelPass.Build(m_columns, m_width, m_geometry.mirror, *m_kernels);
        m_horizontalFirst = HorizontalFirstIsLessWork();
        if (!m_horizontalFirst) {
            m_pixelPass.AllocateInputRow();
        } else {
            m_ring.Build(m_width, m_vertical.MostTaps());
            if (m_correct) {
                m_correctedRow.Build(m_columns, m_width, m_pixelPass.FirstColumns(),
                                     m_pixelPass.TapGroups() * kernels::kTapsPerGroup);
            }
        }
    }
    if (m_correct) {
        m_correction.Build(source);
    }
}

bool CFrameScaler::HorizontalFirstIsLessWork() const {
    // Estimated work of the two orders, in vertical taps of one pixel (a
    // pixel pass's group of four taps costs about kPixelGroupCost of them):
    // vertical first filters every source column of each output row;
    // horizontal first runs the pixel pass over every source row. The
    // pixel pass reads whole groups of taps, which a source row must hold.
    constexpr double kPixelGroupCost = 8.0;
    const double verticalTaps = m_vertical.AverageTaps();
    const double pixelPass = kPixelGroupCost * m_pixelPass.TapGroups() * m_width;
    const double verticalFirst = m_height * (m_columns * verticalTaps + pixelPass);
    const double horizontalFirst = m_rows * pixelPass + m_height * (m_width * verticalTaps);
    return horizontalFirst < verticalFirst && m_columns >= m_pixelPass.TapGroups() * kernels::kTapsPerGroup;
}

void CFrameScaler::Reset() {
    m_prepared = false;
    m_sourceWidth = m_sourceHeight = m_targetWidth = m_targetHeight = 0;
    m_geometry = {};
    m_columns = m_rows = m_width = m_height = 0;
    m_copy = m_useWindows = m_horizontalFirst = m_correct = false;
    m_vertical.Clear();
    m_windowPass.Clear();
    m_pixelPass.Clear();
    m_ring.Clear();
    m_correction.Clear();
    m_correctedRow.Clear();
}

void CFrameScaler::Scale(const BYTE* sourceTop, ptrdiff_t sourceStride, BYTE* targetTop, ptrdiff_t targetStride) {
    ScaleBand(sourceTop, sourceStride, targetTop, targetStride, 0, m_targetHeight);
}

void CFrameScaler::ScaleBand(const BYTE* sourceTop, ptrdiff_t sourceStride, BYTE* bandTop, ptrdiff_t bandStride,
                             int bandFirst, int bandRows) {
    QM_DCHECK_ON_THREAD(m_owner);
    if (!m_prepared || sourceTop == nullptr || bandTop == nullptr || bandRows <= 0) {
        return;
    }
    if (bandFirst == 0) {
        // A new frame.
        m_correction.Forget();
        m_filtered = static_cast<int>(m_geometry.source.top);
    }
    // The rectangle's rows within the band.
    const int top = static_cast<int>(m_geometry.target.top);
    const int first = (std::max)(0, bandFirst - top);
    const int end = (std::min)(m_height, bandFirst + bandRows - top);
    if (first >= end) {
        return;
    }
    const Band band = {bandTop, bandStride, bandFirst, first, end};
    if (m_copy) {
        Copy(sourceTop, sourceStride, band);
    } else if (m_horizontalFirst) {
        ScaleHorizontalFirst(sourceTop, sourceStride, band);
    } else {
        ScaleVerticalFirst(sourceTop, sourceStride, band);
    }
}

BYTE* CFrameScaler::TargetRow(const Band& band, int y) const {
    return band.top + (m_geometry.target.top + y - band.bandFirst) * band.stride +
           static_cast<ptrdiff_t>(m_geometry.target.left) * kernels::kBytesPerTargetPixel;
}

void CFrameScaler::ScaleVerticalFirst(const BYTE* sourceTop, ptrdiff_t sourceStride, const Band& band) {
    const size_t left = static_cast<size_t>(m_geometry.source.left) * kernels::kBytesPerPixel;
    const auto sourceRow = [sourceTop, sourceStride, left](int row) { return sourceTop + row * sourceStride + left; };
    for (int y = band.first; y < band.end; ++y) {
        kernels::VerticalRow vertical = m_vertical.Arrange(y, sourceRow);
        vertical.pixels = m_columns;
        m_vertical.Prefetch(y, sourceRow, vertical);
        const int16_t leak = m_vertical.Leak(y);
        if (leak != 0) {
            const int tileBand = m_vertical.Band(y);
            if (tileBand != m_correction.Band()) {
                m_correction.Prepare(sourceTop, sourceStride, tileBand, *m_kernels);
            }
            m_correction.ApplyTo(leak, vertical);
        }
        BYTE* target = TargetRow(band, y);
        if (m_useWindows) {
            m_windowPass.TakeOutputOf(vertical);
            m_kernels->vertical(vertical);
            m_windowPass.Run(target, *m_kernels);
        } else {
            m_pixelPass.TakeOutputOf(vertical);
            m_kernels->vertical(vertical);
            m_pixelPass.Run(target, *m_kernels);
        }
    }
}

void CFrameScaler::ScaleHorizontalFirst(const BYTE* sourceTop, ptrdiff_t sourceStride, const Band& band) {
    // Source rows pass the pixel pass once each, in order, into the ring;
    // how far they went is kept from band to band.
    const auto ringRow = [this](int row) -> const BYTE* { return m_ring.Row(row); };
    for (int y = band.first; y < band.end; ++y) {
        for (const int last = m_vertical.LastSource(y); m_filtered <= last; ++m_filtered) {
            FilterSourceRow(sourceTop, sourceStride, m_filtered);
        }
        kernels::VerticalRow vertical = m_vertical.Arrange(y, ringRow);
        vertical.pixels = m_width;
        vertical.target = TargetRow(band, y);
        m_kernels->vertical(vertical);
    }
}

void CFrameScaler::Copy(const BYTE* sourceTop, ptrdiff_t sourceStride, const Band& band) {
    kernels::CopyRow row = {};
    row.pixels = m_width;
    row.mirror = m_geometry.mirror;
    for (int y = band.first; y < band.end; ++y) {
        row.source = sourceTop + (m_geometry.source.top + y) * sourceStride +
                     static_cast<ptrdiff_t>(m_geometry.source.left) * kernels::kBytesPerPixel;
        row.target = TargetRow(band, y);
        m_kernels->copy(row);
    }
}

void CFrameScaler::FilterSourceRow(const BYTE* sourceTop, ptrdiff_t sourceStride, int row) {
    const BYTE* source =
        sourceTop + row * sourceStride + static_cast<ptrdiff_t>(m_geometry.source.left) * kernels::kBytesPerPixel;
    const BYTE* corrected = nullptr;
    const BYTE* blockFlags = nullptr;
    if (m_correct) {
        const int band = (row - static_cast<int>(m_geometry.source.top)) / kernels::kTileSize;
        if (band != m_correction.Band()) {
            m_correction.Prepare(sourceTop, sourceStride, band, *m_kernels);
            m_correctedRow.FlagBlocks(m_correction.Spans());
        }
        if (!m_correction.Spans().empty()) {
            m_correctedRow.Correct(source, kernels::SignOfParity(row), m_correction, *m_kernels);
            corrected = m_correctedRow.Copy();
            blockFlags = m_correctedRow.BlockFlags();
        }
    }
    m_pixelPass.Filter(source, corrected, blockFlags, m_ring.Row(row), *m_kernels);
}

#include "scaler/horizontal_first_ring.h"

#include "scaler/frame_scaler_kernels.h"

namespace kernels = frame_scaler_kernels;

void CHorizontalFirstRing::Build(int width, int rows) {
    Clear();
    const size_t blocks = static_cast<size_t>(width + kernels::kBlockPixels - 1) / kernels::kBlockPixels;
    m_stride = (blocks * kernels::kBlockPixels + kernels::kSlackPixels) * kernels::kBytesPerPixel;
    m_rows.assign(m_stride * static_cast<size_t>(rows), 0);
    m_count = rows;
}

void CHorizontalFirstRing::Clear() {
    m_rows.clear();
    m_stride = 0;
    m_count = 1;
}

#include "capture/sample_target.h"

#include <wrl/client.h>

#include <cstring>

#include "framework/com_util.h"

FrameTarget TargetOfSample(IMediaSample* sample, PixelFormat format, int width, int height) {
    BYTE* buffer = nullptr;
    const size_t frameBytes = LayoutOf(format, width, height).imageBytes;
    if (sample == nullptr || frameBytes == 0 || FAILED(sample->GetPointer(&buffer)) || buffer == nullptr) {
        return TargetOf(format, width, height, nullptr, false);
    }
    // A smaller sample is left untouched rather than half filled.
    const long size = sample->GetSize();
    if (size < 0 || static_cast<size_t>(size) < frameBytes) {
        buffer = nullptr;
    }
    return TargetOf(format, width, height, buffer, true);
}

void SetFrameLength(IMediaSample* sample, const FrameTarget& target) {
    const size_t frameBytes = LayoutOf(target.format, target.width, target.height).imageBytes;
    if (sample != nullptr && frameBytes != 0) {
        QM_IGNORE(sample->SetActualDataLength(static_cast<long>(frameBytes)), "the length fits the buffer");
    }
}

void WarmBuffers(IMemAllocator* allocator) {
    constexpr int kMostTouched = 8;
    // Held until all are written, so that each GetBuffer gives another.
    Microsoft::WRL::ComPtr<IMediaSample> held[kMostTouched];
    for (int i = 0; i < kMostTouched && allocator != nullptr; ++i) {
        if (FAILED(allocator->GetBuffer(&held[i], nullptr, nullptr, AM_GBF_NOWAIT))) {
            break;
        }
        BYTE* data = nullptr;
        const long size = held[i]->GetSize();
        if (SUCCEEDED(held[i]->GetPointer(&data)) && data != nullptr && size > 0) {
            std::memset(data, 0, static_cast<size_t>(size));
        }
    }
}

#include "scaler/axis_weights.h"

#include <algorithm>
#include <cmath>

namespace {

struct WeightedTap {
    int index;
    double weight;
};

std::vector<WeightedTap> ShrinkTaps(int sourceLength, int targetLength, int position) {
    const double ratio = static_cast<double>(sourceLength) / targetLength;
    const double lo = position * ratio;
    const double hi = std::min(static_cast<double>(sourceLength), (position + 1) * ratio);
    const int first = static_cast<int>(std::floor(lo));
    const int last = std::min(sourceLength - 1, static_cast<int>(std::ceil(hi)) - 1);
    std::vector<WeightedTap> taps;
    for (int i = first; i <= last; ++i) {
        const double overlap = std::min(hi, i + 1.0) - std::max(lo, static_cast<double>(i));
        taps.push_back({i, std::max(0.0, overlap) / ratio});
    }
    return taps;
}

std::vector<WeightedTap> EnlargeTaps(int sourceLength, int targetLength, int position) {
    const double u = (position + 0.5) * sourceLength / targetLength - 0.5;
    const int left = static_cast<int>(std::floor(u));
    const double fraction = u - left;
    const int a = std::clamp(left, 0, sourceLength - 1);
    const int b = std::clamp(left + 1, 0, sourceLength - 1);
    if (a == b) {
        return {{a, 1.0}};
    }
    return {{a, 1.0 - fraction}, {b, fraction}};
}

std::vector<WeightedTap> Taps(int sourceLength, int targetLength, int position) {
    if (targetLength < sourceLength) {
        return ShrinkTaps(sourceLength, targetLength, position);
    }
    if (targetLength > sourceLength) {
        return EnlargeTaps(sourceLength, targetLength, position);
    }
    return {{position, 1.0}};
}

std::vector<AxisTap> Quantize(const std::vector<WeightedTap>& taps, int one) {
    std::vector<AxisTap> result;
    double running = 0.0;
    long previous = 0;
    for (const WeightedTap& tap : taps) {
        running += tap.weight * one;
        const long rounded = std::lround(running);
        result.push_back({tap.index, static_cast<int>(rounded - previous)});
        previous = rounded;
    }
    result.back().weight += static_cast<int>(one - previous);
    while (result.size() > 1 && result.back().weight == 0) {
        result.pop_back();
    }
    while (result.size() > 1 && result.front().weight == 0) {
        result.erase(result.begin());
    }
    return result;
}

}  // namespace

AxisWeights ComputeAxisWeights(int sourceLength, int targetLength, int one) {
    AxisWeights axis;
    axis.reserve(static_cast<size_t>(targetLength));
    for (int position = 0; position < targetLength; ++position) {
        axis.push_back(Quantize(Taps(sourceLength, targetLength, position), one));
    }
    return axis;
}

// The weights of one axis of a scaling: for each output position, the
// source pixels it takes (its taps) and their weights in fixed point.
// Shrinking averages areas: each source pixel weighs the fraction of the
// output pixel it covers. Enlarging interpolates linearly between the two
// source pixels nearest the output pixel's centre (pixel centres map onto
// each other; the outermost output pixels repeat the edge pixels). The
// same length copies.
#pragma once

#include <vector>

struct AxisTap {
    // Source index.
    int index;
    // In units of 1 / one (see ComputeAxisWeights).
    int weight;
};

using AxisWeights = std::vector<std::vector<AxisTap>>;

// Per output position, its taps in increasing source index. Their weights
// sum to exactly `one`: each is the step between rounded running sums, so
// none is off by a whole unit however many there are. Zero weights at
// either end are dropped. Throws std::bad_alloc.
AxisWeights ComputeAxisWeights(int sourceLength, int targetLength, int one);

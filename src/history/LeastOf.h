#pragma once

#include <limits>

#include "common/VectorClones.h"

// The least of values[from .. to) (the largest finite double for an empty
// range), found lane by lane so that it vectorises; the least value is the
// same whatever the order of comparison.
TANDEMTREE_INLINE_INTO_CLONES double leastOf(const double* __restrict values, int from, int to) {
    constexpr int kLanes = 8;
    double lane[kLanes];
    for (double& l : lane) l = std::numeric_limits<double>::max();
    int q = from;
    for (; q + kLanes <= to; q += kLanes)
        for (int i = 0; i < kLanes; ++i) lane[i] = values[q + i] < lane[i] ? values[q + i] : lane[i];
    double least = std::numeric_limits<double>::max();
    for (; q < to; ++q) least = values[q] < least ? values[q] : least;
    for (double l : lane) least = l < least ? l : least;
    return least;
}

#pragma once

#include <algorithm>
#include <vector>

#include "history/VectorClones.h"

// The candidate blocks (start s, size j) over k positions, 1 <= j <= k/2 and
// s + 2j <= k, pair positions s+c with s+j+c. A criterion scores a candidate
// by the mean of one value per pair, the values of a size-j block lying on
// diagonal j (pairs (p, p+j)).
//
// A candidate's sum is slid from start to start as a plain scan would do it:
// the first start of a size adds its j pair values in order from zero; each
// later start first takes away the pair that leaves (s-1, s+j-1) and then adds
// the one that enters (s+j-1, s+2j-1). The work is ordered by rows instead of
// by candidates: the entering pair (r, r+j) and the leaving pair (r-j, r),
// by symmetry (r, r-j), both lie in row r, so every row of values is read
// once, contiguously, and the sums of all sizes advance together.
//
// `rowValues(r, lo, hi)` returns a pointer v with v[q] the value of pair
// (r, q) for lo <= q < hi (v[r] is never read). `isBetter(mean, held)` says
// whether a candidate replaces the one held. For each size the first start
// with the best mean is kept; the result is the candidate that a scan by size
// ascending, then start ascending, keeping the first best, would return.
template <typename Value, typename RowValues, typename MeanOf, typename IsBetter>
TANDEMTREE_INLINE_INTO_CLONES void scanBlocks(int k, double initialBest, RowValues rowValues, MeanOf meanOf, IsBetter isBetter, int& start,
                int& size) {
    const int half = k / 2;
    const std::size_t slots = static_cast<std::size_t>(half) + 1;
    std::vector<Value> sums(slots, Value(0));
    std::vector<double> bestMean(slots, initialBest);
    std::vector<int> bestStart(slots, -1);
    Value* __restrict sum = sums.data();
    double* __restrict held = bestMean.data();
    int* __restrict heldStart = bestStart.data();
    for (int r = 0; r < k; ++r) {
        const int lo = std::max(0, r - half);
        const int hi = std::min(k, r + half + 1);
        const Value* __restrict v = rowValues(r, lo, hi);
        // Sizes j > r: row r gives the pair c = r of the first start's sum;
        // at r = j - 1 that sum is complete.
        for (int j = r + 1; j <= half; ++j) sum[j] += v[r + j];
        if (r + 1 <= half) {
            const double mean = meanOf(sum[r + 1], r + 1);
            if (isBetter(mean, held[r + 1])) {
                held[r + 1] = mean;
                heldStart[r + 1] = 0;
            }
        }
        // Sizes j <= r: the start s = r - j + 1, valid while s + 2j <= k.
        const int last = std::min({r, k - 1 - r, half});
        for (int j = 1; j <= last; ++j) {
            Value s = sum[j];
            s -= v[r - j];
            s += v[r + j];
            sum[j] = s;
            const double mean = meanOf(s, j);
            const bool better = isBetter(mean, held[j]);
            held[j] = better ? mean : held[j];
            heldStart[j] = better ? r - j + 1 : heldStart[j];
        }
    }
    double best = initialBest;
    start = 0;
    size = 1;
    for (int j = 1; j <= half; ++j) {
        if (heldStart[j] >= 0 && isBetter(held[j], best)) {
            best = held[j];
            start = heldStart[j];
            size = j;
        }
    }
}

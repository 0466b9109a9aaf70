#pragma once

#include <algorithm>
#include <limits>
#include <vector>

#include "common/VectorClones.h"
#include "history/BlockCriterion.h"
#include "history/LeastOf.h"

// The candidate blocks (start s, size j) over k positions, 1 <= j <= k/2 and
// s + 2j <= k, pair positions s+c with s+j+c. A criterion scores a candidate
// from the sum of one value per pair, the values of a size-j block lying on
// diagonal j (pairs (p, p+j)), and chooses the candidate with the least key;
// between equal keys the one first in the order size ascending, then start
// ascending, wins, as in a scan of the candidates in that order that keeps the
// first best.
//
// A candidate's sum is slid from start to start as that scan does it: the
// first start of a size adds its j pair values in order from zero; each later
// start first takes away the pair that leaves (s-1, s+j-1) and then adds the
// one that enters (s+j-1, s+2j-1). The work is ordered by rows instead of by
// candidates: the entering pair (r, r+j) and the leaving pair (r-j, r), by
// symmetry (r, r-j), both lie in row r, so every row of values is read once,
// contiguously, and the sums of all sizes advance together.
//
// `scratch` holds the running sums between calls, so that a criterion makes
// them once per reconstruction rather than once per step.
//
// `rowValues(r, lo, hi)` returns a pointer v with v[q] the value of pair
// (r, q) for lo <= q < hi (v[r] is never read); `keyOf(sum, j)` gives a
// candidate's key from its sum and its size as a double.
struct BlockScanScratch {
    std::vector<double> sums;
    std::vector<double> sizes;
    std::vector<double> keys;
};

template <typename RowValues, typename KeyOf>
TANDEMTREE_INLINE_INTO_CLONES CandidateBlock scanBlocks(int k, RowValues rowValues, KeyOf keyOf,
                                                        BlockScanScratch& scratch) {
    const int half = k / 2;
    const std::size_t slots = static_cast<std::size_t>(half) + 1;
    scratch.sums.assign(slots, 0.0);
    scratch.keys.resize(slots);
    if (scratch.sizes.size() < slots) {
        const std::size_t known = scratch.sizes.size();
        scratch.sizes.resize(slots);
        for (std::size_t j = known; j < slots; ++j) scratch.sizes[j] = static_cast<double>(j);
    }
    double* __restrict sum = scratch.sums.data();
    const double* __restrict jd = scratch.sizes.data();
    double* __restrict key = scratch.keys.data();

    double bestKey = std::numeric_limits<double>::infinity();
    int bestSize = 0;
    int bestStart = 0;
    // Whether (j, s) with key x comes before the candidate held.
    auto offer = [&](double x, int j, int s) {
        if (x < bestKey || (x == bestKey && (j < bestSize || (j == bestSize && s < bestStart)))) {
            bestKey = x;
            bestSize = j;
            bestStart = s;
        }
    };
    for (int r = 0; r < k; ++r) {
        // Row r enters pair (r, r+j) for the sizes still adding their first
        // start (j > r) and, together with leaving pair (r, r-j), slides
        // the sizes j <= last; nothing else of the row is read.
        const int last = std::min({r, k - 1 - r, half});
        const int lo = r - last;
        const int hi = r + std::max(last, r < half ? half : 0) + 1;
        const double* __restrict v = rowValues(r, lo, hi);
        // Sizes j > r: row r gives the pair c = r of the first start's sum;
        // at r = j - 1 that sum is complete.
        for (int j = r + 1; j <= half; ++j) sum[j] += v[r + j];
        if (r + 1 <= half) offer(keyOf(sum[r + 1], jd[r + 1]), r + 1, 0);
        // Sizes j <= r: the start s = r - j + 1, valid while s + 2j <= k.
        if (last < 1) continue;
        for (int j = 1; j <= last; ++j) {
            double s = sum[j];
            s -= v[r - j];
            s += v[r + j];
            sum[j] = s;
            key[j] = keyOf(s, jd[j]);
        }
        // Only the least key of the row can improve on the candidate held,
        // and of its sizes only the smallest.
        const double least = leastOf(key, 1, last + 1);
        if (least > bestKey) continue;
        int j = 1;
        while (key[j] != least) ++j;
        offer(least, j, r - j + 1);
    }
    return {bestStart, bestSize};
}

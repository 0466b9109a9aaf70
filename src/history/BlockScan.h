#pragma once

#include <algorithm>
#include <limits>
#include <vector>

#include "common/VectorClones.h"
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
//
// The scratch is sized by prepare(k) before the scan: an exception cannot
// leave a function compiled once per vector instruction set (the program
// would end), so the scan itself allocates nothing.
struct BlockScanScratch {
    std::vector<double> sums;
    std::vector<double> sizes;  // sizes[j] = j
    std::vector<double> keys;

    void prepare(int k) {
        const std::size_t slots = static_cast<std::size_t>(k / 2) + 1;
        if (sums.size() < slots) sums.resize(slots);
        if (keys.size() < slots) keys.resize(slots);
        for (std::size_t j = sizes.size(); j < slots; ++j) sizes.push_back(static_cast<double>(j));
    }
};

// The best candidate of a scan: its key, size and start.
struct ScannedBlock {
    double key = std::numeric_limits<double>::infinity();
    int size = 0;
    int start = 0;

    // Whether candidate (x, j, s) comes before this one: a smaller key, or
    // the same key and an earlier place in the order size, then start.
    bool after(double x, int j, int s) const { return x < key || (x == key && (j < size || (j == size && s < start))); }
    void offer(double x, int j, int s) {
        if (after(x, j, s)) *this = {x, j, s};
    }
};

// The scan over the sizes first .. lastSize alone (1 <= first, lastSize <=
// k/2), so that the sizes can be shared among threads: every size slides its
// own windows, and the best of several ranges, combined with ScannedBlock's
// order, is the best of their union. Each row is read only where these sizes
// need it (`rowValues` may be called twice for a row, for the two sides).
template <typename RowValues, typename KeyOf>
TANDEMTREE_INLINE_INTO_CLONES ScannedBlock scanBlockSizes(int k, int first, int lastSize, RowValues rowValues,
                                                          KeyOf keyOf, BlockScanScratch& scratch) {
    const int half = k / 2;
    const std::size_t slots = static_cast<std::size_t>(half) + 1;
    std::fill(scratch.sums.begin(), scratch.sums.begin() + static_cast<std::ptrdiff_t>(slots), 0.0);
    double* __restrict sum = scratch.sums.data();
    const double* __restrict jd = scratch.sizes.data();
    double* __restrict key = scratch.keys.data();

    ScannedBlock best;
    for (int r = 0; r < k; ++r) {
        // Row r enters pair (r, r+j) for the sizes still adding their first
        // start (j > r) and, together with leaving pair (r, r-j), slides
        // the sizes j <= last; nothing else of the row is read.
        const int last = std::min({r, k - 1 - r, half});
        const int slideTo = std::min(last, lastSize);
        const int openFrom = std::max(r + 1, first);
        const bool slides = slideTo >= first;
        const bool opens = openFrom <= lastSize;
        if (!slides && !opens) continue;
        const int right = std::max(slides ? slideTo : 0, opens ? lastSize : 0);
        const double* __restrict v = rowValues(r, r + first, r + right + 1);
        if (slides) v = rowValues(r, r - slideTo, r - first + 1);
        // Sizes j > r: row r gives the pair c = r of the first start's sum;
        // at r = j - 1 that sum is complete.
        for (int j = openFrom; j <= lastSize; ++j) sum[j] += v[r + j];
        if (r + 1 >= first && r + 1 <= lastSize) best.offer(keyOf(sum[r + 1], jd[r + 1]), r + 1, 0);
        // Sizes j <= r: the start s = r - j + 1, valid while s + 2j <= k.
        if (!slides) continue;
        for (int j = first; j <= slideTo; ++j) {
            double s = sum[j];
            s -= v[r - j];
            s += v[r + j];
            sum[j] = s;
            key[j] = keyOf(s, jd[j]);
        }
        // Only the least key of the row can improve on the candidate held,
        // and of its sizes only the smallest.
        const double least = leastOf(key, first, slideTo + 1);
        if (least > best.key) continue;
        int j = first;
        while (key[j] != least) ++j;
        best.offer(least, j, r - j + 1);
    }
    return best;
}

#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/VectorClones.h"
#include "history/LeastOf.h"

// The candidate blocks (start s, size j) over k positions, 1 <= j <= k/2 and
// s + 2j <= k, pair positions s+c with s+j+c. A criterion scores a candidate
// by the mean of one value per pair (their sum divided by j), the values of a
// size-j block lying on diagonal j (pairs (p, p+j)), and the candidate with
// the least mean is chosen; between equal means the one first in the order
// size ascending, then start ascending, wins, as in a scan of the candidates
// in that order that keeps the first best.
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
// The rows are read in groups of kRowsAtOnce: `fillRows(r, count, lo, hi,
// out, stride)` writes the value of pair (r + t, q) to out[t * stride + q]
// for 0 <= t < count and lo <= q < hi (a value at q = r + t is never read).
// Several rows streamed from memory side by side keep more of the table in
// flight than one row at a time, and reading the table is what bounds the
// scan.
//
// A row's means are worked out only where one of them may reach the
// candidate held: its sums are first compared with the products that
// `MeanBound` gives, which needs no division.
//
// The scratch is sized by prepare(k) before the scan: an exception cannot
// leave a function compiled once per vector instruction set (the program
// would end), so the scan itself allocates nothing.
struct BlockScanScratch {
    static constexpr int kRowsAtOnce = 4;
    std::vector<double> sums;
    std::vector<double> sizes;  // sizes[j] = j
    std::vector<double> keys;
    std::vector<double> rows;  // a group's values, row after row, k apart

    void prepare(int k) {
        const std::size_t slots = static_cast<std::size_t>(k / 2) + 1;
        if (sums.size() < slots) sums.resize(slots);
        if (keys.size() < slots) keys.resize(slots);
        const std::size_t cells = static_cast<std::size_t>(kRowsAtOnce) * static_cast<std::size_t>(k);
        if (rows.size() < cells) rows.resize(cells);
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

// For the mean m of the candidate held: a factor c such that any sum s of j
// values with s > c * j (as computed) has a mean s / j above m (as
// computed), so that it need not be divided. c lies a little above m:
// m + |m| 2^-40 exceeds the next double above m by enough that the rounding
// of the product cannot bring c * j below j times it, for any j (and the
// division rounds upwards of that). Away from the ordinary range of values
// (zero, infinite, tiny or huge m) c is NaN, no sum compares above it, and
// every mean is worked out.
struct MeanBound {
    double factor;
    explicit MeanBound(double mean) {
        const double size = mean < 0 ? -mean : mean;
        const bool ordinary = size >= 0x1p-900 && size <= 0x1p900;
        factor = ordinary ? mean + size * 0x1p-40 : std::numeric_limits<double>::quiet_NaN();
    }
};

// The scan over the sizes first .. lastSize alone (1 <= first, lastSize <=
// k/2), so that the sizes can be shared among threads: every size slides its
// own windows, and the best of several ranges, combined with ScannedBlock's
// order, is the best of their union. Each row is read only where these sizes
// need it (a group of rows may be filled twice, left of the diagonal and
// right of it, when the sizes leave a stretch between the two unread).
template <typename FillRows>
TANDEMTREE_INLINE_INTO_CLONES ScannedBlock scanBlockSizes(int k, int first, int lastSize, FillRows fillRows,
                                                          BlockScanScratch& scratch) {
    const int half = k / 2;
    const std::size_t slots = static_cast<std::size_t>(half) + 1;
    std::fill(scratch.sums.begin(), scratch.sums.begin() + static_cast<std::ptrdiff_t>(slots), 0.0);
    double* __restrict sum = scratch.sums.data();
    const double* __restrict jd = scratch.sizes.data();
    double* __restrict key = scratch.keys.data();

    // What row r reads: for the sizes still adding their first start
    // (j > r), pair (r, r+j); for the sizes j <= last that slide, the
    // leaving pair (r, r-j) and the entering (r, r+j). Nothing else.
    struct RowReads {
        int slideTo, openFrom;
        bool slides, opens;
        int right;
    };
    const auto readsOf = [&](int r) {
        RowReads reads;
        const int last = std::min({r, k - 1 - r, half});
        reads.slideTo = std::min(last, lastSize);
        reads.openFrom = std::max(r + 1, first);
        reads.slides = reads.slideTo >= first;
        reads.opens = reads.openFrom <= lastSize;
        reads.right = std::max(reads.slides ? reads.slideTo : 0, reads.opens ? lastSize : 0);
        return reads;
    };
    constexpr int kGroup = BlockScanScratch::kRowsAtOnce;
    const std::size_t stride = static_cast<std::size_t>(k);
    ScannedBlock best;
    MeanBound bound(best.key);
    // Offers a candidate; the bound follows the candidate held.
    const auto offer = [&](double mean, int j, int start) {
        if (!best.after(mean, j, start)) return;
        best = {mean, j, start};
        bound = MeanBound(mean);
    };
    for (int g = 0; g < k; g += kGroup) {
        const int end = std::min(k, g + kGroup);
        // The group's values on each side of the diagonal, over the union
        // of what its rows read there, in ascending position: one stretch
        // when the two sides meet.
        int leftLo = k, leftHi = 0, rightLo = k, rightHi = 0;
        for (int r = g; r < end; ++r) {
            const RowReads reads = readsOf(r);
            if (reads.slides) {
                leftLo = std::min(leftLo, r - reads.slideTo);
                leftHi = std::max(leftHi, r - first + 1);
            }
            if (reads.slides || reads.opens) {
                rightLo = std::min(rightLo, r + first);
                rightHi = std::max(rightHi, r + reads.right + 1);
            }
        }
        if (rightLo >= rightHi) continue;  // none of the group's rows reads anything
        double* const values = scratch.rows.data();
        if (leftLo < leftHi && leftHi >= rightLo) {
            fillRows(g, end - g, leftLo, rightHi, values, stride);
        } else {
            if (leftLo < leftHi) fillRows(g, end - g, leftLo, leftHi, values, stride);
            fillRows(g, end - g, rightLo, rightHi, values, stride);
        }
        for (int r = g; r < end; ++r) {
            const RowReads reads = readsOf(r);
            const int slideTo = reads.slideTo;
            const int openFrom = reads.openFrom;
            const bool slides = reads.slides;
            if (!slides && !reads.opens) continue;
            const double* __restrict v = values + static_cast<std::size_t>(r - g) * stride;
            // Sizes j > r: row r gives the pair c = r of the first start's
            // sum; at r = j - 1 that sum is complete.
            for (int j = openFrom; j <= lastSize; ++j) sum[j] += v[r + j];
            if (r + 1 >= first && r + 1 <= lastSize) offer(sum[r + 1] / jd[r + 1], r + 1, 0);
            // Sizes j <= r: the start s = r - j + 1, valid while s + 2j <= k.
            if (!slides) continue;
            // Whether some mean of the row may reach the one held (wide
            // enough to be or-ed in the vector lanes).
            const double factor = bound.factor;
            std::int64_t reaches = 0;
            for (int j = first; j <= slideTo; ++j) {
                double s = sum[j];
                s -= v[r - j];
                s += v[r + j];
                sum[j] = s;
                reaches |= s > factor * jd[j] ? 0 : 1;
            }
            if (reaches == 0) continue;  // every mean of the row above the one held
            for (int j = first; j <= slideTo; ++j) key[j] = sum[j] / jd[j];
            // Only the least mean of the row can improve on the candidate
            // held, and of its sizes only the smallest.
            const double least = leastOf(key, first, slideTo + 1);
            if (least > best.key) continue;
            int j = first;
            while (key[j] != least) ++j;
            offer(least, j, r - j + 1);
        }
    }
    return best;
}

#pragma once

#include <cstddef>

#include "common/VectorClones.h"
#include "history/WorkingDistanceTable.h"

// Pair scores of the current segments: Q(p, q) = d(p, q) - (r_p + r_q) / (k - 2),
// where r_p is the sum of the distances from p to all k segments, added in
// ascending order from 0.0. Needs k >= 3.
class PairScores {
public:
    explicit PairScores(const WorkingDistanceTable& table)
        : table_(table),
          rowSums_(table.rowSums()),
          divisor_(static_cast<double>(table.size() - 2)),
          runs_(table.columnRuns().data()),
          runCount_(static_cast<int>(table.columnRuns().size())) {}

    // out[q] = Q(p, q) for from <= q < to (out[p] gets a value of no meaning).
    TANDEMTREE_INLINE_INTO_CLONES void fillRow(int p, int from, int to, double* __restrict out) const {
        const double* cells = table_.row(p);
        const double* sums = rowSums_;
        const double rp = sums[p];
        const double divisor = divisor_;
        // Run by run (see ColumnRun), written out here rather than through a
        // helper so that it is compiled for each vector instruction set.
        for (int i = 0; i < runCount_; ++i) {
            const int lo = from > runs_[i].begin ? from : runs_[i].begin;
            const int next = i + 1 < runCount_ ? runs_[i + 1].begin : to;
            const int hi = to < next ? to : next;
            const double* row = cells + runs_[i].offset;
            for (int q = lo; q < hi; ++q) out[q] = row[q] - (rp + sums[q]) / divisor;
            if (hi >= to) break;
        }
    }

    // Rows filled side by side by fillRows.
    static constexpr int kRowsAtOnce = 4;

    // out[t * stride + q] = Q(p + t, q) for 0 <= t < count and from <= q <
    // to, the same values as fillRow's. Rows kRowsAtOnce at a time are read
    // in one loop, so that as many streams from memory are in flight.
    TANDEMTREE_INLINE_INTO_CLONES void fillRows(int p, int count, int from, int to, double* __restrict out,
                                                std::size_t stride) const {
        for (int t0 = 0; t0 < count; t0 += kRowsAtOnce) {
            if (count - t0 < kRowsAtOnce) {
                for (int t = t0; t < count; ++t) fillRow(p + t, from, to, out + static_cast<std::size_t>(t) * stride);
                break;
            }
            const double* sums = rowSums_;
            const double divisor = divisor_;
            double rp[kRowsAtOnce];
            for (int t = 0; t < kRowsAtOnce; ++t) rp[t] = sums[p + t0 + t];
            for (int i = 0; i < runCount_; ++i) {
                const int lo = from > runs_[i].begin ? from : runs_[i].begin;
                const int next = i + 1 < runCount_ ? runs_[i + 1].begin : to;
                const int hi = to < next ? to : next;
                const double* row[kRowsAtOnce];
                double* dest[kRowsAtOnce];
                for (int t = 0; t < kRowsAtOnce; ++t) {
                    row[t] = table_.row(p + t0 + t) + runs_[i].offset;
                    dest[t] = out + static_cast<std::size_t>(t0 + t) * stride;
                }
                for (int q = lo; q < hi; ++q) {
#pragma GCC unroll 4
                    for (int t = 0; t < kRowsAtOnce; ++t) dest[t][q] = row[t][q] - (rp[t] + sums[q]) / divisor;
                }
                if (hi >= to) break;
            }
        }
    }

private:
    const WorkingDistanceTable& table_;
    const double* rowSums_;
    double divisor_;
    const ColumnRun* runs_;
    int runCount_;
};

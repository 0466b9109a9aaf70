#pragma once

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

private:
    const WorkingDistanceTable& table_;
    const double* rowSums_;
    double divisor_;
    const ColumnRun* runs_;
    int runCount_;
};

#pragma once

#include "common/VectorClones.h"
#include "history/WorkingDistanceTable.h"

// Pair scores of the current segments: Q(p, q) = d(p, q) - (r_p + r_q) / (k - 2),
// where r_p is the sum of the distances from p to all k segments, added in
// ascending order from 0.0. Needs k >= 3.
class PairScores {
public:
    explicit PairScores(const WorkingDistanceTable& table)
        : table_(table), rowSums_(table.rowSums()), divisor_(static_cast<double>(table.size() - 2)) {}

    // out[q] = Q(p, q) for from <= q < to (out[p] gets a value of no meaning).
    TANDEMTREE_INLINE_INTO_CLONES void fillRow(int p, int from, int to, double* __restrict out) const {
        const double* row = table_.row(p);
        const double* sums = rowSums_;
        const double rp = sums[p];
        const double divisor = divisor_;
        for (int q = from; q < to; ++q) out[q] = row[q] - (rp + sums[q]) / divisor;
    }

private:
    const WorkingDistanceTable& table_;
    const double* rowSums_;
    double divisor_;
};

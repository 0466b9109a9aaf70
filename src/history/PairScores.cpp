#include "history/PairScores.h"

PairScores::PairScores(const WorkingDistanceTable& table)
    : table_(table), rowSums_(static_cast<std::size_t>(table.size()), 0.0),
      divisor_(static_cast<double>(table.size() - 2)) {
    const int k = table.size();
    // Row q of the symmetric table is column q, so adding rows in ascending q
    // gives every row sum its terms in ascending order, one column at a time.
    double* sums = rowSums_.data();
    for (int q = 0; q < k; ++q) {
        const double* row = table.row(q);
        for (int p = 0; p < k; ++p) sums[p] += row[p];
    }
}

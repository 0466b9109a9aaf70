#include "history/PairScores.h"

#include "history/VectorClones.h"

namespace {

// Row q of the symmetric table is column q, so adding rows in ascending q
// gives every row sum its terms in ascending order, one column at a time.
TANDEMTREE_VECTOR_CLONES void addRowsInOrder(const WorkingDistanceTable& table, double* __restrict sums) {
    const int k = table.size();
    for (int q = 0; q < k; ++q) {
        const double* __restrict row = table.row(q);
        for (int p = 0; p < k; ++p) sums[p] += row[p];
    }
}

}  // namespace

PairScores::PairScores(const WorkingDistanceTable& table)
    : table_(table), rowSums_(static_cast<std::size_t>(table.size()), 0.0),
      divisor_(static_cast<double>(table.size() - 2)) {
    addRowsInOrder(table, rowSums_.data());
}

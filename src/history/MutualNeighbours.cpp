// Block-selection criterion 2: pairs whose two segments are each other's
// lowest-scoring partner are marked, and the candidate block with the largest
// share of marked corresponding pairs is chosen.
#include <limits>
#include <vector>

#include "history/BlockScan.h"
#include "history/DuplicationTree.h"
#include "history/PairScores.h"

void DuplicationTree::chooseBlockByMutualNeighbours(const SegmentOrder& order, const WorkingDistanceTable& table,
                                                    int& start, int& size) {
    const int k = static_cast<int>(order.size());
    start = 0;
    size = 1;
    if (k <= 2) return;  // the only candidate
    const PairScores score(table);
    std::vector<double> row(static_cast<std::size_t>(k));
    double* values = row.data();

    // Lowest score of each row over every partner. Scores are symmetric, so
    // each pair is scored once and counts for both of its rows.
    std::vector<double> minima(static_cast<std::size_t>(k), std::numeric_limits<double>::max());
    double* minimum = minima.data();
    for (int p = 0; p < k; ++p) {
        score.fillRow(p, p + 1, k, values);
        double own = minimum[p];
        for (int q = p + 1; q < k; ++q) {
            const double value = values[q];
            own = value < own ? value : own;
            minimum[q] = value < minimum[q] ? value : minimum[q];
        }
        minimum[p] = own;
    }

    // A pair is marked when its score equals the minimum of both its rows
    // exactly; a row with equal minima can mark several partners.
    std::vector<int> marks(static_cast<std::size_t>(k));
    int* mark = marks.data();
    scanBlocks<int>(
        k, -1.0,
        [&](int r, int lo, int hi) {
            score.fillRow(r, lo, hi, values);
            const double own = minimum[r];
            for (int q = lo; q < hi; ++q) mark[q] = (values[q] == own) & (values[q] == minimum[q]);
            return mark;
        },
        [](int count, int j) { return static_cast<double>(count) / j; },
        [](double mean, double held) { return mean > held; }, start, size);
}

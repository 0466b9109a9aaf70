// Block-selection criterion 2: pairs whose two segments are each other's
// lowest-scoring partner are marked, and the candidate block with the largest
// share of marked corresponding pairs is chosen.
#include <limits>
#include <vector>

#include "history/DuplicationTree.h"
#include "history/PairScores.h"

void DuplicationTree::chooseBlockByMutualNeighbours(const SegmentOrder& order, const WorkingDistanceTable& table,
                                                    int& start, int& size) {
    const int k = static_cast<int>(order.size());
    start = 0;
    size = 1;
    if (k <= 2) return;  // the only candidate
    const PairScores score(table);

    // Lowest score of each row, over every partner q != p.
    std::vector<double> rowMinimum(static_cast<std::size_t>(k), std::numeric_limits<double>::max());
    for (int p = 0; p < k; ++p) {
        double& minimum = rowMinimum[static_cast<std::size_t>(p)];
        for (int q = 0; q < k; ++q) {
            if (q == p) continue;
            const double value = score(p, q);
            if (value < minimum) minimum = value;
        }
    }
    // A pair is marked when its score is exactly the minimum of both rows; a
    // row with equal minima can mark several partners.
    auto marked = [&](int p, int q) {
        const double value = score(p, q);
        return value == rowMinimum[static_cast<std::size_t>(p)] && value == rowMinimum[static_cast<std::size_t>(q)]
                   ? 1
                   : 0;
    };

    double best = -1.0;
    for (int j = 1; j <= k / 2; ++j) {
        int count = 0;
        for (int c = 0; c < j; ++c) count += marked(c, j + c);
        for (int s = 0; s + 2 * j <= k; ++s) {
            if (s > 0) count = count + marked(s + j - 1, s + 2 * j - 1) - marked(s - 1, s + j - 1);
            const double mean = static_cast<double>(count) / j;
            if (mean > best) {
                best = mean;
                start = s;
                size = j;
            }
        }
    }
}

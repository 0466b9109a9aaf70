// Block-selection criterion 2: pairs whose two segments are each other's
// lowest-scoring partner are marked, and the candidate block with the largest
// share of marked corresponding pairs is chosen.
#include <algorithm>
#include <limits>
#include <vector>

#include "history/BlockScan.h"
#include "history/DuplicationTree.h"
#include "history/PairScores.h"
#include "history/VectorClones.h"

namespace {

struct ScoredPair {
    int p;
    int q;
    double score;
};

// The least of values[from .. to), found lane by lane; the least value is the
// same whatever the order of comparison.
TANDEMTREE_INLINE_INTO_CLONES double leastOf(const double* __restrict values, int from, int to) {
    constexpr int kLanes = 8;
    double lane[kLanes];
    for (double& l : lane) l = std::numeric_limits<double>::max();
    int q = from;
    for (; q + kLanes <= to; q += kLanes)
        for (int i = 0; i < kLanes; ++i) lane[i] = values[q + i] < lane[i] ? values[q + i] : lane[i];
    double least = std::numeric_limits<double>::max();
    for (; q < to; ++q) least = values[q] < least ? values[q] : least;
    for (double l : lane) least = l < least ? l : least;
    return least;
}

TANDEMTREE_INLINE_INTO_CLONES void lowerColumnMinima(const double* __restrict values, double* __restrict minimum, int from, int to) {
    for (int q = from; q < to; ++q) minimum[q] = values[q] < minimum[q] ? values[q] : minimum[q];
}

}  // namespace

TANDEMTREE_VECTOR_CLONES void DuplicationTree::chooseBlockByMutualNeighbours(const SegmentOrder& order, const WorkingDistanceTable& table,
                                                    int& start, int& size) {
    const int k = static_cast<int>(order.size());
    start = 0;
    size = 1;
    if (k <= 2) return;  // the only candidate
    const PairScores score(table);
    std::vector<double> row(static_cast<std::size_t>(k));
    double* values = row.data();

    // Lowest score of each row over every partner. Scores are symmetric, so
    // each pair (p < q) is scored once, in row p, and counts for both rows.
    // Rows before p have already lowered p's minimum through their columns,
    // so once row p is scored its minimum is final: the pairs of row p that
    // reach it are the only ones of that row that can be marked.
    std::vector<double> minima(static_cast<std::size_t>(k), std::numeric_limits<double>::max());
    double* minimum = minima.data();
    std::vector<ScoredPair> reaching;
    for (int p = 0; p < k; ++p) {
        score.fillRow(p, p + 1, k, values);
        const double least = leastOf(values, p + 1, k);
        if (least < minimum[p]) minimum[p] = least;
        lowerColumnMinima(values, minimum, p + 1, k);
        if (least != minimum[p]) continue;  // p's closest partner lies before it
        for (int q = p + 1; q < k; ++q)
            if (values[q] == least) reaching.push_back({p, q, least});
    }
    // Marked: the score is exactly the minimum of both rows. A row with equal
    // minima can mark several partners.
    std::vector<std::vector<int>> partners(static_cast<std::size_t>(k));
    for (const ScoredPair& pair : reaching) {
        if (pair.score != minimum[pair.q]) continue;
        partners[static_cast<std::size_t>(pair.p)].push_back(pair.q);
        partners[static_cast<std::size_t>(pair.q)].push_back(pair.p);
    }

    std::vector<int> marks(static_cast<std::size_t>(k), 0);
    int* mark = marks.data();
    int previous = -1;
    scanBlocks<int>(
        k, -1.0,
        [&](int r, int, int) {
            if (previous >= 0)
                for (int q : partners[static_cast<std::size_t>(previous)]) mark[q] = 0;
            for (int q : partners[static_cast<std::size_t>(r)]) mark[q] = 1;
            previous = r;
            return mark;
        },
        [](int count, int j) { return static_cast<double>(count) / j; },
        [](double mean, double held) { return mean > held; }, start, size);
}

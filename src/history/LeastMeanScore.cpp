// Block-selection criterion 3: the candidate block whose corresponding pairs
// have the least mean pair score.
#include <vector>

#include "history/BlockScan.h"
#include "history/DuplicationTree.h"
#include "history/PairScores.h"
#include "history/VectorClones.h"

TANDEMTREE_VECTOR_CLONES void DuplicationTree::chooseBlockByLeastMeanScore(const SegmentOrder& order,
                                                                           const WorkingDistanceTable& table,
                                                                           int& start, int& size) {
    const int k = static_cast<int>(order.size());
    start = 0;
    size = 1;
    if (k <= 2) return;  // the only candidate
    const PairScores score(table);
    std::vector<double> row(static_cast<std::size_t>(k));
    // Each window sum is carried from start to start in two separate
    // operations, leaving pair first: the order decides near-ties.
    scanBlocks(
        k,
        [&](int r, int lo, int hi) {
            score.fillRow(r, lo, hi, row.data());
            return row.data();
        },
        [](double sum, double j) { return sum / j; }, start, size);
}

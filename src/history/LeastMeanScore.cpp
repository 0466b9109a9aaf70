// Block-selection criterion 3: the candidate block whose corresponding pairs
// have the least mean pair score.
#include <limits>

#include "history/DuplicationTree.h"
#include "history/PairScores.h"

void DuplicationTree::chooseBlockByLeastMeanScore(const SegmentOrder& order, const WorkingDistanceTable& table,
                                                  int& start, int& size) {
    const int k = static_cast<int>(order.size());
    start = 0;
    size = 1;
    if (k <= 2) return;  // the only candidate
    const PairScores score(table);

    double best = std::numeric_limits<double>::max();
    for (int j = 1; j <= k / 2; ++j) {
        double sum = 0.0;
        for (int c = 0; c < j; ++c) sum += score(c, j + c);
        for (int s = 0; s + 2 * j <= k; ++s) {
            if (s > 0) {
                // Two separate operations, leaving pair first: the order
                // decides between candidates that come out almost equal.
                sum -= score(s - 1, s + j - 1);
                sum += score(s + j - 1, s + 2 * j - 1);
            }
            const double mean = sum / j;
            if (mean < best) {
                best = mean;
                start = s;
                size = j;
            }
        }
    }
}

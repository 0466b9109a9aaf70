#include "history/LeastMeanScoreCriterion.h"

#include "common/VectorClones.h"

namespace {

TANDEMTREE_VECTOR_CLONES CandidateBlock leastMeanScoreBlock(const PairScores& scores, int k, double* row,
                                                            BlockScanScratch& scan) {
    // Each window sum is carried from start to start in two separate
    // operations, leaving pair first: the order decides near-ties.
    return scanBlocks(
        k,
        [&](int r, int lo, int hi) {
            scores.fillRow(r, lo, hi, row);
            return row;
        },
        [](double sum, double j) { return sum / j; }, scan);
}

}  // namespace

CandidateBlock LeastMeanScoreCriterion::chooseByScores(const PairScores& scores, int k) {
    return leastMeanScoreBlock(scores, k, row_.data(), scan_);
}

#include "history/LeastMeanScoreCriterion.h"

#include "common/Parallel.h"
#include "common/VectorClones.h"

namespace {

// Below this many segments the scan runs on one thread: sharing it among
// threads would cost more than it saves.
constexpr int kLeastSharedSegments = 256;

TANDEMTREE_VECTOR_CLONES ScannedBlock leastMeanScoreBlock(const PairScores& scores, int k, int first, int last,
                                                          BlockScanScratch& scan) {
    // Each window sum is carried from start to start in two separate
    // operations, leaving pair first: the order decides near-ties.
    return scanBlockSizes(
        k, first, last,
        [&](int r, int count, int lo, int hi, double* out, std::size_t stride) {
            scores.fillRows(r, count, lo, hi, out, stride);
        },
        scan);
}

}  // namespace

CandidateBlock LeastMeanScoreCriterion::chooseByScores(const PairScores& scores, int k) {
    const int half = k / 2;
    const int workers = k >= kLeastSharedSegments ? std::min(threads_, half) : 1;
    if (workers_.size() < static_cast<std::size_t>(workers)) workers_.resize(static_cast<std::size_t>(workers));
    for (int w = 0; w < workers; ++w) workers_[static_cast<std::size_t>(w)].scan.prepare(k);
    if (workers == 1) {
        Worker& only = workers_[0];
        const ScannedBlock best = leastMeanScoreBlock(scores, k, 1, half, only.scan);
        return {best.start, best.size};
    }
    // Contiguous ranges of sizes with about as many candidates each (size j
    // has k - 2j + 1 starts).
    std::vector<int> bounds = {1};
    const double total = static_cast<double>(half) * (k + 1 - half - 1);
    double done = 0.0;
    for (int j = 1; j <= half && static_cast<int>(bounds.size()) < workers; ++j) {
        done += k - 2 * j + 1;
        if (done >= total * static_cast<double>(bounds.size()) / workers) bounds.push_back(j + 1);
    }
    while (static_cast<int>(bounds.size()) <= workers) bounds.push_back(half + 1);
    std::vector<ScannedBlock> best(static_cast<std::size_t>(workers));
    runSlices(workers, workers, [&](int slice, int worker) {
        Worker& mine = workers_[static_cast<std::size_t>(worker)];
        const int first = bounds[static_cast<std::size_t>(slice)];
        const int last = bounds[static_cast<std::size_t>(slice) + 1] - 1;
        if (first <= last)
            best[static_cast<std::size_t>(slice)] = leastMeanScoreBlock(scores, k, first, last, mine.scan);
    });
    ScannedBlock chosen;
    for (const ScannedBlock& b : best)
        if (b.size > 0) chosen.offer(b.key, b.size, b.start);
    return {chosen.start, chosen.size};
}

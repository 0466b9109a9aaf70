#include "history/LeastMeanScoreCriterion.h"

#include <chrono>

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
    // Contiguous ranges of sizes, with candidates (size j has k - 2j + 1
    // starts) in proportion to the pace each range kept at the step before:
    // the outer sizes read each row in two stretches and go slower than the
    // inner ones for as many candidates. Where the ranges meet changes no
    // choice (the best of the ranges is the best of their union), only how
    // long the threads wait for one another.
    if (pace_.size() != static_cast<std::size_t>(workers)) pace_.assign(static_cast<std::size_t>(workers), 1.0);
    double paces = 0.0;
    for (double p : pace_) paces += p;
    std::vector<int> bounds = {1};
    const double total = static_cast<double>(half) * (k - half);
    double done = 0.0;
    double upTo = total * pace_[0] / paces;
    for (int j = 1; j <= half && static_cast<int>(bounds.size()) < workers; ++j) {
        done += k - 2 * j + 1;
        if (done < upTo) continue;
        bounds.push_back(j + 1);
        upTo += total * pace_[bounds.size() - 1] / paces;
    }
    while (static_cast<int>(bounds.size()) <= workers) bounds.push_back(half + 1);
    std::vector<ScannedBlock> best(static_cast<std::size_t>(workers));
    std::vector<double> seconds(static_cast<std::size_t>(workers), 0.0);
    runSlices(workers, workers, [&](int slice, int worker) {
        Worker& mine = workers_[static_cast<std::size_t>(worker)];
        const int first = bounds[static_cast<std::size_t>(slice)];
        const int last = bounds[static_cast<std::size_t>(slice) + 1] - 1;
        if (first > last) return;
        const auto began = std::chrono::steady_clock::now();
        best[static_cast<std::size_t>(slice)] = leastMeanScoreBlock(scores, k, first, last, mine.scan);
        seconds[static_cast<std::size_t>(slice)] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    });
    // Each range's candidates per second, against their mean, folded into
    // the paces a quarter at a time (one slow step moves them little).
    std::vector<double> speed(static_cast<std::size_t>(workers), 0.0);
    double speeds = 0.0;
    int timed = 0;
    for (int w = 0; w < workers; ++w) {
        const int first = bounds[static_cast<std::size_t>(w)];
        const int last = bounds[static_cast<std::size_t>(w) + 1] - 1;
        if (first > last || !(seconds[static_cast<std::size_t>(w)] > 0.0)) continue;
        const double candidates = static_cast<double>(last - first + 1) * (k + 1 - first - last);
        speed[static_cast<std::size_t>(w)] = candidates / seconds[static_cast<std::size_t>(w)];
        speeds += speed[static_cast<std::size_t>(w)];
        ++timed;
    }
    // A range left without sizes (or untimed) starts the paces afresh, so
    // that no range is starved for good.
    for (int w = 0; w < workers; ++w)
        pace_[static_cast<std::size_t>(w)] = timed < workers
                                                 ? 1.0
                                                 : 0.75 * pace_[static_cast<std::size_t>(w)] +
                                                       0.25 * speed[static_cast<std::size_t>(w)] * workers / speeds;
    ScannedBlock chosen;
    for (const ScannedBlock& b : best)
        if (b.size > 0) chosen.offer(b.key, b.size, b.start);
    return {chosen.start, chosen.size};
}

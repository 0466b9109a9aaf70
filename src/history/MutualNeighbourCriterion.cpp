#include "history/MutualNeighbourCriterion.h"

#include <algorithm>
#include <limits>

#include "common/Parallel.h"
#include "common/VectorClones.h"
#include "history/LargestShare.h"
#include "history/LeastOf.h"

namespace {

using ScoredPair = MutualNeighbourCriterion::ScoredPair;

TANDEMTREE_INLINE_INTO_CLONES void lowerColumnMinima(const double* __restrict values, double* __restrict minimum,
                                                     int from, int to) {
    for (int q = from; q < to; ++q) minimum[q] = values[q] < minimum[q] ? values[q] : minimum[q];
}

// For the rows from .. to-1: the lowest score of each over its later
// partners, the score of its adjacent pair, and the columns' minima lowered
// by those rows' scores. Scores are symmetric, so each pair (p < q) is scored
// once, in row p, and counts for both rows; p's minimum over every partner
// is the least of its own row and of what the rows before it put in its
// column, whatever the order in which those were taken.
TANDEMTREE_VECTOR_CLONES void scoreRows(const PairScores& score, int k, int from, int to, double* __restrict values,
                                        double* __restrict columnMinima, double* __restrict rowLeast,
                                        double* __restrict adjacent) {
    // Rows kRowsAtOnce at a time, read from memory side by side (`values`
    // holds that many rows, k apart); each row's own scores start after it.
    const std::size_t stride = static_cast<std::size_t>(k);
    for (int group = from; group < to && group + 1 < k; group += PairScores::kRowsAtOnce) {
        const int end = std::min({to, k - 1, group + PairScores::kRowsAtOnce});
        score.fillRows(group, end - group, group + 1, k, values, stride);
        for (int p = group; p < end; ++p) {
            const double* row = values + static_cast<std::size_t>(p - group) * stride;
            rowLeast[p] = leastOf(row, p + 1, k);
            adjacent[p] = row[p + 1];
            lowerColumnMinima(row, columnMinima, p + 1, k);
        }
    }
}

// The pairs (p, q), p < q <= p + half, of the rows from .. to-1 whose score
// is the final minimum of row p, in ascending p and q: the only pairs that
// can be marked and count in a candidate. Rows whose minimum lies before
// them have none.
// The scores of row p from `from` to `to`, as scoreRows makes them.
TANDEMTREE_VECTOR_CLONES void fillScores(const PairScores& score, int p, int from, int to, double* __restrict values) {
    score.fillRow(p, from, to, values);
}

// (Not compiled once per vector instruction set: it grows a list, and an
// exception cannot leave such a function.)
void collectReaching(const PairScores& score, int k, int from, int to, double* __restrict values,
                     const std::vector<double>& minima, const std::vector<double>& rowLeast,
                     std::vector<ScoredPair>& reaching) {
    reaching.clear();
    const int half = k / 2;
    for (int p = from; p < to && p + 1 < k; ++p) {
        const double least = rowLeast[static_cast<std::size_t>(p)];
        if (least != minima[static_cast<std::size_t>(p)]) continue;  // p's closest partner lies before it
        const int end = std::min(k, p + half + 1);
        fillScores(score, p, p + 1, end, values);
        for (int q = p + 1; q < end; ++q)
            if (values[q] == least) reaching.push_back({p, q, least});
    }
}

// Rows a slice of the work holds, and the least number of segments for
// which the rows are shared among threads.
constexpr int kRowsPerSlice = 16;
constexpr int kLeastSharedSegments = 256;

}  // namespace

CandidateBlock MutualNeighbourCriterion::chooseByScores(const PairScores& scores, int k) {
    // The rows in slices of a few, shared among the workers; each worker
    // lowers column minima of its own, and the minima are then combined.
    const int workers = k >= kLeastSharedSegments ? threads_ : 1;
    const int slices = (k + kRowsPerSlice - 1) / kRowsPerSlice;
    if (workers_.size() < static_cast<std::size_t>(workers)) workers_.resize(static_cast<std::size_t>(workers));
    for (int w = 0; w < workers; ++w) {
        Worker& mine = workers_[static_cast<std::size_t>(w)];
        mine.row.resize(static_cast<std::size_t>(PairScores::kRowsAtOnce) * static_cast<std::size_t>(k));
        mine.columnMinima.assign(static_cast<std::size_t>(k), std::numeric_limits<double>::max());
    }
    rowLeast_.assign(static_cast<std::size_t>(k), std::numeric_limits<double>::max());
    adjacent_.assign(static_cast<std::size_t>(k), std::numeric_limits<double>::max());
    runSlices(workers, slices, [&](int slice, int worker) {
        Worker& mine = workers_[static_cast<std::size_t>(worker)];
        scoreRows(scores, k, slice * kRowsPerSlice, (slice + 1) * kRowsPerSlice, mine.row.data(),
                  mine.columnMinima.data(), rowLeast_.data(), adjacent_.data());
    });
    minima_.assign(rowLeast_.begin(), rowLeast_.end());
    for (int w = 0; w < workers; ++w) {
        const std::vector<double>& column = workers_[static_cast<std::size_t>(w)].columnMinima;
        for (int p = 0; p < k; ++p)
            if (column[static_cast<std::size_t>(p)] < minima_[static_cast<std::size_t>(p)])
                minima_[static_cast<std::size_t>(p)] = column[static_cast<std::size_t>(p)];
    }

    // A pair is marked when its score is exactly the minimum of both rows;
    // a row with equal minima can mark several partners. A marked adjacent
    // pair gives its size-1 candidate the share 1, which nothing can exceed,
    // and size 1 comes first: the first such pair is the choice, and no
    // other mark need be found (ties everywhere, as among identical copies,
    // cost no more than any other row of segments).
    for (int p = 0; p + 1 < k; ++p) {
        const double a = adjacent_[static_cast<std::size_t>(p)];
        if (a == minima_[static_cast<std::size_t>(p)] && a == minima_[static_cast<std::size_t>(p) + 1]) return {p, 1};
    }
    // The marks' candidates, slice by slice, then in slice order.
    if (reachingOfSlice_.size() < static_cast<std::size_t>(slices))
        reachingOfSlice_.resize(static_cast<std::size_t>(slices));
    runSlices(workers, slices, [&](int slice, int worker) {
        collectReaching(scores, k, slice * kRowsPerSlice, (slice + 1) * kRowsPerSlice,
                        workers_[static_cast<std::size_t>(worker)].row.data(), minima_, rowLeast_,
                        reachingOfSlice_[static_cast<std::size_t>(slice)]);
    });
    reaching_.clear();
    for (int slice = 0; slice < slices; ++slice)
        reaching_.insert(reaching_.end(), reachingOfSlice_[static_cast<std::size_t>(slice)].begin(),
                         reachingOfSlice_[static_cast<std::size_t>(slice)].end());

    // A marked pair (p, p+j) counts only in candidates of size j, so the
    // marks are kept by size, each list in ascending p (the order in which
    // rows were scored).
    const int half = k / 2;
    if (marksOfSize_.size() < static_cast<std::size_t>(half) + 1)
        marksOfSize_.resize(static_cast<std::size_t>(half) + 1);
    for (int j = 1; j <= half; ++j) marksOfSize_[static_cast<std::size_t>(j)].clear();
    for (const ScoredPair& pair : reaching_)
        if (pair.score == minima_[static_cast<std::size_t>(pair.q)])
            marksOfSize_[static_cast<std::size_t>(pair.q - pair.p)].push_back(pair.p);

    return bestOfMarks(half);
}

CandidateBlock MutualNeighbourCriterion::bestOfMarks(int half) const {
    // The scan by size ascending, then start ascending, keeping the first
    // candidate with the strictly largest share of marked pairs. (0, 1) is
    // held from the start at share 0, which a size without marks cannot
    // exceed anywhere, so such sizes are skipped.
    // Within a size, the count of a start s is the number of marks p with
    // s <= p <= s+j-1; it rises only where a mark enters the window, at
    // s = p - j + 1, so only 0 and those starts need to be offered.
    LargestShare choice(0.0);
    for (int j = 1; j <= half; ++j) {
        const std::vector<int>& marked = marksOfSize_[static_cast<std::size_t>(j)];
        if (marked.empty()) continue;
        std::size_t first = 0;  // first mark at or after s
        std::size_t end = 0;    // first mark after s + j - 1
        auto countAt = [&](int s) {
            while (first < marked.size() && marked[first] < s) ++first;
            while (end < marked.size() && marked[end] <= s + j - 1) ++end;
            return static_cast<int>(end - first);
        };
        choice.offer(countAt(0), j, 0);
        for (int p : marked)
            if (p - j + 1 > 0) choice.offer(countAt(p - j + 1), j, p - j + 1);
    }
    return choice.block();
}

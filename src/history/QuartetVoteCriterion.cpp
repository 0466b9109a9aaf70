#include "history/QuartetVoteCriterion.h"

#include <algorithm>
#include <vector>

#include "common/Parallel.h"
#include "common/VectorClones.h"
#include "history/LargestShare.h"

namespace {

// Classifies the quartets (a, b, c, d) for every d in [from, to), a, b and c
// fixed. The split whose two within-pair distances have the strictly least
// sum wins, and each of its pairs gets `delta` votes; a tie for the least sum
// casts none:
//   split 1: {a,b}{c,d}, S1 = d(a,b) + d(c,d)
//   split 2: {a,c}{b,d}, S2 = d(a,c) + d(b,d)
//   split 3: {a,d}{b,c}, S3 = d(a,d) + d(b,c)
// The votes for the pairs with d go along rows c, b and a; those for the
// pairs without d are counted and added once.
TANDEMTREE_VECTOR_CLONES void classifyRun(QuartetVoteMatrix& votes, const WorkingDistanceTable& table, int a, int b,
                                          int c, int from, int to, std::int32_t delta) {
    if (from >= to) return;
    const double* __restrict rowA = table.row(a);
    const double* __restrict rowB = table.row(b);
    const double* __restrict rowC = table.row(c);
    std::int32_t* __restrict votesA = votes.row(a);
    std::int32_t* __restrict votesB = votes.row(b);
    std::int32_t* __restrict votesC = votes.row(c);
    const double ab = rowA[b];
    const double ac = rowA[c];
    const double bc = rowB[c];
    std::int32_t wins1 = 0;
    std::int32_t wins2 = 0;
    std::int32_t wins3 = 0;
    for (int d = from; d < to; ++d) {
        const double s1 = ab + rowC[d];
        const double s2 = ac + rowB[d];
        const double s3 = rowA[d] + bc;
        const std::int32_t w1 = (s1 < s2) & (s1 < s3);
        const std::int32_t w2 = (s2 < s1) & (s2 < s3);
        const std::int32_t w3 = (s3 < s1) & (s3 < s2);
        votesC[d] += w1 * delta;
        votesB[d] += w2 * delta;
        votesA[d] += w3 * delta;
        wins1 += w1;
        wins2 += w2;
        wins3 += w3;
    }
    votes.add(a, b, wins1 * delta);
    votes.add(a, c, wins2 * delta);
    votes.add(b, c, wins3 * delta);
}

// Classifies, exactly once, every quartet of the positions 0 .. k-1 that has
// at least one position in lo .. hi-1. Positions are lined up with those in
// the range first, then those outside it, both ascending; a quartet is an
// ascending choice of four from that line whose first lies in the range, and
// it is passed as its positions in the range, ascending, then the others,
// ascending. Beyond any position of the line, the rest of the line is at
// most three runs of adjacent positions, which the innermost loop takes whole.
// The line of positions for classifyQuartetsTouching: those in lo .. hi-1
// first, then the others, both ascending.
std::vector<int> touchingLine(int k, int lo, int hi) {
    std::vector<int> line;
    line.reserve(static_cast<std::size_t>(k));
    for (int p = lo; p < hi; ++p) line.push_back(p);
    for (int p = 0; p < k; ++p)
        if (p < lo || p >= hi) line.push_back(p);
    return line;
}

// Classifies, exactly once, every quartet of the positions 0 .. k-1 that has
// at least one position in lo .. hi-1 and whose first two positions on the
// line are i (below hi - lo) and j, for the pairs (i, j) of one slice.
// Positions are lined up with those in the range first, then those outside
// it, both ascending; a quartet is an ascending choice of four from that line
// whose first lies in the range, and it is passed as its positions in the
// range, ascending, then the others, ascending. Beyond any position of the
// line, the rest of the line is at most three runs of adjacent positions,
// which the innermost loop takes whole.
void classifyQuartetsTouching(QuartetVoteMatrix& votes, const WorkingDistanceTable& table, const std::vector<int>& line,
                              int lo, int hi, int i, int j, std::int32_t delta) {
    const int k = table.size();
    auto classifyAfter = [&](int a, int b, int c) {
        if (c >= lo && c < hi) {
            classifyRun(votes, table, a, b, c, c + 1, hi, delta);
            classifyRun(votes, table, a, b, c, 0, lo, delta);
            classifyRun(votes, table, a, b, c, hi, k, delta);
        } else if (c < lo) {
            classifyRun(votes, table, a, b, c, c + 1, lo, delta);
            classifyRun(votes, table, a, b, c, hi, k, delta);
        } else {
            classifyRun(votes, table, a, b, c, c + 1, k, delta);
        }
    };
    const int a = line[static_cast<std::size_t>(i)];
    const int b = line[static_cast<std::size_t>(j)];
    for (int l = j + 1; l < k - 1; ++l) classifyAfter(a, b, line[static_cast<std::size_t>(l)]);
}

}  // namespace

void QuartetVoteCriterion::classifyQuartet(const WorkingDistanceTable& table, int a, int b, int c, int d,
                                           std::int32_t delta) {
    classifyRun(votes_, table, a, b, c, d, d + 1, delta);
}

double quartetShareBefore(int n, int a) {
    // 24 times the number of quartets whose first position is x or later.
    auto fromOnward = [n](double x) { return (n - x) * (n - x - 1) * (n - x - 2) * (n - x - 3); };
    if (n < 4) return 1.0;
    return 1.0 - fromOnward(a) / fromOnward(0);
}

void QuartetVoteCriterion::gatherVotes(int workers, int k) {
    for (int w = 1; w < workers; ++w) {
        QuartetVoteMatrix& apart = apart_[static_cast<std::size_t>(w - 1)];
        for (int p = 0; p < k; ++p) {
            std::int32_t* into = votes_.row(p);
            std::int32_t* from = apart.row(p);
            for (int q = 0; q < k; ++q) {
                into[q] += from[q];
                from[q] = 0;
            }
        }
    }
}

void QuartetVoteCriterion::begin(const WorkingDistanceTable& table, ReconstructionProgress* progress) {
    const int n = table.size();
    votes_ = QuartetVoteMatrix(n);
    // Each worker counts into a matrix of its own; votes are whole numbers,
    // so the sum is the same however the first positions were shared out.
    const double quartets = static_cast<double>(n) * (n - 1) * (n - 2) * (n - 3) / 24.0;
    const int workers = quartets >= leastSharedWork_ ? std::min(threads_, n) : 1;
    apart_.assign(static_cast<std::size_t>(workers - 1), QuartetVoteMatrix(n));
    runSlices(workers, n, [&](int a, int worker) {
        if (progress != nullptr && worker == 0) progress->counting(quartetShareBefore(n, a));
        QuartetVoteMatrix& votes = worker == 0 ? votes_ : apart_[static_cast<std::size_t>(worker - 1)];
        for (int b = a + 1; b < n; ++b)
            for (int c = b + 1; c < n - 1; ++c) classifyRun(votes, table, a, b, c, c + 1, n, +1);
    });
    gatherVotes(workers, n);
}

void QuartetVoteCriterion::classifyTouching(const WorkingDistanceTable& table, int lo, int hi, std::int32_t delta) {
    const int k = table.size();
    const std::vector<int> line = touchingLine(k, lo, hi);
    const int inRange = hi - lo;
    // The slices: every pair (i, j) of the first two positions, i < inRange.
    std::vector<std::pair<int, int>> pairs;
    for (int i = 0; i < inRange; ++i)
        for (int j = i + 1; j < k; ++j) pairs.push_back({i, j});
    const double quartets = static_cast<double>(inRange) * k * k * k / 6.0;
    const int workers = quartets >= leastSharedWork_ ? threads_ : 1;
    while (static_cast<int>(apart_.size()) < workers - 1) apart_.emplace_back(votes_.dimension());
    runSlices(workers, static_cast<int>(pairs.size()), [&](int slice, int worker) {
        QuartetVoteMatrix& votes = worker == 0 ? votes_ : apart_[static_cast<std::size_t>(worker - 1)];
        classifyQuartetsTouching(votes, table, line, lo, hi, pairs[static_cast<std::size_t>(slice)].first,
                                 pairs[static_cast<std::size_t>(slice)].second, delta);
    });
    gatherVotes(workers, k);
}

CandidateBlock QuartetVoteCriterion::chooseBlock(const WorkingDistanceTable& table) {
    const int k = table.size();
    LargestShare choice(-1.0);
    for (int j = 1; j <= k / 2; ++j) {
        int count = 0;
        for (int c = 0; c < j; ++c) count += votes_.at(c, j + c);
        for (int s = 0; s + 2 * j <= k; ++s) {
            if (s > 0) count = count + votes_.at(s + j - 1, s + 2 * j - 1) - votes_.at(s - 1, s + j - 1);
            choice.offer(count, j, s);
        }
    }
    // Both copies of the block are about to be merged: their quartets go.
    const CandidateBlock block = choice.block();
    classifyTouching(table, block.start, block.start + 2 * block.size, -1);
    return block;
}

void QuartetVoteCriterion::merged(const WorkingDistanceTable& table, CandidateBlock block) {
    const int k = table.size();  // after the merge
    // The withdrawal left the block's counts at zero (though a vote added in
    // one cell of a pair may have been taken back from the other): the right
    // copies' rows and columns go, the new segments' start empty.
    votes_.removeRowsAndColumns(k + block.size, block.start + block.size, block.size);
    votes_.clearRowsAndColumns(k, block.start, block.size);
    classifyTouching(table, block.start, block.start + block.size, +1);
}

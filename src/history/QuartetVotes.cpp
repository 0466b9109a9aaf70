// Block-selection criterion 1: votes from four-point comparisons of quartets,
// counted once over the input and then kept in step with every merge.
#include <algorithm>
#include <vector>

#include "history/DuplicationTree.h"
#include "history/VectorClones.h"

void QuartetVoteMatrix::removeRowsAndColumns(int k, int from, int count) {
    // Rows and columns behind the removed ones move down by `count`, keeping
    // their order; every row moves to a lower one, so nothing is overwritten
    // before it is read.
    const int until = from + count;
    for (int p = 0; p < k - count; ++p) {
        const int source = p < from ? p : p + count;
        std::int32_t* target = row(p);
        const std::int32_t* cells = row(source);
        if (source != p) std::copy(cells, cells + from, target);
        std::copy(cells + until, cells + k, target + from);
    }
}

void QuartetVoteMatrix::clearRowsAndColumns(int k, int from, int count) {
    for (int p = 0; p < k; ++p) {
        std::int32_t* cells = row(p);
        if (p >= from && p < from + count)
            std::fill(cells, cells + k, 0);
        else
            std::fill(cells + from, cells + from + count, 0);
    }
}

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
void classifyQuartetsTouching(QuartetVoteMatrix& votes, const WorkingDistanceTable& table, int k, int lo, int hi,
                              std::int32_t delta) {
    std::vector<int> line;
    line.reserve(static_cast<std::size_t>(k));
    for (int p = lo; p < hi; ++p) line.push_back(p);
    for (int p = 0; p < k; ++p)
        if (p < lo || p >= hi) line.push_back(p);
    // The runs of the line after position x.
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
    const int inRange = hi - lo;
    for (int i = 0; i < inRange; ++i) {
        const int a = line[static_cast<std::size_t>(i)];
        for (int j = i + 1; j < k; ++j) {
            const int b = line[static_cast<std::size_t>(j)];
            for (int l = j + 1; l < k - 1; ++l) classifyAfter(a, b, line[static_cast<std::size_t>(l)]);
        }
    }
}

}  // namespace

void DuplicationTree::classifyQuartet(const WorkingDistanceTable& table, int a, int b, int c, int d, int delta) {
    classifyRun(*quartetVotes, table, a, b, c, d, d + 1, delta);
}

void DuplicationTree::countAllQuartetVotes(const SegmentOrder& order, const WorkingDistanceTable& table,
                                           ProgressLine* progress) {
    const int n = static_cast<int>(order.size());
    // For the progress display: 24 times the number of quartets whose first
    // position is a or later.
    auto fromOnward = [n](double a) { return (n - a) * (n - a - 1) * (n - a - 2) * (n - a - 3); };
    for (int a = 0; a < n; ++a) {
        if (progress != nullptr) progress->counting(1.0 - fromOnward(a) / fromOnward(0));
        for (int b = a + 1; b < n; ++b)
            for (int c = b + 1; c < n - 1; ++c) classifyRun(*quartetVotes, table, a, b, c, c + 1, n, +1);
    }
}

void DuplicationTree::chooseBlockByQuartetVotes(const SegmentOrder& order, const WorkingDistanceTable& table,
                                                int& start, int& size) {
    const int k = static_cast<int>(order.size());
    const QuartetVoteMatrix& votes = *quartetVotes;
    start = 0;
    size = 1;
    double best = -1.0;
    for (int j = 1; j <= k / 2; ++j) {
        int count = 0;
        for (int c = 0; c < j; ++c) count += votes.at(c, j + c);
        for (int s = 0; s + 2 * j <= k; ++s) {
            if (s > 0) count = count + votes.at(s + j - 1, s + 2 * j - 1) - votes.at(s - 1, s + j - 1);
            const double mean = static_cast<double>(count) / j;
            if (mean > best) {
                best = mean;
                start = s;
                size = j;
            }
        }
    }
    // Both copies of the block are about to be merged: their quartets go.
    classifyQuartetsTouching(*quartetVotes, table, k, start, start + 2 * size, -1);
}

void DuplicationTree::updateQuartetVotesAfterMerge(const SegmentOrder& order, const WorkingDistanceTable& table,
                                                   int start, int size) {
    const int k = static_cast<int>(order.size());  // after the merge
    QuartetVoteMatrix& votes = *quartetVotes;
    // The withdrawal left the block's counts at zero (though a vote added in
    // one cell of a pair may have been taken back from the other): the right
    // copies' rows and columns go, the new segments' start empty.
    votes.removeRowsAndColumns(k + size, start + size, size);
    votes.clearRowsAndColumns(k, start, size);
    classifyQuartetsTouching(votes, table, k, start, start + size, +1);
}

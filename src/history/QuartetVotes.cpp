// Block-selection criterion 1: votes from four-point comparisons of quartets,
// counted once over the input and then kept in step with every merge.
#include <vector>

#include "history/DuplicationTree.h"
#include "history/SquareCompaction.h"

void QuartetVoteMatrix::removeRowsAndColumns(int k, int from, int count) {
    ::removeRowsAndColumns(cells_.data(), n_, k, from, count);
}

namespace {

// Which of the three splits of a quartet has the strictly least sum:
// 1 = {a,b}{c,d}, 2 = {a,c}{b,d}, 3 = {a,d}{b,c}; 0 when the least is shared.
inline int winningPairing(double ab, double cd, double ac, double bd, double ad, double bc) {
    const double s1 = ab + cd;
    const double s2 = ac + bd;
    const double s3 = ad + bc;
    if (s1 < s2 && s1 < s3) return 1;
    if (s2 < s1 && s2 < s3) return 2;
    if (s3 < s1 && s3 < s2) return 3;
    return 0;
}

inline void vote(QuartetVoteMatrix& votes, int x, int y, int delta) {
    votes.at(x, y) += delta;
    votes.at(y, x) += delta;
}

inline void castVotes(QuartetVoteMatrix& votes, const WorkingDistanceTable& table, int a, int b, int c, int d,
                      int delta) {
    switch (winningPairing(table.at(a, b), table.at(c, d), table.at(a, c), table.at(b, d), table.at(a, d),
                           table.at(b, c))) {
    case 1:
        vote(votes, a, b, delta);
        vote(votes, c, d, delta);
        break;
    case 2:
        vote(votes, a, c, delta);
        vote(votes, b, d, delta);
        break;
    case 3:
        vote(votes, a, d, delta);
        vote(votes, b, c, delta);
        break;
    default:
        break;
    }
}

// Classifies, exactly once, every quartet of the positions 0 .. k-1 that has
// at least one position in lo .. hi-1. Positions are lined up with those in
// the range first, then those outside it, both ascending; a quartet is then an
// ascending choice of four from that line whose first lies in the range. It is
// passed as its positions in the range, ascending, then the others, ascending.
void classifyQuartetsTouching(QuartetVoteMatrix& votes, const WorkingDistanceTable& table, int k, int lo, int hi,
                              int delta) {
    std::vector<int> line;
    line.reserve(static_cast<std::size_t>(k));
    for (int p = lo; p < hi; ++p) line.push_back(p);
    for (int p = 0; p < k; ++p)
        if (p < lo || p >= hi) line.push_back(p);
    const int inRange = hi - lo;
    for (int i = 0; i < inRange; ++i) {
        const int a = line[static_cast<std::size_t>(i)];
        for (int j = i + 1; j < k; ++j) {
            const int b = line[static_cast<std::size_t>(j)];
            for (int l = j + 1; l < k; ++l) {
                const int c = line[static_cast<std::size_t>(l)];
                for (int m = l + 1; m < k; ++m)
                    castVotes(votes, table, a, b, c, line[static_cast<std::size_t>(m)], delta);
            }
        }
    }
}

}  // namespace

void DuplicationTree::classifyQuartet(const WorkingDistanceTable& table, int a, int b, int c, int d, int delta) {
    castVotes(*quartetVotes, table, a, b, c, d, delta);
}

void DuplicationTree::countAllQuartetVotes(const SegmentOrder& order, const WorkingDistanceTable& table) {
    const int n = static_cast<int>(order.size());
    QuartetVoteMatrix& votes = *quartetVotes;
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b)
            for (int c = b + 1; c < n; ++c)
                for (int d = c + 1; d < n; ++d) castVotes(votes, table, a, b, c, d, +1);
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
    // The withdrawal left the block's rows and columns at zero, so the new
    // segments' rows start empty once the right copies' are removed.
    votes.removeRowsAndColumns(k + size, start + size, size);
    classifyQuartetsTouching(votes, table, k, start, start + size, +1);
}

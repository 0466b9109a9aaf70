#include "history/MutualNeighbourCriterion.h"

#include <algorithm>
#include <limits>

#include "common/VectorClones.h"
#include "history/LargestShare.h"
#include "history/LeastOf.h"

namespace {

using ScoredPair = MutualNeighbourCriterion::ScoredPair;

TANDEMTREE_INLINE_INTO_CLONES void lowerColumnMinima(const double* __restrict values, double* __restrict minimum,
                                                     int from, int to) {
    for (int q = from; q < to; ++q) minimum[q] = values[q] < minimum[q] ? values[q] : minimum[q];
}

// Lowest score of every row, and the pairs of each row that reach it where
// that row's minimum is final (see below).
TANDEMTREE_VECTOR_CLONES void scoreRows(const PairScores& score, int k, double* __restrict values,
                                        std::vector<double>& minima, std::vector<double>& pieceMinima,
                                        std::vector<ScoredPair>& reaching) {
    // Lowest score of each row over every partner. Scores are symmetric, so
    // each pair (p < q) is scored once, in row p, and counts for both rows.
    // Rows before p have already lowered p's minimum through their columns,
    // so once row p is scored its minimum is final: the pairs of row p that
    // reach it are the only ones of that row that can be marked.
    minima.assign(static_cast<std::size_t>(k), std::numeric_limits<double>::max());
    double* minimum = minima.data();
    reaching.clear();
    // The row is cut into pieces whose own minima say where the least score
    // of the row can be found.
    constexpr int kPiece = 64;
    pieceMinima.resize(static_cast<std::size_t>(k / kPiece + 1));
    for (int p = 0; p < k; ++p) {
        score.fillRow(p, p + 1, k, values);
        double least = std::numeric_limits<double>::max();
        int pieces = 0;
        for (int from = p + 1; from < k; from += kPiece, ++pieces) {
            const double piece = leastOf(values, from, std::min(from + kPiece, k));
            pieceMinima[static_cast<std::size_t>(pieces)] = piece;
            least = piece < least ? piece : least;
        }
        if (least < minimum[p]) minimum[p] = least;
        lowerColumnMinima(values, minimum, p + 1, k);
        if (least != minimum[p]) continue;  // p's closest partner lies before it
        for (int piece = 0; piece < pieces; ++piece) {
            if (pieceMinima[static_cast<std::size_t>(piece)] != least) continue;
            const int from = p + 1 + piece * kPiece;
            for (int q = from; q < std::min(from + kPiece, k); ++q)
                if (values[q] == least) reaching.push_back({p, q, least});
        }
    }
}

}  // namespace

CandidateBlock MutualNeighbourCriterion::chooseByScores(const PairScores& scores, int k) {
    scoreRows(scores, k, row_.data(), minima_, pieceMinima_, reaching_);

    // Marked: the score is exactly the minimum of both rows. A row with equal
    // minima can mark several partners. A marked pair (p, p+j) counts only
    // in candidates of size j, so the marks are kept by size, each list in
    // ascending p (the order in which rows were scored).
    const int half = k / 2;
    if (marksOfSize_.size() < static_cast<std::size_t>(half) + 1)
        marksOfSize_.resize(static_cast<std::size_t>(half) + 1);
    for (int j = 1; j <= half; ++j) marksOfSize_[static_cast<std::size_t>(j)].clear();
    for (const ScoredPair& pair : reaching_)
        if (pair.score == minima_[static_cast<std::size_t>(pair.q)] && pair.q - pair.p <= half)
            marksOfSize_[static_cast<std::size_t>(pair.q - pair.p)].push_back(pair.p);

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

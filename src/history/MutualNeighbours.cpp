// Block-selection criterion 2: pairs whose two segments are each other's
// lowest-scoring partner are marked, and the candidate block with the largest
// share of marked corresponding pairs is chosen.
#include <algorithm>
#include <limits>
#include <vector>

#include "history/DuplicationTree.h"
#include "history/LeastOf.h"
#include "history/PairScores.h"
#include "history/VectorClones.h"

namespace {

struct ScoredPair {
    int p;
    int q;
    double score;
};

TANDEMTREE_INLINE_INTO_CLONES void lowerColumnMinima(const double* __restrict values, double* __restrict minimum,
                                                     int from, int to) {
    for (int q = from; q < to; ++q) minimum[q] = values[q] < minimum[q] ? values[q] : minimum[q];
}

}  // namespace

TANDEMTREE_VECTOR_CLONES void DuplicationTree::chooseBlockByMutualNeighbours(const SegmentOrder& order,
                                                                             const WorkingDistanceTable& table,
                                                                             int& start, int& size) {
    const int k = static_cast<int>(order.size());
    start = 0;
    size = 1;
    if (k <= 2) return;  // the only candidate
    const PairScores score(table);
    std::vector<double> row(static_cast<std::size_t>(k));
    double* values = row.data();

    // Lowest score of each row over every partner. Scores are symmetric, so
    // each pair (p < q) is scored once, in row p, and counts for both rows.
    // Rows before p have already lowered p's minimum through their columns,
    // so once row p is scored its minimum is final: the pairs of row p that
    // reach it are the only ones of that row that can be marked.
    std::vector<double> minima(static_cast<std::size_t>(k), std::numeric_limits<double>::max());
    double* minimum = minima.data();
    std::vector<ScoredPair> reaching;
    // The row is cut into pieces whose own minima say where the least score
    // of the row can be found.
    constexpr int kPiece = 64;
    std::vector<double> pieceMinima(static_cast<std::size_t>(k / kPiece + 1));
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
    // Marked: the score is exactly the minimum of both rows. A row with equal
    // minima can mark several partners. A marked pair (p, p+j) counts only
    // in candidates of size j, so the marks are kept by size, each list in
    // ascending p (the order in which rows were scored).
    const int half = k / 2;
    std::vector<std::vector<int>> marksOfSize(static_cast<std::size_t>(half) + 1);
    for (const ScoredPair& pair : reaching)
        if (pair.score == minimum[pair.q] && pair.q - pair.p <= half)
            marksOfSize[static_cast<std::size_t>(pair.q - pair.p)].push_back(pair.p);

    // The scan by size ascending, then start ascending, keeping the first
    // candidate with the strictly largest share of marked pairs. The first
    // candidate (0, 1) always replaces the initial -1; a size without marks
    // has share 0 everywhere and can replace nothing after it. Within a size,
    // the count of a start s is the number of marks p with s <= p <= s+j-1;
    // it rises only where a mark enters the window, at s = p - j + 1, so the
    // first start with the largest count is 0 or one of those.
    double best = 0.0;
    for (int j = 1; j <= half; ++j) {
        const std::vector<int>& marked = marksOfSize[static_cast<std::size_t>(j)];
        if (marked.empty()) continue;
        int bestCount = 0;
        int bestStartOfSize = 0;
        std::size_t first = 0;  // first mark at or after s
        std::size_t end = 0;    // first mark after s + j - 1
        auto countAt = [&](int s) {
            while (first < marked.size() && marked[first] < s) ++first;
            while (end < marked.size() && marked[end] <= s + j - 1) ++end;
            return static_cast<int>(end - first);
        };
        const int zeroCount = countAt(0);
        bestCount = zeroCount;
        for (int p : marked) {
            const int s = p - j + 1;
            if (s <= 0) continue;
            const int count = countAt(s);
            if (count > bestCount) {
                bestCount = count;
                bestStartOfSize = s;
            }
        }
        const double mean = static_cast<double>(bestCount) / j;
        if (mean > best) {
            best = mean;
            start = bestStartOfSize;
            size = j;
        }
    }
}

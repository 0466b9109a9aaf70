#include "history/refine/NeighbourJoining.h"

#include <algorithm>
#include <cstddef>
#include <limits>

#include "common/Parallel.h"
#include "common/VectorClones.h"
#include "history/LeastOf.h"

namespace refine {

namespace {

// Below this many nodes left a join's work runs on one thread.
constexpr int kLeastSharedNodes = 256;
constexpr int kRowsPerSlice = 32;

// The least pair of rows from .. to-1 of the k x k table d (row stride w):
// its score and place, the first in row order on ties.
struct LeastPair {
    double q = std::numeric_limits<double>::infinity();
    int x = 0, y = 1;
};

// r_x for the rows from .. to-1: the row's values added in order from 0.0,
// four rows side by side so that their chains of additions overlap.
TANDEMTREE_VECTOR_CLONES void rowSums(const double* d, std::size_t w, int k, int from, int to, double* sums) {
    int x = from;
    for (; x + 4 <= to; x += 4) {
        const double* r0 = d + static_cast<std::size_t>(x) * w;
        const double *r1 = r0 + w, *r2 = r1 + w, *r3 = r2 + w;
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        for (int y = 0; y < k; ++y) {
            s0 += r0[y];
            s1 += r1[y];
            s2 += r2[y];
            s3 += r3[y];
        }
        sums[x] = s0;
        sums[x + 1] = s1;
        sums[x + 2] = s2;
        sums[x + 3] = s3;
    }
    for (; x < to; ++x) {
        const double* row = d + static_cast<std::size_t>(x) * w;
        double sum = 0.0;
        for (int y = 0; y < k; ++y) sum += row[y];
        sums[x] = sum;
    }
}

// (k - 2) d(x, y) - r_x - r_y for y > x, row by row: each row's scores made
// side by side, then its least, then the first place of that least; a row
// replaces the pair held only with a strictly smaller score, as a scan of
// the pairs in row order keeping the first least would.
TANDEMTREE_VECTOR_CLONES LeastPair leastPairOf(const double* d, std::size_t w, int k, int from, int to,
                                               const double* __restrict sums, double* __restrict scores) {
    LeastPair best;
    const double factor = k - 2;
    for (int x = from; x < to && x + 1 < k; ++x) {
        const double* __restrict row = d + static_cast<std::size_t>(x) * w;
        const double rx = sums[x];
        for (int y = x + 1; y < k; ++y) scores[y] = factor * row[y] - rx - sums[y];
        const double least = leastOf(scores, x + 1, k);
        if (!(least < best.q)) continue;
        int y = x + 1;
        while (scores[y] != least) ++y;
        best = {least, x, y};
    }
    return best;
}

}  // namespace

Topology joinedNeighbours(const std::vector<double>& table, int n, int threads) {
    Topology t;
    t.n = n;
    const std::size_t nodes = static_cast<std::size_t>(2 * n - 1);
    t.parent.assign(nodes, -1);
    t.child.assign(nodes, {-1, -1});
    // The nodes still to join, in their first order, with their table kept
    // compact: a joined pair's second row and column are taken out.
    std::vector<double> d(table);
    const std::size_t w = static_cast<std::size_t>(n);
    std::vector<int> id(w);
    for (int i = 0; i < n; ++i) id[static_cast<std::size_t>(i)] = i;
    std::vector<double> sums(w), joined(w);
    const int workers = std::max(1, threads);
    std::vector<std::vector<double>> scores(static_cast<std::size_t>(workers), std::vector<double>(w));
    std::vector<LeastPair> least;
    int next = n;
    auto join = [&](int a, int b) {
        t.child[static_cast<std::size_t>(next)] = {a, b};
        t.parent[static_cast<std::size_t>(a)] = t.parent[static_cast<std::size_t>(b)] = next;
        return next++;
    };
    for (int k = n; k > 2; --k) {
        const int shared = k >= kLeastSharedNodes ? workers : 1;
        const int slices = (k + kRowsPerSlice - 1) / kRowsPerSlice;
        runSlices(shared, slices, [&](int slice, int) {
            rowSums(d.data(), w, k, slice * kRowsPerSlice, std::min(k, (slice + 1) * kRowsPerSlice), sums.data());
        });
        least.assign(static_cast<std::size_t>(slices), LeastPair{});
        runSlices(shared, slices, [&](int slice, int worker) {
            least[static_cast<std::size_t>(slice)] =
                leastPairOf(d.data(), w, k, slice * kRowsPerSlice, std::min(k, (slice + 1) * kRowsPerSlice),
                            sums.data(), scores[static_cast<std::size_t>(worker)].data());
        });
        LeastPair best;
        for (const LeastPair& l : least)
            if (l.q < best.q) best = l;
        const auto i = static_cast<std::size_t>(best.x), j = static_cast<std::size_t>(best.y);
        double* rowI = d.data() + i * w;
        const double* rowJ = d.data() + j * w;
        const double dij = rowI[j];
        for (std::size_t m = 0; m < static_cast<std::size_t>(k); ++m) joined[m] = (rowI[m] + rowJ[m] - dij) * 0.5;
        for (std::size_t m = 0; m < static_cast<std::size_t>(k); ++m) rowI[m] = d[m * w + i] = joined[m];
        rowI[i] = 0.0;
        id[i] = join(id[i], id[j]);
        // Row and column j out: rows after j move up one, and in every row
        // the columns after j move left one.
        for (std::size_t x = 0; x + 1 < static_cast<std::size_t>(k); ++x) {
            double* to = d.data() + x * w;
            const double* from = d.data() + (x < j ? x : x + 1) * w;
            if (x < j) {
                std::copy(from + j + 1, from + k, to + j);
            } else {
                std::copy(from, from + j, to);
                std::copy(from + j + 1, from + k, to + j);
            }
        }
        id.erase(id.begin() + static_cast<std::ptrdiff_t>(j));
    }
    t.root = join(id[0], id[1]);
    return t;
}

}  // namespace refine

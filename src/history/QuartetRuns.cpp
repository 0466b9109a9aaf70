#include "history/QuartetRuns.h"

#include "common/VectorClones.h"

namespace {

// Whether s lies strictly below both t and u: the lesser of t and u is one of
// them exactly, so one comparison with it decides both.
TANDEMTREE_INLINE_INTO_CLONES std::int32_t below(double s, double t, double u) { return s < (t < u ? t : u); }

// Which of the three splits of a quartet, with sums s1, s2 and s3, has the
// strictly least sum: 1 for that one and 0 for the others; 0 for all three
// on a tie for the least.
struct Split {
    std::int32_t first;
    std::int32_t second;
    std::int32_t third;
};
TANDEMTREE_INLINE_INTO_CLONES Split winningSplit(double s1, double s2, double s3) {
    return {below(s1, s2, s3), below(s2, s1, s3), below(s3, s1, s2)};
}

template <bool kReclassify>
TANDEMTREE_INLINE_INTO_CLONES void threeQuartetRuns(const ThreeQuartetRuns& q, int from, int to,
                                                    ThreeQuartetTotals& totals) {
    constexpr std::int32_t copySign = kReclassify ? -1 : 1;
    const double* __restrict rowP0 = q.rowP[0];
    const double* __restrict rowP1 = q.rowP[1];
    const double* __restrict rowP2 = q.rowP[2];
    const double* __restrict rowX = q.rowX;
    const double* __restrict rowY = q.rowY;
    std::int32_t* __restrict votesP0 = q.votesP[0];
    std::int32_t* __restrict votesP1 = q.votesP[1];
    std::int32_t* __restrict votesP2 = q.votesP[2];
    std::int32_t* __restrict votesX = q.votesX;
    std::int32_t* __restrict votesY = q.votesY;
    const double p0x = rowP0[q.x], p0y = rowP0[q.y];
    const double p1x = rowP1[q.x], p1y = rowP1[q.y];
    const double p2x = rowP2[q.x], p2y = rowP2[q.y];
    const double xy = rowX[q.y];
    std::int32_t xyVotes = 0;
    std::int32_t p0xVotes = 0, p1xVotes = 0, p2xVotes = 0;
    std::int32_t p0yVotes = 0, p1yVotes = 0, p2yVotes = 0;
    for (int z = from; z < to; ++z) {
        const double yz = rowY[z];
        const double xz = rowX[z];
        const Split w0 = winningSplit(p0x + yz, p0y + xz, rowP0[z] + xy);
        const Split w1 = winningSplit(p1x + yz, p1y + xz, rowP1[z] + xy);
        const Split w2 = winningSplit(p2x + yz, p2y + xz, rowP2[z] + xy);
        votesY[z] += copySign * (w0.first + w1.first) + w2.first;
        votesX[z] += copySign * (w0.second + w1.second) + w2.second;
        votesP2[z] += w2.third;
        xyVotes += copySign * (w0.third + w1.third) + w2.third;
        p2xVotes += w2.first;
        p2yVotes += w2.second;
        if (!kReclassify) {
            votesP0[z] += w0.third;
            votesP1[z] += w1.third;
            p0xVotes += w0.first;
            p1xVotes += w1.first;
            p0yVotes += w0.second;
            p1yVotes += w1.second;
        }
    }
    totals.xy += xyVotes;
    totals.px[0] += p0xVotes;
    totals.px[1] += p1xVotes;
    totals.px[2] += p2xVotes;
    totals.py[0] += p0yVotes;
    totals.py[1] += p1yVotes;
    totals.py[2] += p2yVotes;
}

}  // namespace

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
        const Split w = winningSplit(ab + rowC[d], ac + rowB[d], rowA[d] + bc);
        const std::int32_t w1 = w.first;
        const std::int32_t w2 = w.second;
        const std::int32_t w3 = w.third;
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

TANDEMTREE_VECTOR_CLONES void countThreeRuns(const ThreeQuartetRuns& q, int from, int to, ThreeQuartetTotals& totals) {
    threeQuartetRuns<false>(q, from, to, totals);
}

TANDEMTREE_VECTOR_CLONES void reclassifyThreeRuns(const ThreeQuartetRuns& q, int from, int to,
                                                  ThreeQuartetTotals& totals) {
    threeQuartetRuns<true>(q, from, to, totals);
}

TANDEMTREE_VECTOR_CLONES void withdrawPairRun(const double* __restrict rowP, const double* __restrict rowQ,
                                              const double* __restrict rowX, double pq, int x, int from, int to,
                                              std::int32_t* __restrict votesX) {
    const double px = rowP[x];
    const double qx = rowQ[x];
    for (int y = from; y < to; ++y) {
        const double s1 = pq + rowX[y];
        const double s2 = px + rowQ[y];
        const double s3 = rowP[y] + qx;
        votesX[y] -= below(s1, s2, s3);
    }
}

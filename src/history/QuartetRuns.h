#pragma once

#include <cstdint>

#include "history/QuartetVoteMatrix.h"
#include "history/WorkingDistanceTable.h"

// The counting loops of the quartet votes: each classifies a run of quartets
// that share all but their last position, the hot loops of criterion 1,
// compiled once per vector instruction set (their definitions carry the
// clones; a caller sees plain functions). Which quartets are met, in which
// order and on which thread, is the criterion's business.
//
// A quartet is split into the two pairs whose distances have the strictly
// least sum; each of those pairs gets `delta` votes. A tie for the least sum
// casts no vote.

// Classifies the quartets (a, b, c, d) for every d in [from, to), a, b and c
// fixed:
//   split 1: {a,b}{c,d}, S1 = d(a,b) + d(c,d)
//   split 2: {a,c}{b,d}, S2 = d(a,c) + d(b,d)
//   split 3: {a,d}{b,c}, S3 = d(a,d) + d(b,c)
void classifyRun(QuartetVoteMatrix& votes, const WorkingDistanceTable& table, int a, int b, int c, int from, int to,
                 std::int32_t delta);

// One quartet of positions a, b, c, d, in any order.
inline void classifyQuartet(QuartetVoteMatrix& votes, const WorkingDistanceTable& table, int a, int b, int c, int d,
                            std::int32_t delta) {
    classifyRun(votes, table, a, b, c, d, d + 1, delta);
}

// Three quartets (p_g, x, y, z), g = 0, 1, 2, for every z in [from, to):
// three segments that share the segments x and y, and a run of fourth ones.
// The splits are those of classifyRun for the quartet passed as (p, x, y, z):
//   split 1: {p,x}{y,z}, split 2: {p,y}{x,z}, split 3: {p,z}{x,y}.
// Counting, every vote is added. Reclassifying around a merged block, p_0
// and p_1 are its left and right copy, whose votes are withdrawn, and p_2
// their new segment, whose votes are added; the distances are then those of
// each quartet's own table (the copies' from before the merge, kept at the
// positions after it, the new segment's from after it; those among x, y and
// z the merge leaves alone), and the copies' votes for pairs with a copy are
// not withdrawn, since those rows are emptied.
struct ThreeQuartetRuns {
    const double* rowP[3] = {nullptr, nullptr, nullptr};
    const double* rowX = nullptr;
    const double* rowY = nullptr;
    std::int32_t* votesP[3] = {nullptr, nullptr, nullptr};  // only p_2's when reclassifying
    std::int32_t* votesX = nullptr;
    std::int32_t* votesY = nullptr;
    int x = 0;
    int y = 0;
};

// The votes the runs give to the pairs without z.
struct ThreeQuartetTotals {
    std::int32_t xy = 0;
    std::int32_t px[3] = {0, 0, 0};
    std::int32_t py[3] = {0, 0, 0};
};

// Counting: every vote of the three runs is added.
void countThreeRuns(const ThreeQuartetRuns& q, int from, int to, ThreeQuartetTotals& totals);
// Reclassifying around a merged block: the copies' votes withdrawn (but for
// pairs with a copy), the new segment's added.
void reclassifyThreeRuns(const ThreeQuartetRuns& q, int from, int to, ThreeQuartetTotals& totals);

// The quartets (p, q, x, y) of two block segments p < q (before the merge)
// and two segments x < y outside it, for every y in [from, to): split 1,
// {p,q}{x,y}, wins when d(p,q) + d(x,y) is below both d(p,x) + d(q,y) and
// d(p,y) + d(q,x), and its vote for {x, y} is withdrawn. The other votes of
// these quartets go to pairs with p or q, whose rows are emptied.
void withdrawPairRun(const double* rowP, const double* rowQ, const double* rowX, double pq, int x, int from, int to,
                     std::int32_t* votesX);

#include "history/QuartetVoteCriterion.h"

#include <algorithm>
#include <vector>

#include "common/Parallel.h"
#include "common/VectorClones.h"
#include "history/LargestShare.h"

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
    const double* rowP[3];
    const double* rowX;
    const double* rowY;
    std::int32_t* votesP[3];  // only p_2's when reclassifying
    std::int32_t* votesX;
    std::int32_t* votesY;
    int x;
    int y;
};

// The votes the runs give to the pairs without z.
struct ThreeQuartetTotals {
    std::int32_t xy = 0;
    std::int32_t px[3] = {0, 0, 0};
    std::int32_t py[3] = {0, 0, 0};
};

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

TANDEMTREE_VECTOR_CLONES void countThreeRuns(const ThreeQuartetRuns& q, int from, int to, ThreeQuartetTotals& totals) {
    threeQuartetRuns<false>(q, from, to, totals);
}

TANDEMTREE_VECTOR_CLONES void reclassifyThreeRuns(const ThreeQuartetRuns& q, int from, int to,
                                                  ThreeQuartetTotals& totals) {
    threeQuartetRuns<true>(q, from, to, totals);
}

// The quartets (p, q, x, y) of two block segments p < q (before the merge)
// and two segments x < y outside it, for every y in [from, to): split 1,
// {p,q}{x,y}, wins when d(p,q) + d(x,y) is below both d(p,x) + d(q,y) and
// d(p,y) + d(q,x), and its vote for {x, y} is withdrawn. The other votes of
// these quartets go to pairs with p or q, whose rows are emptied.
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
    // A slice is three first positions, taken together wherever all three
    // lie before the second.
    const int slices = (n + 2) / 3;
    const int workers = quartets >= leastSharedWork_ ? std::min(threads_, slices) : 1;
    apart_.assign(static_cast<std::size_t>(workers - 1), QuartetVoteMatrix(n));
    runSlices(workers, slices, [&](int slice, int worker) {
        const int first = 3 * slice;
        if (progress != nullptr && worker == 0) progress->counting(quartetShareBefore(n, first));
        QuartetVoteMatrix& votes = worker == 0 ? votes_ : apart_[static_cast<std::size_t>(worker - 1)];
        for (int b = first + 1; b < n; ++b) {
            const int before = std::min({3, b - first, n - first});
            for (int c = b + 1; c < n - 1; ++c) {
                if (before < 3) {
                    for (int a = first; a < first + before; ++a) classifyRun(votes, table, a, b, c, c + 1, n, +1);
                    continue;
                }
                const ThreeQuartetRuns q{{table.row(first), table.row(first + 1), table.row(first + 2)},
                                         table.row(b),
                                         table.row(c),
                                         {votes.row(first), votes.row(first + 1), votes.row(first + 2)},
                                         votes.row(b),
                                         votes.row(c),
                                         b,
                                         c};
                ThreeQuartetTotals totals;
                countThreeRuns(q, c + 1, n, totals);
                for (int g = 0; g < 3; ++g) {
                    votes.add(first + g, b, totals.px[g]);
                    votes.add(first + g, c, totals.py[g]);
                }
                votes.add(b, c, totals.xy);
            }
        }
    });
    gatherVotes(workers, n);
}

void QuartetVoteCriterion::keepBlockDistances(const WorkingDistanceTable& table, CandidateBlock block) {
    const int k = table.size();
    const int start = block.start;
    const int copies = 2 * block.size;
    const int after = k - block.size;
    // Segment start + t's distances to the segments outside the block, at
    // the positions those will have after the merge.
    kept_.assign(static_cast<std::size_t>(copies) * static_cast<std::size_t>(after), 0.0);
    within_.assign(static_cast<std::size_t>(copies) * static_cast<std::size_t>(copies), 0.0);
    for (int t = 0; t < copies; ++t) {
        const double* values = table.row(start + t);
        double* kept = &kept_[static_cast<std::size_t>(t) * static_cast<std::size_t>(after)];
        std::copy(values, values + start, kept);
        std::copy(values + start + copies, values + k, kept + start + block.size);
        std::copy(values + start, values + start + copies, &within_[static_cast<std::size_t>(t * copies)]);
    }
}

void QuartetVoteCriterion::reclassifyAroundBlock(const WorkingDistanceTable& table, CandidateBlock block) {
    const int k = table.size();
    const int lo = block.start;
    const int size = block.size;
    const int hi = lo + size;
    const int copies = 2 * size;
    const std::size_t width = static_cast<std::size_t>(k);
    std::vector<int> outside;
    outside.reserve(width);
    for (int p = 0; p < k; ++p)
        if (p < lo || p >= hi) outside.push_back(p);
    const int others = static_cast<int>(outside.size());
    auto kept = [&](int t) { return &kept_[static_cast<std::size_t>(t) * width]; };
    // Runs of the positions outside the block beyond position y.
    auto eachRunAfter = [&](int y, auto&& run) {
        if (y < lo) {
            run(y + 1, lo);
            run(hi, k);
        } else {
            run(y + 1, k);
        }
    };

    // Three kinds of slices, each quartet in one of them:
    // - (c, x): the quartets of one block segment c (its two copies
    //   withdrawn, its new segment added) and three outside, the first x
    //   (each triple outside met once for all three);
    // - (p, q, x): the quartets of two of the block's copies and two
    //   outside, the first x, withdrawn;
    // - (i, j): the quartets with two or more new segments, added, as the
    //   line of classifyQuartetsTouching gives them.
    // Quartets of three or four copies give no vote to any pair that stays.
    const int oneSlices = size * others;
    const int copyPairs = copies * (copies - 1) / 2;
    const int pairSlices = copyPairs * others;
    std::vector<std::pair<int, int>> newPairs;
    for (int i = 0; i < size; ++i)
        for (int j = i + 1; j < size; ++j) newPairs.push_back({i, j});
    const std::vector<int> line = newPairs.empty() ? std::vector<int>() : touchingLine(k, lo, hi);
    std::vector<std::pair<int, int>> pairOfCopies;
    for (int p = 0; p < copies; ++p)
        for (int q = p + 1; q < copies; ++q) pairOfCopies.push_back({p, q});

    const double quartets = static_cast<double>(size) * k * k * k / 2.0;
    const int workers = quartets >= leastSharedWork_ ? threads_ : 1;
    while (static_cast<int>(apart_.size()) < workers - 1) apart_.emplace_back(votes_.dimension());
    const int slices = oneSlices + pairSlices + static_cast<int>(newPairs.size());
    runSlices(workers, slices, [&](int slice, int worker) {
        QuartetVoteMatrix& votes = worker == 0 ? votes_ : apart_[static_cast<std::size_t>(worker - 1)];
        if (slice < oneSlices) {
            const int c = slice / others;
            const int xi = slice % others;
            const int u = lo + c;
            const int x = outside[static_cast<std::size_t>(xi)];
            ThreeQuartetRuns q{{kept(c), kept(size + c), table.row(u)},
                               table.row(x),
                               nullptr,
                               {nullptr, nullptr, votes.row(u)},
                               votes.row(x),
                               nullptr,
                               x,
                               0};
            for (int yi = xi + 1; yi < others; ++yi) {
                q.y = outside[static_cast<std::size_t>(yi)];
                q.rowY = table.row(q.y);
                q.votesY = votes.row(q.y);
                ThreeQuartetTotals totals;
                eachRunAfter(q.y, [&](int from, int to) { reclassifyThreeRuns(q, from, to, totals); });
                votes.add(x, q.y, totals.xy);
                votes.add(u, x, totals.px[2]);
                votes.add(u, q.y, totals.py[2]);
            }
        } else if (slice < oneSlices + pairSlices) {
            const int pair = (slice - oneSlices) / others;
            const int x = outside[static_cast<std::size_t>((slice - oneSlices) % others)];
            const int p = pairOfCopies[static_cast<std::size_t>(pair)].first;
            const int q = pairOfCopies[static_cast<std::size_t>(pair)].second;
            const double pq = within_[static_cast<std::size_t>(p * copies + q)];
            eachRunAfter(x, [&](int from, int to) {
                withdrawPairRun(kept(p), kept(q), table.row(x), pq, x, from, to, votes.row(x));
            });
        } else {
            const std::pair<int, int>& ij = newPairs[static_cast<std::size_t>(slice - oneSlices - pairSlices)];
            classifyQuartetsTouching(votes, table, line, lo, hi, ij.first, ij.second, +1);
        }
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
    // Both copies of the block are about to be merged and their quartets
    // withdrawn. The withdrawal is carried out with the update, once the new
    // segments are in the table, so that each quartet of three segments
    // outside the block is met once for the left copy, the right copy and
    // their new segment together; their distances are kept for it here.
    const CandidateBlock block = choice.block();
    keepBlockDistances(table, block);
    return block;
}

void QuartetVoteCriterion::merged(const WorkingDistanceTable& table, CandidateBlock block) {
    const int k = table.size();  // after the merge
    // The right copies' rows and columns go, the new segments' start empty;
    // every other cell holds its pair's votes from before the merge, those of
    // the quartets that touch the block included.
    votes_.removeRowsAndColumns(k + block.size, block.start + block.size, block.size);
    votes_.clearRowsAndColumns(k, block.start, block.size);
    reclassifyAroundBlock(table, block);
}

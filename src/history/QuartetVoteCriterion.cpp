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

// classifyRun with delta +1 for the three quartets (a + g, b, c, d), g = 0
// .. 2, at once: they share the rows of b and c, and the votes for {c, d} and
// {b, d} are added together.
TANDEMTREE_VECTOR_CLONES void classifyThreeRuns(QuartetVoteMatrix& votes, const WorkingDistanceTable& table, int a,
                                                int b, int c, int from, int to) {
    const double* __restrict rowA0 = table.row(a);
    const double* __restrict rowA1 = table.row(a + 1);
    const double* __restrict rowA2 = table.row(a + 2);
    const double* __restrict rowB = table.row(b);
    const double* __restrict rowC = table.row(c);
    std::int32_t* __restrict votesA0 = votes.row(a);
    std::int32_t* __restrict votesA1 = votes.row(a + 1);
    std::int32_t* __restrict votesA2 = votes.row(a + 2);
    std::int32_t* __restrict votesB = votes.row(b);
    std::int32_t* __restrict votesC = votes.row(c);
    const double ab0 = rowA0[b], ab1 = rowA1[b], ab2 = rowA2[b];
    const double ac0 = rowA0[c], ac1 = rowA1[c], ac2 = rowA2[c];
    const double bc = rowB[c];
    std::int32_t wins10 = 0, wins11 = 0, wins12 = 0;
    std::int32_t wins20 = 0, wins21 = 0, wins22 = 0;
    std::int32_t wins3 = 0;
    for (int d = from; d < to; ++d) {
        const double cd = rowC[d];
        const double bd = rowB[d];
        const Split w0 = winningSplit(ab0 + cd, ac0 + bd, rowA0[d] + bc);
        const Split w1 = winningSplit(ab1 + cd, ac1 + bd, rowA1[d] + bc);
        const Split w2 = winningSplit(ab2 + cd, ac2 + bd, rowA2[d] + bc);
        votesC[d] += w0.first + w1.first + w2.first;
        votesB[d] += w0.second + w1.second + w2.second;
        votesA0[d] += w0.third;
        votesA1[d] += w1.third;
        votesA2[d] += w2.third;
        wins10 += w0.first;
        wins11 += w1.first;
        wins12 += w2.first;
        wins20 += w0.second;
        wins21 += w1.second;
        wins22 += w2.second;
        wins3 += w0.third + w1.third + w2.third;
    }
    votes.add(a, b, wins10);
    votes.add(a + 1, b, wins11);
    votes.add(a + 2, b, wins12);
    votes.add(a, c, wins20);
    votes.add(a + 1, c, wins21);
    votes.add(a + 2, c, wins22);
    votes.add(b, c, wins3);
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

// One quartet (p, x, y, z) of a block's segment p and three segments x < y
// < z outside the block, met for the block's left copy a and right copy b,
// whose votes are withdrawn, and for their new segment u, whose votes are
// added, for every z in [from, to). The distances are those of the quartet's
// own table: a's and b's from before the merge, u's from after it, and those
// among x, y and z, which the merge leaves alone. The splits are those of
// classifyRun for the quartet passed as (p, x, y, z):
//   split 1: {p,x}{y,z}, split 2: {p,y}{x,z}, split 3: {p,z}{x,y}.
// Votes for pairs with a or b are not withdrawn: those rows are emptied.
struct OneInBlock {
    const double* rowA;  // a's distances, indexed by positions after the merge
    const double* rowB;
    const double* rowU;
    const double* rowX;
    const double* rowY;
    std::int32_t* votesX;
    std::int32_t* votesY;
    std::int32_t* votesU;
    int x;
    int y;
};

// Votes the runs give to the pairs without z.
struct OneInBlockTotals {
    std::int32_t xy = 0;
    std::int32_t ux = 0;
    std::int32_t uy = 0;
};

TANDEMTREE_VECTOR_CLONES void reclassifyRun(const OneInBlock& q, int from, int to, OneInBlockTotals& totals) {
    const double* __restrict rowA = q.rowA;
    const double* __restrict rowB = q.rowB;
    const double* __restrict rowU = q.rowU;
    const double* __restrict rowX = q.rowX;
    const double* __restrict rowY = q.rowY;
    std::int32_t* __restrict votesX = q.votesX;
    std::int32_t* __restrict votesY = q.votesY;
    std::int32_t* __restrict votesU = q.votesU;
    const double ax = rowA[q.x], ay = rowA[q.y];
    const double bx = rowB[q.x], by = rowB[q.y];
    const double ux = rowU[q.x], uy = rowU[q.y];
    const double xy = rowX[q.y];
    std::int32_t xyVotes = 0;
    std::int32_t uxVotes = 0;
    std::int32_t uyVotes = 0;
    for (int z = from; z < to; ++z) {
        const double yz = rowY[z];
        const double xz = rowX[z];
        const Split a = winningSplit(ax + yz, ay + xz, rowA[z] + xy);
        const Split b = winningSplit(bx + yz, by + xz, rowB[z] + xy);
        const Split u = winningSplit(ux + yz, uy + xz, rowU[z] + xy);
        votesY[z] += u.first - a.first - b.first;
        votesX[z] += u.second - a.second - b.second;
        votesU[z] += u.third;
        xyVotes += u.third - a.third - b.third;
        uxVotes += u.first;
        uyVotes += u.second;
    }
    totals.xy += xyVotes;
    totals.ux += uxVotes;
    totals.uy += uyVotes;
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
                if (before == 3)
                    classifyThreeRuns(votes, table, first, b, c, c + 1, n);
                else
                    for (int a = first; a < first + before; ++a) classifyRun(votes, table, a, b, c, c + 1, n, +1);
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
    //   withdrawn, its new segment added) and three outside, the first x;
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
            OneInBlock q{kept(c), kept(size + c), table.row(u), table.row(outside[static_cast<std::size_t>(xi)]),
                         nullptr, votes.row(outside[static_cast<std::size_t>(xi)]), nullptr, votes.row(u),
                         outside[static_cast<std::size_t>(xi)], 0};
            for (int yi = xi + 1; yi < others; ++yi) {
                q.y = outside[static_cast<std::size_t>(yi)];
                q.rowY = table.row(q.y);
                q.votesY = votes.row(q.y);
                OneInBlockTotals totals;
                eachRunAfter(q.y, [&](int from, int to) { reclassifyRun(q, from, to, totals); });
                votes.add(q.x, q.y, totals.xy);
                votes.add(u, q.x, totals.ux);
                votes.add(u, q.y, totals.uy);
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

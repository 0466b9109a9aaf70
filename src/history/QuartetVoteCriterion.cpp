#include "history/QuartetVoteCriterion.h"

#include <algorithm>
#include <vector>

#include "common/Parallel.h"
#include "history/LargestShare.h"
#include "history/QuartetRuns.h"

namespace {

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

namespace {

// Every quartet whose first position is `first`, first + 1 or first + 2.
void countFrom(QuartetVoteMatrix& votes, const WorkingDistanceTable& table, int first) {
    const int n = table.size();
    for (int b = first + 1; b < n; ++b) {
        const int before = std::min({3, b - first, n - first});
        for (int c = b + 1; c < n - 1; ++c) {
            if (before < 3) {
                for (int a = first; a < first + before; ++a) classifyRun(votes, table, a, b, c, c + 1, n, +1);
                continue;
            }
            ThreeQuartetRuns q;
            for (int g = 0; g < 3; ++g) {
                q.rowP[g] = table.row(first + g);
                q.votesP[g] = votes.row(first + g);
            }
            q.rowX = table.row(b);
            q.rowY = table.row(c);
            q.votesX = votes.row(b);
            q.votesY = votes.row(c);
            q.x = b;
            q.y = c;
            ThreeQuartetTotals totals;
            countThreeRuns(q, c + 1, n, totals);
            for (int g = 0; g < 3; ++g) {
                votes.add(first + g, b, totals.px[g]);
                votes.add(first + g, c, totals.py[g]);
            }
            votes.add(b, c, totals.xy);
        }
    }
}

}  // namespace

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
        countFrom(worker == 0 ? votes_ : apart_[static_cast<std::size_t>(worker - 1)], table, first);
    });
    gatherVotes(workers, n);
}

void QuartetVoteCriterion::merging(const WorkingDistanceTable& table, CandidateBlock block) {
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

// The reclassification around one merged block, in three kinds of slices,
// each quartet in one of them:
// - one segment (c, x): the quartets of one block segment c (its two copies
//   withdrawn, its new segment added) and three outside, the first x (each
//   triple outside met once for all three);
// - a pair of copies (p, q, x): the quartets of two of the block's copies and
//   two outside, the first x, withdrawn;
// - new pairs (i, j): the quartets with two or more new segments, added, as
//   the line of classifyQuartetsTouching gives them.
// Quartets of three or four copies give no vote to any pair that stays.
class QuartetVoteCriterion::Reclassification {
public:
    Reclassification(const QuartetVoteCriterion& criterion, const WorkingDistanceTable& table, CandidateBlock block)
        : criterion_(criterion),
          table_(table),
          k_(table.size()),
          lo_(block.start),
          size_(block.size),
          hi_(lo_ + size_),
          copies_(2 * size_) {
        for (int p = 0; p < k_; ++p)
            if (p < lo_ || p >= hi_) outside_.push_back(p);
        for (int i = 0; i < size_; ++i)
            for (int j = i + 1; j < size_; ++j) newPairs_.push_back({i, j});
        if (!newPairs_.empty()) line_ = touchingLine(k_, lo_, hi_);
        for (int p = 0; p < copies_; ++p)
            for (int q = p + 1; q < copies_; ++q) pairOfCopies_.push_back({p, q});
        oneSlices_ = size_ * others();
        pairSlices_ = static_cast<int>(pairOfCopies_.size()) * others();
    }

    int slices() const { return oneSlices_ + pairSlices_ + static_cast<int>(newPairs_.size()); }

    void run(int slice, QuartetVoteMatrix& votes) const {
        if (slice < oneSlices_) {
            oneSegment(votes, slice / others(), slice % others());
        } else if (slice < oneSlices_ + pairSlices_) {
            copyPair(votes, (slice - oneSlices_) / others(), (slice - oneSlices_) % others());
        } else {
            const std::pair<int, int>& ij = newPairs_[static_cast<std::size_t>(slice - oneSlices_ - pairSlices_)];
            classifyQuartetsTouching(votes, table_, line_, lo_, hi_, ij.first, ij.second, +1);
        }
    }

private:
    int others() const { return static_cast<int>(outside_.size()); }
    // Copy t's distances from before the merge, at the positions after it.
    const double* kept(int t) const {
        return &criterion_.kept_[static_cast<std::size_t>(t) * static_cast<std::size_t>(k_)];
    }
    // The runs of the positions outside the block beyond position y.
    template <typename Run>
    void eachRunAfter(int y, Run run) const {
        if (y < lo_) {
            run(y + 1, lo_);
            run(hi_, k_);
        } else {
            run(y + 1, k_);
        }
    }

    // Block segment c with the xi-th position outside and two more beyond.
    void oneSegment(QuartetVoteMatrix& votes, int c, int xi) const {
        const int u = lo_ + c;
        const int x = outside_[static_cast<std::size_t>(xi)];
        ThreeQuartetRuns q;
        q.rowP[0] = kept(c);
        q.rowP[1] = kept(size_ + c);
        q.rowP[2] = table_.row(u);
        q.votesP[2] = votes.row(u);
        q.rowX = table_.row(x);
        q.votesX = votes.row(x);
        q.x = x;
        for (int yi = xi + 1; yi < others(); ++yi) {
            q.y = outside_[static_cast<std::size_t>(yi)];
            q.rowY = table_.row(q.y);
            q.votesY = votes.row(q.y);
            ThreeQuartetTotals totals;
            eachRunAfter(q.y, [&](int from, int to) { reclassifyThreeRuns(q, from, to, totals); });
            votes.add(x, q.y, totals.xy);
            votes.add(u, x, totals.px[2]);
            votes.add(u, q.y, totals.py[2]);
        }
    }

    // The pair-th pair of the block's copies with the xi-th position outside
    // and one more beyond.
    void copyPair(QuartetVoteMatrix& votes, int pair, int xi) const {
        const int x = outside_[static_cast<std::size_t>(xi)];
        const int p = pairOfCopies_[static_cast<std::size_t>(pair)].first;
        const int q = pairOfCopies_[static_cast<std::size_t>(pair)].second;
        const double pq = criterion_.within_[static_cast<std::size_t>(p * copies_ + q)];
        eachRunAfter(x, [&](int from, int to) {
            withdrawPairRun(kept(p), kept(q), table_.row(x), pq, x, from, to, votes.row(x));
        });
    }

    const QuartetVoteCriterion& criterion_;
    const WorkingDistanceTable& table_;
    const int k_, lo_, size_, hi_, copies_;
    std::vector<int> outside_;
    std::vector<std::pair<int, int>> newPairs_, pairOfCopies_;
    std::vector<int> line_;
    int oneSlices_ = 0, pairSlices_ = 0;
};

void QuartetVoteCriterion::reclassifyAroundBlock(const WorkingDistanceTable& table, CandidateBlock block) {
    const Reclassification around(*this, table, block);
    const int k = table.size();
    const double quartets = static_cast<double>(block.size) * k * k * k / 2.0;
    const int workers = quartets >= leastSharedWork_ ? threads_ : 1;
    while (static_cast<int>(apart_.size()) < workers - 1) apart_.emplace_back(votes_.dimension());
    runSlices(workers, around.slices(), [&](int slice, int worker) {
        around.run(slice, worker == 0 ? votes_ : apart_[static_cast<std::size_t>(worker - 1)]);
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
    return choice.block();
}

void QuartetVoteCriterion::merged(const WorkingDistanceTable& table, CandidateBlock block) {
    const int k = table.size();  // after the merge
    // The right copies' rows and columns go, the new segments' start empty;
    // every other cell holds its pair's votes from before the merge, those of
    // the quartets that touch the block included. The withdrawal of the
    // block copies' votes is carried out with the update, once the new
    // segments are in the table, so that each quartet of three segments
    // outside the block is met once for the left copy, the right copy and
    // their new segment together; merging() kept their distances for it.
    votes_.removeRowsAndColumns(k + block.size, block.start + block.size, block.size);
    votes_.clearRowsAndColumns(k, block.start, block.size);
    reclassifyAroundBlock(table, block);
}

#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "history/BinaryTree.h"
#include "history/ProgressLine.h"
#include "history/WorkingDistanceTable.h"
#include "sequences/DistanceMatrix.h"

// One duplication event that copied a run of two or more adjacent segments:
// the labels of the ancestral nodes it made, in chromosome order.
using DuplicationBlock = std::vector<int>;

// Node numbers of the segments that currently lie side by side, in
// chromosome order. Leaves are numbered 0 to n-1, the m-th ancestral node n+m-1.
using SegmentOrder = std::vector<int>;

// Votes of the quartet criterion: an n x n table of counts indexed by
// positions in the current SegmentOrder (only the leading k x k is in use).
// V(p, q) = V(q, p) is the number of quartets that vote for the pair {p, q}.
// Each vote is recorded in one of the pair's two cells, whichever the
// counting reaches contiguously; a count is the sum of both cells.
class QuartetVoteMatrix {
public:
    explicit QuartetVoteMatrix(int n) : n_(static_cast<std::size_t>(n)), cells_(n_ * n_, 0) {}
    static std::uint64_t bytesFor(int n) { return static_cast<std::uint64_t>(n) * n * sizeof(std::int32_t); }
    int dimension() const { return static_cast<int>(n_); }
    // V(p, q).
    std::int32_t at(int p, int q) const { return cells_[index(p, q)] + cells_[index(q, p)]; }
    // Adds `delta` votes to the pair {x, y}.
    void add(int x, int y, std::int32_t delta) { cells_[index(x, y)] += delta; }
    // Row x of the cells, for adding votes to {x, y} along y.
    std::int32_t* row(int x) { return &cells_[index(x, 0)]; }
    // Removes `count` rows and columns from the leading k x k block, as the
    // segment order loses the right copies of a merged block.
    void removeRowsAndColumns(int k, int from, int count);
    // Empties the rows and columns from .. from+count-1 of the leading k x k.
    void clearRowsAndColumns(int k, int from, int count);

private:
    std::size_t index(int p, int q) const { return static_cast<std::size_t>(p) * n_ + static_cast<std::size_t>(q); }
    std::size_t n_;
    std::vector<std::int32_t> cells_;
};

// A duplication history with its block list (and, after a quartet-criterion
// reconstruction, its vote matrix).
class DuplicationTree : public BinaryTree {
public:
    DuplicationTree() = default;
    ~DuplicationTree() override = default;

    // Back to empty: no tree, no blocks, no vote matrix.
    void clearHistory();

    // Rebuilds the history of the segments whose distances are given, with
    // block-selection criterion 1 (quartet votes), 2 (mutual neighbours) or
    // 3 (least mean score). Throws std::invalid_argument for another number.
    // `progress`, when given, is told how far the reconstruction has come.
    void reconstruct(const DistanceMatrix& distances, int criterion, ProgressLine* progress = nullptr);

    // Block choices: each yields start >= 0 and size >= 1 with
    // start + 2*size <= k, for k = order.size() >= 2.
    static void chooseBlockByMutualNeighbours(const SegmentOrder& order, const WorkingDistanceTable& table, int& start,
                                              int& size);
    static void chooseBlockByLeastMeanScore(const SegmentOrder& order, const WorkingDistanceTable& table, int& start,
                                            int& size);
    // Also withdraws the votes of every quartet that touches the chosen block.
    void chooseBlockByQuartetVotes(const SegmentOrder& order, const WorkingDistanceTable& table, int& start, int& size);

    // Quartet votes. A quartet of positions a, b, c, d is split into the two
    // pairs whose distances have the strictly least sum; each of those pairs
    // gets `delta` votes. A tie for the least sum casts no vote.
    void classifyQuartet(const WorkingDistanceTable& table, int a, int b, int c, int d, int delta);
    // Votes of every quartet of the initial positions.
    void countAllQuartetVotes(const SegmentOrder& order, const WorkingDistanceTable& table,
                              ProgressLine* progress = nullptr);
    // After a merge: moves the votes along with the compacted order, then adds
    // the votes of every quartet that touches the new segments.
    void updateQuartetVotesAfterMerge(const SegmentOrder& order, const WorkingDistanceTable& table, int start,
                                      int size);

    std::vector<DuplicationBlock> blocks;
    std::unique_ptr<QuartetVoteMatrix> quartetVotes;
};

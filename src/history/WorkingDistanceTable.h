#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "history/ColumnRuns.h"
#include "history/RowSums.h"
#include "sequences/DistanceMatrix.h"

// The distances between the segments that currently lie side by side, indexed
// by their position along the chromosome (0 to k-1). It starts as the full
// table of the n input segments and shrinks with every merge: the ancestral
// segments of a block take the positions of their left copies, and the right
// copies' rows and columns are removed.
//
// Every value held is the one a table over all node numbers would hold for
// the same two nodes; only the indexing differs.
class WorkingDistanceTable {
public:
    explicit WorkingDistanceTable(const DistanceMatrix& distances);
    // The same table from distances that nothing needs afterwards: their
    // memory is given back as their rows are read, so that the two are never
    // held whole together. The matrix is left without its rows.
    explicit WorkingDistanceTable(DistanceMatrix&& distances);

    // Bytes that the table of n segments holds.
    static std::uint64_t bytesFor(int n) { return static_cast<std::uint64_t>(n) * n * sizeof(double); }

    int size() const { return size_; }
    double at(int p, int q) const { return row(p)[q + offsetOf(q)]; }
    // r_p, the sum of the distances from p to every current segment, added
    // in ascending order of position from 0.0, for every p.
    const double* rowSums() const { return rowSums_.data(); }
    // Whether every distance held is zero (as among identical copies): the
    // row sums are all zero then, and every merge keeps it so.
    bool allZero() const { return allZero_; }
    // Row p's cells: position q at row(p)[q + offset], the offset of the
    // run that q lies in (see columnRuns); k contiguous values when the table
    // is compact.
    const double* row(int p) const { return rowStart_[static_cast<std::size_t>(p)] + columnOffset_; }
    // Whether every position lies at its own cell of each row: always, unless
    // a merge was allowed to leave gaps.
    bool compact() const { return runs_.size() == 1 && runs_.front().offset == 0; }
    const std::vector<ColumnRun>& columnRuns() const { return runs_; }

    // Replaces the block of `size` pairs starting at `start` by its ancestral
    // segments. The distance from a new segment u (copies a, b) to a segment x
    // outside the block is (d(b, x) + d(a, x)) * 0.5; between two new segments
    // of the block it is (d(b, b') + d(a, a')) * 0.5. Without `keepSums`
    // the row sums are left out (and wrong) until a merge keeps them again,
    // which adds them afresh: the same sums as if every merge had kept them.
    //
    // With `gapsAllowed`, the right copies' cells may stay where they are,
    // the positions after them reaching past them (see ColumnRun), until so
    // many gaps are held that the merge closes them all in one pass over the
    // rows: the rows' cells are then moved once every few merges instead of
    // at every merge. Only what reads the table through row() and
    // columnRuns() may allow it; without it the table is compact afterwards.
    void mergeBlock(int start, int size, bool keepSums = true, bool gapsAllowed = false);

    // Threads that may share the row sums' work (1 by default); the sums are
    // the same for any number.
    void setThreads(int threads) {
        threads_ = threads < 1 ? 1 : threads;
        rowSums_.setThreads(threads_);
    }

private:
    // Fills the table from `distances`, giving back their rows' memory as it
    // goes when `release` is that same matrix.
    void fill(const DistanceMatrix& distances, DistanceMatrix* release);

    double* row(int p) { return rowStart_[static_cast<std::size_t>(p)] + columnOffset_; }
    int offsetOf(int q) const {
        int offset = 0;
        for (const ColumnRun& run : runs_) {
            if (run.begin > q) break;
            offset = run.offset;
        }
        return offset;
    }

    // Rows of n cells each live in blocks of kRowsPerBlock: removing a row
    // only drops its start from the list. Columns are removed by shifting, in
    // every row, the shorter side of the removed run, so that all rows share
    // one offset; or, where gaps are allowed, by leaving them until
    // kMostRuns runs are held, then moving every cell after the first gap
    // to its place.
    static constexpr int kRowsPerBlock = 64;
    std::vector<std::vector<double>> blocks_;
    std::vector<double*> rowStart_;
    std::size_t n_;
    std::size_t columnOffset_ = 0;
    int size_;
    // Never empty; {{0, 0}} when compact.
    std::vector<ColumnRun> runs_ = std::vector<ColumnRun>(1, ColumnRun{0, 0});
    static constexpr std::size_t kMostRuns = 32;

    // Below this many segments the compaction runs on one thread.
    static constexpr int kLeastSharedRows = 512;
    int threads_ = 1;
    RowSums rowSums_;
    bool allZero_ = false;
};

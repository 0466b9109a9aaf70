#pragma once

#include <cstddef>
#include <vector>

#include "history/ColumnRuns.h"

class WorkingDistanceTable;

// r_p, the sum of the distances from position p to every current segment of
// a working table, added in ascending order of position from 0.0, for every
// p: what the pair scores of criteria 2 and 3 read.
//
// The first sums are added row by row over the table (row q is column q),
// and the partial sums after every 64 rows are kept: rows before a merged
// block do not change, so the next sums start from the last partial sum
// taken before the block instead of from zero, which adds the same terms in
// the same order. After a merge the table is symmetric, so r_p is also the
// sum along row p in ascending position: the table adds each row as its
// compaction leaves it, from the same partial sums, and so reads the table
// once for both.
class RowSums {
public:
    // Storage for a table of n segments, no sum made yet.
    void reset(std::size_t n);
    // Threads that may share the work (1 by default); the sums are the same
    // for any number.
    void setThreads(int threads) { threads_ = threads < 1 ? 1 : threads; }

    const double* data() const { return sums_.data(); }

    // Adds the sums of a compact table from the last partial sum still valid.
    void update(const WorkingDistanceTable& table);
    // After the table merged the block of `size` pairs at `start` (it held
    // `before` segments), before it compacts: the partial sums over rows
    // before the block follow the compaction. Every row of the compacted
    // table is then given to sumRows, and finishMerge ends the merge.
    void beginMerge(int start, int size, int before);
    // r_p for the rows at `positions` (at most kRowsAtOnce) of a table of k
    // segments, each from its cells along the row, laid out as `along`
    // says: from the last partial sum still valid, or from zero for the new
    // segments of the block (`fromZero`). Rows of different positions may be
    // summed at once on different threads.
    void sumRows(const int* positions, const double* const* rows, int count, bool fromZero, int k,
                 const std::vector<ColumnRun>& along);
    void finishMerge(int k) { validCheckpoints_ = k / kRowsPerCheckpoint; }
    // Rows summed together: each sum is a chain of additions of its own, and
    // several chains side by side keep the processor busy.
    static constexpr int kRowsAtOnce = 8;
    // No partial sum is valid any more: every distance is zero and stays so
    // (the sums are zero and never need adding again), or a merge left the
    // sums out, and the next are added from zero.
    void forget() { validCheckpoints_ = 0; }

private:
    static constexpr int kRowsPerCheckpoint = 64;
    // Below this many segments the sums are added on one thread.
    static constexpr int kLeastSharedRows = 512;
    std::size_t n_ = 0;
    int threads_ = 1;
    std::vector<double> sums_;
    std::vector<double> checkpoints_;  // checkpoint c at (c - 1) * n, c >= 1
    int validCheckpoints_ = 0;
};

#include "history/RowSums.h"

#include <algorithm>

#include "common/Parallel.h"
#include "common/VectorClones.h"
#include "history/WorkingDistanceTable.h"

namespace {

// sums[p] += row[p] for every p: one more term of every row sum at once.
TANDEMTREE_VECTOR_CLONES void addRow(const double* __restrict row, double* __restrict sums, int k) {
    for (int p = 0; p < k; ++p) sums[p] += row[p];
}

// sums[i] += rows[i][q] for q = from .. to-1 in turn, for kRowsAtOnce rows
// side by side: every chain of additions in its own order.
TANDEMTREE_VECTOR_CLONES void addInStep(const double* const* rows, double* sums, int from, int to) {
    double s[RowSums::kRowsAtOnce];
    const double* r[RowSums::kRowsAtOnce];
    for (int i = 0; i < RowSums::kRowsAtOnce; ++i) {
        s[i] = sums[i];
        r[i] = rows[i];
    }
    for (int q = from; q < to; ++q) {
#pragma GCC unroll 8
        for (int i = 0; i < RowSums::kRowsAtOnce; ++i) s[i] += r[i][q];
    }
    for (int i = 0; i < RowSums::kRowsAtOnce; ++i) sums[i] = s[i];
}

}  // namespace

void RowSums::reset(std::size_t n) {
    n_ = n;
    sums_.resize(n);
    checkpoints_.resize(n / kRowsPerCheckpoint * n);
    validCheckpoints_ = 0;
}

void RowSums::update(const WorkingDistanceTable& table) {
    const int k = table.size();
    const std::size_t n = n_;
    const int from = validCheckpoints_ * kRowsPerCheckpoint;
    // Every sum gets its terms in the same order whoever adds them, so the
    // columns can be shared out among threads in ranges of their own.
    const int workers = k >= kLeastSharedRows ? std::min(threads_, k / kRowsPerCheckpoint + 1) : 1;
    const int width = (k + workers - 1) / workers;
    runSlices(workers, workers, [&](int slice, int) {
        const int lo = slice * width;
        const int hi = std::min(k, lo + width);
        if (lo >= hi) return;
        double* sums = sums_.data() + lo;
        if (validCheckpoints_ == 0)
            std::fill(sums, sums + (hi - lo), 0.0);
        else
            std::copy_n(&checkpoints_[static_cast<std::size_t>(validCheckpoints_ - 1) * n] + lo, hi - lo, sums);
        for (int q = from; q < k; ++q) {
            addRow(table.row(q) + lo, sums, hi - lo);
            if ((q + 1) % kRowsPerCheckpoint == 0) {
                const int c = (q + 1) / kRowsPerCheckpoint;
                std::copy_n(sums, hi - lo, &checkpoints_[static_cast<std::size_t>(c - 1) * n] + lo);
            }
        }
    });
    if (k / kRowsPerCheckpoint > validCheckpoints_) validCheckpoints_ = k / kRowsPerCheckpoint;
}

void RowSums::beginMerge(int start, int size, int before) {
    const int removedFrom = start + size;
    const int blockEnd = start + 2 * size;
    // Partial sums over rows that all lie before the block stay valid for
    // the segments outside it, once they follow the compaction; the new
    // segments' are made whole again by sumRows.
    validCheckpoints_ = std::min(validCheckpoints_, start / kRowsPerCheckpoint);
    const std::size_t n = n_;
    for (int c = 1; c <= validCheckpoints_; ++c) {
        double* partial = &checkpoints_[static_cast<std::size_t>(c - 1) * n];
        std::copy(partial + blockEnd, partial + before, partial + removedFrom);
    }
}

void RowSums::sumRows(const int* positions, const double* const* rows, int count, bool fromZero, int k,
                      const std::vector<ColumnRun>& along) {
    const std::size_t n = n_;
    const int from = fromZero ? 0 : validCheckpoints_ * kRowsPerCheckpoint;
    double sums[kRowsAtOnce];
    for (int i = 0; i < count; ++i)
        sums[i] = from == 0 ? 0.0
                            : checkpoints_[static_cast<std::size_t>(validCheckpoints_ - 1) * n +
                                           static_cast<std::size_t>(positions[i])];
    const double* shifted[kRowsAtOnce];
    for (int chunk = from; chunk < k; chunk += kRowsPerCheckpoint) {
        const int end = std::min(k, chunk + kRowsPerCheckpoint);
        // The cells of a run lie side by side; a chunk may span several.
        forEachStretch(along.data(), static_cast<int>(along.size()), chunk, end, [&](int lo, int hi, int offset) {
            if (count == kRowsAtOnce) {
                for (int i = 0; i < count; ++i) shifted[i] = rows[i] + offset;
                addInStep(shifted, sums, lo, hi);
            } else {
                for (int i = 0; i < count; ++i)
                    for (int q = lo; q < hi; ++q) sums[i] += rows[i][q + offset];
            }
        });
        if (end % kRowsPerCheckpoint != 0) break;
        double* partial = &checkpoints_[static_cast<std::size_t>(end / kRowsPerCheckpoint - 1) * n];
        for (int i = 0; i < count; ++i) partial[positions[i]] = sums[i];
    }
    for (int i = 0; i < count; ++i) sums_[static_cast<std::size_t>(positions[i])] = sums[i];
}

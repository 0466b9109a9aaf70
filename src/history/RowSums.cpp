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

void RowSums::merged(const WorkingDistanceTable& table, int start, int size, int before) {
    const int removedFrom = start + size;
    const int blockEnd = start + 2 * size;
    // Partial row sums over rows that all lie before the block stay valid,
    // once they follow the compaction and the new segments' own sums over
    // those rows are put in.
    validCheckpoints_ = std::min(validCheckpoints_, start / kRowsPerCheckpoint);
    const std::size_t n = n_;
    for (int c = 1; c <= validCheckpoints_; ++c) {
        double* partial = &checkpoints_[static_cast<std::size_t>(c - 1) * n];
        std::copy(partial + blockEnd, partial + before, partial + removedFrom);
    }
    for (int a = start; a < removedFrom; ++a) {
        const double* values = table.row(a);
        double sum = 0.0;
        for (int q = 0; q < validCheckpoints_ * kRowsPerCheckpoint; ++q) {
            sum += values[q];
            if ((q + 1) % kRowsPerCheckpoint == 0)
                checkpoints_[static_cast<std::size_t>((q + 1) / kRowsPerCheckpoint - 1) * n +
                             static_cast<std::size_t>(a)] = sum;
        }
    }
    update(table);
}

#include "history/WorkingDistanceTable.h"

#include <algorithm>

#include "common/Parallel.h"

WorkingDistanceTable::WorkingDistanceTable(const DistanceMatrix& distances)
    : n_(static_cast<std::size_t>(distances.count())), size_(distances.count()) {
    fill(distances, nullptr);
}

WorkingDistanceTable::WorkingDistanceTable(DistanceMatrix&& distances)
    : n_(static_cast<std::size_t>(distances.count())), size_(distances.count()) {
    fill(distances, &distances);
}

void WorkingDistanceTable::fill(const DistanceMatrix& distances, DistanceMatrix* release) {
    const int n = size_;
    const std::size_t width = n_;
    rowStart_.resize(width);
    const double* valueOfCode = distances.coded() ? distances.valueOfCode().data() : nullptr;
    for (int first = 0; first < n; first += kRowsPerBlock) {
        const int end = std::min(n, first + kRowsPerBlock);
        blocks_.emplace_back(static_cast<std::size_t>(end - first) * width, 0.0);
        for (int i = first; i < end; ++i) {
            rowStart_[static_cast<std::size_t>(i)] =
                blocks_.back().data() + static_cast<std::size_t>(i - first) * width;
            double* cells = row(i);
            if (valueOfCode != nullptr) {
                const DistanceMatrix::Code* codes = distances.codesOfRow(i);
                for (int j = i + 1; j < n; ++j) cells[j] = valueOfCode[codes[j - i - 1]];
            } else {
                const double* values = distances.valuesOfRow(i);
                for (int j = i + 1; j < n; ++j) cells[j] = values[j - i - 1];
            }
        }
        // The cells left of the diagonal mirror those above it, read from
        // the rows already filled (each along the block's own columns).
        for (int j = 0; j < end; ++j) {
            const double* above = row(j);
            for (int i = std::max(first, j + 1); i < end; ++i) row(i)[j] = above[i];
        }
        if (release != nullptr) release->releaseRowsBefore(end);
    }
    rowSums_.reset(width);
    rowSums_.update(*this);
    allZero_ = std::all_of(blocks_.begin(), blocks_.end(), [](const std::vector<double>& block) {
        return std::all_of(block.begin(), block.end(), [](double value) { return value == 0.0; });
    });
}

void WorkingDistanceTable::mergeBlock(int start, int size, bool keepSums) {
    const int k = size_;
    const int blockEnd = start + 2 * size;
    // New segment c is written over its left copy's row and column. Every
    // value it reads (rows of later left copies, of right copies, and of
    // segments outside the block) is still unchanged at that point.
    for (int c = 0; c < size; ++c) {
        const int a = start + c;
        const int b = start + size + c;
        double* left = row(a);
        const double* right = row(b);
        for (int x = 0; x < k; ++x) {
            if (x >= start && x < blockEnd) continue;
            const double d = (right[x] + left[x]) * 0.5;
            left[x] = d;
            row(x)[a] = d;
        }
        left[a] = 0.0;
        for (int e = c + 1; e < size; ++e) {
            const double d = (right[start + size + e] + left[start + e]) * 0.5;
            row(start + e)[a] = d;
            left[start + e] = d;
        }
    }
    // Remove the right copies' rows, then their columns.
    const int removedFrom = start + size;
    rowStart_.erase(rowStart_.begin() + removedFrom, rowStart_.begin() + blockEnd);
    const int remaining = k - size;
    const int before = removedFrom;
    const int after = k - blockEnd;
    // Each row moves on its own, so the rows are shared among the threads;
    // each row's sum is taken as it is moved (averages of zeros are zeros:
    // in a table of zeros every row sum stays zero).
    const bool sum = !allZero_ && keepSums;
    if (sum) rowSums_.beginMerge(start, size, k);
    const std::size_t shift = before <= after ? static_cast<std::size_t>(size) : 0;
    const int workers = remaining >= kLeastSharedRows ? threads_ : 1;
    const int rowsPerSlice = (remaining + workers - 1) / workers;
    runSlices(workers, workers, [&](int slice, int) {
        const int last = std::min(remaining, (slice + 1) * rowsPerSlice);
        int positions[RowSums::kRowsAtOnce];
        const double* rows[RowSums::kRowsAtOnce];
        int held = 0;
        for (int p = slice * rowsPerSlice; p < last; ++p) {
            double* cells = row(p);
            if (before <= after)
                std::copy_backward(cells, cells + before, cells + blockEnd);
            else
                std::copy(cells + blockEnd, cells + k, cells + removedFrom);
            if (!sum) continue;
            const double* moved = cells + shift;
            if (p >= start && p < removedFrom) {
                rowSums_.sumRows(&p, &moved, 1, true, remaining);
                continue;
            }
            positions[held] = p;
            rows[held] = moved;
            if (++held == RowSums::kRowsAtOnce) {
                rowSums_.sumRows(positions, rows, held, false, remaining);
                held = 0;
            }
        }
        if (held > 0) rowSums_.sumRows(positions, rows, held, false, remaining);
    });
    columnOffset_ += shift;
    size_ = remaining;
    if (allZero_ || !keepSums)
        rowSums_.forget();
    else
        rowSums_.finishMerge(remaining);
}

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
    // Room for every run a merge may keep, so that keeping them never
    // allocates once the table has begun to change.
    runs_.reserve(kMostRuns + 1);
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

void WorkingDistanceTable::mergeBlock(int start, int size, bool keepSums, bool gapsAllowed) {
    const int k = size_;
    const int blockEnd = start + 2 * size;
    const int removedFrom = start + size;
    // Where the positions lie once the right copies' go, if their cells
    // stay (made first: nothing has changed yet if it cannot be made).
    const std::vector<ColumnRun> gapped = withoutPositions(runs_, k, removedFrom, size);
    // New segment c is written over its left copy's row and column. Every
    // value it reads (rows of later left copies, of right copies, and of
    // segments outside the block) is still unchanged at that point.
    const ColumnRun* runs = runs_.data();
    const int runCount = static_cast<int>(runs_.size());
    for (int c = 0; c < size; ++c) {
        const int a = start + c;
        const int b = start + size + c;
        double* left = row(a);
        const double* right = row(b);
        const int ca = a + offsetOf(a);
        const auto average = [&](int from, int to, int offset) {
            for (int x = from; x < to; ++x) {
                const double d = (right[x + offset] + left[x + offset]) * 0.5;
                left[x + offset] = d;
                row(x)[ca] = d;
            }
        };
        forEachStretch(runs, runCount, 0, start, average);
        forEachStretch(runs, runCount, blockEnd, k, average);
        left[ca] = 0.0;
        for (int e = c + 1; e < size; ++e) {
            const double d =
                (right[start + size + e + offsetOf(start + size + e)] + left[start + e + offsetOf(start + e)]) * 0.5;
            row(start + e)[ca] = d;
            left[start + e + offsetOf(start + e)] = d;
        }
    }
    // Remove the right copies' rows, then their columns.
    rowStart_.erase(rowStart_.begin() + removedFrom, rowStart_.begin() + blockEnd);
    const int remaining = k - size;
    const int before = removedFrom;
    const int after = k - blockEnd;
    // How the columns go: the shorter side of the removed run shifted over
    // it (a compact table that stays so), the gap left (`keep`), or every
    // gap closed at once.
    const bool keep = gapsAllowed && gapped.size() <= kMostRuns;
    const bool shorterSide = !keep && compact();
    const bool closeAll = !keep && !compact();
    if (keep)
        runs_ = gapped;
    else
        runs_.assign(1, ColumnRun{0, 0});
    // Each row moves on its own, so the rows are shared among the threads;
    // each row's sum is taken as it is moved (averages of zeros are zeros:
    // in a table of zeros every row sum stays zero).
    const bool sum = !allZero_ && keepSums;
    if (sum) rowSums_.beginMerge(start, size, k);
    const std::size_t shift = shorterSide && before <= after ? static_cast<std::size_t>(size) : 0;
    const int workers = remaining >= kLeastSharedRows ? threads_ : 1;
    const int rowsPerSlice = (remaining + workers - 1) / workers;
    runSlices(workers, workers, [&](int slice, int) {
        const int last = std::min(remaining, (slice + 1) * rowsPerSlice);
        int positions[RowSums::kRowsAtOnce];
        const double* rows[RowSums::kRowsAtOnce];
        int held = 0;
        for (int p = slice * rowsPerSlice; p < last; ++p) {
            double* cells = row(p);
            if (shorterSide) {
                if (before <= after)
                    std::copy_backward(cells, cells + before, cells + blockEnd);
                else
                    std::copy(cells + blockEnd, cells + k, cells + removedFrom);
            } else if (closeAll) {
                // Offsets grow from run to run, so each run moves down
                // over cells already moved or no longer needed.
                for (std::size_t r = 0; r < gapped.size(); ++r) {
                    const int from = gapped[r].begin;
                    const int to = r + 1 < gapped.size() ? gapped[r + 1].begin : remaining;
                    if (gapped[r].offset > 0)
                        std::copy(cells + from + gapped[r].offset, cells + to + gapped[r].offset, cells + from);
                }
            }
            if (!sum) continue;
            const double* moved = cells + shift;
            if (p >= start && p < removedFrom) {
                rowSums_.sumRows(&p, &moved, 1, true, remaining, runs_);
                continue;
            }
            positions[held] = p;
            rows[held] = moved;
            if (++held == RowSums::kRowsAtOnce) {
                rowSums_.sumRows(positions, rows, held, false, remaining, runs_);
                held = 0;
            }
        }
        if (held > 0) rowSums_.sumRows(positions, rows, held, false, remaining, runs_);
    });
    columnOffset_ += shift;
    size_ = remaining;
    if (allZero_ || !keepSums)
        rowSums_.forget();
    else
        rowSums_.finishMerge(remaining);
}

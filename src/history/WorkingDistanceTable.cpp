#include "history/WorkingDistanceTable.h"

#include "history/SquareCompaction.h"

WorkingDistanceTable::WorkingDistanceTable(const DistanceMatrix& distances)
    : stride_(static_cast<std::size_t>(distances.count())),
      size_(distances.count()),
      cells_(stride_ * stride_, 0.0) {
    const std::vector<double>& values = distances.values();
    std::size_t k = 0;
    for (int i = 0; i < size_; ++i) {
        for (int j = i + 1; j < size_; ++j) {
            cell(i, j) = values[k];
            cell(j, i) = values[k];
            ++k;
        }
    }
}

void WorkingDistanceTable::mergeBlock(int start, int size) {
    const int k = size_;
    const int blockEnd = start + 2 * size;
    // New segment c is written over its left copy's row and column. Every
    // value it reads (rows of later left copies, of right copies, and of
    // segments outside the block) is still unchanged at that point.
    for (int c = 0; c < size; ++c) {
        const int a = start + c;
        const int b = start + size + c;
        for (int x = 0; x < k; ++x) {
            if (x >= start && x < blockEnd) continue;
            const double d = (at(b, x) + at(a, x)) * 0.5;
            cell(a, x) = d;
            cell(x, a) = d;
        }
        cell(a, a) = 0.0;
        for (int e = c + 1; e < size; ++e) {
            const double d = (at(b, start + size + e) + at(a, start + e)) * 0.5;
            cell(start + e, a) = d;
            cell(a, start + e) = d;
        }
    }
    // Remove the right copies' rows and columns; later ones move down by size.
    removeRowsAndColumns(cells_.data(), stride_, k, start + size, size);
    size_ = k - size;
}

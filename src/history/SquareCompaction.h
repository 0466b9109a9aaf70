#pragma once

#include <algorithm>
#include <cstddef>

// Removes `count` rows and columns, starting at `from`, from the leading k x k
// block of a square table stored row by row with `stride` cells per row. The
// rows and columns behind them move down by `count`, keeping their order.
template <typename Cell>
void removeRowsAndColumns(Cell* cells, std::size_t stride, int k, int from, int count) {
    const int until = from + count;
    const int remaining = k - count;
    for (int p = 0; p < remaining; ++p) {
        const int source = p < from ? p : p + count;
        Cell* target = cells + static_cast<std::size_t>(p) * stride;
        const Cell* row = cells + static_cast<std::size_t>(source) * stride;
        if (source != p) std::copy(row, row + from, target);
        std::copy(row + until, row + k, target + from);
    }
}

#include "history/QuartetVoteMatrix.h"

#include <algorithm>

void QuartetVoteMatrix::removeRowsAndColumns(int k, int from, int count) {
    // Rows and columns behind the removed ones move down by `count`, keeping
    // their order; every row moves to a lower one, so nothing is overwritten
    // before it is read.
    const int until = from + count;
    for (int p = 0; p < k - count; ++p) {
        const int source = p < from ? p : p + count;
        std::int32_t* target = row(p);
        const std::int32_t* cells = row(source);
        if (source != p) std::copy(cells, cells + from, target);
        std::copy(cells + until, cells + k, target + from);
    }
}

void QuartetVoteMatrix::clearRowsAndColumns(int k, int from, int count) {
    for (int p = 0; p < k; ++p) {
        std::int32_t* cells = row(p);
        if (p >= from && p < from + count)
            std::fill(cells, cells + k, 0);
        else
            std::fill(cells + from, cells + from + count, 0);
    }
}

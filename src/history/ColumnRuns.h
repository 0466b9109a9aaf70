#pragma once

#include <algorithm>
#include <vector>

// Where a working table holds the current positions along its rows: from
// position `begin` on, up to the next run's begin, position q lies at cell
// q + offset of every row. A merge removes positions, and the table may
// leave their cells where they are for a while (the offsets after them grow)
// instead of moving every row's cells at every merge.
struct ColumnRun {
    int begin;
    int offset;
};

// The runs once positions from .. from+count-1 of the `size` held are
// removed, their cells left in place: the positions after them take their
// numbers.
inline std::vector<ColumnRun> withoutPositions(const std::vector<ColumnRun>& runs, int size, int from, int count) {
    std::vector<ColumnRun> left;
    left.reserve(runs.size() + 1);
    int offsetAfter = 0;  // the offset of position from + count
    for (const ColumnRun& run : runs) {
        if (run.begin < from) left.push_back(run);
        if (run.begin <= from + count) offsetAfter = run.offset;
    }
    if (from + count < size) left.push_back({from, offsetAfter + count});
    for (const ColumnRun& run : runs)
        if (run.begin > from + count) left.push_back({run.begin - count, run.offset + count});
    return left;
}

// Calls each(lo, hi, offset) for the stretches of positions lo .. hi-1 in
// from .. to-1 that lie in one run, in ascending order.
template <typename Each>
inline void forEachStretch(const ColumnRun* runs, int count, int from, int to, Each each) {
    for (int i = 0; i < count; ++i) {
        const int lo = std::max(from, runs[i].begin);
        const int hi = i + 1 < count ? std::min(to, runs[i + 1].begin) : to;
        if (lo < hi) each(lo, hi, runs[i].offset);
        if (hi >= to) return;
    }
}

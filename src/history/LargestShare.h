#pragma once

#include "history/BlockCriterion.h"

// The candidate with the strictly largest share of its pairs that count (a
// vote count or a number of marked pairs, divided by the size as a double),
// among candidates offered in scan order: between equal shares the first one
// offered stays.
class LargestShare {
public:
    // `floor` is the share that a candidate must exceed to replace the
    // block held at first, (0, 1).
    explicit LargestShare(double floor) : best_(floor) {}

    void offer(int count, int size, int start) {
        const double share = static_cast<double>(count) / size;
        if (share > best_) {
            best_ = share;
            block_ = {start, size};
        }
    }
    CandidateBlock block() const { return block_; }

private:
    double best_;
    CandidateBlock block_;
};

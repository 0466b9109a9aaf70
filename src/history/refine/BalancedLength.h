#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "history/refine/Topology.h"
#include "sequences/DistanceMatrix.h"

namespace refine {

// The balanced minimum evolution length of a tree: the sum over pairs of
// copies of d(i, j) 2^(1 - t(i, j)), t being the number of edges between them
// in the unrooted tree. Worked out from the distances as a full n x n table:
// the pairs are met at their last common ancestor, with their depths below
// it.
class BalancedLength {
public:
    // Copies share the table and have scratch of their own, so that each
    // thread can measure trees with its own copy.
    BalancedLength(const DistanceMatrix& distances, int n);

    const std::vector<double>& table() const { return *table_; }
    int count() const { return static_cast<int>(n_); }

    double of(const Topology& t);

private:
    std::size_t n_;
    std::shared_ptr<const std::vector<double>> table_;
    std::vector<double> weight_;
    std::vector<std::vector<std::pair<int, int>>> below_;
};

}  // namespace refine

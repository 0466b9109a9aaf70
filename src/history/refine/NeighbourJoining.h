#pragma once

#include <vector>

#include "history/refine/Topology.h"

namespace refine {

// The neighbour-joining tree of an n x n table of distances (the pair with
// the least (k - 2) d(i, j) - r_i - r_j joined first, the first such pair on
// ties), rooted at its last join: a tree made without the order of the
// copies.
Topology joinedNeighbours(const std::vector<double>& table, int n);

}  // namespace refine

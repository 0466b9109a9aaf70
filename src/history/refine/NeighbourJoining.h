#pragma once

#include <vector>

#include "history/refine/Topology.h"

namespace refine {

// The neighbour-joining tree of an n x n table of distances (the pair with
// the least (k - 2) d(i, j) - r_i - r_j joined first, the first such pair on
// ties), rooted at its last join: a tree made without the order of the
// copies. r_i is the sum of i's row in the order of the nodes left (each
// join takes the place of its first node); the same tree for any number of
// `threads`.
Topology joinedNeighbours(const std::vector<double>& table, int n, int threads = 1);

}  // namespace refine

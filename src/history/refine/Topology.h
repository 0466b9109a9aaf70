#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "history/BinaryTree.h"

namespace refine {

// A rooted binary tree over the copies 0 .. n-1 with unordered children:
// nodes 0 .. n-1 are the copies, the rest ancestral segments, numbered as
// the reconstruction numbers them.
struct Topology {
    int n = 0;
    int root = -1;
    std::vector<int> parent;
    std::vector<std::array<int, 2>> child;  // {-1, -1} for a copy

    bool isLeaf(int x) const { return child[static_cast<std::size_t>(x)][0] < 0; }
    int sibling(int x) const {
        const auto& pair = child[static_cast<std::size_t>(parent[static_cast<std::size_t>(x)])];
        return pair[0] == x ? pair[1] : pair[0];
    }
    void replaceChild(int p, int from, int to) {
        auto& pair = child[static_cast<std::size_t>(p)];
        (pair[0] == from ? pair[0] : pair[1]) = to;
        parent[static_cast<std::size_t>(to)] = p;
    }
    // Children before parents.
    std::vector<int> postOrder() const;
};

// The topology of a history tree.
Topology topologyOf(const BinaryTree& tree);

}  // namespace refine

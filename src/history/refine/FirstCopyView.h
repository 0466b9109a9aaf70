#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "history/refine/Unrooted.h"

namespace refine {

// The unrooted tree seen from copy 0: every other node hangs below it, so
// that each side of an edge is either the subtree below a node, down(x), or
// everything outside it, up(x), seen from x's parent. A side is named by one
// node either way: down(x) by x, up(x) by x too; which one is meant follows
// from the pair it is met in, for two disjoint sides are either two subtrees
// below nodes unrelated to each other or up(x) and a subtree below x.
class FirstCopyView {
public:
    FirstCopyView() = default;
    explicit FirstCopyView(const Unrooted& g) { orient(g); }

    // Hangs the tree g from copy 0.
    void orient(const Unrooted& g);

    std::size_t nodeCount() const { return parent_.size(); }
    int parent(int x) const { return parent_[static_cast<std::size_t>(x)]; }
    const std::array<int, 2>& children(int x) const { return children_[static_cast<std::size_t>(x)]; }
    bool isLeaf(int x) const { return children_[static_cast<std::size_t>(x)][0] < 0; }
    // The nodes below copy 0, children before parents.
    const std::vector<int>& postOrder() const { return postOrder_; }
    // Every node, copy 0 first, each subtree in one run.
    const std::vector<int>& preOrder() const { return preOrder_; }
    // Where the run of the subtree below x begins and ends in the preorder.
    int subtreeBegin(int x) const { return first_[static_cast<std::size_t>(x)]; }
    int subtreeEnd(int x) const { return last_[static_cast<std::size_t>(x)]; }
    // The name of the side at y seen from its neighbour x.
    int side(int x, int y) const { return parent(x) == y ? x : y; }

private:
    std::vector<int> parent_;
    std::vector<std::array<int, 2>> children_;
    std::vector<int> first_, last_;
    std::vector<int> preOrder_, postOrder_;
};

}  // namespace refine

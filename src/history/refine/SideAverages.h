#pragma once

#include <cstddef>
#include <vector>

#include "history/refine/FirstCopyView.h"

namespace refine {

// For every two disjoint sides X and Y of the tree seen from copy 0 (see
// FirstCopyView), the balanced average A(X, Y): the sum over copies a in X
// and b in Y of d(a, b) 2^-(edges from a to X's top) 2^-(edges from b to Y's
// top). The gains of moves come from this table.
class SideAverages {
public:
    // The table of the tree `view` shows, from an n x n table of distances;
    // the storage is kept from tree to tree.
    void rebuild(const FirstCopyView& view, const std::vector<double>& table, int n);
    // The table after a move of a subtree (its parent p with it) to another
    // edge, `view` showing the moved tree: `above` lists the nodes that were
    // above p before the move. Only the subtrees below those nodes and below
    // p and its new ancestors changed; their rows are made again, and the
    // pairs of a subtree and a side above it, which all may change, are made
    // again from them. About (depth + depth) rows instead of every row.
    void update(const FirstCopyView& view, const std::vector<double>& table, int p, const std::vector<int>& above);

    double operator()(int x, int y) const {
        return average_[static_cast<std::size_t>(x) * nodes_ + static_cast<std::size_t>(y)];
    }
    // The same value for two of the three sides around a subtree x (x
    // itself for up(x), or one of its children), kept beside the table for
    // every x: a walk over the tree reads these at every step.
    double around(const FirstCopyView& view, int x, int side, int other) const {
        const Around& at = around_[static_cast<std::size_t>(x)];
        if (side == x || other == x) return (side == x ? other : side) == view.children(x)[0] ? at.upLeft : at.upRight;
        return at.children;
    }

private:
    double* row(int x) { return &average_[static_cast<std::size_t>(x) * nodes_]; }
    void fillCopies(const FirstCopyView& view, const std::vector<double>& table);
    void fillSubtrees(const FirstCopyView& view);
    void fillUp(const FirstCopyView& view, const std::vector<double>& table);
    void fillAround(const FirstCopyView& view);

    // Rows and columns of a block that the passes make symmetric at once.
    static constexpr std::size_t kBlock = 64;
    // Copies' rows made side by side.
    static constexpr std::size_t kRowsAtOnce = 4;

    // A(up(x), left child), A(up(x), right child), A(left child, right child).
    struct Around {
        double upLeft = 0.0, upRight = 0.0, children = 0.0;
    };
    std::vector<Around> around_;
    // The numbers of no node below copy 0: copy 0's, and the one no node has
    // while the tree is unrooted. Their rows and columns are zeros.
    std::vector<int> outside_;
    // Scratch of update: the nodes whose subtrees changed.
    std::vector<char> changed_;

    std::size_t nodes_ = 0;
    std::size_t n_ = 0;
    std::vector<double> average_;
};

}  // namespace refine

#include "history/refine/SideAverages.h"

#include <algorithm>

#include "common/VectorClones.h"

namespace refine {

namespace {
constexpr int kTop = 0;  // the copy the tree hangs from
}  // namespace

// The table, a row at a time: subtrees against single copies; two subtrees
// below unrelated nodes, children before parents, each from the two children
// of one of them; up(a) against the subtrees below a, parents first, from
// up(parent) and the sibling's subtree, or the top copy when a hangs from
// it. A pair of unrelated nodes holds the value of whichever of the two was
// worked out last: the one its final value comes from.
//
// The first two passes write along rows only, a whole row at a time (cells
// of related nodes too, which the third pass writes over, or which are set
// back to zero), and the table is made symmetric after each: a pass never
// reads a cell that only the other orientation would have held. Against a
// subtree's row, a copy's value is the same whether worked out against the
// copies or against the subtrees (the same halves of the same values), and
// while a node's row is made, its children's rows hold their final values
// against every node unrelated to it: no such node lies between a child and
// its parent in the postorder.
void SideAverages::rebuild(const FirstCopyView& view, const std::vector<double>& table, int n) {
    nodes_ = view.nodeCount();
    n_ = static_cast<std::size_t>(n);
    // Every row of a node below copy 0 is written whole; the others (copy
    // 0's, and that of the number no node has while the tree is unrooted)
    // are zeros.
    std::vector<char> below(nodes_, 0);
    for (const int x : view.postOrder()) below[static_cast<std::size_t>(x)] = 1;
    outside_.clear();
    for (std::size_t x = 0; x < nodes_; ++x)
        if (below[x] == 0) outside_.push_back(static_cast<int>(x));
    if (average_.size() != nodes_ * nodes_) {
        average_.assign(nodes_ * nodes_, 0.0);
    } else {
        for (const int x : outside_) std::fill_n(row(x), nodes_, 0.0);
    }
    fillCopies(view, table);
    fillSubtrees(view);
    fillUp(view, table);
    fillAround(view);
}

void SideAverages::fillAround(const FirstCopyView& view) {
    around_.assign(nodes_, Around{});
    for (const int x : view.postOrder()) {
        if (view.isLeaf(x)) continue;
        const auto& pair = view.children(x);
        around_[static_cast<std::size_t>(x)] = {(*this)(x, pair[0]), (*this)(x, pair[1]), (*this)(pair[0], pair[1])};
    }
}

namespace {

// to[x] = (left[x] + right[x]) / 2 for every x below `count`.
TANDEMTREE_VECTOR_CLONES void halfSums(const double* __restrict left, const double* __restrict right,
                                       double* __restrict to, std::size_t count) {
    for (std::size_t x = 0; x < count; ++x) to[x] = (left[x] + right[x]) / 2;
}

}  // namespace

// Every copy against the subtrees, a copy's row at a time: its distances
// to the copies, then each subtree from its children, children before
// parents. A subtree's value against a copy is the same whichever of the two
// rows it is worked out in (the same halves of the same values, the
// distances being symmetric), so the subtrees' rows take theirs in the next
// pass.
void SideAverages::fillCopies(const FirstCopyView& view, const std::vector<double>& table) {
    struct Join {
        int x, left, right;
    };
    std::vector<Join> joins;
    for (const int x : view.postOrder())
        if (!view.isLeaf(x)) joins.push_back({x, view.children(x)[0], view.children(x)[1]});
    // Four rows side by side: their joins are chains of their own.
    std::vector<int> copies;
    for (const int l : view.postOrder())
        if (view.isLeaf(l)) copies.push_back(l);
    for (std::size_t first = 0; first < copies.size(); first += kRowsAtOnce) {
        const std::size_t count = std::min(kRowsAtOnce, copies.size() - first);
        double* rows[kRowsAtOnce];
        for (std::size_t i = 0; i < count; ++i) {
            const int l = copies[first + i];
            rows[i] = row(l);
            std::copy_n(&table[static_cast<std::size_t>(l) * n_], n_, rows[i]);
        }
        if (count == kRowsAtOnce) {
            double *a = rows[0], *b = rows[1], *c = rows[2], *d = rows[3];
            for (const Join& join : joins) {
                a[join.x] = (a[join.left] + a[join.right]) / 2;
                b[join.x] = (b[join.left] + b[join.right]) / 2;
                c[join.x] = (c[join.left] + c[join.right]) / 2;
                d[join.x] = (d[join.left] + d[join.right]) / 2;
            }
        } else {
            for (std::size_t i = 0; i < count; ++i)
                for (const Join& join : joins) rows[i][join.x] = (rows[i][join.left] + rows[i][join.right]) / 2;
        }
        for (std::size_t i = 0; i < count; ++i) {
            for (const int x : outside_) rows[i][x] = 0.0;
            rows[i][copies[first + i]] = 0.0;
        }
    }
}

// Two subtrees below unrelated nodes; then each pair of subtrees takes, in
// both cells, the value of the later of the two in the postorder.
void SideAverages::fillSubtrees(const FirstCopyView& view) {
    const std::vector<int>& order = view.postOrder();
    std::vector<int> at(nodes_, -1);
    for (std::size_t k = 0; k < order.size(); ++k) at[static_cast<std::size_t>(order[k])] = static_cast<int>(k);
    for (const int y : order) {
        if (view.isLeaf(y)) continue;
        double* mine = row(y);
        halfSums(row(view.children(y)[0]), row(view.children(y)[1]), mine, nodes_);
        mine[kTop] = 0.0;
        mine[y] = 0.0;
    }
    // Subtrees are the nodes from n on.
    for (std::size_t first = n_; first < nodes_; first += kBlock)
        for (std::size_t second = first; second < nodes_; second += kBlock) {
            const std::size_t firstEnd = std::min(nodes_, first + kBlock),
                              secondEnd = std::min(nodes_, second + kBlock);
            for (std::size_t x = first; x < firstEnd; ++x)
                for (std::size_t y = std::max(second, x + 1); y < secondEnd; ++y) {
                    // Related pairs too: the up pass writes over both cells.
                    if (at[x] < at[y])
                        average_[x * nodes_ + y] = average_[y * nodes_ + x];
                    else
                        average_[y * nodes_ + x] = average_[x * nodes_ + y];
                }
        }
}

// The subtree below a node is the same set of copies at the same depths
// unless the node was above p before the move or is above it after, so two
// subtrees neither of which is such a node keep their average (it does not
// depend on where the two lie). Those nodes' rows are made again from their
// children, children first, and each is copied into its column at once, so
// that a later row reads its children's new values against it. A pair of
// them takes the value of the later. Every pair of a side up(a) and a
// subtree below a may change (the moved subtree lies in up(a) or below a,
// at another distance), and the up pass remakes them all.
void SideAverages::update(const FirstCopyView& view, const std::vector<double>& table, int p,
                          const std::vector<int>& above) {
    changed_.assign(nodes_, 0);
    for (const int y : above) changed_[static_cast<std::size_t>(y)] = 1;
    for (int y = p; y != kTop; y = view.parent(y)) changed_[static_cast<std::size_t>(y)] = 1;
    const std::vector<int>& order = view.postOrder();
    for (const int y : order) {
        if (changed_[static_cast<std::size_t>(y)] == 0) continue;
        double* mine = row(y);
        halfSums(row(view.children(y)[0]), row(view.children(y)[1]), mine, nodes_);
        mine[kTop] = 0.0;
        mine[y] = 0.0;
        // Related cells too: the up pass writes over them.
        const auto column = static_cast<std::size_t>(y);
        for (const int u : order) average_[static_cast<std::size_t>(u) * nodes_ + column] = mine[u];
    }
    fillUp(view, table);
    fillAround(view);
}

// up(a) against the subtrees below a, parents first.
void SideAverages::fillUp(const FirstCopyView& view, const std::vector<double>& table) {
    std::vector<double> toFirst(nodes_, 0.0);
    for (const int x : view.postOrder())
        toFirst[static_cast<std::size_t>(x)] =
            view.isLeaf(x) ? table[static_cast<std::size_t>(kTop) * n_ + static_cast<std::size_t>(x)]
                           : (toFirst[static_cast<std::size_t>(view.children(x)[0])] +
                              toFirst[static_cast<std::size_t>(view.children(x)[1])]) /
                                 2;
    const std::vector<int>& preOrder = view.preOrder();
    for (const int a : preOrder) {
        if (a == kTop) continue;
        const int q = view.parent(a);
        const int begin = view.subtreeBegin(a) + 1, end = view.subtreeEnd(a);
        double* mine = row(a);
        const int sibling = q == kTop ? -1 : (view.children(q)[0] == a ? view.children(q)[1] : view.children(q)[0]);
        const double* above = q == kTop ? nullptr : row(q);
        const double* beside = q == kTop ? nullptr : row(sibling);
        for (int i = begin; i < end; ++i) {
            const int v = preOrder[static_cast<std::size_t>(i)];
            const double value = q == kTop ? toFirst[static_cast<std::size_t>(v)] : (above[v] + beside[v]) / 2;
            mine[v] = value;
            row(v)[a] = value;
        }
    }
}

}  // namespace refine

#include "history/refine/SideAverages.h"

namespace refine {

namespace {
constexpr int kTop = 0;  // the copy the tree hangs from
}  // namespace

// The table, a row at a time: subtrees against single copies; two subtrees
// below unrelated nodes, children before parents, each from the two children
// of one of them; up(a) against the subtrees below a, parents first, from
// up(parent) and the sibling's subtree, or the top copy when a hangs from
// it. Every value goes into both of its cells at once, so that a pair of
// unrelated nodes holds, in either cell, the value of whichever of the two
// was last worked out (or of the subtree, when the other is a copy): the one
// its final value comes from.
void SideAverages::rebuild(const FirstCopyView& view, const std::vector<double>& table, int n) {
    nodes_ = view.nodeCount();
    n_ = static_cast<std::size_t>(n);
    average_.assign(nodes_ * nodes_, 0.0);
    fillCopies(view, table);
    fillSubtrees(view);
    fillUp(view, table);
}

// Subtrees against single copies, children before parents.
void SideAverages::fillCopies(const FirstCopyView& view, const std::vector<double>& table) {
    for (const int x : view.postOrder()) {
        double* mine = row(x);
        const bool leaf = view.isLeaf(x);
        const double* left = leaf ? nullptr : row(view.children(x)[0]);
        const double* right = leaf ? nullptr : row(view.children(x)[1]);
        for (std::size_t l = 0; l < n_; ++l) {
            const int copy = static_cast<int>(l);
            if (copy == kTop || view.related(x, copy)) continue;
            const double value = leaf ? table[static_cast<std::size_t>(x) * n_ + l] : (left[l] + right[l]) / 2;
            mine[l] = value;
            row(copy)[x] = value;
        }
    }
}

// Two subtrees below unrelated nodes.
void SideAverages::fillSubtrees(const FirstCopyView& view) {
    for (const int y : view.postOrder()) {
        if (view.isLeaf(y)) continue;
        double* mine = row(y);
        const auto& pair = view.children(y);
        const double* left = row(pair[0]);
        const double* right = row(pair[1]);
        for (const int x : view.postOrder()) {
            if (view.related(x, y)) continue;
            const double value = (left[x] + right[x]) / 2;
            mine[x] = value;
            row(x)[y] = value;
        }
    }
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

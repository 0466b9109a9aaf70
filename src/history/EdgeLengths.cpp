#include "history/EdgeLengths.h"

#include <algorithm>

namespace {

// The tree as arrays by node number: each node's children, its parent, and
// the run of the leaf order (the order in which a walk meets the leaves)
// that holds the leaves below it.
struct Layout {
    std::vector<int> left, right, parent;
    std::vector<int> first, last;  // leaves below node x: leafOrder[first[x] .. last[x])
    std::vector<int> leafOrder;
    std::vector<int> postOrder;  // children before parents
    int root = -1;

    int size(int x) const { return last[static_cast<std::size_t>(x)] - first[static_cast<std::size_t>(x)]; }
    bool isLeaf(int x) const { return left[static_cast<std::size_t>(x)] < 0; }
};

Layout layoutOf(const DuplicationTree& tree) {
    const int n = tree.leafCount;
    const std::size_t nodes = static_cast<std::size_t>(2 * n - 1);
    Layout layout;
    layout.left.assign(nodes, -1);
    layout.right.assign(nodes, -1);
    layout.parent.assign(nodes, -1);
    layout.first.assign(nodes, 0);
    layout.last.assign(nodes, 0);
    auto number = [n](const TreeNode& node) { return nodeNumber(node.label, n); };
    BinaryTree::walk(
        tree.root.get(),
        [&](const TreeNode& leaf) {
            const auto x = static_cast<std::size_t>(number(leaf));
            layout.first[x] = static_cast<int>(layout.leafOrder.size());
            layout.leafOrder.push_back(leaf.label);
            layout.last[x] = layout.first[x] + 1;
            layout.postOrder.push_back(static_cast<int>(x));
        },
        [&](const TreeNode& inner) {
            layout.first[static_cast<std::size_t>(number(inner))] = static_cast<int>(layout.leafOrder.size());
        },
        [](const TreeNode&) {},
        [&](const TreeNode& inner) {
            const int x = number(inner);
            const auto at = static_cast<std::size_t>(x);
            layout.last[at] = static_cast<int>(layout.leafOrder.size());
            layout.left[at] = number(*inner.left);
            layout.right[at] = number(*inner.right);
            layout.parent[static_cast<std::size_t>(layout.left[at])] = x;
            layout.parent[static_cast<std::size_t>(layout.right[at])] = x;
            layout.postOrder.push_back(x);
        });
    layout.root = number(*tree.root);
    return layout;
}

}  // namespace

EdgeLengths fitEdgeLengths(const DuplicationTree& tree, const DistanceMatrix& distances) {
    EdgeLengths lengths;
    const int n = tree.leafCount;
    if (n < 2 || !tree.root) {
        lengths.above.assign(static_cast<std::size_t>(std::max(n, 0)), 0.0);
        return lengths;
    }
    const Layout layout = layoutOf(tree);
    const std::size_t nodes = static_cast<std::size_t>(2 * n - 1);
    auto d = [&](int i, int j) { return i == j ? 0.0 : distances.at(i, j); };
    // The sum of the distances between the leaves below x and those below y.
    auto between = [&](int x, int y) {
        double sum = 0.0;
        for (int p = layout.first[static_cast<std::size_t>(x)]; p < layout.last[static_cast<std::size_t>(x)]; ++p)
            for (int q = layout.first[static_cast<std::size_t>(y)]; q < layout.last[static_cast<std::size_t>(y)]; ++q)
                sum += d(layout.leafOrder[static_cast<std::size_t>(p)], layout.leafOrder[static_cast<std::size_t>(q)]);
        return sum;
    };

    // Per node x: R, the distances from its leaves to all leaves; T, those
    // among its own leaves (each pair twice); split, those between its two
    // children.
    std::vector<double> rowSum(static_cast<std::size_t>(n), 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            const double value = distances.at(i, j);
            rowSum[static_cast<std::size_t>(i)] += value;
            rowSum[static_cast<std::size_t>(j)] += value;
        }
    std::vector<double> R(nodes, 0.0), T(nodes, 0.0), split(nodes, 0.0);
    for (const int x : layout.postOrder) {
        const auto at = static_cast<std::size_t>(x);
        if (layout.isLeaf(x)) {
            R[at] = rowSum[at];
            continue;
        }
        const auto a = static_cast<std::size_t>(layout.left[at]);
        const auto b = static_cast<std::size_t>(layout.right[at]);
        split[at] = between(layout.left[at], layout.right[at]);
        R[at] = R[a] + R[b];
        T[at] = T[a] + T[b] + 2.0 * split[at];
    }
    auto size = [&](int x) { return static_cast<double>(layout.size(x)); };
    auto sibling = [&](int x) {
        const int p = layout.parent[static_cast<std::size_t>(x)];
        return layout.left[static_cast<std::size_t>(p)] == x ? layout.right[static_cast<std::size_t>(p)]
                                                             : layout.left[static_cast<std::size_t>(p)];
    };

    std::vector<double>& above = lengths.above;
    above.assign(nodes, 0.0);
    const int root = layout.root;
    for (const int x : layout.postOrder) {
        const int p = layout.parent[static_cast<std::size_t>(x)];
        if (x == root || p == root) continue;
        // The far side of the edge above x: its sibling s, and every leaf
        // outside the parent p (the set D).
        const int s = sibling(x);
        const double sizeD = n - size(p);
        const double sD = R[static_cast<std::size_t>(s)] - T[static_cast<std::size_t>(s)] -
                          split[static_cast<std::size_t>(p)];  // sum between s and D
        const double CD = sD / (size(s) * sizeD);
        if (layout.isLeaf(x)) {
            const double iC = split[static_cast<std::size_t>(p)] / size(s);
            const double iD = (R[static_cast<std::size_t>(x)] - split[static_cast<std::size_t>(p)]) / sizeD;
            above[static_cast<std::size_t>(x)] = 0.5 * (iC + iD - CD);
            continue;
        }
        const int a = layout.left[static_cast<std::size_t>(x)];
        const int b = layout.right[static_cast<std::size_t>(x)];
        const double aS = between(a, s);
        const double bS = between(b, s);
        const double AB = split[static_cast<std::size_t>(x)] / (size(a) * size(b));
        const double AC = aS / (size(a) * size(s));
        const double BC = bS / (size(b) * size(s));
        const double AD = (R[static_cast<std::size_t>(a)] - T[static_cast<std::size_t>(a)] -
                           split[static_cast<std::size_t>(x)] - aS) /
                          (size(a) * sizeD);
        const double BD = (R[static_cast<std::size_t>(b)] - T[static_cast<std::size_t>(b)] -
                           split[static_cast<std::size_t>(x)] - bS) /
                          (size(b) * sizeD);
        const double lambda = (size(a) * sizeD + size(b) * size(s)) / ((size(a) + size(b)) * (size(s) + sizeD));
        above[static_cast<std::size_t>(x)] = 0.5 * (lambda * (AC + BD) + (1.0 - lambda) * (AD + BC) - (AB + CD));
    }

    // The edge between the root's two children, L and R, then its split.
    const int L = layout.left[static_cast<std::size_t>(root)];
    const int Rt = layout.right[static_cast<std::size_t>(root)];
    double rootEdge = 0.0;
    if (layout.isLeaf(L) && layout.isLeaf(Rt)) {
        rootEdge = d(L, Rt);
    } else if (layout.isLeaf(L) || layout.isLeaf(Rt)) {
        const int leaf = layout.isLeaf(L) ? L : Rt;
        const int other = leaf == L ? Rt : L;
        const int c = layout.left[static_cast<std::size_t>(other)];
        const int e = layout.right[static_cast<std::size_t>(other)];
        rootEdge = 0.5 * (between(leaf, c) / size(c) + between(leaf, e) / size(e) -
                          split[static_cast<std::size_t>(other)] / (size(c) * size(e)));
    } else {
        const int a = layout.left[static_cast<std::size_t>(L)];
        const int b = layout.right[static_cast<std::size_t>(L)];
        const int c = layout.left[static_cast<std::size_t>(Rt)];
        const int e = layout.right[static_cast<std::size_t>(Rt)];
        auto mean = [&](int x, int y) { return between(x, y) / (size(x) * size(y)); };
        const double AB = split[static_cast<std::size_t>(L)] / (size(a) * size(b));
        const double CD = split[static_cast<std::size_t>(Rt)] / (size(c) * size(e));
        const double lambda = (size(a) * size(e) + size(b) * size(c)) / ((size(a) + size(b)) * (size(c) + size(e)));
        rootEdge = 0.5 * (lambda * (mean(a, c) + mean(b, e)) + (1.0 - lambda) * (mean(a, e) + mean(b, c)) - (AB + CD));
    }

    // Mean depth of the leaves below each side of the root, from the raw lengths.
    std::vector<double> depthSum(nodes, 0.0);
    for (const int x : layout.postOrder) {
        if (layout.isLeaf(x) || x == root) continue;
        const int a = layout.left[static_cast<std::size_t>(x)];
        const int b = layout.right[static_cast<std::size_t>(x)];
        depthSum[static_cast<std::size_t>(x)] =
            depthSum[static_cast<std::size_t>(a)] + size(a) * above[static_cast<std::size_t>(a)] +
            depthSum[static_cast<std::size_t>(b)] + size(b) * above[static_cast<std::size_t>(b)];
    }
    const double meanL = depthSum[static_cast<std::size_t>(L)] / size(L);
    const double meanR = depthSum[static_cast<std::size_t>(Rt)] / size(Rt);
    const double toLeft =
        std::clamp(0.5 * (rootEdge + meanR - meanL), std::min(0.0, rootEdge), std::max(0.0, rootEdge));
    above[static_cast<std::size_t>(L)] = toLeft;
    above[static_cast<std::size_t>(Rt)] = rootEdge - toLeft;
    return lengths;
}

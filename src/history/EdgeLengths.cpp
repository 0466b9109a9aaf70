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

// The least-squares fit of one tree's edges: the sums of distances it is
// made of, per node, and the edges worked out from them.
class EdgeFit {
public:
    EdgeFit(const DuplicationTree& tree, const DistanceMatrix& distances)
        : layout_(layoutOf(tree)), distances_(distances), n_(tree.leafCount) {
        sumsPerNode();
    }

    // The edge above every node but the root's two children (0 there).
    void innerEdges(std::vector<double>& above) const;
    // The edge between the root's two children, L and R.
    double rootEdge() const;
    // Splits the root edge between L and R so that the mean depths of the
    // leaves on its two sides come as close as they can.
    void splitRootEdge(double rootEdge, std::vector<double>& above) const;

private:
    std::size_t at(int x) const { return static_cast<std::size_t>(x); }
    double size(int x) const { return static_cast<double>(layout_.size(x)); }
    double d(int i, int j) const { return i == j ? 0.0 : distances_.at(i, j); }
    int sibling(int x) const {
        const int p = layout_.parent[at(x)];
        return layout_.left[at(p)] == x ? layout_.right[at(p)] : layout_.left[at(p)];
    }
    // The sum of the distances between the leaves below x and those below y.
    double between(int x, int y) const {
        double sum = 0.0;
        for (int p = layout_.first[at(x)]; p < layout_.last[at(x)]; ++p)
            for (int q = layout_.first[at(y)]; q < layout_.last[at(y)]; ++q)
                sum += d(layout_.leafOrder[at(p)], layout_.leafOrder[at(q)]);
        return sum;
    }
    void sumsPerNode();
    double edgeAboveLeaf(int x, int s, double sizeD, double CD) const;

    const Layout layout_;
    const DistanceMatrix& distances_;
    const int n_;
    // Per node x: R, the distances from its leaves to all leaves; T, those
    // among its own leaves (each pair twice); split, those between its two
    // children.
    std::vector<double> R_, T_, split_;
};

void EdgeFit::sumsPerNode() {
    const int n = n_;
    const std::size_t nodes = static_cast<std::size_t>(2 * n - 1);
    std::vector<double> rowSum(static_cast<std::size_t>(n), 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            const double value = distances_.at(i, j);
            rowSum[static_cast<std::size_t>(i)] += value;
            rowSum[static_cast<std::size_t>(j)] += value;
        }
    R_.assign(nodes, 0.0);
    T_.assign(nodes, 0.0);
    split_.assign(nodes, 0.0);
    for (const int x : layout_.postOrder) {
        if (layout_.isLeaf(x)) {
            R_[at(x)] = rowSum[at(x)];
            continue;
        }
        const auto a = at(layout_.left[at(x)]);
        const auto b = at(layout_.right[at(x)]);
        split_[at(x)] = between(layout_.left[at(x)], layout_.right[at(x)]);
        R_[at(x)] = R_[a] + R_[b];
        T_[at(x)] = T_[a] + T_[b] + 2.0 * split_[at(x)];
    }
}

double EdgeFit::edgeAboveLeaf(int x, int s, double sizeD, double CD) const {
    const int p = layout_.parent[at(x)];
    const double iC = split_[at(p)] / size(s);
    const double iD = (R_[at(x)] - split_[at(p)]) / sizeD;
    return 0.5 * (iC + iD - CD);
}

void EdgeFit::innerEdges(std::vector<double>& above) const {
    const int root = layout_.root;
    for (const int x : layout_.postOrder) {
        const int p = layout_.parent[at(x)];
        if (x == root || p == root) continue;
        // The far side of the edge above x: its sibling s, and every leaf
        // outside the parent p (the set D).
        const int s = sibling(x);
        const double sizeD = n_ - size(p);
        const double sD = R_[at(s)] - T_[at(s)] - split_[at(p)];  // sum between s and D
        const double CD = sD / (size(s) * sizeD);
        if (layout_.isLeaf(x)) {
            above[at(x)] = edgeAboveLeaf(x, s, sizeD, CD);
            continue;
        }
        const int a = layout_.left[at(x)];
        const int b = layout_.right[at(x)];
        const double aS = between(a, s);
        const double bS = between(b, s);
        const double AB = split_[at(x)] / (size(a) * size(b));
        const double AC = aS / (size(a) * size(s));
        const double BC = bS / (size(b) * size(s));
        const double AD = (R_[at(a)] - T_[at(a)] - split_[at(x)] - aS) / (size(a) * sizeD);
        const double BD = (R_[at(b)] - T_[at(b)] - split_[at(x)] - bS) / (size(b) * sizeD);
        const double lambda = (size(a) * sizeD + size(b) * size(s)) / ((size(a) + size(b)) * (size(s) + sizeD));
        above[at(x)] = 0.5 * (lambda * (AC + BD) + (1.0 - lambda) * (AD + BC) - (AB + CD));
    }
}

double EdgeFit::rootEdge() const {
    const int root = layout_.root;
    const int L = layout_.left[at(root)];
    const int Rt = layout_.right[at(root)];
    if (layout_.isLeaf(L) && layout_.isLeaf(Rt)) return d(L, Rt);
    if (layout_.isLeaf(L) || layout_.isLeaf(Rt)) {
        const int leaf = layout_.isLeaf(L) ? L : Rt;
        const int other = leaf == L ? Rt : L;
        const int c = layout_.left[at(other)];
        const int e = layout_.right[at(other)];
        return 0.5 *
               (between(leaf, c) / size(c) + between(leaf, e) / size(e) - split_[at(other)] / (size(c) * size(e)));
    }
    const int a = layout_.left[at(L)];
    const int b = layout_.right[at(L)];
    const int c = layout_.left[at(Rt)];
    const int e = layout_.right[at(Rt)];
    auto mean = [&](int x, int y) { return between(x, y) / (size(x) * size(y)); };
    const double AB = split_[at(L)] / (size(a) * size(b));
    const double CD = split_[at(Rt)] / (size(c) * size(e));
    const double lambda = (size(a) * size(e) + size(b) * size(c)) / ((size(a) + size(b)) * (size(c) + size(e)));
    return 0.5 * (lambda * (mean(a, c) + mean(b, e)) + (1.0 - lambda) * (mean(a, e) + mean(b, c)) - (AB + CD));
}

void EdgeFit::splitRootEdge(double rootEdge, std::vector<double>& above) const {
    const int root = layout_.root;
    const int L = layout_.left[at(root)];
    const int Rt = layout_.right[at(root)];
    // Mean depth of the leaves below each side of the root, from the raw lengths.
    std::vector<double> depthSum(above.size(), 0.0);
    for (const int x : layout_.postOrder) {
        if (layout_.isLeaf(x) || x == root) continue;
        const int a = layout_.left[at(x)];
        const int b = layout_.right[at(x)];
        depthSum[at(x)] = depthSum[at(a)] + size(a) * above[at(a)] + depthSum[at(b)] + size(b) * above[at(b)];
    }
    const double meanL = depthSum[at(L)] / size(L);
    const double meanR = depthSum[at(Rt)] / size(Rt);
    const double toLeft =
        std::clamp(0.5 * (rootEdge + meanR - meanL), std::min(0.0, rootEdge), std::max(0.0, rootEdge));
    above[at(L)] = toLeft;
    above[at(Rt)] = rootEdge - toLeft;
}

}  // namespace

EdgeLengths fitEdgeLengths(const DuplicationTree& tree, const DistanceMatrix& distances) {
    EdgeLengths lengths;
    const int n = tree.leafCount;
    if (n < 2 || !tree.root) {
        lengths.above.assign(static_cast<std::size_t>(std::max(n, 0)), 0.0);
        return lengths;
    }
    const EdgeFit fit(tree, distances);
    lengths.above.assign(static_cast<std::size_t>(2 * n - 1), 0.0);
    fit.innerEdges(lengths.above);
    fit.splitRootEdge(fit.rootEdge(), lengths.above);
    return lengths;
}

// Least-squares edge lengths: the subtree-average formulas against a plain
// solution of the normal equations, and exact lengths on tree distances.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "history/DuplicationTree.h"
#include "history/EdgeLengths.h"
#include "reference/ReferenceHistory.h"

namespace {

using Table = std::vector<std::vector<double>>;

// The nodes of a tree by node number, with the edge that each one's path to
// the root uses: the edge above it, except that the root's two children
// share one edge (the tree seen unrooted).
struct Edges {
    std::vector<const TreeNode*> node;
    std::vector<int> edgeOf;  // by node number; -1 for the root
    int count = 0;
};

Edges edgesOf(const DuplicationTree& tree) {
    const int n = tree.leafCount;
    Edges edges;
    edges.node.assign(static_cast<std::size_t>(2 * n - 1), nullptr);
    edges.edgeOf.assign(static_cast<std::size_t>(2 * n - 1), -1);
    BinaryTree::walk(
        tree.root.get(), [&](const TreeNode& leaf) { edges.node[nodeNumber(leaf.label, n)] = &leaf; },
        [&](const TreeNode& inner) { edges.node[nodeNumber(inner.label, n)] = &inner; }, [](const TreeNode&) {},
        [](const TreeNode&) {});
    int rootEdge = -1;
    for (std::size_t x = 0; x < edges.node.size(); ++x) {
        const TreeNode* parent = edges.node[x]->parent;
        if (parent == nullptr) continue;
        if (parent->parent == nullptr) {
            if (rootEdge < 0) rootEdge = edges.count++;
            edges.edgeOf[x] = rootEdge;
        } else {
            edges.edgeOf[x] = edges.count++;
        }
    }
    return edges;
}

// Which edges the path between leaves i and j uses: those above every node
// from each leaf up to (not including) their last common ancestor. When that
// is the root, both sides reach the one root edge.
std::vector<int> pathEdges(const Edges& edges, int n, int i, int j) {
    std::vector<int> uses(static_cast<std::size_t>(edges.count), 0);
    std::vector<const TreeNode*> above;
    for (const TreeNode* x = edges.node[i]; x != nullptr; x = x->parent) above.push_back(x);
    const TreeNode* meet = edges.node[j];
    while (std::find(above.begin(), above.end(), meet) == above.end()) meet = meet->parent;
    for (const int leaf : {i, j})
        for (const TreeNode* x = edges.node[leaf]; x != meet; x = x->parent)
            uses[edges.edgeOf[nodeNumber(x->label, n)]] = 1;
    return uses;
}

// Least squares by the normal equations, solved by elimination.
std::vector<double> normalEquations(const Edges& edges, int n, const Table& d) {
    const std::size_t m = static_cast<std::size_t>(edges.count);
    std::vector<std::vector<double>> a(m, std::vector<double>(m + 1, 0.0));
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            const std::vector<int> x = pathEdges(edges, n, i, j);
            for (std::size_t r = 0; r < m; ++r) {
                if (!x[r]) continue;
                for (std::size_t c = 0; c < m; ++c) a[r][c] += x[c];
                a[r][m] += d[i][j];
            }
        }
    for (std::size_t c = 0; c < m; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < m; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        std::swap(a[c], a[pivot]);
        for (std::size_t r = 0; r < m; ++r) {
            if (r == c) continue;
            const double f = a[r][c] / a[c][c];
            for (std::size_t k = c; k <= m; ++k) a[r][k] -= f * a[c][k];
        }
    }
    std::vector<double> solution(m);
    for (std::size_t r = 0; r < m; ++r) solution[r] = a[r][m] / a[r][r];
    return solution;
}

// The fitted lengths per unrooted edge: the root edge is the sum of the two
// edges below the root.
std::vector<double> fittedPerEdge(const Edges& edges, const EdgeLengths& lengths) {
    std::vector<double> fitted(static_cast<std::size_t>(edges.count), 0.0);
    for (std::size_t x = 0; x < edges.edgeOf.size(); ++x)
        if (edges.edgeOf[x] >= 0) fitted[edges.edgeOf[x]] += lengths.above[x];
    return fitted;
}

Table randomTable(std::mt19937& random, int n) {
    std::uniform_real_distribution<double> value(0.05, 1.0);
    Table t(n, std::vector<double>(n, 0.0));
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) t[i][j] = t[j][i] = value(random);
    return t;
}

TEST(EdgeLengths, SubtreeAveragesGiveTheLeastSquaresFit) {
    std::mt19937 random(12);
    for (int round = 0; round < 60; ++round) {
        const int n = 3 + round % 8;
        const Table d = randomTable(random, n);
        const DistanceMatrix matrix = matrixFromTable(d);
        DuplicationTree tree;
        tree.reconstruct(matrix, 1 + round % 3);
        const Edges edges = edgesOf(tree);
        const std::vector<double> expected = normalEquations(edges, n, d);
        const std::vector<double> fitted = fittedPerEdge(edges, fitEdgeLengths(tree, matrix));
        for (int e = 0; e < edges.count; ++e)
            ASSERT_NEAR(fitted[e], expected[e], 1e-9)
                << "round " << round << " edge " << e << " " << tree.toText(false);
    }
}

// Distances measured along a tree with known lengths give those lengths back,
// the two below the root as their sum, split so that the mean distance from
// the root to the copies is the same on both sides (or at an end of the root
// edge, when that mean cannot be evened out within it).
TEST(EdgeLengths, TreeDistancesGiveTheirOwnLengths) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> length(0.01, 0.5);
    for (int n : {2, 3, 4, 7, 12, 40}) {
        DuplicationTree tree;
        tree.reconstruct(matrixFromTable(randomTable(random, n)), 3);
        const Edges edges = edgesOf(tree);
        std::vector<double> truth(static_cast<std::size_t>(edges.count));
        for (double& l : truth) l = length(random);
        Table d(n, std::vector<double>(n, 0.0));
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j) {
                const std::vector<int> x = pathEdges(edges, n, i, j);
                for (int e = 0; e < edges.count; ++e) d[i][j] += x[e] * truth[e];
                d[j][i] = d[i][j];
            }
        const EdgeLengths lengths = fitEdgeLengths(tree, matrixFromTable(d));
        const std::vector<double> fitted = fittedPerEdge(edges, lengths);
        for (int e = 0; e < edges.count; ++e) EXPECT_NEAR(fitted[e], truth[e], 1e-9) << "n " << n;
        EXPECT_EQ(lengths.of(*tree.root, n), 0.0);

        // Mean depth below the root, the same on both sides unless the split
        // had to stop at an end of the root edge.
        const TreeNode* left = tree.root->left.get();
        const TreeNode* right = tree.root->right.get();
        auto meanDepth = [&](const TreeNode* top) {
            double sum = 0.0;
            int leaves = 0;
            for (int i = 0; i < n; ++i) {
                double depth = 0.0;
                const TreeNode* x = edges.node[i];
                for (; x != nullptr && x != top; x = x->parent) depth += lengths.of(*x, n);
                if (x != top) continue;  // not below top
                sum += depth;
                ++leaves;
            }
            return sum / leaves;
        };
        const double toLeft = lengths.of(*left, n);
        const double toRight = lengths.of(*right, n);
        if (toLeft > 0.0 && toRight > 0.0) {
            EXPECT_NEAR(toLeft + meanDepth(left), toRight + meanDepth(right), 1e-9) << "n " << n;
        } else {
            EXPECT_GE(std::min(toLeft, toRight), 0.0);
        }
    }
}

TEST(EdgeLengths, NegativeFitsAreShownAsZero) {
    EXPECT_EQ(shownLength(-0.25), 0.0);
    EXPECT_EQ(shownLength(0.25), 0.25);
    DuplicationTree none;
    EXPECT_TRUE(fitEdgeLengths(none, DistanceMatrix(0)).above.empty());
    DuplicationTree one;
    one.reconstruct(matrixFromTable({{0.0}}), 3);
    EXPECT_EQ(fitEdgeLengths(one, matrixFromTable({{0.0}})).above, std::vector<double>{0.0});
}

}  // namespace

#include "history/refine/Topology.h"

#include <algorithm>

#include "history/TreeNode.h"

namespace refine {

std::vector<int> Topology::postOrder() const {
    std::vector<int> order, stack = {root};
    while (!stack.empty()) {
        const int x = stack.back();
        stack.pop_back();
        order.push_back(x);
        if (!isLeaf(x))
            for (const int c : child[static_cast<std::size_t>(x)]) stack.push_back(c);
    }
    std::reverse(order.begin(), order.end());
    return order;
}

Topology topologyOf(const BinaryTree& tree) {
    Topology t;
    t.n = tree.leafCount;
    const std::size_t nodes = static_cast<std::size_t>(std::max(2 * t.n - 1, 0));
    t.parent.assign(nodes, -1);
    t.child.assign(nodes, {-1, -1});
    auto id = [&](const TreeNode& node) { return nodeNumber(node.label, t.n); };
    BinaryTree::walk(
        tree.root.get(), [](const TreeNode&) {}, [](const TreeNode&) {}, [](const TreeNode&) {},
        [&](const TreeNode& inner) {
            const int x = id(inner);
            t.child[static_cast<std::size_t>(x)] = {id(*inner.left), id(*inner.right)};
            t.parent[static_cast<std::size_t>(id(*inner.left))] = x;
            t.parent[static_cast<std::size_t>(id(*inner.right))] = x;
        });
    if (tree.root) t.root = id(*tree.root);
    return t;
}

}  // namespace refine

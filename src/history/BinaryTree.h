#pragma once

#include <memory>
#include <string>
#include <vector>

#include "history/TreeNode.h"

// Owner of a history tree: every node reachable from `root`.
class BinaryTree {
public:
    BinaryTree() = default;
    BinaryTree(const BinaryTree&) = delete;
    BinaryTree& operator=(const BinaryTree&) = delete;
    BinaryTree(BinaryTree&&) = default;
    BinaryTree& operator=(BinaryTree&&) = default;
    virtual ~BinaryTree() = default;

    // Frees the subtree whose top is `node` (nothing for none).
    static void release(std::unique_ptr<TreeNode> node);
    // Empties the tree: no root, no leaves.
    void reset();

    // The tree in parenthesised form: leaves as their segment number,
    // internal nodes as "v" and their number (or nothing when
    // hideInternalLabels), followed by "(left,right)". Empty for no tree.
    std::string toText(bool hideInternalLabels) const;
    static std::string nodeText(const TreeNode* node, bool hideInternalLabels);

    // Walks the subtree whose top is `node` in text order, without
    // recursion (a history can be a chain as deep as it has segments): a
    // leaf gives leaf(node); an internal node gives open(node), its left
    // subtree, between(node), its right subtree, close(node).
    template <typename Leaf, typename Open, typename Between, typename Close>
    static void walk(const TreeNode* node, Leaf leaf, Open open, Between between, Close close);

    std::unique_ptr<TreeNode> root;
    int leafCount = 0;
};

template <typename Leaf, typename Open, typename Between, typename Close>
void BinaryTree::walk(const TreeNode* node, Leaf leaf, Open open, Between between, Close close) {
    if (node == nullptr) return;
    // Each internal node is visited three times: before its left subtree,
    // between its subtrees and after its right subtree.
    struct Visit {
        const TreeNode* node;
        int stage;
    };
    std::vector<Visit> stack;
    stack.push_back({node, 0});
    while (!stack.empty()) {
        Visit& visit = stack.back();
        const TreeNode* current = visit.node;
        if (current->label >= 0) {
            leaf(*current);
            stack.pop_back();
            continue;
        }
        switch (visit.stage) {
        case 0:
            open(*current);
            visit.stage = 1;
            if (current->left) stack.push_back({current->left.get(), 0});
            break;
        case 1:
            between(*current);
            visit.stage = 2;
            if (current->right) stack.push_back({current->right.get(), 0});
            break;
        default:
            close(*current);
            stack.pop_back();
            break;
        }
    }
}

#pragma once

#include <memory>
#include <string>

#include "history/TreeNode.h"

// Owner of a history tree: every node reachable from `root`.
class BinaryTree {
public:
    BinaryTree() = default;
    BinaryTree(const BinaryTree&) = delete;
    BinaryTree& operator=(const BinaryTree&) = delete;
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

    std::unique_ptr<TreeNode> root;
    int leafCount = 0;
};

#pragma once

#include <memory>

#include "history/TreeNode.h"

// Trees written out by hand in a test: a leaf, and an ancestral segment over
// two subtrees (their parent links set).
inline std::unique_ptr<TreeNode> leaf(int label) { return std::make_unique<TreeNode>(nullptr, label); }

inline std::unique_ptr<TreeNode> join(int label, std::unique_ptr<TreeNode> left, std::unique_ptr<TreeNode> right) {
    auto node = std::make_unique<TreeNode>(nullptr, label);
    left->parent = node.get();
    right->parent = node.get();
    node->left = std::move(left);
    node->right = std::move(right);
    return node;
}

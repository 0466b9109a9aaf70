#pragma once

#include <memory>
#include <string>

// One node of a duplication history: a present-day segment (leaf, label 0 or
// more) or an ancestral segment (label -k for the k-th one made), whose left
// and right children are its left and right copies on the chromosome.
struct TreeNode {
    TreeNode(TreeNode* parentNode, int nodeLabel) : parent(parentNode), label(nodeLabel) {}
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;
    // Releases the whole subtree without recursion, so that a chain-shaped
    // history of any depth is safe to free.
    ~TreeNode();

    std::unique_ptr<TreeNode> left;
    std::unique_ptr<TreeNode> right;
    TreeNode* parent = nullptr;  // link back; owns nothing
    int label = 0;
};

// The name of the ancestral segment labelled `label` (-k): "v" and k.
inline std::string ancestralName(int label) { return "v" + std::to_string(-static_cast<long long>(label)); }

// The number of a node of a history over `leafCount` segments: a leaf's
// segment number, and leafCount - 1 + k for the ancestral segment -k, so that
// the 2n - 1 nodes are numbered 0 to 2n - 2 in the order they were made.
inline int nodeNumber(int label, int leafCount) { return label >= 0 ? label : leafCount - 1 - label; }

#include "history/TreeNode.h"

#include <vector>

TreeNode::~TreeNode() {
    if (!left && !right) return;
    // Detach every descendant onto an explicit stack; each node is destroyed
    // once its own children are gone, so no destructor nests in another.
    std::vector<std::unique_ptr<TreeNode>> pending;
    if (right) pending.push_back(std::move(right));
    if (left) pending.push_back(std::move(left));
    while (!pending.empty()) {
        std::unique_ptr<TreeNode> node = std::move(pending.back());
        pending.pop_back();
        if (node->right) pending.push_back(std::move(node->right));
        if (node->left) pending.push_back(std::move(node->left));
    }
}

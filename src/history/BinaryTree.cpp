#include "history/BinaryTree.h"

#include <utility>
#include <vector>

void BinaryTree::release(std::unique_ptr<TreeNode> node) { node.reset(); }

void BinaryTree::reset() {
    leafCount = 0;
    root.reset();
}

std::string BinaryTree::toText(bool hideInternalLabels) const {
    return nodeText(root.get(), hideInternalLabels);
}

std::string BinaryTree::nodeText(const TreeNode* node, bool hideInternalLabels) {
    std::string text;
    if (node == nullptr) return text;
    // Walks the tree with an explicit stack instead of recursion: a history
    // can be a chain as deep as the number of segments. Each internal node is
    // visited three times: before its left subtree, between its subtrees and
    // after its right subtree.
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
            text += std::to_string(current->label);
            stack.pop_back();
            continue;
        }
        switch (visit.stage) {
        case 0:
            if (!hideInternalLabels) {
                text += 'v';
                text += std::to_string(-static_cast<long long>(current->label));
            }
            text += '(';
            visit.stage = 1;
            if (current->left) stack.push_back({current->left.get(), 0});
            break;
        case 1:
            text += ',';
            visit.stage = 2;
            if (current->right) stack.push_back({current->right.get(), 0});
            break;
        default:
            text += ')';
            stack.pop_back();
            break;
        }
    }
    return text;
}

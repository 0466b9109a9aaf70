#include "history/BinaryTree.h"

#include <utility>

void BinaryTree::release(std::unique_ptr<TreeNode> node) { node.reset(); }

void BinaryTree::reset() {
    leafCount = 0;
    root.reset();
}

std::string BinaryTree::toText(bool hideInternalLabels) const { return nodeText(root.get(), hideInternalLabels); }

std::string BinaryTree::nodeText(const TreeNode* node, bool hideInternalLabels) {
    std::string text;
    walk(
        node, [&](const TreeNode& leaf) { text += std::to_string(leaf.label); },
        [&](const TreeNode& inner) {
            if (!hideInternalLabels) text += ancestralName(inner.label);
            text += '(';
        },
        [&](const TreeNode&) { text += ','; }, [&](const TreeNode&) { text += ')'; });
    return text;
}

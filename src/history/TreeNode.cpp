#include "history/TreeNode.h"

#include <utility>

// Frees the subtrees below without recursion and without allocating (a tree
// can be a chain as deep as it has leaves, and this runs while memory may
// have run out): while a node has a left child, the child is rotated up in
// its place; a node without one is freed, its right child taking its place.
// Every node is freed with both children detached, so no destructor nests in
// another.
TreeNode::~TreeNode() {
    for (std::unique_ptr<TreeNode>* side : {&left, &right}) {
        std::unique_ptr<TreeNode> top = std::move(*side);
        while (top) {
            if (top->left) {
                std::unique_ptr<TreeNode> up = std::move(top->left);
                top->left = std::move(up->right);
                up->right = std::move(top);
                top = std::move(up);
            } else {
                std::unique_ptr<TreeNode> next = std::move(top->right);
                top = std::move(next);
            }
        }
    }
}

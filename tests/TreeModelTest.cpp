#include <gtest/gtest.h>

#include "SmallStack.h"
#include "TreeBuilding.h"
#include "history/DuplicationTree.h"

namespace {

TEST(TreeModel, ClearHistoryOnANeverBuiltTreeLeavesItEmpty) {
    DuplicationTree tree;
    tree.clearHistory();
    EXPECT_EQ(tree.root, nullptr);
    EXPECT_EQ(tree.leafCount, 0);
    EXPECT_TRUE(tree.blocks.empty());
    EXPECT_EQ(tree.toText(false), "");
}

TEST(TreeModel, ClearHistoryDropsTreeAndBlocks) {
    DuplicationTree tree;
    tree.root = join(-1, leaf(0), leaf(1));
    tree.leafCount = 2;
    tree.blocks.push_back({-1, -2});
    tree.clearHistory();
    EXPECT_EQ(tree.root, nullptr);
    EXPECT_EQ(tree.leafCount, 0);
    EXPECT_TRUE(tree.blocks.empty());
}

// A chain in which every internal node has a leaf as its right child: as deep
// as it has leaves. Writing and releasing it, and the same chain deep on the
// right, must not use a stack frame per level.
TEST(TreeModel, ChainOfTwoHundredThousandLeavesIsWrittenAndReleased) {
    const int leaves = 200000;
    onSmallStack(kSmallStack, [] {
        auto top = leaf(0);
        for (int i = 1; i < leaves; ++i) top = join(-i, std::move(top), leaf(i));
        BinaryTree tree;
        tree.root = std::move(top);
        tree.leafCount = leaves;
        const std::string hidden = tree.toText(true);
        EXPECT_EQ(hidden.compare(0, 6, "(((((("), 0);
        EXPECT_EQ(hidden.substr(hidden.size() - 8), ",199999)");
        const std::string named = tree.toText(false);
        EXPECT_EQ(named.compare(0, 8, "v199999("), 0);
        tree.reset();
        EXPECT_EQ(tree.root, nullptr);
        // The same chain, deep on the right, dropped by the destructor.
        auto again = leaf(0);
        for (int i = 1; i < leaves; ++i) again = join(-i, leaf(i), std::move(again));
        BinaryTree::release(std::move(again));
    });
}

}  // namespace

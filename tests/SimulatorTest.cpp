// The simulated histories that the accuracy benchmark scores against: each a
// valid duplication history, undone by its own events in reverse order.
#include <gtest/gtest.h>

#include "HistoryScore.h"
#include "HistorySimulator.h"
#include "output/NewickWriter.h"

namespace {

TEST(Simulator, EveryHistoryIsUndoneByItsEventsInReverseOrder) {
    for (std::uint64_t seed = 1; seed <= 60; ++seed) {
        SimulationSettings settings;
        settings.copies = 2 + static_cast<int>(seed % 37);
        settings.length = 50;
        settings.largestBlock = 1 + static_cast<int>(seed % 6);
        settings.seed = seed;
        const SimulatedHistory history = simulateHistory(settings);
        const int n = settings.copies;
        ASSERT_EQ(history.copies.size(), static_cast<std::size_t>(n));
        ASSERT_EQ(history.truth.leafCount, n);
        // The row of the present, by leaf label; merging each event's pairs
        // requires them to be the two copies of one ancestral segment, and
        // puts that segment in the left copy's place.
        std::vector<const TreeNode*> row(static_cast<std::size_t>(n), nullptr);
        BinaryTree::walk(
            history.truth.root.get(), [&](const TreeNode& leaf) { row[static_cast<std::size_t>(leaf.label)] = &leaf; },
            [](const TreeNode&) {}, [](const TreeNode&) {}, [](const TreeNode&) {});
        int nextLabel = -1;
        std::size_t blocks = 0;
        for (const CandidateBlock& merge : history.merges) {
            ASSERT_LE(merge.start + 2 * merge.size, static_cast<int>(row.size())) << "seed " << seed;
            for (int c = 0; c < merge.size; ++c) {
                const TreeNode* left = row[static_cast<std::size_t>(merge.start + c)];
                const TreeNode* right = row[static_cast<std::size_t>(merge.start + merge.size + c)];
                ASSERT_NE(left->parent, nullptr);
                ASSERT_EQ(left->parent, right->parent) << "seed " << seed;
                ASSERT_EQ(left->parent->left.get(), left);
                ASSERT_EQ(left->parent->label, nextLabel--);  // labelled in merge order
                row[static_cast<std::size_t>(merge.start + c)] = left->parent;
            }
            if (merge.size >= 2) {
                ASSERT_LT(blocks, history.truth.blocks.size());
                EXPECT_EQ(history.truth.blocks[blocks++].front(), nextLabel + merge.size);
            }
            row.erase(row.begin() + merge.start + merge.size, row.begin() + merge.start + 2 * merge.size);
        }
        EXPECT_EQ(blocks, history.truth.blocks.size());
        ASSERT_EQ(row.size(), 1u);
        EXPECT_EQ(row[0], history.truth.root.get());
        // Scaled to the divergence asked for: the mean root-to-copy length.
        double depth = 0.0;
        for (int i = 0; i < n; ++i) {
            const TreeNode* x = nullptr;
            BinaryTree::walk(
                history.truth.root.get(),
                [&](const TreeNode& leaf) {
                    if (leaf.label == i) x = &leaf;
                },
                [](const TreeNode&) {}, [](const TreeNode&) {}, [](const TreeNode&) {});
            for (; x->parent != nullptr; x = x->parent) depth += history.lengths.of(*x, n);
        }
        EXPECT_NEAR(depth / n, settings.divergence, 1e-12);
    }
}

TEST(Simulator, TheTruthScoresPerfectlyAndItsNewickReadsBack) {
    SimulationSettings settings;
    settings.copies = 30;
    settings.seed = 9;
    const SimulatedHistory history = simulateHistory(settings);
    const HistoryScore self = scoreHistory(history.truth, history.truth);
    EXPECT_TRUE(self.exact);
    EXPECT_EQ(self.rootedRF, 0.0);
    EXPECT_EQ(self.matchedBlocks, self.trueBlocks);
    EXPECT_GT(self.trueBlocks, 0);
    std::vector<std::string> names;
    for (int i = 0; i < settings.copies; ++i) names.push_back("s" + std::to_string(i));
    const std::string newick = newickText(history.truth, names, {&history.lengths, nullptr, false});
    EXPECT_EQ(clustersOfNewick(newick), clustersOf(history.truth));
    // A tree that shares nothing but the trivial parts scores 1.
    DuplicationTree other;
    other.reconstruct(DistanceMatrix(settings.copies), 3);
    EXPECT_GT(scoreHistory(history.truth, other).rootedRF, 0.0);
}

}  // namespace

// Refinement: every tree it writes is a duplication tree, it never makes the
// tree longer, and it leaves the true tree alone when the distances are the
// true tree's own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "HistoryScore.h"
#include "HistorySimulator.h"
#include "ToolRunner.h"
#include "TreeBuilding.h"
#include "history/Refinement.h"
#include "history/refine/Descent.h"
#include "history/refine/Replay.h"
#include "output/NewickWriter.h"
#include "reference/ReferenceHistory.h"
#include "sequences/SequenceSet.h"

namespace {

BinaryTree treeOf(std::unique_ptr<TreeNode> root, int leaves) {
    BinaryTree tree;
    tree.root = std::move(root);
    tree.leafCount = leaves;
    return tree;
}

TEST(Recognition, TellsDuplicationTreesFromOthers) {
    // ((0,2),(1,3)): one block duplication of a pair.
    EXPECT_TRUE(isDuplicationTree(treeOf(join(-3, join(-1, leaf(0), leaf(2)), join(-2, leaf(1), leaf(3))), 4)));
    // ((0,3),(1,2)): 1 and 2 merge first, and then 0 and 3 are not neighbours.
    EXPECT_FALSE(isDuplicationTree(treeOf(join(-3, join(-1, leaf(0), leaf(3)), join(-2, leaf(1), leaf(2))), 4)));
    // (0,(1,2)) in either order of the children.
    EXPECT_TRUE(isDuplicationTree(treeOf(join(-2, join(-1, leaf(2), leaf(1)), leaf(0)), 3)));
    // ((0,2),1): 0 and 2 can never stand side by side.
    EXPECT_FALSE(isDuplicationTree(treeOf(join(-2, join(-1, leaf(0), leaf(2)), leaf(1)), 3)));
    // Every reconstruction is one.
    std::mt19937 random(4);
    std::uniform_real_distribution<double> value(0.1, 1.0);
    for (int round = 0; round < 30; ++round) {
        const int n = 2 + round % 15;
        std::vector<std::vector<double>> d(n, std::vector<double>(n, 0.0));
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j) d[i][j] = d[j][i] = value(random);
        DuplicationTree tree;
        tree.reconstruct(matrixFromTable(d), 1 + round % 3);
        EXPECT_TRUE(isDuplicationTree(tree)) << tree.toText(false);
    }
}

// Random trees, joined from random pairs, most of them no duplication trees:
// the linked-list reduction and the scan of the row agree on every one.
TEST(Recognition, BothReductionsAgree) {
    std::mt19937 random(8);
    int yes = 0, no = 0;
    for (int round = 0; round < 3000; ++round) {
        const int n = 3 + round % 10;
        std::vector<std::unique_ptr<TreeNode>> pool;
        for (int i = 0; i < n; ++i) pool.push_back(leaf(i));
        for (int label = -1; pool.size() > 1; --label) {
            const std::size_t a = random() % pool.size();
            std::unique_ptr<TreeNode> left = std::move(pool[a]);
            pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(a));
            const std::size_t b = random() % pool.size();
            std::unique_ptr<TreeNode> right = std::move(pool[b]);
            pool[b] = join(label, std::move(left), std::move(right));
        }
        const BinaryTree tree = treeOf(std::move(pool[0]), n);
        const bool fast = isDuplicationTree(tree);
        ASSERT_EQ(fast, isDuplicationTreeByScan(tree)) << tree.toText(false);
        ++(fast ? yes : no);
    }
    EXPECT_GT(yes, 100);
    EXPECT_GT(no, 100);
}

SequenceSet copiesOf(const SimulatedHistory& history, bool protein) {
    SequenceSet set;
    set.isProtein = protein;
    set.count = static_cast<int>(history.copies.size());
    set.length = static_cast<int>(history.copies[0].size());
    set.sequences = history.copies;
    set.computeDistances();
    return set;
}

// The DNA copies of a simulated history and their distances.
SequenceSet simulatedCopies(int copies, int length, double divergence, std::uint64_t seed) {
    SimulationSettings settings;
    settings.copies = copies;
    settings.length = length;
    settings.divergence = divergence;
    settings.seed = seed;
    return copiesOf(simulateHistory(settings), false);
}

// Hears the blocks a criterion chooses.
class Recording : public BlockCriterion {
public:
    explicit Recording(BlockCriterion& inner) : inner_(inner) {}
    std::vector<CandidateBlock> chosen;
    void begin(const WorkingDistanceTable& table, ReconstructionProgress* progress) override {
        inner_.begin(table, progress);
    }
    CandidateBlock chooseBlock(const WorkingDistanceTable& table) override {
        chosen.push_back(inner_.chooseBlock(table));
        return chosen.back();
    }
    void merging(const WorkingDistanceTable& table, CandidateBlock block) override { inner_.merging(table, block); }
    void merged(const WorkingDistanceTable& table, CandidateBlock block) override { inner_.merged(table, block); }
    bool readsRowSums() const override { return inner_.readsRowSums(); }

private:
    BlockCriterion& inner_;
};

// Rebuilds replay merges and hand the rest of the history over to a
// criterion. The replayed merges leave the table's row sums out, yet the
// criterion that takes over reads them whole: replaying the criterion's own
// first merges and handing over gives the criterion's history.
TEST(Recognition, ReplayedMergesHandOverWholeRowSums) {
    for (int criterion = 2; criterion <= 3; ++criterion)
        for (std::uint64_t seed = 1; seed <= 3; ++seed) {
            const SequenceSet set = simulatedCopies(70, 200, 0.15, seed);
            const auto own = makeBlockCriterion(criterion);
            Recording recording(*own);
            DuplicationTree whole;
            whole.reconstruct(*set.distances, recording);
            const std::size_t steps = recording.chosen.size();
            for (const std::size_t given : {steps / 4, steps / 2, steps - 2}) {
                const std::vector<CandidateBlock> first(recording.chosen.begin(),
                                                        recording.chosen.begin() + static_cast<std::ptrdiff_t>(given));
                refine::ReplayedMerges replay(first, own.get());
                DuplicationTree tree;
                tree.reconstruct(*set.distances, replay);
                EXPECT_EQ(tree.toText(false), whole.toText(false))
                    << "criterion " << criterion << " seed " << seed << " after " << given;
            }
        }
}

// The refinement rules out a moved tree at once when, off the path between
// the end copies, a node's two children span nested runs of copies: below
// every segment of a duplication history the left copy's descendants begin
// and end before the right copy's. True histories with blocks, and the trees
// each criterion builds, keep to it.
TEST(Refinement, ChildrenOfADuplicationTreeNeverSpanNestedRuns) {
    auto nested = [](const DuplicationTree& tree) {
        std::map<const TreeNode*, std::pair<int, int>> span;
        bool found = false;
        BinaryTree::walk(
            tree.root.get(),
            [&](const TreeNode& x) {
                span[&x] = {x.label, x.label};
            },
            [](const TreeNode&) {}, [](const TreeNode&) {},
            [&](const TreeNode& x) {
                const auto [la, ha] = span.at(x.left.get());
                const auto [lb, hb] = span.at(x.right.get());
                span[&x] = {std::min(la, lb), std::max(ha, hb)};
                if ((la < lb && ha > hb) || (lb < la && hb > ha)) found = true;
            });
        return found;
    };
    for (std::uint64_t seed = 1; seed <= 30; ++seed) {
        SimulationSettings settings;
        settings.copies = 6 + static_cast<int>(seed * 5 % 40);
        settings.length = 150;
        settings.largestBlock = 2 + static_cast<int>(seed % 6);
        settings.seed = seed;
        const SimulatedHistory history = simulateHistory(settings);
        EXPECT_FALSE(nested(history.truth)) << "seed " << seed;
        const SequenceSet set = copiesOf(history, false);
        for (int criterion = 1; criterion <= 3; ++criterion) {
            DuplicationTree tree;
            tree.reconstruct(*set.distances, criterion);
            EXPECT_FALSE(nested(tree)) << "seed " << seed << " criterion " << criterion;
        }
    }
}

// Simulated histories of every size, refined from every criterion: the result
// is a duplication tree whose blocks are its own events, no longer; kicks
// give no longer a tree than the plain descent, rebuilds no longer than the
// kicks alone, and shorter for some, and the ratchet after the kicks
// likewise.
TEST(Refinement, StaysADuplicationTreeAndNeverGetsLonger) {
    int shorter = 0;    // histories that rebuilds shorten beyond the kicks
    int ratcheted = 0;  // histories that the ratchet shortens beyond the kicks
    for (std::uint64_t seed = 1; seed <= 16; ++seed) {
        SimulationSettings settings;
        settings.copies = 4 + static_cast<int>(seed * 7 % 30);
        settings.length = 200;
        settings.divergence = 0.05 + 0.02 * static_cast<double>(seed % 10);
        settings.seed = seed;
        const SequenceSet set = copiesOf(simulateHistory(settings), false);
        for (int criterion = 1; criterion <= 3; ++criterion) {
            DuplicationTree tree;
            tree.reconstruct(*set.distances, criterion);
            const double before = balancedLength(tree, *set.distances);
            DuplicationTree unkicked;
            unkicked.reconstruct(*set.distances, criterion);
            RefineSettings kicked;
            kicked.kicks = 16;
            kicked.rebuilds = 8;
            kicked.criterion = criterion;
            refineHistory(tree, *set.distances, kicked);
            ASSERT_TRUE(isDuplicationTree(tree)) << "seed " << seed << " criterion " << criterion;
            EXPECT_LE(balancedLength(tree, *set.distances), before + 1e-12 * before);
            refineHistory(unkicked, *set.distances);
            DuplicationTree unrebuilt;
            unrebuilt.reconstruct(*set.distances, criterion);
            RefineSettings kicksAlone;
            kicksAlone.kicks = 16;
            refineHistory(unrebuilt, *set.distances, kicksAlone);
            const double after = balancedLength(tree, *set.distances);
            const double kickedOnly = balancedLength(unrebuilt, *set.distances);
            EXPECT_LE(kickedOnly, balancedLength(unkicked, *set.distances) + 1e-12 * before);
            EXPECT_LE(after, kickedOnly + 1e-12 * before);
            if (after < kickedOnly - 1e-12 * before) ++shorter;
            DuplicationTree shaken;
            shaken.reconstruct(*set.distances, criterion);
            RefineSettings withRatchet = kicksAlone;
            withRatchet.ratchet = 4;
            refineHistory(shaken, *set.distances, withRatchet);
            ASSERT_TRUE(isDuplicationTree(shaken)) << "seed " << seed << " criterion " << criterion;
            const double afterRatchet = balancedLength(shaken, *set.distances);
            EXPECT_LE(afterRatchet, kickedOnly + 1e-12 * before);
            if (afterRatchet < kickedOnly - 1e-12 * before) ++ratcheted;
            EXPECT_EQ(tree.leafCount, settings.copies);
            // The blocks are those a reconstruction replaying its events makes.
            for (const DuplicationBlock& block : tree.blocks) EXPECT_GE(block.size(), 2u);
        }
    }
    EXPECT_GT(shorter, 0);
    EXPECT_GT(ratcheted, 0);
}

// Descents of kicks, rebuilds and ratchet rounds run side by side give the
// trees of one descent after another.
TEST(Refinement, ThreadsGiveTheSameTree) {
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        const SequenceSet set = simulatedCopies(60, 120, 0.3, seed);
        for (int criterion = 2; criterion <= 3; ++criterion) {
            std::string first;
            for (int threads = 1; threads <= 3; ++threads) {
                DuplicationTree tree;
                tree.reconstruct(*set.distances, criterion);
                RefineSettings refining;
                refining.kicks = 32;
                refining.rebuilds = 16;
                refining.ratchet = 6;
                refining.threads = threads;
                refining.criterion = criterion;
                refineHistory(tree, *set.distances, refining);
                const std::string text = newickText(tree, {});
                if (threads == 1) first = text;
                EXPECT_EQ(text, first) << "seed " << seed << " criterion " << criterion << " threads " << threads;
            }
        }
    }
}

// A round of looks shared with a thread lent to it: every slice runs once,
// whichever thread takes it, and a slice that fails on the lent thread fails
// the round where it was shared, with the thread still lent and no one left
// waiting.
TEST(Refinement, LentThreadsRunEverySliceOnceAndHandBackFailures) {
    refine::LookHelp help(2);
    std::atomic<bool> over{false};
    std::thread lent([&] { help.lend(1, [&] { return over.load(); }); });
    while (help.waiting() == 0) std::this_thread::yield();
    refine::LookScratch mine;
    constexpr int kSlices = 32;
    int lentTook = 0, failed = 0;
    for (int round = 0; round < 200; ++round) {
        std::vector<std::atomic<int>> runs(kSlices);
        std::atomic<int> byLent{0};
        const bool failing = round % 2 == 1;
        const std::function<void(int, refine::LookScratch&)> work = [&](int slice, refine::LookScratch& scratch) {
            std::this_thread::sleep_for(std::chrono::microseconds(20));
            ++runs[static_cast<std::size_t>(slice)];
            if (&scratch == &mine) return;
            ++byLent;
            if (failing) throw std::runtime_error("a look failed");
        };
        try {
            ASSERT_TRUE(help.share(kSlices, work, mine));
            ASSERT_TRUE(!failing || byLent == 0);
            for (const std::atomic<int>& each : runs) ASSERT_EQ(each.load(), 1);
            lentTook += byLent > 0;
        } catch (const std::runtime_error&) {
            ASSERT_TRUE(failing);
            ++failed;
            for (const std::atomic<int>& each : runs) ASSERT_LE(each.load(), 1);
        }
    }
    over = true;
    lent.join();
    EXPECT_GT(lentTook, 10);
    EXPECT_GT(failed, 10);
    EXPECT_EQ(help.waiting(), 0);
}

// Distances measured along a clock-like true history: it is the shortest
// tree, and its root the most clock-like, so refinement keeps it.
TEST(Refinement, KeepsTheTrueTreeOnItsOwnDistances) {
    for (std::uint64_t seed = 1; seed <= 10; ++seed) {
        SimulationSettings settings;
        settings.copies = 10 + static_cast<int>(seed);
        settings.rateSpread = 0.0;
        settings.seed = seed;
        SimulatedHistory history = simulateHistory(settings);
        const int n = settings.copies;
        std::vector<std::vector<double>> d(n, std::vector<double>(n, 0.0));
        std::vector<const TreeNode*> leaves(n);
        BinaryTree::walk(
            history.truth.root.get(), [&](const TreeNode& x) { leaves[x.label] = &x; }, [](const TreeNode&) {},
            [](const TreeNode&) {}, [](const TreeNode&) {});
        auto depth = [&](const TreeNode* x, const TreeNode* top) {
            double sum = 0.0;
            for (; x != top; x = x->parent) sum += history.lengths.of(*x, n);
            return sum;
        };
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j) {
                const TreeNode* meet = leaves[i];
                auto below = [&](const TreeNode* top, const TreeNode* x) {
                    for (; x != nullptr; x = x->parent)
                        if (x == top) return true;
                    return false;
                };
                while (!below(meet, leaves[j])) meet = meet->parent;
                d[i][j] = d[j][i] = depth(leaves[i], meet) + depth(leaves[j], meet);
            }
        const DistanceMatrix matrix = matrixFromTable(d);
        const std::set<Cluster> truth = clustersOf(history.truth);
        DuplicationTree tree = std::move(history.truth);
        refineHistory(tree, matrix);
        EXPECT_EQ(clustersOf(tree), truth) << "seed " << seed;
    }
}

TEST(Refinement, TheReportSaysTheTreeWasRefined) {
    const std::string path = sourcePath("examples/yeast_chr1_FLO1_204225-206500_p135.txt");
    const ToolResult result = runTool({path, "N", "4", "--refine"});
    EXPECT_EQ(result.exitCode, 0);
    for (int c = 1; c <= 3; ++c)
        EXPECT_NE(result.out.find("History tree refined from algorithm " + std::to_string(c) + "\n"),
                  std::string::npos);
    const ToolResult newick = runTool({path, "N", "3", "--refine", "--newick", "--bootstrap", "10"});
    EXPECT_NE(newick.out.find("[&&NHX:support="), std::string::npos);
    // --kicks refines on its own, and wants a count.
    const ToolResult kicked = runTool({path, "N", "3", "--kicks", "8"});
    EXPECT_EQ(kicked.out.rfind("History tree refined from algorithm 3\n", 0), 0u) << kicked.out;
    EXPECT_EQ(runTool({path, "N", "3", "--kicks=some"}).out,
              "--kicks needs a number of kicks from 0 to 1000000, not 'some'\n");
    const ToolResult rebuilt = runTool({path, "N", "2", "--rebuilds", "4"});
    EXPECT_EQ(rebuilt.out.rfind("History tree refined from algorithm 2\n", 0), 0u) << rebuilt.out;
    // On the MUC17 repeats two rebuilds from criterion 3 find a shorter
    // history than the descent: the run hands the criterion to them.
    const std::string muc17 = sourcePath("examples/human_MUC17_E7EPM4_tandem_repeat_p59.txt");
    EXPECT_NE(runTool({muc17, "N", "3", "--rebuilds", "2"}).out, runTool({muc17, "N", "3", "--refine"}).out);
    EXPECT_EQ(runTool({path, "N", "3", "--rebuilds", "-1"}).out,
              "--rebuilds needs a number of rebuilds from 0 to 1000000, not '-1'\n");
    const ToolResult shaken = runTool({path, "N", "1", "--ratchet", "2"});
    EXPECT_EQ(shaken.out.rfind("History tree refined from algorithm 1\n", 0), 0u) << shaken.out;
    EXPECT_EQ(runTool({path, "N", "3", "--ratchet", "1e3"}).out,
              "--ratchet needs a number of rounds from 0 to 1000000, not '1e3'\n");
}

}  // namespace

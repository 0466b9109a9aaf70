#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "SmallStack.h"
#include "driver/Report.h"
#include "history/DuplicationTree.h"
#include "history/PairScores.h"
#include "reference/ReferenceHistory.h"
#include "sequences/SequenceSet.h"

namespace {

using Table = std::vector<std::vector<double>>;

// Distinct distances, so that a test can tell which entries were averaged.
Table distinctTable(int n) {
    Table t(n, std::vector<double>(n, 0.0));
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) t[i][j] = t[j][i] = 1.0 + i + 8.0 * j;
    return t;
}

TEST(WorkingTable, BlockAtTheStartAveragesLeftAndRightCopies) {
    const Table d = distinctTable(4);
    WorkingDistanceTable table(matrixFromTable(d));
    table.mergeBlock(0, 2);
    ASSERT_EQ(table.size(), 2);
    // Nodes 4 (0 with 2) and 5 (1 with 3): the distance across is not used.
    EXPECT_EQ(table.at(0, 1), (d[2][3] + d[0][1]) * 0.5);
    EXPECT_EQ(table.at(1, 0), table.at(0, 1));
    EXPECT_EQ(table.at(0, 0), 0.0);
    EXPECT_EQ(table.at(1, 1), 0.0);
}

TEST(WorkingTable, BlockInsideTheRowMovesLaterSegmentsDown) {
    const Table d = distinctTable(7);
    WorkingDistanceTable table(matrixFromTable(d));
    table.mergeBlock(1, 2);  // 1 with 3, 2 with 4; 5 and 6 move to 3 and 4
    ASSERT_EQ(table.size(), 5);
    EXPECT_EQ(table.at(1, 0), (d[3][0] + d[1][0]) * 0.5);
    EXPECT_EQ(table.at(2, 0), (d[4][0] + d[2][0]) * 0.5);
    EXPECT_EQ(table.at(1, 2), (d[3][4] + d[1][2]) * 0.5);
    EXPECT_EQ(table.at(1, 3), (d[3][5] + d[1][5]) * 0.5);
    EXPECT_EQ(table.at(4, 2), (d[4][6] + d[2][6]) * 0.5);
    EXPECT_EQ(table.at(0, 3), d[0][5]);
    EXPECT_EQ(table.at(4, 3), d[6][5]);
    EXPECT_EQ(table.at(0, 4), d[0][6]);
}

TEST(WorkingTable, BlockAtTheEndOnlyShortensTheRow) {
    const Table d = distinctTable(5);
    WorkingDistanceTable table(matrixFromTable(d));
    table.mergeBlock(1, 2);
    ASSERT_EQ(table.size(), 3);
    EXPECT_EQ(table.at(0, 1), (d[3][0] + d[1][0]) * 0.5);
    EXPECT_EQ(table.at(0, 2), (d[4][0] + d[2][0]) * 0.5);
    EXPECT_EQ(table.at(2, 1), (d[3][4] + d[1][2]) * 0.5);
}

// After any sequence of merges the row sums are exactly the sums of the
// current rows added in ascending order from zero, however much of them was
// carried over from before the merge.
TEST(WorkingTable, RowSumsStayExactThroughMerges) {
    // Large enough for the sums to be shared among three threads.
    std::mt19937 random(5);
    const int n = 600;
    Table d(n, std::vector<double>(n, 0.0));
    std::uniform_real_distribution<double> value(0.01, 3.0);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) d[i][j] = d[j][i] = value(random);
    WorkingDistanceTable table(matrixFromTable(d));
    table.setThreads(3);
    // Runs of merges that leave the sums out, as replayed merges do: the
    // merge that keeps them again gives exact sums too.
    bool kept = true;
    while (table.size() >= 2) {
        const int k = table.size();
        for (int p = 0; p < k && kept; ++p) {
            double sum = 0.0;
            for (int q = 0; q < k; ++q) sum += table.at(p, q);
            ASSERT_EQ(table.rowSums()[p], sum) << "k " << k << " p " << p;
        }
        const int size = 1 + static_cast<int>(random() % static_cast<unsigned>(std::min(3, k / 2)));
        const int start = static_cast<int>(random() % static_cast<unsigned>(k - 2 * size + 1));
        kept = random() % 4 != 0;
        table.mergeBlock(start, size, kept);
    }
}

// A table whose merges may leave gaps in the rows holds the same values,
// row sums and pair scores as one compacted at every merge, through merges
// that leave gaps, that close them all at once, and that leave the sums out.
TEST(WorkingTable, GapsLeftInTheRowsChangeNoValue) {
    std::mt19937 random(11);
    const int n = 600;  // enough for the rows to be shared among threads
    Table d(n, std::vector<double>(n, 0.0));
    std::uniform_real_distribution<double> value(0.01, 3.0);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) d[i][j] = d[j][i] = value(random);
    WorkingDistanceTable compact(matrixFromTable(d));
    WorkingDistanceTable gapped(matrixFromTable(d));
    compact.setThreads(3);
    gapped.setThreads(3);
    int gappedSteps = 0;
    int closings = 0;
    std::vector<double> a(n), b(n);
    while (compact.size() >= 3) {
        const int k = compact.size();
        const int size = 1 + static_cast<int>(random() % static_cast<unsigned>(std::min(3, k / 2)));
        const int start = static_cast<int>(random() % static_cast<unsigned>(k - 2 * size + 1));
        const bool kept = random() % 5 != 0;
        const bool wasCompact = gapped.compact();
        compact.mergeBlock(start, size, kept);
        gapped.mergeBlock(start, size, kept, true);
        ASSERT_TRUE(compact.compact());
        gappedSteps += gapped.compact() ? 0 : 1;
        closings += !wasCompact && gapped.compact() ? 1 : 0;
        ASSERT_EQ(gapped.size(), compact.size());
        for (int t = 0; t < 4; ++t) {
            const int p = static_cast<int>(random() % static_cast<unsigned>(compact.size()));
            for (int q = 0; q < compact.size(); ++q) ASSERT_EQ(gapped.at(p, q), compact.at(p, q)) << p << " " << q;
        }
        if (!kept || compact.size() < 3) continue;
        for (int p = 0; p < compact.size(); ++p) ASSERT_EQ(gapped.rowSums()[p], compact.rowSums()[p]) << p;
        const int p = static_cast<int>(random() % static_cast<unsigned>(compact.size()));
        const int from = static_cast<int>(random() % static_cast<unsigned>(compact.size()));
        PairScores(compact).fillRow(p, from, compact.size(), a.data());
        PairScores(gapped).fillRow(p, from, compact.size(), b.data());
        for (int q = from; q < compact.size(); ++q) ASSERT_EQ(b[q], a[q]) << p << " " << q;
    }
    EXPECT_GT(gappedSteps, 100);
    EXPECT_GT(closings, 3);
}

TEST(Reconstruction, OneSegmentIsASingleLeaf) {
    DuplicationTree tree;
    tree.reconstruct(matrixFromTable({{0.0}}), 3);
    ASSERT_NE(tree.root, nullptr);
    EXPECT_EQ(tree.root->label, 0);
    EXPECT_EQ(tree.root->left, nullptr);
    EXPECT_EQ(tree.root->parent, nullptr);
    EXPECT_EQ(tree.leafCount, 1);
    EXPECT_EQ(tree.toText(false), "0");
    EXPECT_TRUE(tree.blocks.empty());
}

TEST(Reconstruction, TwoSegmentsOneStep) {
    for (int criterion : {1, 2, 3}) {
        DuplicationTree tree;
        tree.reconstruct(matrixFromTable({{0, 0.3}, {0.3, 0}}), criterion);
        ASSERT_NE(tree.root, nullptr);
        EXPECT_EQ(tree.root->label, -1);
        EXPECT_EQ(tree.root->left->label, 0);
        EXPECT_EQ(tree.root->right->label, 1);
        EXPECT_EQ(tree.root->left->parent, tree.root.get());
        EXPECT_EQ(tree.root->right->parent, tree.root.get());
        EXPECT_EQ(tree.leafCount, 2);
        EXPECT_TRUE(tree.blocks.empty());
        EXPECT_EQ(tree.toText(false), "v1(0,1)");
    }
}

TEST(Reconstruction, ThreeSegmentsJoiningTheRightPairFirst) {
    DuplicationTree tree;
    // Only rounding separates the pairs of three segments: here Q(1,2) is
    // one unit in the last place below Q(0,1).
    const Table d = {{0, 0.1, 0.1}, {0.1, 0, 0.2}, {0.1, 0.2, 0}};
    tree.reconstruct(matrixFromTable(d), 3);
    EXPECT_EQ(tree.toText(false), "v2(0,v1(1,2))");
    EXPECT_TRUE(tree.blocks.empty());
    EXPECT_EQ(tree.root->right->parent, tree.root.get());
    WorkingDistanceTable table(matrixFromTable(d));
    table.mergeBlock(1, 1);
    EXPECT_EQ(table.at(1, 0), (d[2][0] + d[1][0]) * 0.5);
}

TEST(Reconstruction, FourSegmentsOneBlock) {
    const Table d = {{0, 4, 1, 4}, {4, 0, 4, 1}, {1, 4, 0, 4}, {4, 1, 4, 0}};
    for (int criterion : {1, 2, 3}) {
        DuplicationTree tree;
        tree.reconstruct(matrixFromTable(d), criterion);
        EXPECT_EQ(tree.toText(false), "v3(v1(0,2),v2(1,3))") << criterion;
        ASSERT_EQ(tree.blocks.size(), 1u);
        EXPECT_EQ(tree.blocks[0], (DuplicationBlock{-1, -2}));
    }
}

TEST(Reconstruction, RebuildingDependsOnNothingOfTheFirstBuild) {
    const Table d = distinctTable(9);
    const DistanceMatrix matrix = matrixFromTable(d);
    DuplicationTree reused;
    reused.reconstruct(matrix, 1);
    for (int criterion : {2, 3, 1}) {
        reused.reconstruct(matrix, criterion);
        DuplicationTree fresh;
        fresh.reconstruct(matrix, criterion);
        EXPECT_EQ(reused.toText(false), fresh.toText(false));
        EXPECT_EQ(blockLine(reused), blockLine(fresh));
        EXPECT_EQ(reused.leafCount, 9);
    }
}

TEST(Reconstruction, NoSegmentsGiveAnEmptyTree) {
    DuplicationTree tree;
    tree.reconstruct(matrixFromTable({{0, 1}, {1, 0}}), 3);
    tree.reconstruct(DistanceMatrix(0), 3);
    EXPECT_EQ(tree.root, nullptr);
    EXPECT_EQ(tree.leafCount, 0);
}

TEST(Reconstruction, UnknownCriterionIsRefused) {
    DuplicationTree tree;
    EXPECT_THROW(tree.reconstruct(matrixFromTable({{0, 1}, {1, 0}}), 0), std::invalid_argument);
    EXPECT_THROW(tree.reconstruct(matrixFromTable({{0, 1}, {1, 0}}), 4), std::invalid_argument);
}

TEST(Reconstruction, ThreeThousandSegmentsGiveACompleteTree) {
    const int n = 3000;
    DistanceMatrix matrix(n);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) matrix.set(i, j, static_cast<double>(n - i) + (n - j));
    DuplicationTree tree;
    tree.reconstruct(matrix, 3);
    EXPECT_EQ(tree.leafCount, n);
    const std::string text = tree.toText(true);
    EXPECT_EQ(std::count(text.begin(), text.end(), '('), n - 1);
    std::size_t labels = 0;
    for (const DuplicationBlock& block : tree.blocks) labels += block.size();
    EXPECT_LE(labels, static_cast<std::size_t>(n - 1));
}

// Distances of a comb: d(i, j) = n - min(i, j). The mutual-neighbour
// criterion then merges the two leftmost segments at every step, so the
// history is a chain as deep as the number of segments. It is built, written
// and released on a stack far too small for one frame per level.
TEST(Reconstruction, ChainShapedHistoryNeedsNoStackPerLevel) {
#ifdef TANDEMTREE_SANITIZED
    const int n = 600;  // here for memory errors; the plain build checks the stack
#else
    const int n = 1200;
#endif
    DistanceMatrix matrix(n);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) matrix.set(i, j, static_cast<double>(n - i));
    int depth = 0;
    std::size_t blocks = 1;
    std::string text;
    onSmallStack(kSmallStack, [&] {
        DuplicationTree tree;
        tree.reconstruct(matrix, 2);
        for (const TreeNode* node = tree.root.get(); node->label < 0; ++depth) node = node->left.get();
        blocks = tree.blocks.size();
        text = tree.toText(false);
    });
    EXPECT_EQ(depth, n - 1);
    EXPECT_EQ(blocks, 0u);
    const std::string top = "v" + std::to_string(n - 1) + "(v" + std::to_string(n - 2) + "(";
    EXPECT_EQ(text.compare(0, top.size(), top), 0);
    const std::string end = "," + std::to_string(n - 1) + ")";
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
}

}  // namespace

namespace {

// Distances over several blocks of rows, coded (DNA) and as doubles (a model
// other than the default): every pair reads back as the pair function gives
// it, and a reconstruction that takes the matrix in, giving its rows back as
// it goes, builds the same history as one that only reads it.
TEST(Reconstruction, TakingTheDistancesInGivesTheSameHistory) {
    std::mt19937 random(150);
    for (const DistanceModel model : {DistanceModel::jukesCantor, DistanceModel::uncorrected}) {
        SequenceSet set;
        set.count = 150;
        set.length = 40;
        set.distanceOptions.model = model;
        const std::string ancestor = "ACGTTGCAACGGTACCATGGACTTGACCAGTTACGGATCA";
        for (int i = 0; i < set.count; ++i) {
            std::string s = ancestor;  // a tenth of the sites changed, some copies alike
            for (char& c : s)
                if (i % 7 != 0 && random() % 10 == 0) c = "ACGT"[random() % 4];
            set.sequences.push_back(s);
        }
        set.computeDistances(2);
        ASSERT_EQ(set.distances->coded(), model == DistanceModel::jukesCantor);
        for (int i = 0; i < set.count; ++i)
            for (int j = i + 1; j < set.count; ++j) ASSERT_EQ(set.distances->at(i, j), set.pairDistance(i, j));
        for (int criterion : {2, 3}) {
            DuplicationTree read;
            read.reconstruct(*set.distances, criterion);
            DistanceMatrix copy = *set.distances;
            DuplicationTree takenIn;
            takenIn.reconstruct(std::move(copy), *makeBlockCriterion(criterion));
            EXPECT_EQ(takenIn.toText(false), read.toText(false)) << "criterion " << criterion;
        }
    }
}

}  // namespace

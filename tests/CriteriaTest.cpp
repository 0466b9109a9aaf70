#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "driver/Report.h"
#include "history/BlockScan.h"
#include "history/DuplicationTree.h"
#include "history/LeastMeanScoreCriterion.h"
#include "history/MutualNeighbourCriterion.h"
#include "history/QuartetRuns.h"
#include "history/QuartetVoteCriterion.h"
#include "reference/ReferenceHistory.h"

namespace {

using Table = std::vector<std::vector<double>>;

const Table kFour = {{0, 4, 1, 4}, {4, 0, 4, 1}, {1, 4, 0, 4}, {4, 1, 4, 0}};
const Table kFive = {{0, 4, 2, 1, 5}, {4, 0, 3, 3, 2}, {2, 3, 0, 2, 2}, {1, 3, 2, 0, 6}, {5, 2, 2, 6, 0}};

// The first block that a criterion chooses on the table d.
template <typename Criterion>
std::pair<int, int> choose(const Table& d) {
    WorkingDistanceTable table(matrixFromTable(d));
    Criterion criterion;
    criterion.begin(table, nullptr);
    const CandidateBlock block = criterion.chooseBlock(table);
    return {block.start, block.size};
}

TEST(LeastMeanScore, WorkedExamples) {
    EXPECT_EQ(choose<LeastMeanScoreCriterion>({{0, 9}, {9, 0}}), std::make_pair(0, 1));
    EXPECT_EQ(choose<LeastMeanScoreCriterion>(kFour), std::make_pair(0, 2));
    // (0, 2) ties the held -5 and stays behind; (1, 2) at -5.5 wins.
    EXPECT_EQ(choose<LeastMeanScoreCriterion>(kFive), std::make_pair(1, 2));
}

// With three segments every pair scores -(d01 + d02 + d12) in exact
// arithmetic, so only rounding can set one pair below the others.
const Table kThreeExact = {{0, 3, 3}, {3, 0, 1}, {3, 1, 0}};
// Here Q(0,1) = -0.4 and Q(1,2) = -0.4000000000000001.
const Table kThreeRounded = {{0, 0.1, 0.1}, {0.1, 0, 0.2}, {0.1, 0.2, 0}};

// The scan skips the division of a sum s of j values when s > c * j, c from
// the mean held: that must never hide a mean at or below it. Sums at and
// around j times the mean are where a bound too tight would let one through.
TEST(LeastMeanScore, MeanBoundNeverHidesAMeanAtOrBelowTheOneHeld) {
    std::mt19937_64 random(40);
    std::uniform_real_distribution<double> unit(0.5, 1.0);
    int skipped = 0;
    for (int round = 0; round < 20000; ++round) {
        const int exponent = static_cast<int>(random() % 41) - 30;
        const double mean = (random() % 2 == 0 ? -1.0 : 1.0) * std::ldexp(unit(random), exponent);
        const double factor = MeanBound(mean).factor;
        const int j = 1 + static_cast<int>(random() % 5000);
        for (double around : {mean * j, factor * j}) {
            double s = around;
            for (int step = 0; step < 40; ++step) s = std::nextafter(s, -std::numeric_limits<double>::infinity());
            for (int step = 0; step < 80; ++step, s = std::nextafter(s, std::numeric_limits<double>::infinity())) {
                if (!(s > factor * j)) continue;
                ++skipped;
                ASSERT_GT(s / j, mean) << "mean " << mean << " size " << j << " sum " << s;
            }
        }
    }
    EXPECT_GT(skipped, 20000 * 30);  // sums just past the bound are skipped
    for (double mean : {0.0, -0.0, std::numeric_limits<double>::infinity(), 1e-300, -1e300})
        EXPECT_TRUE(std::isnan(MeanBound(mean).factor)) << mean;
}

TEST(LeastMeanScore, ThreeSegments) {
    EXPECT_EQ(choose<LeastMeanScoreCriterion>(kThreeExact), std::make_pair(0, 1));  // tie keeps the first
    EXPECT_EQ(choose<LeastMeanScoreCriterion>(kThreeRounded), std::make_pair(1, 1));
}

TEST(MutualNeighbours, WorkedExamples) {
    EXPECT_EQ(choose<MutualNeighbourCriterion>({{0, 9}, {9, 0}}), std::make_pair(0, 1));
    EXPECT_EQ(choose<MutualNeighbourCriterion>(kFour), std::make_pair(0, 2));
    // The marked pairs (0,3) and (1,4) are too far apart for any candidate.
    EXPECT_EQ(choose<MutualNeighbourCriterion>(kFive), std::make_pair(0, 1));
}

TEST(MutualNeighbours, ExactEqualityDecidesTheMarks) {
    // Every pair ties, so every pair is marked and the first wins.
    EXPECT_EQ(choose<MutualNeighbourCriterion>(kThreeExact), std::make_pair(0, 1));
    // Q(0,1) misses row 1's minimum in the last bit: not marked.
    EXPECT_EQ(choose<MutualNeighbourCriterion>(kThreeRounded), std::make_pair(1, 1));
    // Position 2 is the lowest-scoring partner of both 1 and 3 (and 1 of 3):
    // marks (0,4), (1,2), (1,3), (2,3); the first adjacent marked pair wins.
    const Table twoMinima = {{0, 1, 3, 2, 1}, {1, 0, 3, 3, 4}, {3, 3, 0, 4, 4}, {2, 3, 4, 0, 5}, {1, 4, 4, 5, 0}};
    EXPECT_EQ(choose<MutualNeighbourCriterion>(twoMinima), std::make_pair(1, 1));
}

// Drives the engine's criterion-1 operations one step at a time, as the
// reconstruction does, and returns the vote matrix as k x k after each call.
struct QuartetStepper {
    explicit QuartetStepper(const Table& d) : table(matrixFromTable(d)) { criterion.begin(table, nullptr); }
    std::pair<int, int> choose() {
        block = criterion.chooseBlock(table);
        return {block.start, block.size};
    }
    void merge() {
        criterion.merging(table, block);
        table.mergeBlock(block.start, block.size);
        criterion.merged(table, block);
    }
    std::vector<std::vector<int>> votes() const {
        const int k = table.size();
        std::vector<std::vector<int>> v(k, std::vector<int>(k));
        for (int p = 0; p < k; ++p)
            for (int q = 0; q < k; ++q) v[p][q] = criterion.votes().at(p, q);
        return v;
    }
    Table currentTable() const {
        const int k = table.size();
        Table t(k, std::vector<double>(k));
        for (int p = 0; p < k; ++p)
            for (int q = 0; q < k; ++q) t[p][q] = table.at(p, q);
        return t;
    }
    WorkingDistanceTable table;
    QuartetVoteCriterion criterion;
    CandidateBlock block;
};

bool allZero(const std::vector<std::vector<int>>& v) {
    for (const auto& row : v)
        for (int x : row)
            if (x != 0) return false;
    return true;
}

TEST(QuartetVotes, FourSegments) {
    QuartetStepper step(kFour);
    const auto v = step.votes();
    EXPECT_EQ(v[0][2], 1);
    EXPECT_EQ(v[2][0], 1);
    EXPECT_EQ(v[1][3], 1);
    EXPECT_EQ(v[0][1] + v[1][2] + v[2][3] + v[0][3], 0);
    EXPECT_EQ(step.choose(), std::make_pair(0, 2));
    step.merge();
    EXPECT_TRUE(allZero(step.votes()));  // the one quartet is withdrawn
    EXPECT_EQ(step.choose(), std::make_pair(0, 1));
}

TEST(QuartetVotes, FiveSegmentsStepByStep) {
    QuartetStepper step(kFive);
    std::vector<std::vector<int>> expected(5, std::vector<int>(5, 0));
    auto set = [&](int p, int q, int x) { expected[p][q] = expected[q][p] = x; };
    set(0, 3, 3);
    set(1, 4, 3);
    set(0, 2, 1);
    set(1, 2, 1);
    set(2, 3, 1);
    set(2, 4, 1);
    EXPECT_EQ(step.votes(), expected);

    // Every quartet touches 1 or 2: all are withdrawn, and the one quartet
    // of the new segment is all that counts after the merge.
    EXPECT_EQ(step.choose(), std::make_pair(1, 1));
    step.merge();
    const Table t = step.currentTable();
    EXPECT_EQ(t[1][0], 3.0);
    EXPECT_EQ(t[1][2], 2.5);
    EXPECT_EQ(t[1][3], 2.0);
    std::vector<std::vector<int>> after(4, std::vector<int>(4, 0));
    after[1][3] = after[3][1] = after[0][2] = after[2][0] = 1;
    EXPECT_EQ(step.votes(), after);
    EXPECT_EQ(step.choose(), std::make_pair(0, 2));
}

TEST(QuartetVotes, SameVotesWhateverTheOrderOfTheQuartet) {
    const Table d = kFive;
    WorkingDistanceTable table(matrixFromTable(d));
    int positions[4] = {0, 1, 2, 4};
    std::vector<std::vector<int>> first;
    do {
        QuartetVoteMatrix votes(5);
        classifyQuartet(votes, table, positions[0], positions[1], positions[2], positions[3], +1);
        std::vector<std::vector<int>> v(5, std::vector<int>(5));
        for (int p = 0; p < 5; ++p)
            for (int q = 0; q < 5; ++q) v[p][q] = votes.at(p, q);
        if (first.empty()) first = v;
        EXPECT_EQ(v, first);
    } while (std::next_permutation(positions, positions + 4));
    EXPECT_EQ(first[0][2], 1);  // {0,2}{1,4} wins
    EXPECT_EQ(first[1][4], 1);
}

TEST(QuartetVotes, TiedLeastSumCastsNoVote) {
    QuartetVoteMatrix votes(4);
    WorkingDistanceTable table(matrixFromTable({{0, 1, 1, 2}, {1, 0, 2, 1}, {1, 2, 0, 3}, {2, 1, 3, 0}}));
    classifyQuartet(votes, table, 0, 1, 2, 3, +1);  // S1 = 4, S2 = 2, S3 = 4: pairing 2
    EXPECT_EQ(votes.at(0, 2), 1);
    WorkingDistanceTable tied(matrixFromTable({{0, 1, 1, 2}, {1, 0, 2, 1}, {1, 2, 0, 1}, {2, 1, 1, 0}}));
    QuartetVoteMatrix other(4);
    classifyQuartet(other, tied, 0, 1, 2, 3, +1);  // S1 = 2, S2 = 2, S3 = 4
    for (int p = 0; p < 4; ++p)
        for (int q = 0; q < 4; ++q) EXPECT_EQ(other.at(p, q), 0);
}

// Random inputs built to produce exact ties and near-ties: few distinct
// values, or distances of short sequences over a small alphabet.
Table randomTable(std::mt19937& random, int n, bool fromSequences) {
    Table t(n, std::vector<double>(n, 0.0));
    if (!fromSequences) {
        std::uniform_int_distribution<int> value(1, 3);
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j) t[i][j] = t[j][i] = value(random) * 0.1;
        return t;
    }
    const int L = std::uniform_int_distribution<int>(3, 7)(random);
    std::vector<std::string> seqs(n, std::string(static_cast<std::size_t>(L), 'A'));
    for (auto& s : seqs)
        for (auto& c : s) c = "AC"[random() % 2];
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            int m = 0;
            for (int x = 0; x < L; ++x) m += seqs[i][x] != seqs[j][x];
            // Protein correction: defined unless every position differs.
            const double d = m == L ? 3.0 : std::log(1.0 - m / (L * 0.95)) * -0.95;
            t[i][j] = t[j][i] = d;
        }
    return t;
}

TEST(ReferenceComparison, EveryCriterionMatchesThePlainReconstruction) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 300; ++round) {
        const int n = 1 + static_cast<int>(random() % 13);
        const Table d = randomTable(random, n, round % 2 == 1);
        const DistanceMatrix matrix = matrixFromTable(d);
        for (int criterion = 1; criterion <= 3; ++criterion) {
            const ReferenceResult expected = referenceReconstruct(matrix, criterion);
            DuplicationTree tree;
            tree.reconstruct(matrix, criterion);
            ASSERT_EQ(tree.toText(false), expected.namedTree) << "round " << round << " criterion " << criterion;
            ASSERT_EQ(tree.toText(true), expected.unnamedTree);
            ASSERT_EQ(blockLine(tree), expected.blockLine);
        }
    }
}

// Large enough for the partial row sums that the working table keeps every
// 64 rows to be reused across merges; and tables of zeros, which take a
// shortcut that one distance other than zero, wherever it lies, must undo.
TEST(ReferenceComparison, LargerTablesMatchThePlainReconstruction) {
    std::mt19937 random(64);
    std::vector<Table> tables;
    for (int n : {65, 130, 200})
        for (bool fromSequences : {false, true}) tables.push_back(randomTable(random, n, fromSequences));
    for (int nonZero : {-1, 1, 45, 69}) {
        tables.emplace_back(70, std::vector<double>(70, -0.0));  // as -0.75 * log(1) gives it
        if (nonZero >= 0) tables.back()[nonZero - 1][nonZero] = tables.back()[nonZero][nonZero - 1] = 0.25;
    }
    for (std::size_t t = 0; t < tables.size(); ++t) {
        const DistanceMatrix matrix = matrixFromTable(tables[t]);
        for (int criterion = 2; criterion <= 3; ++criterion) {
            const ReferenceResult expected = referenceReconstruct(matrix, criterion);
            DuplicationTree tree;
            tree.reconstruct(matrix, criterion);
            ASSERT_EQ(tree.toText(false), expected.namedTree) << "table " << t << " criterion " << criterion;
            ASSERT_EQ(blockLine(tree), expected.blockLine);
        }
    }
}

// Criterion 1 past the sizes of the random rounds above, where blocks of
// several pairs and long runs of fourth positions occur.
TEST(ReferenceComparison, QuartetVotesOnLargerTablesMatchThePlainReconstruction) {
    std::mt19937 random(41);
    for (int n : {30, 64}) {
        for (bool fromSequences : {false, true}) {
            const DistanceMatrix matrix = matrixFromTable(randomTable(random, n, fromSequences));
            const ReferenceResult expected = referenceReconstruct(matrix, 1);
            DuplicationTree tree;
            tree.reconstruct(matrix, 1);
            ASSERT_EQ(tree.toText(false), expected.namedTree) << "n " << n;
            ASSERT_EQ(blockLine(tree), expected.blockLine);
        }
    }
}

TEST(ReferenceComparison, VotesFollowEveryMergeAsAFreshCountWould) {
    std::mt19937 random(7);
    for (int round = 0; round < 120; ++round) {
        const int n = 4 + static_cast<int>(random() % 10);
        const Table d = randomTable(random, n, round % 2 == 0);
        const ReferenceResult expected = referenceReconstruct(matrixFromTable(d), 1);
        QuartetStepper step(d);
        EXPECT_EQ(step.votes(), freshQuartetVotes(d));
        for (std::size_t s = 0; step.table.size() >= 2; ++s) {
            ASSERT_EQ(step.choose(), expected.steps[s]) << "round " << round << " step " << s;
            step.merge();
            ASSERT_EQ(step.votes(), freshQuartetVotes(step.currentTable())) << "round " << round << " step " << s;
            ASSERT_EQ(step.votes(), expected.votesAfterUpdate[s]);
        }
    }
}

TEST(QuartetVotes, MiddleBlockMovesTheVotesBehindIt) {
    // Six segments, first block (1, 1): the quartet at 0, 3, 4, 5 is found at
    // 0, 2, 3, 4 after the update.
    Table d = {{0, 5, 5, 1, 6, 6}, {5, 0, 1, 5, 5, 5}, {5, 1, 0, 5, 5, 5},
               {1, 5, 5, 0, 6, 6}, {6, 5, 5, 6, 0, 1}, {6, 5, 5, 6, 1, 0}};
    QuartetStepper step(d);
    const auto before = step.votes();
    // Withdraw as the block choice would, by choosing and checking it is (1, 1).
    ASSERT_EQ(step.choose(), std::make_pair(1, 1));
    step.merge();
    const auto after = step.votes();
    EXPECT_EQ(after, freshQuartetVotes(step.currentTable()));
    EXPECT_GT(before[0][3], 0);
    EXPECT_GT(before[4][5], 0);
    EXPECT_GE(after[0][2], 1);
    EXPECT_GE(after[3][4], 1);
}

}  // namespace

namespace {

// Tie-heavy tables (few distinct values, or short sequences over two
// letters): the quartet votes counted on 1, 2 and 3 threads, with every
// count shared out however small, give the same history.
TEST(QuartetVotes, SameHistoryOnEveryNumberOfThreads) {
    std::mt19937 random(15);
    for (int round = 0; round < 12; ++round) {
        const int n = 8 + round * 3;
        const DistanceMatrix matrix = matrixFromTable(randomTable(random, n, round % 2 == 0));
        std::string first;
        for (int threads : {1, 2, 3}) {
            QuartetVoteCriterion criterion;
            criterion.setThreads(threads);
            criterion.setLeastSharedWork(0);
            DuplicationTree tree;
            tree.reconstruct(matrix, criterion);
            const std::string text = tree.toText(false) + blockLine(tree);
            if (threads == 1) first = text;
            EXPECT_EQ(text, first) << "round " << round << " threads " << threads;
        }
    }
}

}  // namespace

namespace {

// Large enough for the scan of criterion 3 and the row sums to be shared
// out, on ties everywhere: identical copies, and two distinct distances.
TEST(PairScoreCriteria, SameHistoryOnEveryNumberOfThreads) {
    std::mt19937 random(21);
    const int n = 600;
    std::vector<DistanceMatrix> tables;
    tables.emplace_back(n);  // every distance 0
    Table twoValues(n, std::vector<double>(n, 0.0));
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) twoValues[i][j] = twoValues[j][i] = random() % 2 == 0 ? 0.1 : 0.2;
    tables.push_back(matrixFromTable(twoValues));
    for (const DistanceMatrix& matrix : tables)
        for (int number : {2, 3}) {
            std::string first;
            for (int threads : {1, 2, 3}) {
                const std::unique_ptr<BlockCriterion> criterion = makeBlockCriterion(number);
                criterion->setThreads(threads);
                DuplicationTree tree;
                tree.reconstruct(matrix, *criterion);
                const std::string text = tree.toText(false) + blockLine(tree);
                if (threads == 1) first = text;
                EXPECT_EQ(text, first) << "criterion " << number << " threads " << threads;
            }
        }
}

}  // namespace

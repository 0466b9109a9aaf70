// Bootstrap support: exact where the data leave no doubt, the same for every
// number of threads, and honest about replicates that could not be used.
#include <gtest/gtest.h>

#include <random>

#include "ToolRunner.h"
#include "driver/Report.h"
#include "history/Bootstrap.h"

namespace {

// Copies made along a history in which every edge carries `perEdge`
// substitutions at sites of its own; each edge is the list of the copies
// below it.
SequenceSet alongEdges(int n, const std::vector<std::vector<int>>& edges, int perEdge) {
    const int L = 1000;
    SequenceSet set;
    set.isProtein = false;
    set.count = n;
    set.length = L;
    set.sequences.assign(static_cast<std::size_t>(n), std::string(static_cast<std::size_t>(L), 'A'));
    int site = 0;
    for (const std::vector<int>& below : edges)
        for (int m = 0; m < perEdge; ++m, ++site)
            for (const int copy : below)
                set.sequences[static_cast<std::size_t>(copy)][static_cast<std::size_t>(site)] = 'C';
    set.computeDistances();
    return set;
}

// A family of n copies from a random history, for runs with real doubt.
SequenceSet noisyFamily(int n, int L, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::string> copies(1, std::string(static_cast<std::size_t>(L), 'A'));
    for (char& c : copies[0]) c = "ACGT"[random() % 4];
    while (static_cast<int>(copies.size()) < n) {
        const std::size_t at = random() % copies.size();
        copies.insert(copies.begin() + static_cast<std::ptrdiff_t>(at) + 1, copies[at]);
        for (std::string& copy : copies)
            if (random() % 2 == 0) copy[random() % static_cast<unsigned>(L)] = "ACGT"[random() % 4];
    }
    SequenceSet set;
    set.isProtein = false;
    set.count = n;
    set.length = L;
    set.sequences = copies;
    set.computeDistances();
    return set;
}

// Histories whose every step the data decide (none is left to a tie): one
// block duplication of a pair, and four cherries whose ancestors came from a
// block duplication of the pair above them. Criterion 3 is left out of the
// second: on it, criterion 3 itself rebuilds another tree from about one
// replicate in five, however many substitutions every edge carries, and the
// support rightly says so.
TEST(Bootstrap, EveryPartSupportedWhenEveryEdgeCarriesItsOwnSubstitutions) {
    struct Row {
        int n;
        std::vector<std::vector<int>> edges;
        std::string tree;
        std::vector<int> criteria;
    };
    const std::vector<Row> rows = {
        {4, {{0, 2}, {1, 3}, {0}, {1}, {2}, {3}}, "((0,2),(1,3))", {1, 2, 3}},
        {8,
         {{0, 1, 4, 5}, {2, 3, 6, 7}, {0, 1}, {4, 5}, {2, 3}, {6, 7}, {0}, {1}, {2}, {3}, {4}, {5}, {6}, {7}},
         "(((0,1),(4,5)),((2,3),(6,7)))",
         {1, 2}},
    };
    for (const Row& row : rows) {
        const SequenceSet set = alongEdges(row.n, row.edges, 25);
        for (const int number : row.criteria) {
            const CriterionEntry& criterion = blockCriteria()[static_cast<std::size_t>(number - 1)];
            DuplicationTree history;
            history.reconstruct(*set.distances, number);
            ASSERT_EQ(history.toText(true), row.tree) << number;
            ASSERT_EQ(history.blocks.size(), 1u);
            const HistorySupport support = bootstrapSupport(set, history, criterion, {50, 7, 2});
            EXPECT_EQ(support.used(), 50);
            for (int k = 1; k < history.leafCount; ++k)
                EXPECT_EQ(support.segmentPercent(-k), 100) << "v" << k << " criterion " << number;
            EXPECT_EQ(support.blockPercent(0), 100) << "criterion " << number;
        }
    }
}

TEST(Bootstrap, SameCountsForEveryNumberOfThreadsAndEveryRerun) {
    const SequenceSet set = noisyFamily(40, 120, 5);
    for (const CriterionEntry& criterion : blockCriteria()) {
        DuplicationTree history;
        history.reconstruct(*set.distances, criterion.number);
        const HistorySupport first = bootstrapSupport(set, history, criterion, {30, 99, 1});
        for (int threads : {1, 2, 3}) {
            const HistorySupport again = bootstrapSupport(set, history, criterion, {30, 99, threads});
            EXPECT_EQ(again.segmentCount, first.segmentCount) << threads;
            EXPECT_EQ(again.blockCount, first.blockCount) << threads;
        }
        // Some doubt, or the comparison above shows little.
        int whole = 0;
        for (const int count : first.segmentCount) whole += count == 30;
        EXPECT_LT(whole, history.leafCount - 1);
        const HistorySupport otherSeed = bootstrapSupport(set, history, criterion, {30, 100, 2});
        EXPECT_NE(otherSeed.segmentCount, first.segmentCount);
    }
}

// Two copies that differ at 2 of 4 sites: a replicate that draws the
// differing sites 3 or 4 times has no DNA distance, and is left out.
TEST(Bootstrap, ReplicatesWithAnUndefinedDistanceAreLeftOut) {
    SequenceSet set;
    set.isProtein = false;
    set.count = 2;
    set.length = 4;
    set.sequences = {"AAAA", "AACC"};
    set.computeDistances();
    DuplicationTree history;
    history.reconstruct(*set.distances, 3);
    const CriterionEntry& criterion = blockCriteria().back();
    const HistorySupport some = bootstrapSupport(set, history, criterion, {40, 3, 2});
    EXPECT_GT(some.leftOut, 0);
    EXPECT_LT(some.leftOut, 40);
    EXPECT_EQ(some.segmentCount, std::vector<int>{some.used()});
    EXPECT_EQ(supportLines(history, some)[0], "Bootstrap: " + std::to_string(some.used()) + " replicates used, " +
                                                  std::to_string(some.leftOut) + " left out (undefined distance)");
    std::uint64_t seed = 0;
    while (bootstrapSupport(set, history, criterion, {1, seed, 1}).leftOut == 0) ++seed;
    const HistorySupport none = bootstrapSupport(set, history, criterion, {1, seed, 1});
    EXPECT_EQ(none.used(), 0);
    EXPECT_EQ(supportLines(history, none),
              std::vector<std::string>{
                  "Bootstrap: all 1 replicates were left out, each had an undefined distance: no support"});
}

TEST(Bootstrap, ReportNewickAndPictureCarryTheSupport) {
    const std::string path =
        writeTempFile("boot.txt", "4 10\n0 AAAAAAAAAA\n1 AAAAGGGAAA\n2 AAAAAAAAAC\n3 AAAAGGGAAT\n");
    const ToolResult report = runTool({path, "N", "4", "--bootstrap", "20", "--threads", "3"});
    EXPECT_EQ(report.exitCode, 0);
    EXPECT_EQ(report.out, runTool({path, "N", "4", "--bootstrap=20", "--threads=1"}).out);
    EXPECT_NE(report.out.find("Duplication Blocks:   (v1, v2)   \nBootstrap: 20 replicates used, 0 left out"),
              std::string::npos)
        << report.out;
    EXPECT_NE(report.out.find("\nSegment support:   v1 "), std::string::npos);
    EXPECT_NE(report.out.find("\nBlock support:   (v1, v2) "), std::string::npos);
    const ToolResult newick = runTool({path, "N", "3", "--newick", "--bootstrap", "20", "--seed", "4"});
    EXPECT_NE(newick.out.find(")v1:"), std::string::npos);
    EXPECT_NE(newick.out.find("[&&NHX:support="), std::string::npos);
    EXPECT_NE(newick.out.find(":block=1:block_support="), std::string::npos);
    EXPECT_NE(newick.out.find(":replicates=20:left_out=0];"), std::string::npos);
    const ToolResult labels = runTool({path, "N", "3", "--newick", "--bootstrap", "20", "--support-labels"});
    EXPECT_EQ(labels.out.find("v1"), std::string::npos);
    EXPECT_EQ(labels.out.find("NHX"), std::string::npos);
    const ToolResult svg = runTool({path, "N", "3", "--svg", "--bootstrap", "20"});
    EXPECT_NE(svg.out.find("support from 20 bootstrap replicates, 0 left out"), std::string::npos);
}

TEST(Bootstrap, WrongValuesAreRefused) {
    const std::string path = writeTempFile("boot.txt", "2 4\n0 AAAA\n1 AACA\n");
    struct Row {
        std::vector<std::string> args;
        std::string line;
    };
    const std::vector<Row> rows = {
        {{"--bootstrap", "0"}, "--bootstrap needs a number of replicates from 1 to 1000000, not '0'"},
        {{"--bootstrap=many"}, "--bootstrap needs a number of replicates from 1 to 1000000, not 'many'"},
        {{"--bootstrap"}, "--bootstrap needs a number of replicates from 1 to 1000000, not ''"},
        {{"--threads", "-2", "--bootstrap", "5"}, "--threads needs a number of threads from 1 to 1024, not '-2'"},
        {{"--seed", "18446744073709551616"},
         "--seed needs a whole number from 0 to 18446744073709551615, not '18446744073709551616'"},
        {{"--support-labels", "--bootstrap", "5"}, "--support-labels needs --newick and --bootstrap"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = {path, "N", "3"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const ToolResult result = runTool(args);
        EXPECT_EQ(result.out, row.line + "\n");
        EXPECT_EQ(result.exitCode, 1);
    }
}

}  // namespace

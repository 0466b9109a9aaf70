// The likelihood on the sites from the library, against the sum over every
// assignment of states to the ancestral segments, worked out here.
#include <gtest/gtest.h>

#ifdef TANDEMTREE_HAVE_PLL

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ToolRunner.h"
#include "TreeBuilding.h"
#include "history/Refinement.h"
#include "history/refine/Unrooted.h"
#include "likelihood/MlHistory.h"
#include "likelihood/SiteLikelihood.h"
#include "output/NewickWriter.h"
#include "sequences/SequenceSet.h"

namespace {

// Jukes-Cantor: the chance that a state is `to` after time t from `from`;
// a gap at `to` is missing data, any state.
double jukesCantor(char from, char to, double t) {
    if (to == '-') return 1.0;
    const double e = std::exp(-4.0 * t / 3.0);
    return from == to ? 0.25 + 0.75 * e : 0.25 - 0.25 * e;
}

// The log-likelihood of v3(v1(0,1),v2(2,3)) summed over the states of v3, v1
// and v2 at every site; `above` by node number (4 v1, 5 v2).
double byHand(const std::vector<std::string>& copies, const std::vector<double>& above) {
    const char states[] = {'A', 'C', 'G', 'T'};
    double total = 0.0;
    for (std::size_t site = 0; site < copies[0].size(); ++site) {
        double sum = 0.0;
        for (const char root : states)
            for (const char v1 : states)
                for (const char v2 : states) {
                    double p = 0.25 * jukesCantor(root, v1, above[4]) * jukesCantor(root, v2, above[5]);
                    p *= jukesCantor(v1, copies[0][site], above[0]) * jukesCantor(v1, copies[1][site], above[1]);
                    p *= jukesCantor(v2, copies[2][site], above[2]) * jukesCantor(v2, copies[3][site], above[3]);
                    sum += p;
                }
        total += std::log(sum);
    }
    return total;
}

TEST(SiteLikelihood, FourCopiesUnderJukesCantorAsWorkedByHand) {
    DuplicationTree tree;
    tree.leafCount = 4;
    tree.root = join(-3, join(-1, leaf(0), leaf(1)), join(-2, leaf(2), leaf(3)));
    const std::vector<double> above = {0.05, 0.1, 0.15, 0.2, 0.07, 0.12, 0.0};
    // A gap is missing data.
    for (const std::vector<std::string>& copies : std::vector<std::vector<std::string>>{
             {"ACGTA", "ACGTT", "ACCTA", "TCGTA"}, {"AC-TA", "ACGTT", "-CCTA", "TCGT-"}}) {
        SiteLikelihood likelihood(copies);
        EXPECT_NEAR(likelihood.logLikelihood(tree, above), byHand(copies, above), 1e-10) << copies[0];
    }
}

const std::vector<std::string> kFiveCopies = {"ACGTACGTAAGTACGATTGA", "ACGTTCGTAAGAACGATCGA", "ACCTACGTCAGTACGGTTGA",
                                              "TCGTACGTAAGTACG-TTGC", "ACGTACCTAAGTACGATTAA"};

SubstitutionModel fixedGtr() {
    SubstitutionModel model;
    model.kind = ModelKind::GTR;
    model.gamma = true;
    model.alpha = 0.5;
    model.rates = {1.5, 2, 0.5, 1, 3, 1};
    model.frequencies = {0.3, 0.2, 0.2, 0.3};
    return model;
}

// v4(0, v3(1, v2(2, v1(3, 4)))) with the edge above each node by number;
// the root's two edges are one unrooted edge, 0.1 + 0.0.
DuplicationTree ladderOfFive() {
    DuplicationTree tree;
    tree.leafCount = 5;
    tree.root = join(-4, leaf(0), join(-3, leaf(1), join(-2, leaf(2), join(-1, leaf(3), leaf(4)))));
    return tree;
}
const std::vector<double> kLadderAbove = {0.1, 0.2, 0.05, 0.3, 0.15, 0.07, 0.12, 0.0, 0.0};

// What iqtree2 prints as the log-likelihood of `tree` (Newick) on the
// alignment under `model` (its syntax), with `extra` options; NAN where it
// did not run.
double independentLogLikelihood(const std::vector<std::string>& copies, const std::string& tree,
                                const std::string& model, const std::string& extra) {
    std::string fasta;
    for (std::size_t i = 0; i < copies.size(); ++i) fasta += ">" + std::to_string(i) + "\n" + copies[i] + "\n";
    const std::string alignment = writeTempFile("ml_alignment.fa", fasta);
    const std::string treeFile = writeTempFile("ml_tree.nwk", tree + "\n");
    const std::string prefix = alignment + ".run";
    const std::string command = "iqtree2 -s " + alignment + " -te " + treeFile + " -m '" + model + "' " + extra +
                                " -nt 1 -redo -quiet -pre " + prefix + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return NAN;
    std::istringstream report(readFile(prefix + ".iqtree"));
    for (std::string line; std::getline(report, line);)
        if (line.rfind("Log-likelihood of the tree: ", 0) == 0) return std::stod(line.substr(28));
    return NAN;
}

bool independentProgramHere() { return std::system("command -v iqtree2 >/dev/null 2>&1") == 0; }

TEST(SiteLikelihood, AgreesWithAnIndependentProgramOnAFixedTreeAndModel) {
    if (!independentProgramHere()) GTEST_SKIP() << "iqtree2 is not installed";
    SiteLikelihood likelihood(kFiveCopies, fixedGtr());
    const double ours = likelihood.logLikelihood(ladderOfFive(), kLadderAbove);
    const double theirs = independentLogLikelihood(kFiveCopies, "(0:0.1,1:0.2,(2:0.05,(3:0.3,4:0.15):0.07):0.12);",
                                                   "GTR{1.5,2,0.5,1,3}+F{0.3,0.2,0.2,0.3}+G4{0.5}", "-blfix");
    // It prints four decimals.
    EXPECT_NEAR(ours, theirs, 1e-4);
}

// The search's optimised lengths and parameters on its own tree are at
// least as likely as the independent program's optimum on that tree.
TEST(SiteLikelihood, OptimisedAtLeastAsWellAsAnIndependentProgram) {
    if (!independentProgramHere()) GTEST_SKIP() << "iqtree2 is not installed";
    SequenceSet set;
    std::ifstream in(sourcePath("examples/yeast_chr1_FLO1_204225-206500_p135.fa"));
    set.readSequences(in);
    set.isProtein = false;
    set.computeDistances();
    DuplicationTree history;
    history.reconstruct(*set.distances, 1);
    MlSettings settings;
    const MlOutcome outcome = maximumLikelihoodHistory(history, set.sequences, false, *set.distances, settings);
    EXPECT_TRUE(isDuplicationTree(history));
    std::vector<std::string> numbers;
    for (int i = 0; i < set.count; ++i) numbers.push_back(std::to_string(i));
    const std::string tree = newickText(history, numbers, {&outcome.lengths, nullptr, false});
    const double theirs = independentLogLikelihood(set.sequences, tree, "GTR+G4", "");
    EXPECT_GE(outcome.logLikelihood, theirs - 0.01);
}

TEST(SiteLikelihood, NewtonLandsOnTheOptimumOfAScan) {
    SiteLikelihood likelihood(kFiveCopies, fixedGtr());
    refine::Topology t = refine::topologyOf(ladderOfFive());
    const refine::Unrooted g(t);
    const refine::FirstCopyView view(g);
    std::vector<double> above(9, 0.0);
    for (const int x : view.postOrder()) above[static_cast<std::size_t>(x)] = 0.1;
    likelihood.evaluate(view, above);
    std::vector<double> optimised = above;
    likelihood.optimiseLengths(view, optimised, 1);
    // The first edge optimised is the one at copy 0, the others as they
    // stood: a scan of that edge alone.
    const int top = view.preOrder()[1];
    double bestLength = 0.0, best = -INFINITY;
    for (int step = 1; step <= 4000; ++step) {
        std::vector<double> scanned = above;
        scanned[static_cast<std::size_t>(top)] = step * 1e-4;
        const double logL = likelihood.evaluate(view, scanned);
        if (logL > best) {
            best = logL;
            bestLength = step * 1e-4;
        }
    }
    EXPECT_NEAR(optimised[static_cast<std::size_t>(top)], bestLength, 1e-4);
}

// Copies all alike: every ancestral segment is their sequence, with a gap
// where every copy has one.
TEST(SiteLikelihood, AncestorsOfIdenticalCopiesAreTheirSequence) {
    const std::string copy = "ACGT-TTGACCA-GT";
    const std::string input = writeTempFile(
        "alike.fa", ">a\n" + copy + "\n>b\n" + copy + "\n>c\n" + copy + "\n>d\n" + copy + "\n>e\n" + copy + "\n");
    const std::string ancestors = writeTempFile("alike_ancestors.fa", "");
    const ToolResult result = runTool({input, "N", "1", "--ml", "HKY+G", "--ancestors", ancestors});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(ancestors), ">v1\n" + copy + "\n>v2\n" + copy + "\n>v3\n" + copy + "\n>v4\n" + copy + "\n");
}

// What is written is a duplication tree, the same for any number of threads.
TEST(SiteLikelihood, SameHistoryForAnyThreads) {
    // A protein history, and the support of every criterion's DNA history
    // with each replicate searched by likelihood on its own thread.
    const std::vector<std::vector<std::string>> runs = {
        {sourcePath("examples/human_MUC17_E7EPM4_tandem_repeat_p59.fa"), "P", "3", "--ml", "auto", "--kicks", "4",
         "--newick"},
        {sourcePath("examples/yeast_chr1_FLO1_204225-206500_p135.fa"), "N", "4", "--ml", "GTR+G", "--kicks", "2",
         "--bootstrap", "4"}};
    for (std::vector<std::string> arguments : runs) {
        arguments.insert(arguments.end(), {"--threads", "1"});
        const ToolResult one = runTool(arguments);
        ASSERT_EQ(one.exitCode, 0) << one.err;
        const bool bootstrap = std::find(arguments.begin(), arguments.end(), "--bootstrap") != arguments.end();
        EXPECT_NE(one.out.find(bootstrap ? "Segment support" : "v1"), std::string::npos);
        for (const char* threads : {"2", "3"}) {
            arguments.back() = threads;
            EXPECT_EQ(runTool(arguments).out, one.out) << threads << " threads";
        }
    }
}

// Rounds of random jumps keep the most likely history: never less likely
// than the search without them, the same for any number of threads, and
// refused without --ml.
TEST(SiteLikelihood, PerturbedRoundsKeepTheMostLikely) {
    const std::string flo1 = sourcePath("examples/yeast_chr1_FLO1_204225-206500_p135.fa");
    const auto logLikelihoodOf = [](const std::string& out) {
        const std::size_t at = out.find("Log-likelihood: ");
        return at == std::string::npos ? std::nan("") : std::stod(out.substr(at + 16));
    };
    const ToolResult plain = runTool({flo1, "N", "3", "--ml", "JC", "--kicks", "2", "--threads", "1"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    std::string first;
    for (const char* threads : {"1", "2", "3"}) {
        const ToolResult jumped =
            runTool({flo1, "N", "3", "--ml", "JC", "--kicks", "2", "--perturb", "4", "--threads", threads});
        ASSERT_EQ(jumped.exitCode, 0) << jumped.err;
        EXPECT_GE(logLikelihoodOf(jumped.out), logLikelihoodOf(plain.out) - 1e-3) << threads << " threads";
        if (first.empty()) first = jumped.out;
        EXPECT_EQ(jumped.out, first) << threads << " threads";
    }
    const ToolResult refused = runTool({flo1, "N", "3", "--perturb", "4"});
    EXPECT_EQ(refused.out, "--perturb needs --ml\n");
    EXPECT_EQ(refused.exitCode, 1);
}

// The likelihood library does not survive running out of memory while it
// makes its vectors: the room is asked for first, so a limit that falls
// there ends the run in the one line, like any other lack of memory.
TEST(SiteLikelihood, MemoryThatRunsOutEndsInOneLine) {
#ifdef TANDEMTREE_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit here";
#endif
    const std::string example = sourcePath("examples/human_chrX_58506832-58535063_p171_alphasat.fa");
    int outOfMemory = 0;
    for (int limit = 9000; limit <= 12500; limit += 250) {
        const ToolResult result = runTool({example, "N", "1", "--ml", "JC", "--kicks", "1", "--threads", "1"}, "",
                                          "ulimit -v " + std::to_string(limit) + "; ");
        ASSERT_TRUE(result.exitCode == 0 || result.exitCode == 1) << limit << " KB: " << result.exitCode;
        if (result.exitCode == 0) continue;
        EXPECT_TRUE(result.out == "Not enough memory to read the input\n" ||
                    result.out == "Not enough memory for 165 sequences\n")
            << limit << " KB: " << result.out;
        ++outOfMemory;
    }
    EXPECT_GT(outOfMemory, 0);
}

}  // namespace

#else
TEST(SiteLikelihood, BuiltWithoutTheLibrary) { GTEST_SKIP() << "libpll is not installed"; }
#endif

// Inputs beyond the plain alignment: gzip data, PHYLIP distance matrices,
// other distance models and pairwise gap deletion.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ToolRunner.h"
#include "common/FailedRun.h"
#include "common/myException.h"
#include "sequences/SequenceSet.h"

namespace {

const char* const kFasta = "examples/yeast_chr1_FLO1_204225-206500_p135.fa";
const char* const kNative = "examples/mouse_PRDM9_W0TX95_znf_array_p28.txt";

TEST(CompressedInput, GivesThePlainFilesReport) {
    for (const auto& [path, kind] : {std::pair<const char*, const char*>{kFasta, "N"}, {kNative, "Y"}}) {
        const std::string text = readFile(sourcePath(path));
        const ToolResult plain = runTool({sourcePath(path), kind, "4"});
        // Two members one after the other read as one text, as gzip reads them.
        const std::size_t half = text.size() / 2;
        const std::string packed = gzipped(text.substr(0, half)) + gzipped(text.substr(half));
        const ToolResult file = runTool({writeTempFile("packed.gz", packed), kind, "4"});
        const ToolResult piped = runTool({"-", kind, "4"}, packed);
        EXPECT_EQ(file.out, plain.out) << path;
        EXPECT_EQ(piped.out, plain.out) << path;
        EXPECT_EQ(file.exitCode, 0);
    }
}

TEST(CompressedInput, CorruptOrTruncatedDataIsAnInvalidFile) {
    const std::string packed = gzipped(readFile(sourcePath(kFasta)));
    std::string corrupt = packed;
    corrupt[corrupt.size() / 2] = static_cast<char>(corrupt[corrupt.size() / 2] ^ 0x5a);
    const ToolResult broken = runTool({writeTempFile("corrupt.gz", corrupt), "N", "1"});
    EXPECT_EQ(broken.out.rfind("Invalid sequence file: the gzip data is corrupt (", 0), 0u) << broken.out;
    EXPECT_EQ(broken.exitCode, 1);
    const ToolResult cut = runTool({"-", "N", "1"}, packed.substr(0, packed.size() / 3));
    EXPECT_EQ(cut.out, "Invalid sequence file: the gzip data ends before its end (a truncated file?)\n");
    EXPECT_EQ(cut.exitCode, 1);
}

// Zero bytes after the last member (padding that tape and some archivers
// leave) end the data, as gzip takes them; a UTF-8 byte-order mark before
// the text is no part of it, packed or not.
TEST(CompressedInput, ZeroPaddingAndAByteOrderMarkAreTaken) {
    const std::string text = readFile(sourcePath(kFasta));
    const ToolResult plain = runTool({sourcePath(kFasta), "N", "3"});
    const std::string bom = "\xEF\xBB\xBF";
    for (const std::string& input :
         {gzipped(text) + std::string(700, '\0'), bom + text, gzipped(bom + text) + std::string(3, '\0')}) {
        const ToolResult result = runTool({"-", "N", "3"}, input);
        EXPECT_EQ(result.out, plain.out);
        EXPECT_EQ(result.exitCode, 0);
    }
}

TEST(MatrixInput, TheToolsOwnDistancesGiveTheSameOutput) {
    for (const auto& [path, kind] : {std::pair<const char*, const char*>{kFasta, "N"}, {kNative, "Y"}}) {
        const std::string written = writeTempFile("written.phy", "");
        const ToolResult fromAlignment = runTool({sourcePath(path), kind, "4", "--write-matrix", written});
        const std::string matrix = readFile(written);
        EXPECT_EQ(runTool({"--matrix", written, "4"}).out, fromAlignment.out) << path;
        EXPECT_EQ(runTool({"--matrix", written, "1", "--newick"}).out,
                  runTool({sourcePath(path), kind, "1", "--newick"}).out)
            << path;
        // Written again from the matrix read, the same bytes.
        const std::string again = writeTempFile("again.phy", "");
        runTool({"--matrix", written, "1", "--write-matrix=" + again});
        EXPECT_EQ(readFile(again), matrix);

        // The lower triangle of the same matrix, with and without its
        // diagonal, gzipped on standard input.
        std::istringstream rows(matrix);
        int n = 0;
        rows >> n;
        std::string lower = std::to_string(n) + "\n", lowerWithDiagonal = lower;
        for (int r = 0; r < n; ++r) {
            std::string name, value;
            rows >> name;
            lower += name;
            lowerWithDiagonal += name;
            for (int c = 0; c < n; ++c) {
                rows >> value;
                if (c < r) lower += " " + value;
                if (c <= r) lowerWithDiagonal += " " + value;
            }
            lower += "\n";
            lowerWithDiagonal += "\n";
        }
        EXPECT_EQ(runTool({"--matrix", "-", "4"}, gzipped(lower)).out, fromAlignment.out) << path;
        EXPECT_EQ(runTool({"--matrix", "-", "4"}, lowerWithDiagonal).out, fromAlignment.out) << path;
    }
}

TEST(MatrixInput, WhatIsNoDistanceMatrixIsNamedByRowAndColumn) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "the file is empty, expected the number of rows"},
        {"three\n", "line 1: found 'three', expected the number of rows"},
        {"3\na 0 0.1 0.2\nb 0.1 0 0.3\n", "the file ends after 2 of 3 rows, expected the name of row 3"},
        {"3\na 0 0.1 0.2\nb 0.1 0 0.3\nc 0.2 0.3\n", "the file ends in row 3 'c' after 2 of its 3 distances"},
        {"3\na 0 0.1 0.2\nb 0.1 0 0.3\nc 0.2 0.3 0 7\n", "line 4: found '7' after the last of the 3 rows"},
        {"3\na 0 0.1 0.2\nb 0.1 0 0.3\nc 0.2 x 0\n", "row 3 'c', column 2 (line 4): found 'x', expected a distance"},
        {"3\na 0 0.1 -0.2\nb 0.1 0 0.3\nc -0.2 0.3 0\n",
         "row 1 'a', column 3 (line 2): the distance '-0.2' is negative"},
        {"3\na 0 0.1 nan\nb 0.1 0 0.3\nc nan 0.3 0\n",
         "row 1 'a', column 3 (line 2): the distance 'nan' is not finite"},
        {"3\na 0 0.1 0.2\nb 0.1 0.5 0.3\nc 0.2 0.3 0\n", "row 2 'b', column 2: the diagonal holds 0.5, expected 0"},
        {"3\na 0 0.1 0.2\nb 0.1 0 0.3\nc 0.2 0.31 0\n",
         "row 3 'c', column 2: 0.31 differs from row 2, column 3: 0.3 (the matrix must be symmetric)"},
        {"9999999999\n", "line 1: '9999999999' rows is too many"},
    };
    for (const auto& [text, detail] : cases) {
        const ToolResult result = runTool({"--matrix", "-", "1"}, text);
        EXPECT_EQ(result.out, "Invalid distance matrix: " + detail + "\n") << text;
        EXPECT_EQ(result.exitCode, 1);
    }
}

SequenceSet pair(const std::string& a, const std::string& b, bool protein, DistanceModel model, bool gaps = false) {
    SequenceSet set;
    set.isProtein = protein;
    set.count = 2;
    set.length = static_cast<int>(a.size());
    set.sequences = {a, b};
    set.distanceOptions.model = model;
    set.distanceOptions.pairwiseGaps = gaps;
    return set;
}

TEST(DistanceModels, HandWorkedValuesAndWhereEachBecomesUndefined) {
    using M = DistanceModel;
    // p: 3 of 10 columns differ.
    EXPECT_DOUBLE_EQ(pair("AAAAAAAAAA", "CCCAAAAAAA", false, M::uncorrected).pairDistance(0, 1), 0.3);
    // k2p: one transition (A-G, either case) and one transversion in 10:
    // -ln(1 - 0.2 - 0.1) / 2 - ln(1 - 0.2) / 4.
    const double k2p = -0.5 * std::log(0.7) - 0.25 * std::log(0.8);
    EXPECT_NEAR(pair("AAAAAAAAAA", "gAAAAAAAAC", false, M::kimuraTwoParameter).pairDistance(0, 1), k2p, 1e-15);
    EXPECT_NEAR(k2p, 0.2341234, 1e-7);
    // Undefined once 1 - 2P - Q or 1 - 2Q reaches 0.
    EXPECT_EQ(pair("AAAA", "GGAA", false, M::kimuraTwoParameter).pairDistance(0, 1), kUndefinedDistance);
    EXPECT_EQ(pair("AAAA", "CCAA", false, M::kimuraTwoParameter).pairDistance(0, 1), kUndefinedDistance);
    EXPECT_LT(pair("AAAAA", "GGAAA", false, M::kimuraTwoParameter).pairDistance(0, 1), kUndefinedDistance);
    // kimura: p = 0.5 gives -ln(0.45); defined at p = 0.85, not at 0.86.
    EXPECT_NEAR(pair("AAAAAAAAAA", "CCCCCAAAAA", true, M::kimuraProtein).pairDistance(0, 1), 0.7985077, 1e-7);
    const std::string hundred(100, 'A');
    EXPECT_NEAR(pair(hundred, std::string(85, 'C') + std::string(15, 'A'), true, M::kimuraProtein).pairDistance(0, 1),
                -std::log(1 - 0.85 - 0.2 * 0.85 * 0.85), 1e-12);
    EXPECT_EQ(pair(hundred, std::string(86, 'C') + std::string(14, 'A'), true, M::kimuraProtein).pairDistance(0, 1),
              kUndefinedDistance);
    // Pairwise gaps: column 3 ('-') and 5 ('.') are left out, 1 of 4 differs,
    // the Jukes-Cantor value of p = 1/4; kept, they count as differences.
    EXPECT_NEAR(pair("AC-GTA", "ACTG.C", false, M::jukesCantor, true).pairDistance(0, 1), -0.75 * std::log(2.0 / 3.0),
                1e-15);
    EXPECT_NEAR(pair("AC-GTA", "ACTG.C", false, M::uncorrected).pairDistance(0, 1), 0.5, 1e-15);
}

// The whole matrix (counted with vector compares) against the pair function
// (counted one column at a time), for every model and both gap rules, over
// lengths around the vector widths.
TEST(DistanceModels, EveryPairAsThePairFunctionGivesItOnAnyNumberOfThreads) {
    std::mt19937 random(5);
    for (const int L : {12, 63, 64, 65, 200}) {
        // Copies of one sequence with a sixth of their columns changed to any
        // of the characters the counts tell apart.
        std::string base;
        for (int c = 0; c < L; ++c) base.push_back("ACGT"[random() % 4]);
        std::vector<std::string> texts(7, base);
        for (std::string& text : texts)
            for (char& ch : text)
                if (random() % 6 == 0) ch = "ACGTacgtu-.N"[random() % 12];
        for (const DistanceModel model :
             {DistanceModel::jukesCantor, DistanceModel::kimuraTwoParameter, DistanceModel::uncorrected})
            for (const bool gaps : {false, true}) {
                SequenceSet set = pair("", "", false, model, gaps);
                set.count = 7;
                set.length = L;
                set.sequences = texts;
                if (model == DistanceModel::jukesCantor && !gaps) continue;  // the default path, tested apart
                set.computeDistances(1);
                const std::vector<double> one = set.distances->values();
                set.computeDistances(3);
                EXPECT_EQ(set.distances->values(), one);
                for (int i = 0; i < 7; ++i)
                    for (int j = i + 1; j < 7; ++j) EXPECT_EQ(set.distances->at(i, j), set.pairDistance(i, j));
            }
    }
    SequenceSet set = pair("", "", false, DistanceModel::kimuraTwoParameter, true);
    set.count = 7;
    set.length = 12;
    set.sequences = {"ACGT-ACGTACG", "ACGTTACG.ACG", "GCGTTACGTACA", "ACATTAC-TACG",
                     "ACGTTACGTTCG", "TCGTTACGAACG", "ACGTTGCGTAC-"};
    // The first pair in row order with nothing to compare is the one named.
    set.sequences[4] = "------------";
    EXPECT_THROW(set.computeDistances(2), FailedRun);
    try {
        set.computeDistances(3);
    } catch (const FailedRun& error) {
        EXPECT_STREQ(error.what(), "Copies 0 and 4 have no column where neither has a gap: no distance between them");
    }
}

TEST(DistanceModels, OptionsThatDoNotFitTheInputAreRefused) {
    const std::string dna = writeTempFile("dna.txt", "3 6\n0 ACGTAC\n1 ACGTAA\n2 ---TAC\n");
    const std::string matrix = writeTempFile("m.phy", "2\na 0 0.1\nb 0.1 0\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{dna, "Y", "1", "--model", "k2p"}, "--model k2p is for DNA (KIND N); for protein choose jc, kimura or p"},
        {{dna, "N", "1", "--model=kimura"}, "--model kimura is for protein; for DNA choose jc, k2p or p"},
        {{dna, "N", "1", "--model", "f84"}, "--model needs jc, k2p, p or kimura, not 'f84'"},
        {{dna, "N", "1", "--gaps", "none"}, "--gaps needs pairwise or literal, not 'none'"},
        {{"--matrix", matrix, "1", "--model", "p"},
         "--model and --gaps say how distances are made from an alignment: not with --matrix"},
        {{"--matrix", matrix, "1", "--bootstrap", "10"},
         "--bootstrap resamples the alignment's columns: it needs an alignment, not --matrix"},
        {{"--matrix", matrix, "N", "1"},
         "With --matrix give the file and the criterion only: a matrix has no molecule kind"},
        {{"--matrix", "-"},
         "Matrix read from standard input: give the criterion (second argument, 1 to 4) on the command line"},
        {{dna, "N", "1", "--write-matrix", "/nonexistent/folder/m.phy"}, "Cannot write file /nonexistent/folder/m.phy"},
        {{dna, "N", "1", "--write-matrix="}, "--write-matrix needs the name of the file to write"},
    };
    for (const auto& [args, message] : cases) {
        const ToolResult result = runTool(args);
        EXPECT_EQ(result.out, message + "\n") << args.back();
        EXPECT_EQ(result.exitCode, 1);
    }
    // Pairwise deletion keeps the third copy comparable: the run goes on.
    const ToolResult kept = runTool({dna, "N", "1", "--gaps", "pairwise", "--model", "p"});
    EXPECT_EQ(kept.exitCode, 0);
    EXPECT_EQ(kept.out.rfind("History tree constructed by algorithm 1\n", 0), 0u);
}

}  // namespace

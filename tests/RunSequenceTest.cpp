// The run sequence as a user sees it: the built binary with arguments and
// answers on standard input.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <sstream>
#include <stdexcept>

#include "ToolRunner.h"
#include "common/myException.h"
#include "driver/RunSequence.h"
#include "sequences/SequenceFile.h"

namespace {

const std::string kFilePrompt = "Input the file name:";
const std::string kKindPrompt = "Input 'Y' if the file contains protein sequences, 'N' if DNA sequence: ";
const std::string kCriterionPrompt =
    "Choose the algorithm (1,2,3 to choose one of the three algorithms, or 4 to choose all): ";
const std::string kUndefined = "Sequences dissimilarity exceeds threshold: distance undefined!\n";

// Four DNA segments whose history is one block duplication (v1, v2) of an
// ancestral pair: 0 and 2 are close, 1 and 3 are close.
std::string fourSegments() {
    return writeTempFile("seqs.txt", "4 10\n0 AAAAAAAAAA\n1 AAAAGGGAAA\n2 AAAAAAAAAC\n3 AAAAGGGAAT\n");
}

std::string reportOf(int criterion) {
    return "History tree constructed by algorithm " + std::to_string(criterion) +
           "\nv3(v1(0,2),v2(1,3))\nDuplication Blocks:   (v1, v2)   \n";
}

std::string allCriteriaReport() {
    std::string text;
    for (int c = 1; c <= 3; ++c) text += reportOf(c) + "((0,2),(1,3))\n\n";
    return text;
}

// Two segments differing at 8 of 10 positions: too far apart for DNA
// (p = 0.8 >= 0.75), still defined for protein (p < 0.95).
std::string farApart() { return writeTempFile("far.txt", "2 10\n0 AAAAAAAAAA\n1 CCCCCCCCAA\n"); }
const std::string kFarApartReport = "History tree constructed by algorithm 3\nv1(0,1)\nDuplication Blocks:   \n";

TEST(RunSequence, ArgumentsGiveTheReportAlone) {
    const ToolResult result = runTool({fourSegments(), "N", "2"});
    EXPECT_EQ(result.out, reportOf(2));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
}

TEST(RunSequence, CriterionFourOrMoreRunsAllThreeInTurn) {
    for (const char* number : {"4", "5", "40", "99999999999"}) {
        const ToolResult result = runTool({fourSegments(), "N", number});
        EXPECT_EQ(result.out, allCriteriaReport()) << number;
        EXPECT_EQ(result.exitCode, 0);
    }
}

TEST(RunSequence, PromptsForEveryMissingSettingInOrder) {
    const std::string file = fourSegments();
    ToolResult result = runTool({}, file + "\nN\n2\n");
    EXPECT_EQ(result.out, kFilePrompt + kKindPrompt + kCriterionPrompt + reportOf(2));
    EXPECT_EQ(result.exitCode, 0);

    result = runTool({file}, "N\n3\n");
    EXPECT_EQ(result.out, kKindPrompt + kCriterionPrompt + reportOf(3));

    result = runTool({file, "N"}, "1\n");
    EXPECT_EQ(result.out, kCriterionPrompt + reportOf(1));
}

TEST(RunSequence, SeveralAnswersOnOneLineAnswerTheLaterPrompts) {
    const ToolResult result = runTool({}, fourSegments() + " N 4\n");
    EXPECT_EQ(result.out, kFilePrompt + kKindPrompt + kCriterionPrompt + allCriteriaReport());
}

TEST(RunSequence, MoleculeKindFromTheSecondArgument) {
    struct Row {
        const char* argument;
        bool dna;
    };
    for (const Row& row :
         {Row{"N", true}, Row{"NO", true}, Row{"n", false}, Row{"Y", false}, Row{"", false}, Row{"protein", false}}) {
        const ToolResult result = runTool({farApart(), row.argument, "3"});
        EXPECT_EQ(result.out, row.dna ? kUndefined : kFarApartReport) << "argument '" << row.argument << "'";
        EXPECT_EQ(result.exitCode, 0);
    }
}

TEST(RunSequence, MoleculeKindFromThePromptAnswer) {
    struct Row {
        const char* answer;
        bool dna;
    };
    for (const Row& row : {Row{"N", true}, Row{"n", true}, Row{"no", true}, Row{"Nucleotide", true}, Row{"Y", false},
                           Row{"y", false}, Row{"DNA", false}, Row{"x", false}}) {
        const ToolResult result = runTool({farApart()}, std::string(row.answer) + "\n3\n");
        // An undefined distance ends the run before the criterion is asked.
        const std::string expected =
            row.dna ? kKindPrompt + kUndefined : kKindPrompt + kCriterionPrompt + kFarApartReport;
        EXPECT_EQ(result.out, expected) << "answer '" << row.answer << "'";
        EXPECT_EQ(result.exitCode, 0);
    }
}

TEST(RunSequence, EndOfInputAtTheKindPromptMeansProtein) {
    const ToolResult result = runTool({farApart()}, "");
    // Protein, then the end of input at the criterion prompt gives 0.
    EXPECT_EQ(result.out, kKindPrompt + kCriterionPrompt + "Unknown algorithm 0: choose 1, 2, 3, or 4 for all three\n");
    EXPECT_EQ(result.exitCode, 1);
}

TEST(RunSequence, CriterionTextConversion) {
    struct Row {
        const char* text;
        int runs;  // criterion run, 4 for all three
    };
    for (const Row& row :
         {Row{"1", 1}, Row{"2abc", 2}, Row{" 3", 3}, Row{"+3", 3}, Row{"03", 3}, Row{"4", 4}, Row{"2147483648", 4}}) {
        const ToolResult result = runTool({fourSegments(), "N", row.text});
        EXPECT_EQ(result.out, row.runs == 4 ? allCriteriaReport() : reportOf(row.runs)) << "'" << row.text << "'";
        EXPECT_EQ(result.exitCode, 0);
    }
}

TEST(RunSequence, CriterionWithoutANumberIsRefused) {
    struct Row {
        const char* text;
        const char* shown;
    };
    for (const Row& row : {Row{"0", "0"}, Row{"abc", "0"}, Row{"-1", "-1"}, Row{"", "0"}, Row{"- 3", "0"},
                           Row{"-99999999999", "-2147483648"}}) {
        const ToolResult result = runTool({fourSegments(), "N", row.text});
        EXPECT_EQ(result.out, std::string("Unknown algorithm ") + row.shown + ": choose 1, 2, 3, or 4 for all three\n")
            << "'" << row.text << "'";
        EXPECT_EQ(result.exitCode, 1);
    }
}

TEST(RunSequence, FileThatCannotBeOpened) {
    ToolResult result = runTool({"/no/such/seqs.txt", "N", "2"});
    EXPECT_EQ(result.out, "Cannot open file /no/such/seqs.txt\n");
    EXPECT_EQ(result.exitCode, 1);

    // No further prompt is written and nothing more is read.
    result = runTool({}, "/no/such/seqs.txt N 2\n");
    EXPECT_EQ(result.out, kFilePrompt + "Cannot open file /no/such/seqs.txt\n");
    EXPECT_EQ(result.exitCode, 1);

    // The end of input at the first prompt is an empty name.
    result = runTool({}, "");
    EXPECT_EQ(result.out, kFilePrompt + "Cannot open file \n");
    EXPECT_EQ(result.exitCode, 1);

    result = runTool({testing::TempDir(), "N", "2"});
    EXPECT_EQ(result.out, "Cannot open file " + testing::TempDir() + "\n");
    EXPECT_EQ(result.exitCode, 1);
}

TEST(RunSequence, FileNameWithBlanksWholeAsArgumentFirstWordAtPrompt) {
    const std::string path = writeTempFile("two words.txt", readFile(fourSegments()));
    ToolResult result = runTool({path, "N", "3"});
    EXPECT_EQ(result.out, reportOf(3));

    result = runTool({}, path + "\n");
    const std::string firstWord = path.substr(0, path.find(' '));
    EXPECT_EQ(result.out, kFilePrompt + "Cannot open file " + firstWord + "\n");
    EXPECT_EQ(result.exitCode, 1);
}

TEST(RunSequence, LongFileNamesAreTakenWhole) {
    const std::string name(150, 'x');
    const std::string path = writeTempFile(name + ".txt", readFile(fourSegments()));
    EXPECT_EQ(runTool({path, "N", "3"}).out, reportOf(3));
    EXPECT_EQ(runTool({}, path + " N 3").out, kFilePrompt + kKindPrompt + kCriterionPrompt + reportOf(3));
}

TEST(RunSequence, UndefinedDistanceEndsTheRunBeforeTheCriterionPrompt) {
    const ToolResult result = runTool({farApart(), "N"}, "3\n");
    EXPECT_EQ(result.out, kUndefined);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
}

TEST(RunSequence, EmptySetGivesAnEmptyTree) {
    const ToolResult result = runTool({writeTempFile("none.txt", "0 10\n"), "N", "3"});
    EXPECT_EQ(result.out, "History tree constructed by algorithm 3\n\nDuplication Blocks:   \n");
    EXPECT_EQ(result.exitCode, 0);
}

// The reports of the bundled alignments, byte for byte, from the native file
// and from the FASTA file of the same alignment.
TEST(RunSequence, BundledExamplesGiveTheirKnownReports) {
    for (const char* example : {"yeast_chr1_FLO1_204225-206500_p135", "mouse_PRDM9_W0TX95_znf_array_p28",
                                "human_MUC17_E7EPM4_tandem_repeat_p59", "human_chrX_58506832-58535063_p171_alphasat"}) {
        const std::string name(example);
        const bool protein = name.find("PRDM9") != std::string::npos || name.find("MUC17") != std::string::npos;
        const std::string expected = readFile(sourcePath("tests/data/golden/" + name + ".report"));
        ASSERT_FALSE(expected.empty()) << name;
        for (const char* suffix : {".txt", ".fa"}) {
            const ToolResult result = runTool({sourcePath("examples/" + name + suffix), protein ? "Y" : "N", "4"});
            EXPECT_EQ(result.exitCode, 0) << name << suffix;
            EXPECT_EQ(result.out, expected) << name << suffix;
        }
    }
}

// Whatever the run throws ends as one line and an exit code: only the
// undefined distance ends normally.
TEST(RunSequence, FailuresBecomeOneLineAndTheirExitCode) {
    struct Row {
        std::function<int()> run;
        std::string line;
        int exitCode;
    };
    const std::vector<Row> rows = {
        {[]() -> int { throw myException(kUndefinedDistanceMessage); }, kUndefined, 0},
        {[]() -> int { throw SequenceFileError("line 2: bad"); }, "Invalid sequence file: line 2: bad\n", 1},
        {[]() -> int { throw std::bad_alloc(); }, "Not enough memory for 7 sequences\n", 1},
        {[]() -> int { throw std::runtime_error("no such criterion"); }, "Internal error: no such criterion\n", 1},
        {[]() -> int { throw 3; }, "Internal error: unknown exception\n", 1},
        {[] { return 0; }, "", 0},
    };
    const int count = 7;
    for (const Row& row : rows) {
        std::ostringstream out;
        EXPECT_EQ(withFailuresReported(row.run, count, out), row.exitCode) << row.line;
        EXPECT_EQ(out.str(), row.line);
    }
}

}  // namespace

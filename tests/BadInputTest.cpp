// Files outside the format, names that are not files, and tables that do not
// fit in memory: one line that says what is wrong, exit code 1, nothing else.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>

#include "ToolRunner.h"

namespace {

struct Case {
    const char* name;
    std::string content;
    std::string message;
};

std::vector<Case> malformedFiles() {
    return {
        {"empty", "", "the file is empty, expected the number of sequences"},
        {"blank", " \n\t\n", "the file is empty, expected the number of sequences"},
        {"words", "\nsequences: 4\n", "line 2: found 'sequences:', expected the number of sequences"},
        {"fasta-lengths", ">a one\nACGT\nAC\n>b\nACGTA\n",
         "record 2 'b' (line 4): the sequence has 5 characters, expected 6"},
        {"fasta-empty", ">a\n>b\nACGT\n", "record 1 'a' (line 1): the sequence is empty"},
        {"fasta-same-name", ">a x\nACGT\n>\nACGA\n>\nACGC\n>a y\nACGG\n",
         "record 4 'a' (line 7): the name was already given to record 1 (line 1)"},
        {"negative", "-3 10\n", "line 1: the number of sequences is -3, expected 0 or more"},
        {"no-length", "3\n", "the file ends after the number of sequences, expected the sequence length"},
        {"length-word", "3 ten\n", "line 1: found 'ten', expected the sequence length"},
        {"length-zero", "3 0\n", "line 1: the sequence length is 0, expected 1 or more"},
        {"short", "3 4\n0 ACGT\n1 ACGT\n", "the file ends after 2 of 3 records (line 3)"},
        {"huge-count", "2000000000 4\n0 ACGT\n1 ACGT\n2 ACGT\n",
         "the file ends after 3 of 2000000000 records (line 4)"},
        {"no-sequence", "2 4\n0 ACGT\n1\n",
         "the file ends after the index of record 2 (line 3), expected its sequence"},
        {"index-word", "2 4\n0 ACGT\nseq ACGT\n",
         "record 2 (line 3): found 'seq', expected the index, a number from 0 to 1"},
        {"index-range", "2 4\n0 ACGT\n5 ACGT\n", "record 2 (line 3): the index is 5, expected a number from 0 to 1"},
        {"index-twice", "3 4\n0 ACGT\n1 ACGT\n0 ACGA\n",
         "record 3 (line 4): the index 0 was already given by record 1 (line 2)"},
        {"too-short", "2 4\n0 ACGT\n1 ACG\n", "record 2 (line 3): the sequence has 3 characters, expected 4"},
        {"too-long", "2 4\n0 ACGTT\n1 ACGT\n", "record 1 (line 2): the sequence has 5 characters, expected 4"},
    };
}

TEST(BadInput, MalformedFileGivesOneLineAndExitCodeOne) {
    for (const Case& c : malformedFiles()) {
        const std::string path = writeTempFile(std::string("bad-") + c.name + ".txt", c.content);
        const ToolResult result = runTool({path, "N", "3"});
        EXPECT_EQ(result.out, "Invalid sequence file: " + c.message + "\n") << c.name;
        EXPECT_EQ(result.exitCode, 1) << c.name;
        EXPECT_EQ(result.err, "") << c.name;
    }
}

TEST(BadInput, MessageFollowsThePromptsAlreadyWritten) {
    const std::string path = writeTempFile("bad-prompted.txt", "2 4\n0 ACGT\n1 ACG\n");
    const ToolResult result = runTool({}, path + "\nN\n3\n");
    EXPECT_EQ(result.out,
              "Input the file name:Input 'Y' if the file contains protein sequences, 'N' if DNA sequence: "
              "Invalid sequence file: record 2 (line 3): the sequence has 3 characters, expected 4\n");
    EXPECT_EQ(result.exitCode, 1);
}

TEST(BadInput, TextAfterTheLastRecordIsIgnored) {
    const std::string path = writeTempFile("trailing.txt", "2 4\n0 ACGT\n1 ACGA\n2 not a record\n");
    const ToolResult result = runTool({path, "N", "3"});
    EXPECT_EQ(result.out, "History tree constructed by algorithm 3\nv1(0,1)\nDuplication Blocks:   \n");
    EXPECT_EQ(result.exitCode, 0);
}

TEST(BadInput, AnyByteIsAnOrdinaryCharacter) {
    std::string odd = "3 6\n0 ";
    odd += std::string("a\0b\x01\xff.", 6);
    odd += std::string("\n1 a\0b456\n2 ", 12);
    odd += std::string("a\0b\x01\xfe.", 6);
    const ToolResult result = runTool({writeTempFile("bytes.txt", odd), "Y", "4"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out.substr(0, 77),
              "History tree constructed by algorithm 1\nv2(v1(0,1),2)\n"
              "Duplication Blocks:   \n")
        << result.out;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 15);
}

TEST(BadInput, DirectoryIsAFileThatCannotBeOpened) {
    const std::string folder = sourcePath("examples");
    const ToolResult result = runTool({folder, "N", "3"});
    EXPECT_EQ(result.out, "Cannot open file " + folder + "\n");
    EXPECT_EQ(result.exitCode, 1);
}

// One record per sequence, each a single base: small to write, far too many
// pairs for the memory of any machine that runs the tests.
TEST(BadInput, TablesBeyondTheMemoryAtHand) {
    std::string text = "100000 1\n";
    for (int i = 0; i < 100000; ++i) text += std::to_string(i) + " A\n";
    const ToolResult result = runTool({writeTempFile("many.txt", text), "N", "3"});
    EXPECT_EQ(result.out, "Not enough memory for 100000 sequences\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "");
}

#ifndef TANDEMTREE_SANITIZED
// An allocation that really fails (the address space is capped) is reported
// the same way. Address sanitizers need the whole address space, so the
// check runs in plain builds only.
TEST(BadInput, FailedAllocationIsReportedNotAborted) {
    // The working table alone takes 288 MB.
    std::string text = "6000 1\n";
    for (int i = 0; i < 6000; ++i) text += std::to_string(i) + " A\n";
    const ToolResult result = runTool({writeTempFile("capped.txt", text), "N", "3"}, "", "ulimit -v 250000; ");
    EXPECT_EQ(result.out, "Not enough memory for 6000 sequences\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "");
}
#endif

// Every input that once broke the tool is kept and run again.
TEST(BadInput, KeptRegressionInputs) {
    const std::string folder = sourcePath("tests/data/regress");
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        for (const char* kind : {"N", "Y"}) {
            const ToolResult result = runTool({folder + "/" + name, kind, "4"});
            EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1) << name;
            // At most warnings (the kind that disagrees with the letters).
            EXPECT_TRUE(result.err.empty() || result.err.rfind("Warning: ", 0) == 0) << name << ": " << result.err;
            ASSERT_FALSE(result.out.empty()) << name;
            EXPECT_EQ(result.out.back(), '\n') << name;
        }
    }
}

}  // namespace

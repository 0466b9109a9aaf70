// What the tool does when the machine lets it down or a user slips: a
// failed write is never a success, the input file is never written over,
// memory or threads that run out end in one line, and a closed descriptor
// is never taken by a file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "HistorySimulator.h"
#include "ToolRunner.h"

namespace {

const std::string kExample = "examples/mouse_PRDM9_W0TX95_znf_array_p28.txt";

TEST(Reliability, AFailedWriteIsAFailure) {
    const std::string example = sourcePath(kExample);
    const std::vector<std::vector<std::string>> runs = {
        {example, "Y", "2"}, {example, "Y", "4", "--newick"}, {example, "Y", "2", "--svg"}, {"--help"}, {"-V"}};
    for (const auto& args : runs) {
        const ToolResult full = runToolWithOutput(args, ">/dev/full");
        EXPECT_EQ(full.exitCode, 1) << args[0];
        EXPECT_EQ(full.err, "Cannot write to standard output: No space left on device\n") << args[0];
        const ToolResult closed = runToolWithOutput(args, ">&-");
        EXPECT_EQ(closed.exitCode, 1) << args[0];
        EXPECT_EQ(closed.err, "Cannot write to standard output: Bad file descriptor\n") << args[0];
    }
    // A reader that goes away, SIGPIPE ignored: the tool's own status and
    // message, kept apart from those of the pipeline.
    const std::string status = writeTempFile("pipe-status", "");
    const std::string err = writeTempFile("pipe-err", "");
    const std::string big = sourcePath("examples/human_chrX_58506832-58535063_p171_alphasat.txt");
    runToolWithOutput({big, "N", "4", "--svg"}, "2>'" + err + "'); echo $? >'" + status + "'; } | head -c 1 >/dev/null",
                      "", "trap '' PIPE; { (");
    EXPECT_EQ(readFile(status), "1\n");
    EXPECT_EQ(readFile(err), "Cannot write to standard output: Broken pipe\n");
}

TEST(Reliability, TheMatrixIsNeverWrittenOverTheInput) {
    const std::string text = readFile(sourcePath(kExample));
    const std::string path = writeTempFile("own-input.txt", text);
    const std::string link = path + ".link";
    unlink(link.c_str());
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    for (const std::string& target : {path, link}) {
        const ToolResult result = runTool({path, "Y", "2", "--write-matrix", target});
        EXPECT_EQ(result.out, "--write-matrix " + target + " is the input file: give another file to write\n");
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(readFile(path), text);
    }
    // Standard input redirected from the file named.
    const ToolResult redirected =
        runToolWithOutput({"-", "Y", "2", "--write-matrix", path}, ">/dev/null <'" + path + "'");
    EXPECT_EQ(redirected.exitCode, 1);
    EXPECT_EQ(readFile(path), text);
}

// A closed standard input is not taken by the input file: the prompts find
// the end of input instead of the file's first words (which would answer
// the molecule kind and the criterion).
TEST(Reliability, AClosedStandardInputReadsNothing) {
    const std::string out = writeTempFile("closed-input-out", "");
    const ToolResult closed = runToolWithOutput({sourcePath(kExample)}, "<&- >'" + out + "'");
    EXPECT_EQ(closed.exitCode, 1);
    EXPECT_NE(readFile(out).find("Unknown algorithm 0"), std::string::npos) << readFile(out);
}

// A simulated family of 400 copies as a FASTA file.
std::string familyFile() {
    SimulationSettings settings;
    settings.copies = 400;
    settings.length = 100;
    settings.seed = 5;
    return writeTempFile("family400.fa", fastaText(simulateHistory(settings).copies));
}

// Memory that runs out anywhere (the criteria, the searches, the replicates,
// the release of half-made trees) ends in one line and exit 1, never in an
// abort: runs under a ladder of limits on the address space.
TEST(Reliability, MemoryThatRunsOutEndsInOneLine) {
#ifdef TANDEMTREE_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit here";
#endif
    const std::string family = familyFile();
    const std::vector<std::vector<std::string>> runs = {{family, "N", "2", "--bootstrap", "3", "--threads", "2"},
                                                        {family, "N", "3", "--kicks", "2", "--rebuilds", "2"}};
    int outOfMemory = 0;
    for (int limit = 9000; limit <= 30000; limit += 500)
        for (const auto& args : runs) {
            const ToolResult result = runTool(args, "", "ulimit -v " + std::to_string(limit) + "; ");
            ASSERT_TRUE(result.exitCode == 0 || result.exitCode == 1) << limit << " KB: " << result.exitCode;
            if (result.exitCode == 0) continue;
            EXPECT_EQ(result.out, "Not enough memory for 400 sequences\n") << limit << " KB";
            ++outOfMemory;
        }
    EXPECT_GT(outOfMemory, 0);
}

// Threads that cannot all be started leave the work to those that were,
// with the same history.
TEST(Reliability, ThreadsThatCannotStartChangeNothing) {
#ifdef TANDEMTREE_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit here";
#endif
    const std::string family = familyFile();
    const ToolResult one = runTool({family, "N", "3", "--threads", "1"});
    const ToolResult many = runTool({family, "N", "3", "--threads", "1024"}, "", "ulimit -v 1000000; ");
    EXPECT_EQ(many.exitCode, 0);
    EXPECT_EQ(many.out, one.out);
}

}  // namespace

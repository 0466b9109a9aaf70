// What the tool does when the machine lets it down or a user slips: a
// failed write is never a success, the input file is never written over,
// memory or threads that run out end in one line, and a closed descriptor
// is never taken by a file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "HistorySimulator.h"
#include "ToolRunner.h"
#include "common/Parallel.h"

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
            // While reading, or once the 400 sequences are read.
            EXPECT_TRUE(result.out == "Not enough memory to read the input\n" ||
                        result.out == "Not enough memory for 400 sequences\n")
                << limit << " KB: " << result.out;
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

// The threads kept from one shared piece of work to the next run every
// slice exactly once, however many workers are asked for, when a slice
// shares out work of its own, when two threads share work at once, and
// after a slice has failed.
TEST(Reliability, SharedWorkRunsEverySliceOnce) {
    const auto check = [](int workers, int slices, bool nested) {
        std::vector<std::atomic<int>> runs(static_cast<std::size_t>(slices));
        std::atomic<int> inner{0}, strangers{0};
        runSlices(workers, slices, [&](int slice, int worker) {
            ++runs[static_cast<std::size_t>(slice)];
            if (worker < 0 || worker >= std::min(workers, slices)) ++strangers;
            if (nested) runSlices(2, 3, [&](int, int) { ++inner; });
        });
        for (const auto& count : runs)
            if (count != 1) return false;
        return strangers == 0 && (!nested || inner == 3 * slices);
    };
    for (int round = 0; round < 3000; ++round)
        ASSERT_TRUE(check(2 + round % 3, 1 + round % 9, round % 5 == 0)) << round;
    bool bothRight = true;
    std::thread other([&] {
        for (int round = 0; round < 500; ++round) bothRight = check(2, 7, false) && bothRight;
    });
    for (int round = 0; round < 500; ++round) EXPECT_TRUE(check(3, 5, false));
    other.join();
    EXPECT_TRUE(bothRight);
    EXPECT_THROW(runSlices(2, 8,
                           [](int slice, int) {
                               if (slice == 3) throw std::runtime_error("slice failed");
                           }),
                 std::runtime_error);
    EXPECT_TRUE(check(2, 8, false));
}

// Matrix words are plain decimal numbers no larger than 1e150, so that the
// sums made of them stay finite: no hexadecimal, nothing after a NUL, no
// number whose sums overflow into NaN lengths.
TEST(Reliability, MatrixDistancesArePlainAndBounded) {
    struct Row {
        std::string word;
        std::string message;  // after "row 2 'b', column 3 (line 3): "
    };
    const std::vector<Row> rows = {
        {"0x1p-3", "found '0x1p-3', expected a distance"},
        {std::string("0.1\0junk", 8), "found '0.1?junk', expected a distance"},
        {"2e150", "the distance '2e+150' is too large (the largest taken is 1e150)"},
        {"1.7976931348623157e308", "the distance '1.7976931348623157e+308' is too large (the largest taken is 1e150)"}};
    for (const Row& row : rows) {
        const std::string path =
            writeTempFile("bounded.phy", "3\na 0 0.1 0.2\nb 0.1 0 " + row.word + "\nc 0.2 " + row.word + " 0\n");
        const ToolResult result = runTool({"--matrix", path, "3"});
        EXPECT_EQ(result.out, "Invalid distance matrix: row 2 'b', column 3 (line 3): " + row.message + "\n");
        EXPECT_EQ(result.exitCode, 1);
    }
    const std::string largest = writeTempFile("largest.phy", "3\na 0 1e150 1e150\nb 1e150 0 1e150\nc 1e150 1e150 0\n");
    const ToolResult result = runTool({"--matrix", "--newick", largest, "3"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out.find("nan"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("inf"), std::string::npos) << result.out;
}

// A length or a distance of zero is written as 0, never as -0 (identical
// copies give -0 from the logarithm).
TEST(Reliability, ZeroIsNeverWrittenNegative) {
    const std::string same = writeTempFile("same.txt", "4 5\n0 AAAAA\n1 AAAAA\n2 AAAAA\n3 AAAAA\n");
    const std::string matrix = writeTempFile("same.phy", "");
    const ToolResult result = runTool({"--newick", "--write-matrix", matrix, same, "N", "1"});
    EXPECT_EQ(result.out, "(((0:0,1:0)v1:0,2:0)v2:0,3:0)v3;\n");
    EXPECT_EQ(readFile(matrix), "4\n0 0 0 0 0\n1 0 0 0 0\n2 0 0 0 0\n3 0 0 0 0\n");
}

// A criterion given as an argument is checked before any work: no matrix
// file is left behind, no prompt is written; a file that cannot be opened
// still says so first.
TEST(Reliability, ABadCriterionArgumentStopsBeforeAnyWork) {
    const std::string matrix = writeTempFile("not-written.phy", "untouched");
    const ToolResult result = runTool({sourcePath(kExample), "Y", "abc", "--write-matrix", matrix});
    EXPECT_EQ(result.out, "Unknown algorithm 0: choose 1, 2, 3, or 4 for all three\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(readFile(matrix), "untouched");
    const ToolResult missing = runTool({"no-such-file.txt", "N", "0"});
    EXPECT_EQ(missing.out, "Cannot open file no-such-file.txt\n");
}

// Decompression bombs, a megabyte that unpacks to a gigabyte: each is refused
// as soon as it cannot be valid, in a memory far below what it unpacks to.
TEST(Reliability, BombsAreRefusedEarly) {
    std::string limit = "ulimit -v 150000; ";
#ifdef TANDEMTREE_SANITIZED
    limit = "";  // the sanitizers reserve more address space than that
#endif
    const std::string many = gzipped(std::string(64 << 20, 'A'));
    auto times16 = [](const std::string& member) {
        std::string all;
        for (int i = 0; i < 16; ++i) all += member;
        return all;
    };
    std::string records, zeros;
    for (int i = 0; i < (1 << 20); ++i) records += ">a\nA\n";
    for (int i = 0; i < (16 << 20); ++i) zeros += "0 ";
    struct Row {
        std::string name;
        std::vector<std::string> args;
        std::string data;
        std::string message;
    };
    const std::vector<Row> rows = {
        {"word",
         {"N", "3"},
         gzipped("2 5\n0 ") + times16(many),
         "Invalid sequence file: record 1 (line 2): the sequence has more than 1048581 characters, expected 5"},
        {"record",
         {"N", "3"},
         gzipped(">a\nACGTA\n>b\n") + times16(many),
         "Invalid sequence file: record 2 'b' (line 3): the sequence has more than 1048581 characters, expected 5"},
        {"header",
         {"N", "3"},
         gzipped(">") + times16(many),
         "Invalid sequence file: record 1 (line 1): the header line is longer than 1048576 characters"},
        {"records", {"N", "3"}, times16(gzipped(records)), "Not enough memory for the distances of "},
        {"matrix word",
         {"3"},
         gzipped("3\n") + times16(many),
         "Invalid distance matrix: line 2: a word is longer than 1048576 characters"},
        {"matrix words",
         {"3"},
         gzipped("3\na 0 1 1\nb 1 0 1\nc 1 1 0\n") + times16(gzipped(zeros)),
         "Invalid distance matrix: line 5: found '"}};
    for (const Row& row : rows) {
        std::vector<std::string> args = {writeTempFile("bomb.gz", row.data)};
        if (row.name.rfind("matrix", 0) == 0) args.insert(args.begin(), "--matrix");
        args.insert(args.end(), row.args.begin(), row.args.end());
        const ToolResult result = runTool(args, "", limit);
        EXPECT_EQ(result.exitCode, 1) << row.name;
        EXPECT_EQ(result.out.rfind(row.message, 0), 0u) << row.name << ": " << result.out;
    }
}

// The ratchet ends once 16 rounds in a row found nothing shorter: a million
// rounds asked on a small array end as soon as that, not in hours.
TEST(Reliability, TheRatchetEndsWhenItStopsFindingShorterTrees) {
    const ToolResult result = runTool({sourcePath(kExample), "Y", "2", "--ratchet", "1000000"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out.rfind("History tree refined from algorithm 2\n", 0), 0u) << result.out;
}

}  // namespace

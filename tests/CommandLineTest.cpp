// Options, standard input and FASTA input, run on the built binary.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ToolRunner.h"
#include "Version.h"
#include "driver/CommandLine.h"

namespace {

const std::string kFourDna = "4 10\n0 AAAAAAAAAA\n1 AAAAGGGAAA\n2 AAAAAAAAAC\n3 AAAAGGGAAT\n";
// The Newick line of the four copies, with the least-squares edge lengths.
const std::string kFourNewick = "((0:0.00654136,2:0.100784)v1:0.208579,(1:0.00654136,3:0.100784)v2:0.208579)v3;\n";
const std::string kFourReport =
    "History tree constructed by algorithm 3\nv3(v1(0,2),v2(1,3))\nDuplication Blocks:   (v1, v2)   \n";

// The same four copies as FASTA, with names that Newick must quote.
const std::string kFourFasta =
    ">chrX:1200-1350(+) first\nAAAAA\nAAAAA\n>copy'7\nAAAAGGGAAA\n>plain\nAAAAAAAAAC\n>a,b\nAAAAGGGAAT\n";

TEST(CommandLine, HelpAndVersion) {
    for (const char* flag : {"-h", "--help"}) {
        const ToolResult result = runTool({flag});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out.rfind("Usage: tandemtree", 0), 0u) << result.out;
        for (const char* topic : {"Input the file name:", "--newick", "FASTA", "Exit codes"})
            EXPECT_NE(result.out.find(topic), std::string::npos) << topic;
        EXPECT_EQ(result.out.back(), '\n');
    }
    for (const char* flag : {"-V", "--version"}) {
        const ToolResult result = runTool({"some.txt", flag});
        EXPECT_EQ(result.out, std::string("tandemtree ") + TANDEMTREE_VERSION + "\n");
        EXPECT_EQ(result.exitCode, 0);
    }
}

TEST(CommandLine, UnknownOptionIsNamed) {
    const ToolResult result = runTool({writeTempFile("four.txt", kFourDna), "--colour", "N", "3"});
    EXPECT_EQ(result.out, "Unknown option --colour: see tandemtree --help\n");
    EXPECT_EQ(result.exitCode, 1);
}

TEST(CommandLine, OptionsStandAnywhereAndDoubleDashEndsThem) {
    const std::string path = writeTempFile("four.txt", kFourDna);
    EXPECT_EQ(runTool({"--newick", path, "N", "3"}).out, kFourNewick);
    EXPECT_EQ(runTool({path, "N", "--newick", "3"}).out, kFourNewick);
    const std::string dashed = writeTempFile("-dashed.txt", kFourDna);
    const std::string folder = dashed.substr(0, dashed.rfind('/'));
    const ToolResult result = runTool({"--", "-dashed.txt", "N", "3"}, "", "cd '" + folder + "' && ");
    EXPECT_EQ(result.out, kFourReport);
    EXPECT_EQ(runTool({"-dashed.txt", "N", "3"}, "", "cd '" + folder + "' && ").out,
              "Unknown option -dashed.txt: see tandemtree --help\n");
}

TEST(CommandLine, NewickForEveryCriterion) {
    const ToolResult result = runTool({writeTempFile("four.txt", kFourDna), "N", "4", "--newick"});
    EXPECT_EQ(result.out, kFourNewick + kFourNewick + kFourNewick);
    EXPECT_EQ(result.exitCode, 0);
}

TEST(CommandLine, StandardInputAsTheFile) {
    ToolResult result = runTool({"-", "N", "3"}, kFourDna);
    EXPECT_EQ(result.out, kFourReport);
    EXPECT_EQ(result.exitCode, 0);
    result = runTool({"-", "N", "3", "--newick"}, kFourFasta);
    EXPECT_EQ(
        result.out,
        "(('chrX:1200-1350(+)':0.00654136,plain:0.100784)v1:0.208579,('copy''7':0.00654136,'a,b':0.100784)v2:0.208579)"
        "v3;\n");

    result = runTool({"-", "N"}, kFourDna);
    EXPECT_EQ(result.out,
              "Sequences read from standard input: give the criterion (third argument, 1 to 4) on the command line\n");
    EXPECT_EQ(result.exitCode, 1);
    result = runTool({"-"}, kFourDna);
    EXPECT_EQ(result.out,
              "Sequences read from standard input: give the molecule kind (second argument, N or Y) "
              "and the criterion (third argument, 1 to 4) on the command line\n");
    EXPECT_EQ(result.exitCode, 1);
    // Named at the prompt, standard input cannot answer the other prompts.
    result = runTool({}, "-\n" + kFourDna);
    EXPECT_EQ(result.out,
              "Input the file name:Sequences read from standard input: give the molecule kind "
              "(second argument, N or Y) and the criterion (third argument, 1 to 4) on the command line\n");
    EXPECT_EQ(result.exitCode, 1);
}

TEST(CommandLine, FastaGivesTheSameHistoryAsTheNativeFile) {
    const ToolResult result = runTool({writeTempFile("four.fa", kFourFasta), "N", "3"});
    EXPECT_EQ(result.out, kFourReport);
    const ToolResult oneLine =
        runTool({writeTempFile("four-one-line.fa", ">a\nAAAAAAAAAA\n>b\nAAAAGGGAAA\n>c\nAAAAAAAAAC\n>d\nAAAAGGGAAT"),
                 "N", "3"});
    EXPECT_EQ(oneLine.out, kFourReport);
}

TEST(CommandLine, FastaOfUnequalLengthsIsRefused) {
    const ToolResult result =
        runTool({writeTempFile("unequal.fa", ">a\nAAAA\nAAAA\n>b b's description\nAAAAAAA\n"), "N", "3"});
    EXPECT_EQ(result.out, "Invalid sequence file: record 2 'b' (line 4): the sequence has 7 characters, expected 8\n");
    EXPECT_EQ(result.exitCode, 1);
}

TEST(CommandLine, NegativeCriterionIsStillACriterion) {
    const ToolResult result = runTool({writeTempFile("four.txt", kFourDna), "N", "-2"});
    EXPECT_EQ(result.out, "Unknown algorithm -2: choose 1, 2, 3, or 4 for all three\n");
    EXPECT_EQ(result.exitCode, 1);
}

// Every option of the table is documented: in the help, the man page and
// the README.
TEST(CommandLine, EveryOptionIsDocumented) {
    auto read = [](const std::string& path) {
        std::ifstream file(std::string(TANDEMTREE_SOURCE_DIR) + "/" + path);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    };
    const std::string help = helpText(), manual = read("docs/tandemtree.1.in"), readme = read("README.md");
    ASSERT_FALSE(manual.empty());
    ASSERT_FALSE(readme.empty());
    for (const OptionSpec& option : commandLineOptions()) {
        const std::string name = option.name;
        EXPECT_NE(help.find(" " + name), std::string::npos) << name;
        // The man page escapes each hyphen.
        std::string escaped;
        for (const char c : name) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_NE(manual.find(escaped), std::string::npos) << name;
        EXPECT_NE(readme.find("`" + name), std::string::npos) << name;
    }
}

// Newick and SVG are read by other programs: prompts and messages go to
// standard error, and standard output holds the result alone; the report
// keeps them on standard output.
TEST(CommandLine, MachineReadableOutputHoldsTheResultAlone) {
    const std::string path = writeTempFile("four.txt", kFourDna);
    const ToolResult asked = runTool({"--newick"}, path + " N 3\n");
    EXPECT_EQ(asked.out, kFourNewick);
    EXPECT_EQ(asked.err,
              "Input the file name:Input 'Y' if the file contains protein sequences, 'N' if DNA sequence: "
              "Choose the algorithm (1,2,3 to choose one of the three algorithms, or 4 to choose all): ");
    const std::string far = writeTempFile("far.txt", "2 4\n0 AAAA\n1 CCCC\n");
    for (const char* mode : {"--newick", "--svg"}) {
        const ToolResult undefined = runTool({mode, far, "N", "1"});
        EXPECT_EQ(undefined.out, "");
        // With the pair that is too far apart.
        EXPECT_EQ(undefined.err,
                  "Sequences dissimilarity exceeds threshold: distance undefined!\n"
                  "Copies 0 and 1 differ at 100.0% of the 4 sites compared\n");
        EXPECT_EQ(undefined.exitCode, 0);
        const ToolResult missing = runTool({mode, "no-such-file.txt", "N", "1"});
        EXPECT_EQ(missing.out, "");
        EXPECT_EQ(missing.err, "Cannot open file no-such-file.txt\n");
        EXPECT_EQ(missing.exitCode, 1);
    }
    const ToolResult report = runTool({far, "N", "1"});
    EXPECT_EQ(report.out, "Sequences dissimilarity exceeds threshold: distance undefined!\n");
    EXPECT_EQ(report.err, "");
}

// Letters that disagree with the molecule kind, or stand in both cases, are
// told on standard error (the report is unchanged); --ignore-case compares
// either case as equal, so a soft-masked copy gets its unmasked history.
TEST(CommandLine, LettersThatMisleadAreToldAndCaseCanBeIgnored) {
    const std::string dna = writeTempFile("four.txt", kFourDna);
    EXPECT_EQ(runTool({dna, "N", "3"}).err, "");
    const ToolResult asProtein = runTool({dna, "Y", "3"});
    EXPECT_EQ(asProtein.err,
              "Warning: the molecule kind is protein, but 100% of the letters are A, C, G, T, U or N: give N for "
              "DNA\n");
    const std::string protein = writeTempFile("protein.txt", "4 6\n0 MKVLAW\n1 MKVLSW\n2 MRVLAW\n3 MKILAW\n");
    EXPECT_EQ(runTool({protein, "N", "3"}).err,
              "Warning: the molecule kind is DNA, but only 12% of the letters are A, C, G, T, U or N: is this a "
              "protein alignment?\n");
    const std::string masked =
        writeTempFile("masked.txt", "4 10\n0 aaaaAAAAAA\n1 aaaaGGGAAA\n2 AAAAAAAAAC\n3 AAAAGGGAAT\n");
    const ToolResult kept = runTool({masked, "N", "3"});
    EXPECT_EQ(kept.err,
              "Warning: 8 of the 40 letters are in lower case and differ from the same letters in upper case; "
              "--ignore-case compares them as equal\n");
    EXPECT_NE(kept.out, kFourReport);
    const ToolResult folded = runTool({masked, "N", "3", "--ignore-case"});
    EXPECT_EQ(folded.out, kFourReport);
    EXPECT_EQ(folded.err, "");
}

// One run writes the report, the Newick lines, the picture and the table of
// blocks, each the same as the run that writes it alone; none of them may be
// the input file.
TEST(CommandLine, SeveralOutputsFromOneRun) {
    const std::string fasta =
        writeTempFile("coords.fa",
                      ">c0 chrX:100-109\nAAAAAAAAAA\n>c1 chrX:110-119\nAAAAGGGAAA\n>c2 chrX:120-129\nAAAAAAAAAC\n"
                      ">c3 chrX:130-139\nAAAAGGGAAT\n");
    const std::string nwk = writeTempFile("out.nwk", ""), svg = writeTempFile("out.svg", "");
    const std::string tsv = writeTempFile("out.tsv", "");
    const ToolResult all = runTool({fasta, "N", "4", "--write-newick", nwk, "--write-svg", svg, "--write-blocks", tsv});
    EXPECT_EQ(all.out, runTool({fasta, "N", "4"}).out);
    EXPECT_EQ(readFile(nwk), runTool({fasta, "N", "4", "--newick"}).out);
    EXPECT_EQ(readFile(svg), runTool({fasta, "N", "4", "--svg"}).out);
    std::string rows = "criterion\tblock\tsegments\tcopies\tnames\tsupport\tcoordinates\n";
    for (int criterion = 1; criterion <= 3; ++criterion)
        rows += std::to_string(criterion) + "\t1\tv1,v2\t0,2;1,3\tc0,c2;c1,c3\t\tchrX:100-129;chrX:110-139\n";
    EXPECT_EQ(readFile(tsv), rows);
    const ToolResult over = runTool({fasta, "N", "4", "--write-blocks", fasta});
    EXPECT_EQ(over.out, "--write-blocks " + fasta + " is the input file: give another file to write\n");
    EXPECT_EQ(over.exitCode, 1);
    const ToolResult cannot = runTool({fasta, "N", "1", "--write-svg", "/no-such-folder/x.svg"});
    EXPECT_EQ(cannot.out.substr(cannot.out.find("Cannot")), "Cannot write file /no-such-folder/x.svg\n");
    EXPECT_EQ(cannot.exitCode, 1);
}

// Segments whose copies below are all identical were shaped by the tie
// rules, which every replicate repeats: their support is shown as
// unresolved in the report, the Newick and the picture, never as 100.
TEST(CommandLine, IdenticalCopiesClaimNoSupport) {
    const std::string path = writeTempFile("twins.txt", "4 8\n0 ACGTACGT\n1 ACGTACGT\n2 TTGTACGA\n3 TTGTACGA\n");
    const ToolResult report = runTool({path, "N", "1", "--bootstrap", "10"});
    EXPECT_NE(report.out.find("Segment support:   v1 identical   v2 "), std::string::npos) << report.out;
    EXPECT_EQ(report.out.find("v2 identical"), std::string::npos) << report.out;
    const ToolResult newick = runTool({path, "N", "1", "--bootstrap", "10", "--newick"});
    const std::size_t v1 = newick.out.find(")v1:");
    ASSERT_NE(v1, std::string::npos) << newick.out;
    EXPECT_EQ(newick.out.find("[&&NHX:identical_copies=1]"), newick.out.find('[', v1)) << newick.out;
    EXPECT_NE(newick.out.find("v3[&&NHX:support="), std::string::npos) << newick.out;
    const ToolResult picture = runTool({path, "N", "1", "--bootstrap", "10", "--svg"});
    EXPECT_NE(picture.out.find("v1, identical copies below: unresolved"), std::string::npos);
}

// --verbose logs the settings and the time of each stage on standard error,
// --quiet silences the progress line; neither changes standard output.
TEST(CommandLine, VerboseAndQuietLeaveTheOutputAlone) {
    const std::string path = writeTempFile("four.txt", kFourDna);
    const ToolResult verbose = runTool({path, "N", "3", "--verbose", "--refine", "--seed", "7"});
    EXPECT_EQ(verbose.out, runTool({path, "N", "3", "--refine"}).out);
    for (const char* line : {"tandemtree: command: tandemtree ",
                             "tandemtree: model jc, gaps literal, case compared, "
                             "seed 7, threads ",
                             "tandemtree: reading and distances: ", "tandemtree: criterion 3, reconstruction: ",
                             "tandemtree: criterion 3, refinement: "})
        EXPECT_NE(verbose.err.find(line), std::string::npos) << line << "\n" << verbose.err;
    const ToolResult quiet = runTool({path, "N", "3", "--quiet"});
    EXPECT_EQ(quiet.out, kFourReport);
    EXPECT_EQ(quiet.err, "");
}

}  // namespace

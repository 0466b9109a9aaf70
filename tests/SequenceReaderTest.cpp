#include <gtest/gtest.h>

#include <sstream>

#include "sequences/SequenceFileReader.h"
#include "sequences/SequenceSet.h"

namespace {

SequenceSet readText(const std::string& text) {
    SequenceSet set;
    std::istringstream in(text);
    set.readSequences(in);
    return set;
}

TEST(SequenceReader, RecordIndexNamesTheSlot) {
    SequenceSet set;
    std::istringstream in("3 8\n2 ACCTACGA\n0 ACGTACGT\n1 ACGTACGA\n");
    set.readSequences(in);
    EXPECT_EQ(set.count, 3);
    EXPECT_EQ(set.length, 8);
    ASSERT_EQ(set.sequences.size(), 3u);
    EXPECT_EQ(set.sequences[0], "ACGTACGT");
    EXPECT_EQ(set.sequences[1], "ACGTACGA");
    EXPECT_EQ(set.sequences[2], "ACCTACGA");
    EXPECT_EQ(set.distances, nullptr);
}

TEST(SequenceReader, LineStructureCarriesNoMeaning) {
    const std::string lines = "3 8\n0 ACGTACGT\n1 ACGTACGA\n2 ACCTACGA\n";
    const std::string oneLine = "3 8 0 ACGTACGT 1 ACGTACGA 2 ACCTACGA";
    const std::string scattered = "\t3\r\n\n8\f0\vACGTACGT\n1\nACGTACGA 2   ACCTACGA";
    SequenceSet a;
    SequenceSet b;
    SequenceSet c;
    std::istringstream inA(lines), inB(oneLine), inC(scattered);
    a.readSequences(inA);
    b.readSequences(inB);
    c.readSequences(inC);
    EXPECT_EQ(a.sequences, b.sequences);
    EXPECT_EQ(a.sequences, c.sequences);
}

TEST(SequenceReader, NothingAfterTheLastRecordIsRead) {
    std::istringstream in("2 4\n0 ACGT\n1 AC-t tail that is not a record\n");
    SequenceSet set;
    set.readSequences(in);
    EXPECT_EQ(set.sequences[1], "AC-t");  // case and gaps kept as they stand
    std::string next;
    in >> next;
    EXPECT_EQ(next, "tail");
}

TEST(SequenceReader, AnyNonBlankByteIsASequenceCharacter) {
    const std::string odd = std::string("2 5\n0 a*1\xC3\xA9\n1 ") + std::string("x\0y.z", 5);
    SequenceSet set = readText(odd);
    EXPECT_EQ(set.sequences[0], "a*1\xC3\xA9");
    EXPECT_EQ(set.sequences[1], std::string("x\0y.z", 5));
}

TEST(SequenceReader, CountZeroReadsNoRecord) {
    SequenceSet set = readText("0 12\n0 NOTREAD");
    EXPECT_EQ(set.count, 0);
    EXPECT_TRUE(set.sequences.empty());
    EXPECT_EQ(readText("0").count, 0);
}

TEST(SequenceReader, SecondReadReplacesTheFirstWithItsDistances) {
    SequenceSet set;
    std::istringstream first("2 4 0 ACGT 1 ACGA");
    set.readSequences(first);
    set.computeDistances();
    ASSERT_NE(set.distances, nullptr);
    std::istringstream second("1 3 0 TTT");
    set.readSequences(second);
    EXPECT_EQ(set.distances, nullptr);
    EXPECT_EQ(set.count, 1);
    ASSERT_EQ(set.sequences.size(), 1u);
    EXPECT_EQ(set.sequences[0], "TTT");
}

TEST(SequenceReader, FailedReadOfANewSetLeavesItEmpty) {
    for (const char* text : {"", "   \n", "abc 4"}) {
        SequenceSet set;
        std::istringstream in(text);
        EXPECT_THROW(set.readSequences(in), SequenceFileError);
        EXPECT_EQ(set.count, 0);
        EXPECT_EQ(set.length, -1);
        EXPECT_TRUE(set.sequences.empty());
    }
}

// Every file outside the format is refused with one line saying what and where.
TEST(SequenceReader, MalformedFilesNameWhatAndWhere) {
    struct Row {
        const char* text;
        const char* message;
    };
    const Row rows[] = {
        {"", "the file is empty, expected the number of sequences"},
        {"\n\nfour 4", "line 3: found 'four', expected the number of sequences"},
        {"-2 4", "line 1: the number of sequences is -2, expected 0 or more"},
        {"99999999999 4", "line 1: the number of sequences '99999999999' is too large"},
        {"2", "the file ends after the number of sequences, expected the sequence length"},
        {"2\nL", "line 2: found 'L', expected the sequence length"},
        {"2 0", "line 1: the sequence length is 0, expected 1 or more"},
        {"3 4\n0 ACGT\n1 ACGT\n", "the file ends after 2 of 3 records (line 3)"},
        {"2000000000 4\n0 ACGT\n1 ACGT\n2 ACGT", "the file ends after 3 of 2000000000 records (line 4)"},
        {"2 4\n0 ACGT\n1", "the file ends after the index of record 2 (line 3), expected its sequence"},
        {"2 4\n0 ACGT\nx ACGT", "record 2 (line 3): found 'x', expected the index, a number from 0 to 1"},
        {"2 4\n0 ACGT\n2 ACGT", "record 2 (line 3): the index is 2, expected a number from 0 to 1"},
        {"2 4\n-1 ACGT\n0 ACGT", "record 1 (line 2): the index is -1, expected a number from 0 to 1"},
        {"2 4\n0 ACGT\n0 ACGA", "record 2 (line 3): the index 0 was already given by record 1 (line 2)"},
        {"2 4\n0 ACG\n1 ACGT", "record 1 (line 2): the sequence has 3 characters, expected 4"},
        {"2 4\n0 ACGT\n1\nACGTA", "record 2 (line 4): the sequence has 5 characters, expected 4"},
    };
    for (const Row& row : rows) {
        std::istringstream in(row.text);
        try {
            SequenceFile file;
            readSequenceFile(in, file);
            ADD_FAILURE() << "accepted: " << row.text;
        } catch (const SequenceFileError& error) {
            EXPECT_EQ(std::string(error.what()), std::string("Invalid sequence file: ") + row.message);
        }
    }
}

TEST(SequenceReader, LongWordsAreQuotedShortAndPrintable) {
    std::istringstream in(std::string("2 4\n0 ACGT\n") + std::string(100, 'Q') + "\x01 ACGT");
    try {
        SequenceFile file;
        readSequenceFile(in, file);
        ADD_FAILURE();
    } catch (const SequenceFileError& error) {
        EXPECT_EQ(std::string(error.what()), "Invalid sequence file: record 2 (line 3): found '" +
                                                 std::string(24, 'Q') +
                                                 "...', expected the index, a number from 0 to 1");
    }
}

}  // namespace

namespace {

TEST(FastaReader, RecordsInFileOrderWithNamesAndWrappedLines) {
    SequenceSet set = readText(
        "\n\n>chrX:1200-1350(+) first copy\nACGT\nAC\r\n"
        ">copy'7\nAC GTTA\n\n>third\tdescribed here\nAAAA\nAA");
    EXPECT_EQ(set.count, 3);
    EXPECT_EQ(set.length, 6);
    EXPECT_EQ(set.sequences, (std::vector<std::string>{"ACGTAC", "ACGTTA", "AAAAAA"}));
    EXPECT_EQ(set.names, (std::vector<std::string>{"chrX:1200-1350(+)", "copy'7", "third"}));
}

TEST(FastaReader, OnlyALineStartingWithTheMarkStartsARecord) {
    SequenceSet set = readText(">a\nAC>G\n>b\nACGT\n");
    EXPECT_EQ(set.sequences, (std::vector<std::string>{"AC>G", "ACGT"}));
    EXPECT_EQ(set.names, (std::vector<std::string>{"a", "b"}));
}

TEST(FastaReader, NativeFilesKeepNoNames) {
    SequenceSet set = readText(">a\nACGT\n");
    std::istringstream native("1 4 0 ACGT");
    set.readSequences(native);
    EXPECT_TRUE(set.names.empty());
}

TEST(FastaReader, SameDistancesAsTheNativeFileOfTheSameAlignment) {
    SequenceSet fasta = readText(">s0\nACGTACGTAA\n>s1\nACGTACGTTA\n>s2\nTCGTACGAAA\n");
    SequenceSet native = readText("3 10 0 ACGTACGTAA 1 ACGTACGTTA 2 TCGTACGAAA");
    fasta.isProtein = native.isProtein = false;
    fasta.computeDistances();
    native.computeDistances();
    EXPECT_EQ(fasta.distances->values(), native.distances->values());
}

}  // namespace

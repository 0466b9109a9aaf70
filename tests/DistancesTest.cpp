#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "common/myException.h"
#include "sequences/SequenceSet.h"

namespace {

SequenceSet pairOf(const std::string& a, const std::string& b, bool protein) {
    SequenceSet set;
    set.isProtein = protein;
    set.count = 2;
    set.length = static_cast<int>(a.size());
    set.sequences = {a, b};
    return set;
}

// A pair of length L differing at its first m positions.
SequenceSet mismatched(int L, int m, bool protein) {
    return pairOf(std::string(L, 'A'), std::string(m, 'C') + std::string(L - m, 'A'), protein);
}

TEST(Distances, JukesCantorExamples) {
    EXPECT_NEAR(mismatched(10, 1, false).pairDistance(0, 1), 0.1073256, 1e-7);
    EXPECT_NEAR(mismatched(10, 1, true).pairDistance(0, 1), 0.1056644, 1e-7);
    EXPECT_NEAR(mismatched(4, 2, false).pairDistance(0, 1), 0.8239592, 1e-7);
    EXPECT_NEAR(mismatched(20, 18, true).pairDistance(0, 1), 2.797217, 1e-6);
    EXPECT_EQ(mismatched(10, 0, false).pairDistance(0, 1), 0.0);
}

TEST(Distances, OperationsRoundInTheirOrder) {
    // The exact expressions, one rounding per operation.
    const double dna = std::log(1.0 - (4.0 * 7) / static_cast<double>(3 * 23)) * -0.75;
    const double protein = std::log(1.0 - 7 / (23 * 0.95)) * -0.95;
    EXPECT_EQ(mismatched(23, 7, false).pairDistance(0, 1), dna);
    EXPECT_EQ(mismatched(23, 7, true).pairDistance(0, 1), protein);
    EXPECT_EQ(mismatched(23, 7, true).pairDistance(1, 0), protein);
}

TEST(Distances, ThresholdItselfIsUndefined) {
    EXPECT_EQ(mismatched(4, 3, false).pairDistance(0, 1), kUndefinedDistance);    // p = 0.75
    EXPECT_EQ(mismatched(20, 19, true).pairDistance(0, 1), kUndefinedDistance);   // p = 0.95
    EXPECT_EQ(mismatched(20, 18, false).pairDistance(0, 1), kUndefinedDistance);  // p = 0.9 as DNA
    EXPECT_LT(mismatched(100, 74, false).pairDistance(0, 1), kUndefinedDistance);
}

TEST(Distances, BytesComparedAsTheyStand) {
    EXPECT_GT(pairOf("ACGTa", "ACGTA", false).pairDistance(0, 1), 0.0);  // case differs
    EXPECT_EQ(pairOf("AC-T-", "AC-T-", false).pairDistance(0, 1), 0.0);  // gap facing gap
    EXPECT_EQ(pairOf("AC-TA", "ACGTA", false).pairDistance(0, 1),
              pairOf("ACCTA", "ACGTA", false).pairDistance(0, 1));  // gap facing letter
}

TEST(Distances, MatrixFilledRowByRow) {
    SequenceSet set;
    set.isProtein = false;
    set.count = 4;
    set.length = 10;
    set.sequences = {"AAAAAAAAAA", "CAAAAAAAAA", "CCAAAAAAAA", "CCCAAAAAAA"};
    set.computeDistances();
    ASSERT_NE(set.distances, nullptr);
    const std::vector<double>& v = set.distances->values();
    ASSERT_EQ(v.size(), 6u);
    // (0,1) (0,2) (0,3) (1,2) (1,3) (2,3) at 0 to 5.
    EXPECT_EQ(v[0], set.pairDistance(0, 1));
    EXPECT_EQ(v[2], set.pairDistance(0, 3));
    EXPECT_EQ(v[3], set.pairDistance(1, 2));
    EXPECT_EQ(v[5], set.pairDistance(2, 3));
    EXPECT_EQ(v[0], v[3]);
    EXPECT_EQ(v[1], v[4]);
    EXPECT_EQ(DistanceMatrix::indexOf(1, 3, 4), 4u);
    EXPECT_EQ(DistanceMatrix::indexOf(3, 1, 4), 4u);
}

TEST(Distances, NoPairsForZeroOrOneSequence) {
    for (int n : {0, 1}) {
        SequenceSet set;
        set.count = n;
        set.length = 3;
        set.sequences.assign(static_cast<std::size_t>(n), "ACG");
        EXPECT_NO_THROW(set.computeDistances());
        EXPECT_TRUE(set.distances->values().empty());
    }
}

TEST(Distances, StopsAtTheFirstUndefinedPairInFillOrder) {
    SequenceSet set;
    set.isProtein = false;
    set.count = 3;
    set.length = 4;
    // Only (1, 2) differs at 3 of 4 positions.
    set.sequences = {"AACC", "AAAA", "ACCC"};
    ASSERT_LT(set.pairDistance(0, 1), kUndefinedDistance);
    try {
        set.computeDistances();
        ADD_FAILURE() << "no exception";
    } catch (const myException& error) {
        EXPECT_STREQ(error.what(), "Sequences dissimilarity exceeds threshold: distance undefined!");
    }
    ASSERT_NE(set.distances, nullptr);
    const std::vector<double>& v = set.distances->values();
    EXPECT_EQ(v[0], set.pairDistance(0, 1));
    EXPECT_EQ(v[1], set.pairDistance(0, 2));
    EXPECT_EQ(v[2], kUndefinedDistance);
}

}  // namespace

namespace {

// The counts behind the distances, for lengths around the 64-byte blocks,
// past the point where the byte-wide tallies must be emptied, and on both
// sides of the longest alignment whose distances are held coded.
TEST(Distances, MatchAPlainCountForEveryLengthAndNumberOfThreads) {
    std::mt19937 random(11);
    for (int L : {1, 5, 63, 64, 65, 130, 1000, 16320, 16384, 20000, 65535, 65536}) {
        SequenceSet set;
        set.isProtein = true;
        set.count = 4;
        set.length = L;
        for (int i = 0; i < 4; ++i) {
            // Sequence 1 differs from 0 at 9 of 10 places, to load the
            // tallies; 2 and 3 are random but for every third place.
            std::string s(static_cast<std::size_t>(L), 'A');
            for (int k = 0; k < L; ++k) {
                if (i == 1 && k % 10 != 0) s[k] = 'B';
                if (i >= 2 && k % 3 != 0) s[k] = "ABCD"[random() % 4];
            }
            set.sequences.push_back(s);
        }
        if (L > 1) set.sequences[3][0] = '\0';  // a NUL byte is a character like any other
        set.computeDistances(1 + L % 3);        // rows shared among 1 to 3 threads
        for (int i = 0; i < 4; ++i)
            for (int j = i + 1; j < 4; ++j) {
                long m = 0;
                for (int k = 0; k < L; ++k) m += set.sequences[i][k] != set.sequences[j][k];
                const double expected = std::log(1.0 - m / (L * 0.95)) * -0.95;
                if (static_cast<double>(m) / L >= 0.95) continue;
                EXPECT_EQ(set.distances->at(i, j), expected) << "L " << L << " pair " << i << "," << j;
                EXPECT_EQ(set.pairDistance(i, j), expected);
            }
        EXPECT_EQ(set.distances->coded(), L < 65536);
    }
}

// Under --gaps pairwise a pair leaves out the columns where either copy has
// a gap or an ambiguity code (N for DNA, X for protein, '?'), through the
// per-pair count and the vectorised count alike; a column that is a gap in
// every copy changes nothing.
TEST(Distances, PairwiseLeavesOutGapsAndAmbiguityCodes) {
    struct Row {
        std::string a, b;
        bool protein;
        std::string plainA, plainB;  // the same pair without those columns
    };
    const std::vector<Row> rows = {
        {"ACGTNACGTA-", "ACGAAACGNT-", false, "ACGTACGA", "ACGAACGT"},
        {"MKVLAXWn?", "MKILAWWnQ", true, "MKVLAWn", "MKILAWn"},
        {"ACGTACGTAC", "ACGTACGTAT", false, "ACGTACGTAC", "ACGTACGTAT"},
    };
    for (const Row& row : rows) {
        SequenceSet with = pairOf(row.a, row.b, row.protein);
        SequenceSet without = pairOf(row.plainA, row.plainB, row.protein);
        with.distanceOptions.pairwiseGaps = without.distanceOptions.pairwiseGaps = true;
        EXPECT_EQ(with.pairDistance(0, 1), without.pairDistance(0, 1)) << row.a;
        with.computeDistances();
        without.computeDistances();
        EXPECT_EQ(with.distances->at(0, 1), without.distances->at(0, 1)) << row.a;
    }
}

}  // namespace

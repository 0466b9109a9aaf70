// The progress line with a clock of the test's own, and what the engine tells it.
#include <gtest/gtest.h>

#include <sstream>

#include "driver/ProgressLine.h"
#include "history/DuplicationTree.h"
#include "history/QuartetVoteCriterion.h"
#include "history/Refinement.h"
#include "reference/ReferenceHistory.h"

namespace {

using namespace std::chrono_literals;

struct FakeClock {
    ProgressLine::Clock::time_point now{};
    std::function<ProgressLine::Clock::time_point()> source() {
        return [this] { return now; };
    }
};

const std::string kSave = "\0337";
const std::string kRestore = "\0338";
const std::string kClear = "\033[K";

TEST(ProgressLine, ShownAfterHalfASecondRewrittenAtMostTenTimesASecondErasedAtTheEnd) {
    FakeClock clock;
    std::ostringstream terminal;
    ProgressLine line(&terminal, clock.source());
    line.start(3, 9);
    clock.now += 499ms;
    line.merged(1);
    EXPECT_EQ(terminal.str(), "");
    clock.now += 101ms;
    line.merged(2);
    EXPECT_EQ(terminal.str(), kSave + kRestore + "criterion 3: 2/9 ancestral segments, 0.6 s" + kClear);
    terminal.str("");
    clock.now += 99ms;
    line.merged(3);
    EXPECT_EQ(terminal.str(), "");
    clock.now += 1ms;
    line.merged(4);
    EXPECT_EQ(terminal.str(), kRestore + "criterion 3: 4/9 ancestral segments, 0.7 s" + kClear);
    terminal.str("");
    line.finish();
    EXPECT_EQ(terminal.str(), kRestore + kClear);
    terminal.str("");
    line.finish();
    line.merged(5);
    EXPECT_EQ(terminal.str(), "");
}

TEST(ProgressLine, QuartetCountShownAsTheShareOfQuartetsDone) {
    // Of the 5 quartets of 5 positions, 4 start at position 0.
    EXPECT_EQ(quartetShareBefore(5, 0), 0.0);
    EXPECT_DOUBLE_EQ(quartetShareBefore(5, 1), 0.8);
    EXPECT_EQ(quartetShareBefore(5, 2), 1.0);
    // 100 positions: C(100,4) quartets, C(90,4) of them start at 10 or later.
    EXPECT_NEAR(quartetShareBefore(100, 10), 1.0 - 2555190.0 / 3921225.0, 1e-12);
    EXPECT_EQ(quartetShareBefore(3, 0), 1.0);  // no quartet at all

    FakeClock clock;
    std::ostringstream terminal;
    ProgressLine line(&terminal, clock.source());
    line.start(1, 99);
    clock.now += 2s;
    line.counting(quartetShareBefore(100, 10));
    EXPECT_EQ(terminal.str(), kSave + kRestore + "criterion 1: counting quartet votes 35%, 2.0 s" + kClear);
}

TEST(ProgressLine, NoTerminalNothingWritten) {
    FakeClock clock;
    ProgressLine line(nullptr, clock.source());
    line.start(1, 9);
    clock.now += 5s;
    line.counting(0.5);
    line.merged(3);
    line.finish();  // nothing to write to, and nothing fails
}

// What a reconstruction tells: the initial count of criterion 1 from 0
// onwards, never going back, then every ancestral segment made, one step at
// a time.
TEST(ProgressLine, EngineReportsTheCountAndEveryMerge) {
    struct Recorder : ReconstructionProgress {
        std::vector<double> fractions;
        std::vector<int> made;
        void counting(double fraction) override { fractions.push_back(fraction); }
        void merged(int ancestorsMade) override { made.push_back(ancestorsMade); }
    };
    const std::vector<std::vector<double>> d = {{0, 4, 1, 4, 5, 6}, {4, 0, 4, 1, 5, 6}, {1, 4, 0, 4, 5, 6},
                                                {4, 1, 4, 0, 5, 6}, {5, 5, 5, 5, 0, 2}, {6, 6, 6, 6, 2, 0}};
    Recorder recorder;
    DuplicationTree tree;
    tree.reconstruct(matrixFromTable(d), 1, &recorder);
    ASSERT_EQ(recorder.fractions.size(), 2u);  // first positions 0-2, then 3-5
    EXPECT_EQ(recorder.fractions.front(), 0.0);
    for (std::size_t i = 1; i < recorder.fractions.size(); ++i)
        EXPECT_GE(recorder.fractions[i], recorder.fractions[i - 1]);
    ASSERT_FALSE(recorder.made.empty());
    EXPECT_EQ(recorder.made.back(), 5);
    int blockLabels = 0;
    for (const DuplicationBlock& block : tree.blocks) blockLabels += static_cast<int>(block.size());
    // One report per step: a step of s pairs makes s segments.
    EXPECT_EQ(static_cast<int>(recorder.made.size()), 5 - blockLabels + static_cast<int>(tree.blocks.size()));
}

// A refinement tells which search it is in and how many of its starts are
// done, from a real run: the kicks, the rebuilds and the ratchet rounds, each
// counted up to what was asked.
TEST(ProgressLine, RefinementTellsItsSearches) {
    struct Heard : ReconstructionProgress {
        void counting(double) override {}
        void merged(int) override {}
        void searched(const char* stage, int done, int of) override {
            if (std::string(stage) != last) stages.push_back(stage);
            last = stage;
            EXPECT_LE(done, of);
            EXPECT_LT(done, of);  // told before each batch
        }
        // The first descent is heard before the searches after it.
        void descending(int sweep, int moves) override {
            if (stages.empty() || stages.back() != "descent") stages.push_back("descent");
            EXPECT_GE(sweep, 1);
            EXPECT_GE(moves, 0);
        }
        std::vector<std::string> stages;
        std::string last;
    } heard;
    std::vector<std::vector<double>> d(12, std::vector<double>(12));
    for (int i = 0; i < 12; ++i)
        for (int j = 0; j < 12; ++j) d[i][j] = i == j ? 0.0 : 0.1 + 0.01 * ((i * 7 + j * 3) % 11) + 0.05 * (i + j) / 24;
    for (int i = 0; i < 12; ++i)
        for (int j = 0; j < i; ++j) d[i][j] = d[j][i];
    const DistanceMatrix matrix = matrixFromTable(d);
    DuplicationTree tree;
    tree.reconstruct(matrix, 3);
    RefineSettings settings;
    settings.kicks = 2;
    settings.rebuilds = 2;
    settings.ratchet = 2;
    settings.criterion = 3;
    refineHistory(tree, matrix, settings, &heard);
    EXPECT_EQ(heard.stages, (std::vector<std::string>{"descent", "kicks", "rebuilds", "ratchet rounds"}));

    FakeClock clock;
    std::ostringstream terminal;
    ProgressLine line(&terminal, clock.source());
    line.startSearch(2);
    clock.now += 700ms;
    line.searched("kicks", 3, 64);
    EXPECT_EQ(terminal.str(), kSave + kRestore + "criterion 2: refining, kicks 3/64, 0.7 s" + kClear);
    clock.now += 200ms;
    line.descending(2, 17);
    EXPECT_NE(terminal.str().find("criterion 2: refining, sweep 2, 17 moves, 0.9 s"), std::string::npos);
    // A bootstrap tells the replicates done and the time the rest will take
    // at the pace so far.
    line.startSearch(1);
    terminal.str("");
    clock.now += 2s;
    line.replicated(20, 100);
    EXPECT_EQ(terminal.str(),
              kSave + kRestore + "criterion 1: bootstrap 20/100 replicates, about 8 s left, 2.0 s" + kClear);
}

}  // namespace

#pragma once

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "driver/CommandLine.h"
#include "driver/ProgressLine.h"
#include "history/BlockCriterion.h"
#include "history/Bootstrap.h"
#include "history/DuplicationTree.h"
#include "history/Refinement.h"
#include "likelihood/MlHistory.h"
#include "output/SvgWriter.h"
#include "sequences/SequenceSet.h"

// What the options ask of the run, for the searches and the replicates.
struct RunSettings {
    int threads = 1;
    RefineSettings refining;
    BootstrapSettings bootstrap;
};

// With --ml and none of --kicks, --rebuilds and --ratchet, the searches
// that the likelihood search starts from.
constexpr int kMlKicks = 64, kMlRebuilds = 64, kMlRatchet = 16;

RunSettings settingsOf(const CommandLine& line, int threads);

// The criteria of one run on the loaded distances, each history written as
// the options ask.
class CriterionRuns {
public:
    CriterionRuns(const CommandLine& line, const RunSettings& settings, SequenceSet& sequences, std::ostream& out)
        : line_(line), settings_(settings), sequences_(sequences), out_(out) {}

    void run(const std::vector<const CriterionEntry*>& runs, bool all);

private:
    // The history by one criterion, refined when asked.
    void rebuild(const CriterionEntry& entry, bool moreToCome);
    // The history as the options ask: on standard output, and into the
    // files of --write-newick, --write-svg and --write-blocks.
    void write(const CriterionEntry& entry, bool all, const HistorySupport* support);
    // The files asked for, once every criterion has run.
    void writeFiles() const;
    // With --ml: tree_ searched by likelihood from where the refinement left it.
    void searchByLikelihood(const CriterionEntry& entry);
    MlSettings mlSettings() const;

    const CommandLine& line_;
    const RunSettings& settings_;
    SequenceSet& sequences_;
    std::ostream& out_;
    DuplicationTree tree_;
    // With --ml: what the likelihood search found for tree_.
    std::unique_ptr<MlOutcome> ml_;
    std::vector<SvgPanel> panels_;
    std::vector<std::string> newickLines_, blockRows_, ancestorLines_;
    bool allCriteria_ = false;
    // Progress goes to standard error, and only when that is a terminal.
    ProgressLine progress_{!line_.quiet && isatty(STDERR_FILENO) ? &std::cerr : nullptr};
};

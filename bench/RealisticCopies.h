#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "HistoryScore.h"
#include "HistorySimulator.h"

// Copies as real data comes: evolved along a simulated history's true tree
// and lengths under GTR with gamma rates and with insertions and deletions
// (INDELible), then aligned (MAFFT). Both are Debian's packages; a folder of
// scratch files is made once per process.
struct RealisticSettings {
    double alpha = 0.5;       // gamma shape, continuous rates
    double indelRate = 0.05;  // indel events per substitution
    std::uint64_t seed = 1;
};

// Whether indelible and mafft can be run.
bool haveRealisticTools();

// The aligned copies of `history`, in chromosome order, in upper case; empty
// when a tool failed. `seconds` is MAFFT's time.
std::vector<std::string> realisticCopies(const SimulatedHistory& history, const RealisticSettings& settings,
                                         double& seconds);

// Whether iqtree2 can be run.
bool haveIqtree();

// The splits of IQ-TREE's maximum-likelihood tree (-m GTR+G, or LG+G for
// protein, one thread, its default search) of the aligned copies; false when
// it failed.
bool iqtreeSplits(const std::vector<std::string>& copies, bool protein, std::set<Cluster>& splits, double& seconds);

// A folder of this process's own for scratch files.
const std::string& scratchFolder();

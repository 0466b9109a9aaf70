#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "history/BlockCriterion.h"
#include "history/DuplicationTree.h"
#include "history/EdgeLengths.h"

// Tandem duplication histories simulated forward in time under unequal
// crossover, and the copies that evolve along them.
//
// One ancestral segment is duplicated until `copies` segments lie side by
// side. Each event copies a run of s adjacent segments in place, x1..xs
// becoming x1..xs x1'..xs', the run placed uniformly; s is 1 with
// probability `singleShare` and otherwise uniform in 2..largestBlock, cut
// down so that the row neither runs out of segments to copy nor overshoots.
// Events come from a birth process (waiting times exponential with a rate
// proportional to the number of segments), every branch has a rate
// multiplier drawn from a log-normal of mean 1 and spread `rateSpread`, and
// the tree is scaled so that the mean root-to-copy distance is `divergence`
// substitutions per site. Sequences of `length` sites evolve down it under
// Jukes-Cantor, with 4 (DNA) or 20 (protein) states. The same settings give
// the same history.
struct SimulationSettings {
    int copies = 24;
    int length = 1000;
    double divergence = 0.1;
    double singleShare = 0.6;
    int largestBlock = 5;
    double rateSpread = 0.2;
    bool protein = false;
    std::uint64_t seed = 1;
};

struct SimulatedHistory {
    // The present-day copies, in chromosome order.
    std::vector<std::string> copies;
    // The true history, labelled as a reconstruction would label it: the
    // ancestral segments of the last event are v1, v2, ..., those of the
    // event before it follow, and the blocks are listed in that order.
    DuplicationTree truth;
    // The true length of every edge, by node number.
    EdgeLengths lengths;
    // The events in reverse time, as merge steps over the row of segments
    // of their moment: merging them in this order undoes the history.
    std::vector<CandidateBlock> merges;
};

SimulatedHistory simulateHistory(const SimulationSettings& settings);

// A family for speed benchmarks: blocks of one to three segments equally
// likely, 0.4 substitutions per site from the root.
std::vector<std::string> generateFamily(int n, int length, unsigned long seed, bool protein);

// The family as a native sequence file, FASTA, or Stockholm alignment.
std::string nativeText(const std::vector<std::string>& copies);
std::string fastaText(const std::vector<std::string>& copies);
std::string stockholmText(const std::vector<std::string>& copies);

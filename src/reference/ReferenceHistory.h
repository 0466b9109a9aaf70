#pragma once

// A plain reconstruction written as directly as the history model reads: a
// (2n-1) x (2n-1) table indexed by node number, full k x k score and mark
// tables at every step, and quartet votes enumerated with the acceptance test
// over all positions. The fast code is checked against it.

#include <string>
#include <utility>
#include <vector>

#include "sequences/DistanceMatrix.h"

struct ReferenceResult {
    std::string namedTree;
    std::string unnamedTree;
    std::string blockLine;
    std::vector<std::pair<int, int>> steps;  // (start, size) of every merge
    // Criterion 1: the vote matrix (k x k) after every update.
    std::vector<std::vector<std::vector<int>>> votesAfterUpdate;
};

ReferenceResult referenceReconstruct(const DistanceMatrix& distances, int criterion);

// The vote matrix that a fresh count over all quartets of the k positions of
// `table` gives (table indexed by position).
std::vector<std::vector<int>> freshQuartetVotes(const std::vector<std::vector<double>>& table);

// A distance matrix from a full symmetric table.
DistanceMatrix matrixFromTable(const std::vector<std::vector<double>>& table);

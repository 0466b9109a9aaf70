#pragma once

#include <iostream>
#include <string>

#include "history/Bootstrap.h"
#include "history/DuplicationTree.h"

// The block line: "Duplication Blocks:   " then "(v1, v2)   " for each block.
std::string blockLine(const DuplicationTree& tree);

// The support lines of a bootstrap: how many replicates were used and left
// out, then "Segment support:   " with "v1 87   " for every ancestral segment
// and "Block support:   " with "(v1, v2) 64   " for every block (whole
// percentages). When every replicate was left out, that one line alone.
std::vector<std::string> supportLines(const DuplicationTree& tree, const HistorySupport& support);

// Writes the report of one reconstruction: the header naming the criterion,
// the tree with internal names, the block line, the support lines when a
// support is given and, when all criteria run in turn, the tree without
// internal names and an empty line. Every line is flushed as it is written.
// With `refined`, the header says that the tree was refined from the criterion.
// With a `likelihood` line, that it was refined by maximum likelihood, and
// the line follows the block line.
void printReport(int criterion, const DuplicationTree& tree, bool allCriteria, std::ostream& out = std::cout,
                 const HistorySupport* support = nullptr, bool refined = false, const std::string& likelihood = "");

// x with `decimals` digits after the point ("-12345.678").
std::string fixedDecimals(double x, int decimals);

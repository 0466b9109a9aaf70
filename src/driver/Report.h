#pragma once

#include <iostream>
#include <string>

#include "history/DuplicationTree.h"

// The block line: "Duplication Blocks:   " then "(v1, v2)   " for each block.
std::string blockLine(const DuplicationTree& tree);

// Writes the report of one reconstruction: the header naming the criterion,
// the tree with internal names, the block line and, when all criteria run in
// turn, the tree without internal names and an empty line. Every line is
// flushed as it is written.
void printReport(int criterion, const DuplicationTree& tree, bool allCriteria, std::ostream& out = std::cout);

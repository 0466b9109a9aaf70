#pragma once

#include <string>
#include <vector>

#include "history/Bootstrap.h"
#include "history/DuplicationTree.h"

// The duplication blocks of a history as rows of a table (tab-separated),
// what a biologist tabulates, so that nobody has to parse the block line:
//   criterion  block  segments  copies  names  support  coordinates
// `block` is its number in the block line (from 1); `segments` its ancestral
// segments (v3,v4); `copies` the copies below each segment as ranges of copy
// numbers (0-2,5;3-4,6), segments apart by ';'; `names` the same copies by
// name; `support` the block's bootstrap support in percent (empty without
// one); `coordinates` the stretch of chromosome below each segment, from the
// first copy's start to the last copy's end, when every copy's name or
// description carries `NAME:START-END` (empty otherwise).
std::string blockTableHeader();
std::vector<std::string> blockTableRows(int criterion, const DuplicationTree& tree,
                                        const std::vector<std::string>& names,
                                        const std::vector<std::string>& descriptions, const HistorySupport* support);

#pragma once

#include <string>
#include <vector>

#include "history/Bootstrap.h"
#include "history/DuplicationTree.h"
#include "history/EdgeLengths.h"

// A leaf name as Newick writes it: quoted, with every quote doubled, when it
// holds a character that Newick reads as structure (blanks, ( ) [ ] ' : ; ,).
std::string newickLabel(const std::string& name);

// What a Newick line carries beyond the topology and the names.
struct NewickDetails {
    const EdgeLengths* lengths = nullptr;     // ":length" on every edge
    const HistorySupport* support = nullptr;  // NHX support of segments and blocks
    bool supportAsLabels = false;             // the support as the ancestral label instead
};

// The tree as one Newick line ending with ';': ancestral segments carry their
// names (v1, v2, ...) after the closing parenthesis, so the duplication blocks
// can still be found; leaves carry `names[k]` for segment k, or the segment
// number where there are no names (or the name is empty).
//
// With lengths, every edge has ":length" (a negative fit written as 0). With
// support, every ancestral segment has an NHX comment after its length,
// [&&NHX:support=87], and one that belongs to a block also the block's number
// in the block line and its support: [&&NHX:support=87:block=2:block_support=64].
// The root's comment also tells how many replicates were used and left out
// (those with an undefined distance): [&&NHX:support=100:replicates=98:left_out=2].
// With supportAsLabels, the support percentage stands in the place of the
// name instead and no comment is written.
std::string newickText(const DuplicationTree& tree, const std::vector<std::string>& names,
                       const NewickDetails& details = {});

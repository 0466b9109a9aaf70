#pragma once

#include <string>
#include <vector>

#include "history/BinaryTree.h"

// A leaf name as Newick writes it: quoted, with every quote doubled, when it
// holds a character that Newick reads as structure (blanks, ( ) [ ] ' : ; ,).
std::string newickLabel(const std::string& name);

// The tree as one Newick line ending with ';': ancestral segments carry their
// names (v1, v2, ...) after the closing parenthesis, so the duplication blocks
// can still be found; leaves carry `names[k]` for segment k, or the segment
// number where there are no names (or the name is empty).
std::string newickText(const BinaryTree& tree, const std::vector<std::string>& names);

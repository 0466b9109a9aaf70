#pragma once

#include <string>
#include <vector>

#include "history/Bootstrap.h"
#include "history/DuplicationTree.h"

// One reconstructed history drawn as an SVG group: the present-day segments
// as labelled boxes in chromosome order along the bottom, each ancestral
// segment above its two copies at the height of the merge step that made it
// (the root at the top), and every duplication block as one band joining its
// ancestral segments on their level, labelled with their names.
struct SvgPanel {
    std::vector<std::string> lines;  // the group's elements, one per line
    double width = 0;
    double height = 0;
};

// With a support, each ancestral segment shows its support percentage beside
// it (up to the number of copies that are labelled) and in its title, and
// each block's label ends with the block's support.
SvgPanel drawHistory(int criterion, const DuplicationTree& tree, const std::vector<std::string>& names,
                     const HistorySupport* support = nullptr, bool refined = false);

// A whole SVG 1.1 document with the panels side by side; no scripts, no
// external resources.
std::vector<std::string> svgDocument(const std::vector<SvgPanel>& panels);

#include "output/NewickWriter.h"

#include <cstdio>

namespace {

// A length with six significant digits, as short as that allows.
std::string lengthText(double length) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", shownLength(length));
    return text;
}

}  // namespace

std::string newickLabel(const std::string& name) {
    if (name.find_first_of(" \t()[]':;,") == std::string::npos) return name;
    std::string label = "'";
    for (const char c : name) {
        label += c;
        if (c == '\'') label += '\'';
    }
    return label + "'";
}

std::string newickText(const DuplicationTree& tree, const std::vector<std::string>& names,
                       const NewickDetails& details) {
    const int n = tree.leafCount;
    // The block (numbered from 1, as in the block line) of each ancestral segment.
    std::vector<std::size_t> blockOf(static_cast<std::size_t>(n > 0 ? n : 0), 0);
    for (std::size_t b = 0; b < tree.blocks.size(); ++b)
        for (const int label : tree.blocks[b]) blockOf[static_cast<std::size_t>(-label)] = b + 1;
    std::string text;
    auto edgeOf = [&](const TreeNode& node) {
        if (details.lengths != nullptr && node.parent != nullptr)
            text += ":" + lengthText(details.lengths->of(node, n));
    };
    BinaryTree::walk(
        tree.root.get(),
        [&](const TreeNode& leaf) {
            const auto k = static_cast<std::size_t>(leaf.label);
            text += k < names.size() && !names[k].empty() ? newickLabel(names[k]) : std::to_string(leaf.label);
            edgeOf(leaf);
        },
        [&](const TreeNode&) { text += '('; }, [&](const TreeNode&) { text += ','; },
        [&](const TreeNode& inner) {
            text += ')';
            const HistorySupport* support = details.support;
            // A segment of identical copies has no support to give: no
            // number, and an NHX tag that says so.
            const bool identical = support != nullptr && support->identical(inner.label);
            if (support != nullptr && support->used() > 0 && details.supportAsLabels) {
                if (!identical) text += std::to_string(support->segmentPercent(inner.label));
                edgeOf(inner);
                return;
            }
            text += ancestralName(inner.label);
            edgeOf(inner);
            if (support == nullptr || support->used() == 0) return;
            text += identical ? std::string("[&&NHX:identical_copies=1")
                              : "[&&NHX:support=" + std::to_string(support->segmentPercent(inner.label));
            if (inner.parent == nullptr)
                text +=
                    ":replicates=" + std::to_string(support->used()) + ":left_out=" + std::to_string(support->leftOut);
            const std::size_t block = blockOf[static_cast<std::size_t>(-inner.label)];
            if (block > 0) {
                text += ":block=" + std::to_string(block);
                if (!support->identicalBlock(tree.blocks[block - 1]))
                    text += ":block_support=" + std::to_string(support->blockPercent(block - 1));
            }
            text += ']';
        });
    return text + ";";
}

#include "output/NewickWriter.h"

std::string newickLabel(const std::string& name) {
    if (name.find_first_of(" \t()[]':;,") == std::string::npos) return name;
    std::string label = "'";
    for (const char c : name) {
        label += c;
        if (c == '\'') label += '\'';
    }
    return label + "'";
}

std::string newickText(const BinaryTree& tree, const std::vector<std::string>& names) {
    std::string text;
    BinaryTree::walk(
        tree.root.get(),
        [&](const TreeNode& leaf) {
            const auto k = static_cast<std::size_t>(leaf.label);
            text += k < names.size() && !names[k].empty() ? newickLabel(names[k]) : std::to_string(leaf.label);
        },
        [&](const TreeNode&) { text += '('; }, [&](const TreeNode&) { text += ','; },
        [&](const TreeNode& inner) {
            text += ')';
            text += ancestralName(inner.label);
        });
    return text + ";";
}

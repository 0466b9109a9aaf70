#include "output/BlockTable.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace {

// Where a copy lies, read from `NAME:START-END` in its name or description.
struct Span {
    std::string sequence;
    long long start = 0, end = 0;
};

std::optional<Span> spanIn(const std::string& text) {
    for (std::size_t colon = text.find(':'); colon != std::string::npos; colon = text.find(':', colon + 1)) {
        std::size_t begin = colon;
        while (begin > 0 && !std::isspace(static_cast<unsigned char>(text[begin - 1]))) --begin;
        std::size_t i = colon + 1, digits = 0;
        Span span;
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits)
            span.start = span.start * 10 + (text[i] - '0');
        if (digits == 0 || digits > 15 || i >= text.size() || text[i] != '-') continue;
        std::size_t after = 0;
        for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++after)
            span.end = span.end * 10 + (text[i] - '0');
        if (after == 0 || after > 15 || begin == colon) continue;
        span.sequence = text.substr(begin, colon - begin);
        return span;
    }
    return std::nullopt;
}

// The copies below every ancestral segment, by label (-label - 1).
std::vector<std::vector<int>> copiesBelow(const DuplicationTree& tree) {
    const int n = tree.leafCount;
    std::vector<std::vector<int>> below(static_cast<std::size_t>(std::max(n - 1, 0)));
    std::vector<const TreeNode*> stack;
    if (tree.root) stack.push_back(tree.root.get());
    while (!stack.empty()) {
        const TreeNode* node = stack.back();
        stack.pop_back();
        if (node->label >= 0) {
            for (const TreeNode* up = node->parent; up != nullptr; up = up->parent)
                below[static_cast<std::size_t>(-up->label - 1)].push_back(node->label);
            continue;
        }
        stack.push_back(node->left.get());
        stack.push_back(node->right.get());
    }
    for (std::vector<int>& copies : below) std::sort(copies.begin(), copies.end());
    return below;
}

// Ascending copy numbers as ranges: 0-2,5.
std::string ranges(const std::vector<int>& copies) {
    std::string text;
    for (std::size_t i = 0; i < copies.size();) {
        std::size_t j = i;
        while (j + 1 < copies.size() && copies[j + 1] == copies[j] + 1) ++j;
        text += (text.empty() ? "" : ",") + std::to_string(copies[i]);
        if (j > i) text += "-" + std::to_string(copies[j]);
        i = j + 1;
    }
    return text;
}

}  // namespace

std::string blockTableHeader() { return "criterion\tblock\tsegments\tcopies\tnames\tsupport\tcoordinates"; }

std::vector<std::string> blockTableRows(int criterion, const DuplicationTree& tree,
                                        const std::vector<std::string>& names,
                                        const std::vector<std::string>& descriptions, const HistorySupport* support) {
    const std::vector<std::vector<int>> below = copiesBelow(tree);
    auto nameOf = [&](int copy) {
        const auto k = static_cast<std::size_t>(copy);
        return k < names.size() && !names[k].empty() ? names[k] : std::to_string(copy);
    };
    auto spanOf = [&](int copy) {
        const auto k = static_cast<std::size_t>(copy);
        std::optional<Span> span = k < names.size() ? spanIn(names[k]) : std::nullopt;
        if (!span && k < descriptions.size()) span = spanIn(descriptions[k]);
        return span;
    };
    std::vector<std::string> rows;
    for (std::size_t b = 0; b < tree.blocks.size(); ++b) {
        std::string segments, copies, named, coordinates;
        bool located = true;
        for (const int label : tree.blocks[b]) {
            const std::vector<int>& mine = below[static_cast<std::size_t>(-label - 1)];
            const std::string gap = segments.empty() ? "" : ";";
            segments += (segments.empty() ? "" : ",") + ("v" + std::to_string(-label));
            copies += gap + ranges(mine);
            std::string list;
            for (const int copy : mine) list += (list.empty() ? "" : ",") + nameOf(copy);
            named += gap + list;
            std::optional<Span> first = spanOf(mine.front()), last = spanOf(mine.back());
            located = located && first && last && first->sequence == last->sequence;
            if (located)
                coordinates +=
                    gap + first->sequence + ":" + std::to_string(first->start) + "-" + std::to_string(last->end);
        }
        const std::string supportText =
            support != nullptr && support->used() > 0 ? std::to_string(support->blockPercent(b)) : "";
        rows.push_back(std::to_string(criterion) + "\t" + std::to_string(b + 1) + "\t" + segments + "\t" + copies +
                       "\t" + named + "\t" + supportText + "\t" + (located ? coordinates : ""));
    }
    return rows;
}

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

// Where the copies below each node lie in the order a walk meets the
// copies: those below node x (by number) are order[first[x] .. last[x]).
struct LeafRuns {
    std::vector<int> order, first, last;

    explicit LeafRuns(const DuplicationTree& tree) {
        const int n = tree.leafCount;
        first.assign(static_cast<std::size_t>(std::max(2 * n - 1, 0)), 0);
        last = first;
        auto at = [n](const TreeNode& node) { return static_cast<std::size_t>(nodeNumber(node.label, n)); };
        BinaryTree::walk(
            tree.root.get(),
            [&](const TreeNode& leaf) {
                first[at(leaf)] = static_cast<int>(order.size());
                order.push_back(leaf.label);
                last[at(leaf)] = static_cast<int>(order.size());
            },
            [&](const TreeNode& inner) { first[at(inner)] = static_cast<int>(order.size()); }, [](const TreeNode&) {},
            [&](const TreeNode& inner) { last[at(inner)] = static_cast<int>(order.size()); });
    }

    // The copies below the segment labelled `label`, ascending.
    std::vector<int> below(int label, int n) const {
        const auto x = static_cast<std::size_t>(nodeNumber(label, n));
        std::vector<int> copies(order.begin() + first[x], order.begin() + last[x]);
        std::sort(copies.begin(), copies.end());
        return copies;
    }
};

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
    const LeafRuns runs(tree);
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
            const std::vector<int> mine = runs.below(label, tree.leafCount);
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

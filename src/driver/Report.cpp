#include "driver/Report.h"

#include <cstdio>
#include <vector>

#include "common/OutputLines.h"

std::string fixedDecimals(double x, int decimals) {
    const int size = std::snprintf(nullptr, 0, "%.*f", decimals, x);
    std::vector<char> text(static_cast<std::size_t>(size) + 1);
    std::snprintf(text.data(), text.size(), "%.*f", decimals, x);
    return text.data();
}

std::string blockLine(const DuplicationTree& tree) {
    std::string line = "Duplication Blocks:   ";
    for (const DuplicationBlock& block : tree.blocks) line += blockName(block) + "   ";
    return line;
}

std::vector<std::string> supportLines(const DuplicationTree& tree, const HistorySupport& support) {
    if (support.used() == 0)
        return {"Bootstrap: all " + std::to_string(support.replicates) +
                " replicates were left out, each had an undefined distance: no support"};
    std::string segments = "Segment support:   ";
    for (int k = 1; k < tree.leafCount; ++k)
        segments += ancestralName(-k) + " " +
                    (support.identical(-k) ? std::string("identical") : std::to_string(support.segmentPercent(-k))) +
                    "   ";
    std::string blocks = "Block support:   ";
    for (std::size_t b = 0; b < tree.blocks.size(); ++b)
        blocks += blockName(tree.blocks[b]) + " " +
                  (support.identicalBlock(tree.blocks[b]) ? std::string("identical")
                                                          : std::to_string(support.blockPercent(b))) +
                  "   ";
    return {"Bootstrap: " + std::to_string(support.used()) + " replicates used, " + std::to_string(support.leftOut) +
                " left out (undefined distance)",
            segments, blocks};
}

void printReport(int criterion, const DuplicationTree& tree, bool allCriteria, std::ostream& out,
                 const HistorySupport* support, bool refined, const std::string& likelihood) {
    writeLine(out, (!likelihood.empty() ? "History tree refined by maximum likelihood from algorithm "
                    : refined           ? "History tree refined from algorithm "
                                        : "History tree constructed by algorithm ") +
                       std::to_string(criterion));
    writeLine(out, tree.toText(false));
    writeLine(out, blockLine(tree));
    if (!likelihood.empty()) writeLine(out, likelihood);
    if (support != nullptr)
        for (const std::string& line : supportLines(tree, *support)) writeLine(out, line);
    if (allCriteria) {
        writeLine(out, tree.toText(true));
        writeLine(out, "");
    }
}

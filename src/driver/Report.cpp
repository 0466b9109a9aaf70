#include "driver/Report.h"

namespace {

void writeLine(std::ostream& out, const std::string& text) { out << text << '\n' << std::flush; }

}  // namespace

std::string blockLine(const DuplicationTree& tree) {
    std::string line = "Duplication Blocks:   ";
    for (const DuplicationBlock& block : tree.blocks) {
        for (std::size_t i = 0; i < block.size(); ++i) line += (i == 0 ? "(" : ", ") + ancestralName(block[i]);
        line += ")   ";
    }
    return line;
}

void printReport(int criterion, const DuplicationTree& tree, bool allCriteria, std::ostream& out) {
    writeLine(out, "History tree constructed by algorithm " + std::to_string(criterion));
    writeLine(out, tree.toText(false));
    writeLine(out, blockLine(tree));
    if (allCriteria) {
        writeLine(out, tree.toText(true));
        writeLine(out, "");
    }
}

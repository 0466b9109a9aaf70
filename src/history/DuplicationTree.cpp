#include "history/DuplicationTree.h"

void DuplicationTree::clearHistory() {
    reset();
    blocks.clear();
}

std::string blockName(const DuplicationBlock& block) {
    std::string text;
    for (std::size_t i = 0; i < block.size(); ++i) text += (i == 0 ? "(" : ", ") + ancestralName(block[i]);
    return text + ")";
}

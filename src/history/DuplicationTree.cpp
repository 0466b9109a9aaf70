#include "history/DuplicationTree.h"

void DuplicationTree::clearHistory() {
    quartetVotes.reset();
    reset();
    blocks.clear();
}

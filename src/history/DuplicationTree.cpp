#include "history/DuplicationTree.h"

void DuplicationTree::clearHistory() {
    reset();
    blocks.clear();
}

// The reconstruction engine: from the present-day row of segments back to
// their single ancestor, one duplication block per step.
#include <stdexcept>
#include <string>
#include <utility>

#include "history/DuplicationTree.h"
#include "history/WorkingDistanceTable.h"

void DuplicationTree::reconstruct(const DistanceMatrix& distances, int criterion, ReconstructionProgress* progress) {
    const std::unique_ptr<BlockCriterion> chosen = makeBlockCriterion(criterion);
    if (!chosen) throw std::invalid_argument("no block-selection criterion " + std::to_string(criterion));
    reconstruct(distances, *chosen, progress);
}

void DuplicationTree::reconstruct(const DistanceMatrix& distances, BlockCriterion& criterion,
                                  ReconstructionProgress* progress) {
    clearHistory();
    WorkingDistanceTable table(distances);
    reconstructFrom(table, criterion, progress);
}

void DuplicationTree::reconstruct(DistanceMatrix&& distances, BlockCriterion& criterion,
                                  ReconstructionProgress* progress) {
    clearHistory();
    WorkingDistanceTable table(std::move(distances));
    reconstructFrom(table, criterion, progress);
}

void DuplicationTree::reconstructFrom(WorkingDistanceTable& table, BlockCriterion& criterion,
                                      ReconstructionProgress* progress) {
    const int n = table.size();
    if (n < 1) return;

    // The subtrees whose tops are the segments that lie side by side, in
    // chromosome order; the table is indexed by the same positions.
    std::vector<std::unique_ptr<TreeNode>> segmentNodes;
    segmentNodes.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) segmentNodes.push_back(std::make_unique<TreeNode>(nullptr, i));
    table.setThreads(criterion.threads());
    leafCount = n;
    criterion.begin(table, progress);

    int nextLabel = -1;
    while (segmentNodes.size() >= 2) {
        const CandidateBlock chosen = criterion.chooseBlock(table);
        const int start = chosen.start;
        const int size = chosen.size;
        criterion.merging(table, chosen);
        table.mergeBlock(start, size, criterion.readsRowSums(), criterion.readsGappedRows());

        DuplicationBlock block;
        for (int c = 0; c < size; ++c) {
            const std::size_t leftPos = static_cast<std::size_t>(start + c);
            const std::size_t rightPos = static_cast<std::size_t>(start + size + c);
            auto node = std::make_unique<TreeNode>(nullptr, nextLabel);
            node->left = std::move(segmentNodes[leftPos]);
            node->right = std::move(segmentNodes[rightPos]);
            node->left->parent = node.get();
            node->right->parent = node.get();
            if (size >= 2) block.push_back(nextLabel);
            segmentNodes[leftPos] = std::move(node);
            --nextLabel;
        }
        const auto removedFrom = static_cast<std::ptrdiff_t>(start + size);
        const auto removedTo = static_cast<std::ptrdiff_t>(start + 2 * size);
        segmentNodes.erase(segmentNodes.begin() + removedFrom, segmentNodes.begin() + removedTo);
        if (size >= 2) blocks.push_back(std::move(block));
        criterion.merged(table, chosen);
        if (progress != nullptr) progress->merged(-1 - nextLabel);
    }
    root = std::move(segmentNodes[0]);
}

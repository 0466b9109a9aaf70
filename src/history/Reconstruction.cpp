// The reconstruction engine: from the present-day row of segments back to
// their single ancestor, one duplication block per step.
#include <stdexcept>
#include <string>
#include <utility>

#include "history/DuplicationTree.h"

void DuplicationTree::reconstruct(const DistanceMatrix& distances, int criterion, ProgressLine* progress) {
    if (criterion < 1 || criterion > 3)
        throw std::invalid_argument("no block-selection criterion " + std::to_string(criterion));
    clearHistory();
    const int n = distances.count();
    if (n < 1) return;

    SegmentOrder order;
    std::vector<std::unique_ptr<TreeNode>> segmentNodes;
    order.reserve(static_cast<std::size_t>(n));
    segmentNodes.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        order.push_back(i);
        segmentNodes.push_back(std::make_unique<TreeNode>(nullptr, i));
    }
    WorkingDistanceTable table(distances);
    leafCount = n;
    if (progress != nullptr) progress->start(criterion, n - 1);
    if (criterion == 1) {
        quartetVotes = std::make_unique<QuartetVoteMatrix>(n);
        countAllQuartetVotes(order, table, progress);
    }

    int nextNodeNumber = n;
    int nextLabel = -1;
    while (order.size() >= 2) {
        int start = 0;
        int size = 1;
        switch (criterion) {
        case 1: chooseBlockByQuartetVotes(order, table, start, size); break;
        case 2: chooseBlockByMutualNeighbours(order, table, start, size); break;
        default: chooseBlockByLeastMeanScore(order, table, start, size); break;
        }

        table.mergeBlock(start, size);

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
            order[leftPos] = nextNodeNumber;
            --nextLabel;
            ++nextNodeNumber;
        }
        const auto removedFrom = static_cast<std::ptrdiff_t>(start + size);
        const auto removedTo = static_cast<std::ptrdiff_t>(start + 2 * size);
        order.erase(order.begin() + removedFrom, order.begin() + removedTo);
        segmentNodes.erase(segmentNodes.begin() + removedFrom, segmentNodes.begin() + removedTo);
        if (size >= 2) blocks.push_back(std::move(block));
        if (criterion == 1) updateQuartetVotesAfterMerge(order, table, start, size);
        if (progress != nullptr) progress->merged(nextNodeNumber - n);
    }
    root = std::move(segmentNodes[0]);
    if (progress != nullptr) progress->finish();
}

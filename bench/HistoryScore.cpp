#include "HistoryScore.h"

#include <algorithm>
#include <iterator>

std::vector<Cluster> copiesBelow(const DuplicationTree& tree) {
    std::vector<Cluster> below(static_cast<std::size_t>(std::max(tree.leafCount, 1)));
    std::vector<Cluster> stack;
    BinaryTree::walk(
        tree.root.get(), [&](const TreeNode& leaf) { stack.push_back({leaf.label}); }, [](const TreeNode&) {},
        [](const TreeNode&) {},
        [&](const TreeNode& inner) {
            Cluster right = std::move(stack.back());
            stack.pop_back();
            Cluster& left = stack.back();
            Cluster merged;
            std::merge(left.begin(), left.end(), right.begin(), right.end(), std::back_inserter(merged));
            left = merged;
            below[static_cast<std::size_t>(-inner.label)] = merged;
        });
    return below;
}

std::set<Cluster> clustersOf(const DuplicationTree& tree) {
    std::set<Cluster> clusters;
    const std::vector<Cluster> below = copiesBelow(tree);
    for (std::size_t k = 1; k < below.size(); ++k)
        if (static_cast<int>(below[k].size()) < tree.leafCount) clusters.insert(below[k]);
    return clusters;
}

std::set<Cluster> splitsOf(const std::set<Cluster>& clusters, int n) {
    std::set<Cluster> splits;
    for (const Cluster& cluster : clusters) {
        Cluster side = cluster;
        if (std::binary_search(cluster.begin(), cluster.end(), 0)) {
            side.clear();
            for (int i = 0; i < n; ++i)
                if (!std::binary_search(cluster.begin(), cluster.end(), i)) side.push_back(i);
        }
        if (side.size() >= 2 && static_cast<int>(side.size()) <= n - 2) splits.insert(side);
    }
    return splits;
}

std::set<Cluster> clustersOfNewick(const std::string& newick) {
    std::set<Cluster> clusters;
    std::vector<Cluster> open;
    std::size_t leaves = 0;
    for (std::size_t i = 0; i < newick.size();) {
        const char c = newick[i];
        if (c == '(') {
            open.emplace_back();
            ++i;
        } else if (c == ')') {
            Cluster done = std::move(open.back());
            open.pop_back();
            std::sort(done.begin(), done.end());
            if (!open.empty()) {
                open.back().insert(open.back().end(), done.begin(), done.end());
                clusters.insert(done);
            }
            ++i;
        } else if (c == 's' && !open.empty()) {
            std::size_t end = i + 1;
            while (end < newick.size() && newick[end] >= '0' && newick[end] <= '9') ++end;
            open.back().push_back(std::stoi(newick.substr(i + 1, end - i - 1)));
            ++leaves;
            i = end;
        } else if (c == ':') {  // a length: skip it
            ++i;
            while (i < newick.size() && newick[i] != ',' && newick[i] != ')' && newick[i] != ';') ++i;
        } else {
            ++i;
        }
    }
    // The whole set is no cluster.
    for (auto it = clusters.begin(); it != clusters.end();)
        it = it->size() >= leaves ? clusters.erase(it) : std::next(it);
    return clusters;
}

double normalisedDistance(const std::set<Cluster>& a, const std::set<Cluster>& b) {
    if (a.empty() && b.empty()) return 0.0;
    std::vector<Cluster> shared;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(shared));
    const double differing = static_cast<double>(a.size() + b.size() - 2 * shared.size());
    return differing / static_cast<double>(a.size() + b.size());
}

HistoryScore scoreHistory(const DuplicationTree& truth, const DuplicationTree& found) {
    HistoryScore score;
    const int n = truth.leafCount;
    const std::set<Cluster> trueClusters = clustersOf(truth);
    const std::set<Cluster> foundClusters = clustersOf(found);
    score.exact = trueClusters == foundClusters;
    score.rootedRF = normalisedDistance(trueClusters, foundClusters);
    std::vector<Cluster> shared;
    std::set_intersection(trueClusters.begin(), trueClusters.end(), foundClusters.begin(), foundClusters.end(),
                          std::back_inserter(shared));
    score.clusterShare =
        trueClusters.empty() ? 1.0 : static_cast<double>(shared.size()) / static_cast<double>(trueClusters.size());
    score.unrootedRF = normalisedDistance(splitsOf(trueClusters, n), splitsOf(foundClusters, n));

    // Blocks as the sets of copies of their segments, in order.
    auto asCopies = [](const DuplicationTree& tree) {
        const std::vector<Cluster> below = copiesBelow(tree);
        std::set<std::vector<Cluster>> blocks;
        for (const DuplicationBlock& block : tree.blocks) {
            std::vector<Cluster> segments;
            for (const int label : block) segments.push_back(below[static_cast<std::size_t>(-label)]);
            blocks.insert(segments);
        }
        return blocks;
    };
    const auto trueBlocks = asCopies(truth);
    const auto foundBlocks = asCopies(found);
    score.trueBlocks = static_cast<int>(trueBlocks.size());
    score.foundBlocks = static_cast<int>(foundBlocks.size());
    for (const auto& block : foundBlocks) score.matchedBlocks += static_cast<int>(trueBlocks.count(block));
    return score;
}

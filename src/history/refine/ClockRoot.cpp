#include "history/refine/ClockRoot.h"

#include <vector>

#include "history/DuplicationTree.h"
#include "history/EdgeLengths.h"
#include "history/refine/Recognition.h"
#include "history/refine/Replay.h"
#include "history/refine/Rooting.h"
#include "history/refine/Unrooted.h"

namespace refine {

namespace {

// Variance of the root-to-copy distances under the fitted lengths.
double rootToCopyVariance(const DuplicationTree& tree, const DistanceMatrix& distances) {
    const EdgeLengths lengths = fitEdgeLengths(tree, distances);
    std::vector<double> depths;
    struct Visit {
        const TreeNode* node;
        double depth;
    };
    std::vector<Visit> stack = {{tree.root.get(), 0.0}};
    while (!stack.empty()) {
        const Visit visit = stack.back();
        stack.pop_back();
        if (visit.node->label >= 0) {
            depths.push_back(visit.depth);
            continue;
        }
        for (const TreeNode* c : {visit.node->left.get(), visit.node->right.get()})
            stack.push_back({c, visit.depth + lengths.of(*c, tree.leafCount)});
    }
    return varianceOf(depths);
}

}  // namespace

double varianceOf(const std::vector<double>& depths) {
    double mean = 0.0;
    for (const double d : depths) mean += d;
    mean /= static_cast<double>(depths.size());
    double variance = 0.0;
    for (const double d : depths) variance += (d - mean) * (d - mean);
    return variance / static_cast<double>(depths.size());
}

Topology clockLikeRoot(const Topology& t, const DistanceMatrix& distances) {
    return leastVarianceRoot(
        t, [&](const Topology& candidate) { return rootToCopyVariance(historyOf(candidate, distances), distances); });
}

Topology leastVarianceRoot(const Topology& t, const std::function<double(const Topology&)>& varianceOfRooting) {
    const std::vector<int> path = rootPath(t);
    double best = 0.0;
    bool found = false;
    Topology chosen = t;
    for (const int x : path) {
        const Topology candidate = rootedAbove(t, x);
        if (!recognise(candidate, nullptr)) continue;
        const double variance = varianceOfRooting(candidate);
        if (!found || variance < best) {
            best = variance;
            chosen = candidate;
            found = true;
        }
    }
    return chosen;
}

}  // namespace refine

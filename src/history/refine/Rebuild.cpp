#include "history/refine/Rebuild.h"

#include <utility>
#include <vector>

#include "history/DuplicationTree.h"
#include "history/refine/Replay.h"
#include "history/refine/Rooting.h"

namespace refine {

Topology rebuiltFrom(Topology rooted, Reduction& reduction, const Rebuilders& rebuilders,
                     const DistanceMatrix& distances) {
    int fewestAt = -1;
    std::size_t fewest = static_cast<std::size_t>(rooted.n) + 1;
    walkRoot(rooted, reduction, [&](int c, std::size_t left) {
        if (left < fewest) {
            fewest = left;
            fewestAt = c;
        }
        return left == 1;
    });
    if (fewestAt >= 0) rooted = rootedAbove(rooted, fewestAt);
    std::vector<CandidateBlock> merges;
    recognise(rooted, &merges);
    ReplayedMerges replay(std::move(merges), fewest <= kQuartetRebuildLimit ? &rebuilders.quartets : &rebuilders.own);
    DuplicationTree tree;
    tree.reconstruct(distances, replay);
    return topologyOf(tree);
}

Topology rebuiltTree(const Unrooted& g, int v, int p, const Move& move, int n, int root, Reduction& reduction,
                     const Rebuilders& rebuilders, const DistanceMatrix& distances) {
    Unrooted moved;
    Topology rooted;
    moveAndRootOnFirst(g, v, p, move, n, root, moved, rooted);
    return rebuiltFrom(std::move(rooted), reduction, rebuilders, distances);
}

}  // namespace refine

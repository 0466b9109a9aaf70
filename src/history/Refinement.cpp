#include "history/Refinement.h"

#include "history/refine/BalancedLength.h"
#include "history/refine/ClockRoot.h"
#include "history/refine/Recognition.h"
#include "history/refine/Replay.h"
#include "history/refine/Search.h"
#include "history/refine/Topology.h"

void refineHistory(DuplicationTree& history, const DistanceMatrix& distances, const RefineSettings& settings,
                   ReconstructionProgress* progress) {
    const int n = history.leafCount;
    if (n < 4 || !history.root) return;
    refine::Topology t = refine::Search(distances, settings, n, progress).run(refine::topologyOf(history));
    if (settings.clockRoot) t = refine::clockLikeRoot(t, distances);
    history = refine::historyOf(t, distances);
}

bool isDuplicationTree(const BinaryTree& tree) { return refine::reducible(refine::topologyOf(tree)); }

bool isDuplicationTreeByScan(const BinaryTree& tree) { return refine::recognise(refine::topologyOf(tree), nullptr); }

double balancedLength(const BinaryTree& tree, const DistanceMatrix& distances) {
    refine::BalancedLength length(distances, tree.leafCount);
    return length.of(refine::topologyOf(tree));
}

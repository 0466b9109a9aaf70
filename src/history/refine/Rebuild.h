#pragma once

#include <cstddef>

#include "history/BlockCriterion.h"
#include "history/refine/Moves.h"
#include "history/refine/Recognition.h"
#include "history/refine/Topology.h"
#include "history/refine/Unrooted.h"
#include "sequences/DistanceMatrix.h"

namespace refine {

// What makes a rebuilt history whole: the quartet votes, the criterion that
// recovers true histories best, whichever criterion the history came from,
// as long as at most kQuartetRebuildLimit segments are left (their cost grows
// as the fourth power of that number); beyond it the history's own criterion.
constexpr std::size_t kQuartetRebuildLimit = 300;
struct Rebuilders {
    BlockCriterion& own;
    BlockCriterion& quartets;
};

// A tree rooted on the first copy's edge made a duplication tree again:
// rooted where its reduction leaves the fewest segments (the first such
// place from there), the events that reduction merges kept, and the rest of
// the history chosen over the segments left (see Rebuilders).
Topology rebuiltFrom(Topology rooted, Reduction& reduction, const Rebuilders& rebuilders,
                     const DistanceMatrix& distances);

// The tree after moving the subtree below v (its parent p with it) as `move`
// says, made a duplication tree again however the move left it.
Topology rebuiltTree(const Unrooted& g, int v, int p, const Move& move, int n, int root, Reduction& reduction,
                     const Rebuilders& rebuilders, const DistanceMatrix& distances);

}  // namespace refine

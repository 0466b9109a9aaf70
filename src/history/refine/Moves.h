#pragma once

#include "history/refine/Recognition.h"
#include "history/refine/Topology.h"
#include "history/refine/Unrooted.h"

namespace refine {

// A move of a pruned subtree (with its parent) onto the edge between `from`
// and `to`; `gain` is the change of the score it makes (below 0: better).
struct Move {
    double gain;
    int from;
    int to;
};

// The tree after moving the subtree below v (its parent p with it) as `move`
// says, rooted on the first copy's edge (the root numbered `root`).
void moveAndRootOnFirst(const Unrooted& g, int v, int p, const Move& move, int n, int root, Unrooted& moved,
                        Topology& rooted);

// The same tree rooted as a duplication tree (see rootAsDuplicationTree);
// false when no root makes it one.
bool movedTree(const Unrooted& g, int v, int p, const Move& move, int n, int root, Reduction& reduction,
               Unrooted& moved, Topology& rooted);

}  // namespace refine

#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "history/refine/Recognition.h"
#include "history/refine/Topology.h"

namespace refine {

// The nodes above whose edge a root can stand for the tree to be a
// duplication tree: those on the path from the first copy to the last (the
// edge above the meeting point is the root's own and is not among them).
std::vector<int> rootPath(const Topology& t);

// Reduces the tree rooted at each place along its root path in turn, from
// where it is rooted now: `visit(c, left)` hears the node c above whose edge
// the root stands (-1 for where it stands now) and how many segments the
// reduction leaves there, and returns true to stop the walk.
//
// Every valid root lies on the path from the first copy to the last, and a
// node off that path has the same parent wherever on it the root stands: the
// events among such nodes are merged once, and each rooting only finishes
// the reduction from there.
//
// With `earlier`, the events merged off the path are first those of a run
// recorded on a tree rooted where t is, whose nodes had the children they
// have in t but for those in `changed` (see Reduction::replay); the walk
// then finishes what they leave, with the same outcome.
struct EarlierReduction {
    const std::vector<int>& events;
    const std::vector<int>& changed;
};
void walkRoot(const Topology& t, Reduction& reduction, const std::function<bool(int, std::size_t)>& visit,
              const EarlierReduction* earlier = nullptr);

// Roots the unrooted tree of t where it is a duplication tree: where it is
// now if it is one there, else at the first position along the root path.
// False (t unchanged) when no root makes it one.
bool rootAsDuplicationTree(Topology& t, Reduction& reduction, const EarlierReduction* earlier = nullptr);

}  // namespace refine

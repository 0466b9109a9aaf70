#pragma once

#include "history/refine/Topology.h"
#include "sequences/DistanceMatrix.h"

namespace refine {

// The tree length does not depend on the root, so the root of a refined tree
// is chosen among the positions that give a duplication tree (all on the
// path from the first copy to the last) as the most clock-like: the one whose
// fitted edge lengths give the least variance of the root-to-copy distances,
// the first such position from the first copy's side on ties. t must be a
// duplication tree.
Topology clockLikeRoot(const Topology& t, const DistanceMatrix& distances);

}  // namespace refine

#pragma once

#include <functional>
#include <vector>

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

// The same choice with the variance of each valid rooting given: the
// rooting of least variance, the first from the first copy's side on ties;
// t itself when none is valid.
Topology leastVarianceRoot(const Topology& t, const std::function<double(const Topology&)>& variance);

// The variance of root-to-copy distances (divided by their number).
double varianceOf(const std::vector<double>& depths);

}  // namespace refine

#pragma once

#include <vector>

#include "history/DuplicationTree.h"
#include "sequences/DistanceMatrix.h"

// Edge lengths of a reconstructed history, fitted to the distances of its
// copies by ordinary least squares on its topology (the subtree-average
// formulas, O(n^2) in all).
//
// The fit sees the tree unrooted, so it gives only the sum of the two edges
// below the root. That sum is split so that the mean root-to-copy distance
// is the same on both sides of the root, which is the split that minimises
// the variance of the root-to-copy distances; the split is kept between 0
// and the sum.
//
// Lengths are the raw fitted values and may be negative; writers show a
// negative length as 0 (shownLength).
struct EdgeLengths {
    // The edge above each node, by node number (nodeNumber()); 0 for the root.
    std::vector<double> above;

    double of(const TreeNode& node, int leafCount) const {
        return above[static_cast<std::size_t>(nodeNumber(node.label, leafCount))];
    }
};

EdgeLengths fitEdgeLengths(const DuplicationTree& tree, const DistanceMatrix& distances);

// A fitted length as it is written: negative values as 0.
inline double shownLength(double length) { return length <= 0.0 ? 0.0 : length; }

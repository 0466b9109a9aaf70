#pragma once

#include <set>
#include <string>
#include <vector>

#include "history/DuplicationTree.h"

// How close a reconstructed history comes to the true one.
//
// A cluster is the set of copies below an ancestral segment other than the
// root. The rooted Robinson-Foulds distance counts the clusters found in one
// tree only, normalised by the clusters of both (0: the same rooted tree, 1:
// none shared). A true block of two or more segments is recovered when the
// reconstruction has a block with the same sets of copies in the same order.
// The unrooted distance does the same for splits (the bipartitions of the
// copies that edges make, leaving out those that cut off a single copy).
struct HistoryScore {
    bool exact = false;
    double rootedRF = 0.0;
    double clusterShare = 0.0;  // of the true clusters, the share found
    int trueBlocks = 0;
    int foundBlocks = 0;
    int matchedBlocks = 0;
    double unrootedRF = 0.0;
};

using Cluster = std::vector<int>;  // copies, ascending

// The copies below every ancestral segment, entry k for vk (entry 0 empty).
std::vector<Cluster> copiesBelow(const DuplicationTree& tree);
std::set<Cluster> clustersOf(const DuplicationTree& tree);
// The splits of n copies, each as its side without copy 0.
std::set<Cluster> splitsOf(const std::set<Cluster>& clusters, int n);
// The clusters of a Newick tree whose leaves are named s0, s1, ... (as the
// benchmark writes them), rooted as written.
std::set<Cluster> clustersOfNewick(const std::string& newick);
// Normalised symmetric difference of two sets (0 when both are empty).
double normalisedDistance(const std::set<Cluster>& a, const std::set<Cluster>& b);

HistoryScore scoreHistory(const DuplicationTree& truth, const DuplicationTree& found);

#pragma once

#include "history/DuplicationTree.h"
#include "history/ReconstructionProgress.h"
#include "history/refine/Settings.h"
#include "sequences/DistanceMatrix.h"

// Local search among duplication trees: a reconstructed history is improved
// by rearrangements that keep it a duplication tree for the fixed order of
// the copies, under the balanced minimum evolution length (the sum over
// pairs of copies of d(i, j) 2^(1 - t(i, j)), t the number of edges between
// them in the unrooted tree). The parts live in history/refine/:
//
// - the tree: Topology (rooted, in integer arrays), Unrooted, FirstCopyView;
// - what is a duplication tree: Recognition (the scan and the reduction),
//   Rooting (the roots along the path between the end copies), MoveTrial
//   (the span test and the trial of a move);
// - the score: BalancedLength, SideAverages, BalancedScorer (a MoveScorer);
// - the search: Descent (sweeps of prune-and-regraft moves until none
//   improves), Search (kicks, rebuilds from the neighbour-joining tree and
//   from moved subtrees, the ratchet, batches of starts across threads),
//   Rebuild, Ratchet, NeighbourJoining;
// - the result: ClockRoot (the most clock-like valid root), Replay (the
//   history made again through the engine, with its blocks).
//
// A descent ends where no single move shortens the tree. Kicks move a
// subtree to its least lengthening valid place and descend again; rebuilds
// let a subtree take its most shortening place whatever it does to the
// history and make the history whole again by the quartet votes (by the
// criterion it came from when more than 300 segments are left); ratchet
// rounds descend under distances shaken by a factor of their own for every
// pair. Each keeps what is shorter. The root is then chosen among the valid
// ones as the most clock-like.

// Replaces `history` by its refinement: the tree, relabelled and with its
// blocks read off as a reconstruction would make them. Rebuilds need
// `settings.criterion`.
// `progress`, when given, hears how far the searches have come.
void refineHistory(DuplicationTree& history, const DistanceMatrix& distances, const RefineSettings& settings = {},
                   ReconstructionProgress* progress = nullptr);

// Whether a rooted tree over the copies 0 .. n-1 (in chromosome order) is a
// duplication tree: it is reduced to one segment by merging, again and
// again, a visible duplication event, a run of s sibling pairs at positions
// a + c and a + s + c (c = 0 .. s-1) of the current row. Children may stand in
// either order; the row decides which copy is the left one.
bool isDuplicationTree(const BinaryTree& tree);

// The same test done the other way: the first visible event of the row each
// time, the order in which the merges of a history are read off. Any visible
// event may be merged first, so the two always agree.
bool isDuplicationTreeByScan(const BinaryTree& tree);

// The balanced minimum evolution length of a tree over the distances.
double balancedLength(const BinaryTree& tree, const DistanceMatrix& distances);

#pragma once

#include <vector>

#include "history/BlockCriterion.h"
#include "history/DuplicationTree.h"
#include "sequences/DistanceMatrix.h"

// Local search among duplication trees: a reconstructed history is improved
// by rearrangements that keep it a duplication tree for the fixed order of
// the copies, until no rearrangement shortens it.
//
// Moves prune a subtree (with its parent) and regraft it on any edge of the
// rest of the tree. For every subtree in turn (children before parents, seen
// from the first copy), the moves that shorten the tree are tried from the
// most shortening (ties in the order met), and the first that can be rooted
// as a duplication tree is taken, rooted on the first copy's edge if it is
// one there, else at the first valid position along the path from the first
// copy to the last; sweeps repeat until one takes nothing. The tree length
// is the balanced minimum evolution length, the sum over pairs of copies of
// d(i, j) 2^(1 - t(i, j)), t being the number of edges between them in the
// unrooted tree. The gain of every move of one subtree comes from one walk
// over the tree and a table of balanced averages between its sides, rebuilt
// after each move taken.
//
// A descent ends where no single move shortens the tree. It is then kicked
// out of that point: for up to `kicks` subtrees in turn (the same order), the
// subtree takes the valid move that lengthens the tree the least, the search
// descends from there, and the result replaces the tree when it is shorter.
//
// Rebuilds go further, where every shortening move breaks a duplication
// event: for up to `rebuilds` subtrees in turn, the subtree takes its most
// shortening move whatever it does to the history; the tree is rooted where
// its reduction leaves the fewest segments, the events that reduction merges
// are kept, the quartet votes choose the rest over the segments left (the
// criterion the history came from does when more than 300 are left), the
// search descends from there, and the result replaces the tree when it is
// shorter. The first rebuild, before those of the subtrees,
// starts from the neighbour-joining tree of the distances instead of a
// moved subtree.
//
// The ratchet ends the search: for `ratchet` rounds, four at a time from the
// same tree, the tree descends under distances shaken by a factor of its own
// for every pair (drawn evenly between 0.5 and 1.5, the same for a round on
// any machine), then under the real distances again; the shortest of the
// four replaces the tree when it is shorter.
//
// The tree length does not depend on the root, so the root is then chosen
// among the positions that give a duplication tree (all on the path from the
// first copy to the last) as the most clock-like: the one whose fitted edge
// lengths give the least variance of the root-to-copy distances, the first
// such position from the first copy's side on ties.
struct RefineSettings {
    bool clockRoot = true;  // false: keep the root the search ended with
    int kicks = 0;
    int rebuilds = 0;  // made only when refineHistory is given the criterion
    int ratchet = 0;
    // Threads that the descents of kicks, rebuilds and ratchet rounds (and a
    // rebuild's quartet votes) may run on; the trees are the same for any
    // number.
    int threads = 1;
};

// Replaces `history` by its refinement: the tree, relabelled and with its
// blocks read off as a reconstruction would make them.
// `criterion`, the criterion the history came from, rebuilds it where a
// rebuild leaves more segments than the quartet votes can take in good time
// (no rebuilds are made without it).
void refineHistory(DuplicationTree& history, const DistanceMatrix& distances, const RefineSettings& settings = {},
                   BlockCriterion* criterion = nullptr);

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

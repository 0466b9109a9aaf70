#pragma once

#include <vector>

#include "history/refine/FirstCopyView.h"
#include "history/refine/Moves.h"
#include "history/refine/Topology.h"
#include "history/refine/Unrooted.h"

namespace refine {

// Room that listing moves uses, one for each thread that lists them, kept
// from call to call: what the walk over the tree carries into each node.
// (The caller keeps it, not each thread for itself: the C library aborts
// the program when a thread cannot register storage of its own because
// memory has run out.)
struct MoveScratch {
    struct Carry {
        double w;       // 2^-(k + 1) for the k edges between p and the node
        double cross;   // A'(X, Z) of the edge just passed
        double toBack;  // A'(S, side behind the edge just passed)
    };
    std::vector<Carry> carried;
};

// How a search tells a better tree: a tree's exact score (lower is better)
// and the gain of every move of a subtree on the current tree. The moves,
// their validity, the descent and the strategies are the same whatever the
// score; an objective supplies one of these.
class MoveScorer {
public:
    virtual ~MoveScorer() = default;

    // The score of a rooted tree over the copies.
    virtual double scoreOf(const Topology& t) = 0;
    // Makes the gains of moves on the tree g ready, g hung from copy 0 as
    // `view` shows it.
    virtual void reset(const Unrooted& g, const FirstCopyView& view) = 0;
    // The same after the move of a subtree, its parent p with it, to another
    // edge: g is the moved tree, `view` shows it, and `above` lists the nodes
    // that were above p before the move. A scorer may update what it keeps
    // instead of making it again.
    virtual void moved(const Unrooted& g, const FirstCopyView& view, int p, const std::vector<int>& above) {
        (void)p;
        (void)above;
        reset(g, view);
    }
    // The moves of the subtree below v (its parent with it) to an edge of
    // the rest of the tree whose gain is below `below`, with their gains, in
    // the order met (v not copy 0 nor its neighbour). Threads that list moves
    // at once each have a scratch of their own.
    virtual std::vector<Move> movesOf(const Unrooted& g, const FirstCopyView& view, int v, double below,
                                      MoveScratch& scratch) const = 0;
};

}  // namespace refine

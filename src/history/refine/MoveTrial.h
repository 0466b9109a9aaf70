#pragma once

#include <utility>
#include <vector>

#include "history/refine/Moves.h"
#include "history/refine/Recognition.h"

namespace refine {

// The tree before a move, rooted on the first copy's edge, from which the
// moves of a descent are tried, with the span of copies below each node (the
// least and the greatest copy number) and the scratch of the tries.
//
// A cheap test comes first. When a segment is copied, its left copy's
// descendants begin before the right copy's and end before them too: a
// tandem duplication moves every segment after the copied run to the right,
// and both the first and the last place a lineage holds follow that
// increasing map. So below every ancestral segment of a duplication tree
// the two children's spans are not nested. A node off the path from the
// first copy to the last has the same children wherever on that path the
// root stands, and every valid root stands there: one such node with nested
// children's spans rules the tree out.
//
// The same holds for any two segments side by side in some row, and the two
// children of a node stay side by side until one of them is copied: first
// the left one alone (its two copies, then the right one), or the right one
// alone, or both in one block (left copy of each, then right copy of each).
// A node off the path whose children's children fit none of the three is
// ruled out too.
class MoveTrial {
public:
    // The tree `g` now is, its root numbered `root`.
    void reset(const Unrooted& g, int n, int root);

    // Whether the tree after moving the subtree below v (its parent p with
    // it) as `move` says can be rooted as a duplication tree: the same
    // answer as movedTree's (v is not the first copy's neighbour). Rooted on
    // the first copy's edge, the move changes the parents of three nodes
    // only: p's other child takes p's place, and p takes the place of the
    // lower end of the edge it goes to (the first copy's neighbour, when it
    // goes to the first copy's own edge).
    bool valid(int v, int p, const Move& move, Reduction& reduction);

    // Whether the spans alone rule that tree out; valid() is false for every
    // move this is true for.
    bool ruledOutBySpans(int v, int p, const Move& move);

private:
    // The moved tree in probe_; gives the node that the subtree left.
    int probe(int v, int p, const Move& move);
    bool ruledOut(int lost, int p);
    bool noRootOnPath();
    // The span of copies below y in the moved tree.
    void spanOf(int y, int& l, int& h) const {
        const auto uy = static_cast<std::size_t>(y);
        if (mark_[uy] == -stamp_) {
            l = newLo_[uy];
            h = newHi_[uy];
        } else {
            l = lo_[uy];
            h = hi_[uy];
        }
    }
    bool remake(int y);
    bool firstCopyingPossible(int u) const;

    Topology first_, probe_;
    // Whether probe_ is first_ but for the nodes in touched_, which the last
    // probe changed.
    bool probeIsFirst_ = false;
    std::vector<int> touched_;
    // Of those, the nodes whose children the last probe changed.
    std::vector<int> changed_;
    // The events of a reduction of first_, in the order merged.
    Reduction recorder_;
    std::vector<int> events_;
    std::vector<int> lo_, hi_;
    // Per try: mark_ is the try's stamp on the way up from where S left,
    // its negative once a node's new span is made; onPath_ the stamp on the
    // path from the last copy up.
    std::vector<int> mark_, onPath_, newLo_, newHi_;
    int stamp_ = 0;
    std::vector<int> path_, highAbove_;
    std::vector<std::pair<int, int>> side_;
    std::vector<char> sound_;
};

}  // namespace refine

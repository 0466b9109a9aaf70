#include "history/refine/Moves.h"

#include "history/refine/Rooting.h"

namespace refine {

void moveAndRootOnFirst(const Unrooted& g, int v, int p, const Move& move, int n, int root, Unrooted& moved,
                        Topology& rooted) {
    moved = g;
    moved.move(v, p, move.from, move.to);
    moved.rootOn(0, moved.next[0][0], n, root, rooted);
}

bool movedTree(const Unrooted& g, int v, int p, const Move& move, int n, int root, Reduction& reduction,
               Unrooted& moved, Topology& rooted) {
    moveAndRootOnFirst(g, v, p, move, n, root, moved, rooted);
    return rootAsDuplicationTree(rooted, reduction);
}

}  // namespace refine

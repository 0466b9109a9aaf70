#include "history/refine/BalancedScorer.h"

#include <array>
#include <cmath>
#include <limits>
#include <utility>

namespace refine {

std::vector<Move> BalancedScorer::movesOf(const Unrooted& g, const FirstCopyView& view, int v, double below,
                                          MoveScratch& scratch) const {
    return balancedMoves(averages_, view, g, v, below, scratch);
}

namespace {

// Each move is written in place: a Move made whole and then copied in was
// read back wider than it was written, a stall on every step of the walk.
void keep(std::vector<Move>& moves, double gain, int from, int to) {
    Move& move = moves.emplace_back();
    move.gain = gain;
    move.from = from;
    move.to = to;
}

}  // namespace

// With S the pruned subtree, p its parent and the
// rest T', putting S on the edge (x, z) of T' gives the length
//   L(T') + (A(S, X) + A(S, Z) - A'(X, Z)) / 2
// (X and Z the two sides of the edge in T', A' the averages in T'), so only
// that half-sum matters. Walking from the edge that p leaves, each step to a
// next edge updates the half-sum from the table of T: the sides met hang away
// from p and are the same in T and T', except the side behind, which holds S
// and p in T and whose averages are corrected by 2^-k for the k edges between.
std::vector<Move> balancedMoves(const SideAverages& A, const FirstCopyView& view, const Unrooted& g, int v,
                                MoveScratch& scratch) {
    return balancedMoves(A, view, g, v, std::numeric_limits<double>::quiet_NaN(), scratch);
}

std::vector<Move> balancedMoves(const SideAverages& A, const FirstCopyView& view, const Unrooted& g, int v) {
    MoveScratch scratch;
    return balancedMoves(A, view, g, v, scratch);
}

// With `below` a number, only the moves whose gain is below it.
//
// The walk is a depth-first one that takes, at every node, the neighbour in
// the later slot first. Into a subtree below a node (away from copy 0) that is
// the view's own preorder, so such a subtree is walked along its run of the
// preorder, each node reading what its parent's step left for it: the nodes
// to come are known before their values are, and the reads of the table no
// longer wait on one another. The moves come in the same order either way.
std::vector<Move> balancedMoves(const SideAverages& A, const FirstCopyView& view, const Unrooted& g, int v,
                                double below, MoveScratch& scratch) {
    const bool every = std::isnan(below);
    std::vector<Move> moves;
    const int p = view.parent(v);
    if (p <= 0) return moves;
    const int q = view.parent(p);
    int a = -1;
    for (const int y : g.next[static_cast<std::size_t>(p)])
        if (y >= 0 && y != v && y != q) a = y;
    // The edge that p leaves joins a and q; its sides are down(a) and up(p).
    const double joined = A(a, p);
    // What the walk carries along an edge into a node.
    using Carry = MoveScratch::Carry;
    struct Step {
        int behind;  // the node of T the walk came from
        int at;
        Carry carry;
    };
    // Carries of the nodes of a subtree walked along the preorder.
    std::vector<Carry>& carried = scratch.carried;
    if (carried.size() < view.nodeCount()) carried.resize(view.nodeCount());
    const std::vector<int>& preOrder = view.preOrder();
    // Into down(a) the side left behind is up(p), into up(p) it is down(a).
    const double here = (A(v, a) + A(p, v) - joined) / 2;
    // The move of S to the edge from x to z, whose sides are Z and the rest
    // of T' with Y (the side of x's other neighbour) and the side behind x:
    // kept when asked for; gives what the walk carries on to z.
    const auto place = [&](int x, int behind, int Y, int Z, int z, int back, const Carry& in) {
        const double behindToY = A.around(view, x, behind, Y) + in.w * (A(back, Y) - A(v, Y));
        const double cross = in.cross + (A.around(view, x, Y, Z) - behindToY) / 2;
        const double toBack = (in.toBack + A(v, Y)) / 2;
        const double score = (A(v, Z) + toBack - cross) / 2;
        const double gain = score - here;
        if (every || gain < below) keep(moves, gain, x, z);
        return Carry{in.w / 2, cross, toBack};
    };
    std::vector<Step> stack;
    for (const auto& [front, back] : {std::pair<int, int>{a, p}, std::pair<int, int>{q, a}}) {
        if (g.next[static_cast<std::size_t>(front)][1] < 0) continue;  // a single copy: no edge beyond
        stack.assign({{p, front, {0.5, joined, A(v, back)}}});
        while (!stack.empty()) {
            const Step step = stack.back();
            stack.pop_back();
            if (view.parent(step.at) == step.behind) {
                // Down into the subtree below step.at: at each node x, the
                // moves to (x, c1) and (x, c0), c0 the child in the later
                // slot (the first in the preorder).
                carried[static_cast<std::size_t>(step.at)] = step.carry;
                const int end = view.subtreeEnd(step.at);
                for (int i = view.subtreeBegin(step.at); i < end; ++i) {
                    const int x = preOrder[static_cast<std::size_t>(i)];
                    if (view.isLeaf(x)) continue;
                    const Carry in = carried[static_cast<std::size_t>(x)];
                    const auto& children = view.children(x);
                    for (int k = 0; k < 2; ++k) {
                        const int z = children[static_cast<std::size_t>(1 - k)];
                        const int y = children[static_cast<std::size_t>(k)];
                        carried[static_cast<std::size_t>(z)] = place(x, x, y, z, z, back, in);
                    }
                }
                continue;
            }
            const int x = step.at;
            const int behind = view.side(x, step.behind);
            std::array<int, 2> onward{};
            int count = 0;
            for (const int y : g.next[static_cast<std::size_t>(x)])
                if (y >= 0 && y != step.behind) onward[static_cast<std::size_t>(count++)] = y;
            for (int i = 0; i < 2; ++i) {
                const int z = onward[static_cast<std::size_t>(i)];
                const int y = onward[static_cast<std::size_t>(1 - i)];
                const Carry onwards = place(x, behind, view.side(x, y), view.side(x, z), z, back, step.carry);
                if (g.next[static_cast<std::size_t>(z)][1] >= 0) stack.push_back({x, z, onwards});
            }
        }
    }
    return moves;
}

}  // namespace refine

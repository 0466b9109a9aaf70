#include "history/refine/Descent.h"

#include <algorithm>
#include <cmath>

#include "history/refine/FirstCopyView.h"
#include "history/refine/MoveTrial.h"

namespace refine {

namespace {

// Subtrees a descent looks at between two reports of its progress.
constexpr std::size_t kSubtreesPerReport = 64;

// A move whose gain shortens the tree by more than this share of its length
// is taken on its gain: the gains from the side averages agree with the
// exact lengths to about 1e-13 of the length, so its exact length is
// shorter too. Smaller gains are checked against the exact length.
constexpr double kSureGain = 1e-9;

// Scores this close are those of one tree, whose score was worked out by
// gains or in another order, or of two trees that the full test tells apart.
constexpr double kSameScore = 1e-9;

// The copies on the far side of every edge of the tree seen from copy 0,
// each list ascending, all of them in ascending order: the same for two
// trees exactly when they are the same unrooted tree.
std::vector<std::vector<int>> sidesSeenFromFirst(const Unrooted& g, int n) {
    const std::size_t nodes = g.next.size();
    std::vector<int> parent(nodes, -1), order, stack = {0};
    while (!stack.empty()) {
        const int x = stack.back();
        stack.pop_back();
        order.push_back(x);
        for (const int y : g.next[static_cast<std::size_t>(x)])
            if (y > 0 && y != parent[static_cast<std::size_t>(x)]) {
                parent[static_cast<std::size_t>(y)] = x;
                stack.push_back(y);
            }
    }
    std::vector<std::vector<int>> below(nodes), sides;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const int x = *it;
        if (x == 0) continue;
        std::vector<int>& mine = below[static_cast<std::size_t>(x)];
        if (x < n) mine.push_back(x);
        std::sort(mine.begin(), mine.end());
        sides.push_back(mine);
        std::vector<int>& above = below[static_cast<std::size_t>(parent[static_cast<std::size_t>(x)])];
        above.insert(above.end(), mine.begin(), mine.end());
    }
    std::sort(sides.begin(), sides.end());
    return sides;
}

}  // namespace

bool KnownEnds::has(const Unrooted& g, double score, int n) const {
    for (const auto& [known, tree] : ends_)
        if (std::fabs(known - score) <= kSameScore * std::fabs(known) &&
            sidesSeenFromFirst(g, n) == sidesSeenFromFirst(tree, n))
            return true;
    return false;
}

void KnownEnds::add(const Unrooted& g, double score, int n) {
    if (!has(g, score, n)) ends_.push_back({score, g});
}

void KnownEnds::addAll(const KnownEnds& other, int n) {
    for (const auto& [score, tree] : other.ends_) add(tree, score, n);
}

void descend(Unrooted& g, Topology& t, double& current, MoveScorer& scorer, Reduction& reduction, int n,
             KnownEnds& ends, ReconstructionProgress* progress) {
    if (ends.has(g, current, n)) return;
    // A subtree that found no move is not looked at again until a move has
    // changed the tree: it would find none again.
    int taken = 0;
    std::vector<int> foundNoneAt(g.next.size(), -1);
    bool improved = true;
    // Made again after every move taken, so a sweep starts from the tree's own.
    FirstCopyView view(g);
    scorer.reset(g, view);
    MoveTrial trial;
    trial.reset(g, n, t.root);
    std::vector<int> above;
    // Whether `current` is the exact score of t, not worked out from gains;
    // it is made exact before it is compared with an exact score or left.
    bool exact = true;
    const auto makeExact = [&] {
        if (!exact) current = scorer.scoreOf(t);
        exact = true;
    };
    int sweep = 0;
    while (improved) {
        improved = false;
        ++sweep;
        const std::vector<int> order = view.postOrder();
        for (std::size_t k = 0; k < order.size(); ++k) {
            const int v = order[k];
            // Often enough that a long sweep is seen to go on.
            if (progress != nullptr && k % kSubtreesPerReport == 0) progress->descending(sweep, taken);
            const int p = view.parent(v);
            if (p <= 0 || foundNoneAt[static_cast<std::size_t>(v)] == taken) continue;
            foundNoneAt[static_cast<std::size_t>(v)] = taken;
            // Moves that improve the tree, the most first (ties in the order
            // met); the first that can be rooted as a duplication tree is
            // taken.
            std::vector<Move> better = scorer.movesOf(g, view, v, -1e-12 * std::fabs(current));
            std::stable_sort(better.begin(), better.end(),
                             [](const Move& l, const Move& r) { return l.gain < r.gain; });
            if (better.empty()) continue;
            Unrooted moved = g;
            Topology rooted;
            for (const Move& move : better) {
                if (!trial.valid(v, p, move, reduction)) continue;
                if (!movedTree(g, v, p, move, n, t.root, reduction, moved, rooted)) continue;
                double next = current + move.gain;
                const bool sure = move.gain < -kSureGain * std::fabs(current);
                if (!sure) {
                    makeExact();
                    next = scorer.scoreOf(rooted);
                    if (!(next < current)) continue;
                }
                above.clear();
                for (int y = view.parent(p); y > 0; y = view.parent(y)) above.push_back(y);
                g = std::move(moved);
                t = std::move(rooted);
                current = next;
                exact = !sure;
                improved = true;
                ++taken;
                if (ends.has(g, current, n)) {
                    makeExact();
                    return;
                }
                view.orient(g);
                scorer.moved(g, view, p, above);
                trial.reset(g, n, t.root);
                break;
            }
        }
    }
    makeExact();
    ends.add(g, current, n);
}

}  // namespace refine

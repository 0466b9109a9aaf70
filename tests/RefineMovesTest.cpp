// The parts of the refinement that a descent trusts without checking: the
// gain of a move worked out from the side averages, and the span test that
// rules moves out before the reduction.
#include <gtest/gtest.h>

#include <cmath>

#include "HistorySimulator.h"
#include "history/DuplicationTree.h"
#include "history/refine/BalancedLength.h"
#include "history/refine/BalancedScorer.h"
#include "history/refine/FirstCopyView.h"
#include "history/refine/MoveTrial.h"
#include "history/refine/Moves.h"
#include "sequences/SequenceSet.h"

namespace {

using namespace refine;

// A simulated family, the tree a criterion makes of it, and every move of
// every subtree of that tree with its gain from the side averages.
struct Family {
    SequenceSet set;
    DuplicationTree tree;
    Topology t;
    Unrooted g;
    FirstCopyView view;
    int n = 0;

    Family(std::uint64_t seed, int copies, int criterion) {
        SimulationSettings settings;
        settings.copies = copies;
        settings.length = 150;
        settings.divergence = 0.1 + 0.05 * static_cast<double>(seed % 5);
        settings.seed = seed;
        set.count = copies;
        set.length = settings.length;
        set.sequences = simulateHistory(settings).copies;
        set.computeDistances();
        tree.reconstruct(*set.distances, criterion);
        n = tree.leafCount;
        t = topologyOf(tree);
        g = Unrooted(t);
        view.orient(g);
    }

    // visit(v, p, move) for every move of the subtree below v (parent p).
    template <typename Visit>
    void eachMove(BalancedLength& length, Visit visit) const {
        SideAverages averages;
        averages.rebuild(view, length.table(), n);
        for (const int v : view.postOrder()) {
            const int p = view.parent(v);
            if (p <= 0) continue;
            for (const Move& move : balancedMoves(averages, view, g, v)) visit(v, p, move);
        }
    }
};

// Every move of every subtree: its gain from the side averages is the
// difference of the balanced lengths of the moved tree and the tree, which
// the descent only checks for the moves it takes.
TEST(RefineMoves, GainsAreTheDifferencesOfExactLengths) {
    int moves = 0;
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        const Family family(seed, 8 + static_cast<int>(seed) * 5, 1 + static_cast<int>(seed % 3));
        BalancedLength length(*family.set.distances, family.n);
        const double before = length.of(family.t);
        family.eachMove(length, [&](int v, int p, const Move& move) {
            Unrooted moved;
            Topology rooted;
            moveAndRootOnFirst(family.g, v, p, move, family.n, family.t.root, moved, rooted);
            const double exact = length.of(rooted) - before;
            ASSERT_NEAR(move.gain, exact, 1e-9 * before)
                << "seed " << seed << " subtree " << v << " to (" << move.from << ", " << move.to << ")";
            ++moves;
        });
    }
    EXPECT_GT(moves, 5000);
}

// The span test and the trial agree with the full test on every move: no
// move that can be rooted as a duplication tree is ruled out by the spans,
// and the trial accepts exactly those.
TEST(RefineMoves, SpanTestNeverRulesOutAValidMove) {
    int valid = 0, ruledOut = 0;
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        const Family family(seed, 10 + static_cast<int>(seed) * 4, 1 + static_cast<int>(seed % 3));
        BalancedLength length(*family.set.distances, family.n);
        MoveTrial trial;
        trial.reset(family.g, family.n, family.t.root);
        Reduction reduction;
        family.eachMove(length, [&](int v, int p, const Move& move) {
            Unrooted moved;
            Topology rooted;
            const bool full = movedTree(family.g, v, p, move, family.n, family.t.root, reduction, moved, rooted);
            const bool spans = trial.ruledOutBySpans(v, p, move);
            ASSERT_FALSE(full && spans) << "seed " << seed << " subtree " << v;
            ASSERT_EQ(full, trial.valid(v, p, move, reduction)) << "seed " << seed << " subtree " << v;
            valid += full;
            ruledOut += spans;
        });
    }
    EXPECT_GT(valid, 100);
    EXPECT_GT(ruledOut, 1000);
}

}  // namespace

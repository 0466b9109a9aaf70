// The parts of the refinement that a descent trusts without checking: the
// gain of a move worked out from the side averages, and the span test that
// rules moves out before the reduction.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "HistorySimulator.h"
#include "history/DuplicationTree.h"
#include "history/refine/BalancedLength.h"
#include "history/refine/BalancedScorer.h"
#include "history/refine/Descent.h"
#include "history/refine/FirstCopyView.h"
#include "history/refine/MoveTrial.h"
#include "history/refine/Moves.h"
#include "history/refine/NeighbourJoining.h"
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

// After a chain of moves, the table the descent keeps up to date move by
// move holds, cell for cell, what a table made from scratch holds (to the
// rounding of the halves). Moves near the top and deep down, into either
// side of the parent, the subtrees above the old place and the new one
// overlapping or not.
TEST(RefineMoves, UpdatedSideAveragesMatchARebuild) {
    int checked = 0;
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
        Family family(seed, 20 + static_cast<int>(seed) * 9, 1 + static_cast<int>(seed % 3));
        BalancedLength length(*family.set.distances, family.n);
        Unrooted g = family.g;
        FirstCopyView view(g);
        SideAverages kept;
        kept.rebuild(view, length.table(), family.n);
        std::vector<int> above;
        for (int step = 0; step < 40; ++step) {
            const std::vector<int>& order = view.postOrder();
            const int v = order[static_cast<std::size_t>(step * 7 + static_cast<int>(seed)) % order.size()];
            const int p = view.parent(v);
            if (p <= 0) continue;
            const std::vector<Move> moves = balancedMoves(kept, view, g, v);
            if (moves.empty()) continue;
            const Move& move = moves[static_cast<std::size_t>(step * 13) % moves.size()];
            above.clear();
            for (int y = view.parent(p); y > 0; y = view.parent(y)) above.push_back(y);
            g.move(v, p, move.from, move.to);
            view.orient(g);
            kept.update(view, length.table(), p, above);
            SideAverages made;
            made.rebuild(view, length.table(), family.n);
            const int nodes = static_cast<int>(view.nodeCount());
            for (int x = 0; x < nodes; ++x)
                for (int y = 0; y < nodes; ++y)
                    ASSERT_NEAR(kept(x, y), made(x, y), 1e-12 * (1.0 + std::fabs(made(x, y))))
                        << "seed " << seed << " step " << step << " cell (" << x << ", " << y << ")";
            for (const int x : view.postOrder()) {
                if (view.isLeaf(x)) continue;
                const auto& pair = view.children(x);
                ASSERT_EQ(kept.around(view, x, x, pair[0]), kept(x, pair[0]));
                ASSERT_EQ(kept.around(view, x, pair[1], x), kept(x, pair[1]));
                ASSERT_EQ(kept.around(view, x, pair[0], pair[1]), kept(pair[0], pair[1]));
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
}

// A descent takes most moves on their gains alone, yet leaves the exact
// length of the tree it ends at (the very number a fresh count gives, as
// kicks compare their ends by it), and a descent from that end, a known
// end, stays there.
TEST(RefineMoves, ADescentLeavesTheExactLengthOfItsTree) {
    int moved = 0;
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        const Family family(seed, 30 + static_cast<int>(seed) * 11, 2 + static_cast<int>(seed % 2));
        BalancedLength length(*family.set.distances, family.n);
        SideAverages averages;
        BalancedScorer scorer(length, averages);
        Unrooted g = family.g;
        Topology t = family.t;
        double current = length.of(t);
        const double start = current;
        KnownEnds ends;
        Reduction reduction;
        descend(g, t, current, scorer, reduction, family.n, ends);
        ASSERT_EQ(current, length.of(t)) << "seed " << seed;
        ASSERT_LE(current, start);
        moved += current < start;
        Unrooted again = g;
        Topology there = t;
        double same = current;
        descend(again, there, same, scorer, reduction, family.n, ends);
        EXPECT_EQ(same, current);
        EXPECT_EQ(there.parent, t.parent);
    }
    EXPECT_GT(moved, 3);
}

// A known end is the same unrooted tree, not merely one of the same score:
// every other tree one move away, given the end's very score, is not known,
// while the end itself is, also with its inner nodes numbered otherwise.
TEST(RefineMoves, KnownEndsAreTreesNotScores) {
    const Family family(3, 40, 2);
    BalancedLength length(*family.set.distances, family.n);
    const double score = length.of(family.t);
    KnownEnds ends;
    ends.add(family.g, score, family.n);
    int others = 0;
    family.eachMove(length, [&](int v, int p, const Move& move) {
        Unrooted moved = family.g;
        moved.move(v, p, move.from, move.to);
        EXPECT_FALSE(ends.has(moved, score, family.n)) << v << " to " << move.from << "-" << move.to;
        ++others;
    });
    EXPECT_GT(others, 1000);
    // The inner nodes (numbers n and up) in reverse order.
    const auto renumbered = [&](int x) {
        return x < family.n ? x : static_cast<int>(family.g.next.size()) - 1 - (x - family.n);
    };
    Unrooted same = family.g;
    for (std::size_t x = 0; x < family.g.next.size(); ++x)
        for (std::size_t k = 0; k < 3; ++k) {
            const int y = family.g.next[x][k];
            same.next[static_cast<std::size_t>(renumbered(static_cast<int>(x)))][k] = y < 0 ? y : renumbered(y);
        }
    EXPECT_TRUE(ends.has(same, score * (1 + 1e-12), family.n));
    EXPECT_FALSE(ends.has(same, score * (1 + 1e-6), family.n));
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

// The neighbour-joining tree that rebuilds start from, against a plain
// transcription of its rule (the table left in place, the nodes left in a
// list, every pair scored in order): the same joins in the same order, on
// tables full of ties and on tables large enough to share the work among
// threads.
TEST(RefineMoves, NeighbourJoiningMakesThePlainJoins) {
    const auto plain = [](const std::vector<double>& table, int n) {
        const auto w = static_cast<std::size_t>(n);
        std::vector<double> d(table);
        std::vector<int> slot(w), id(w), joins;
        for (int i = 0; i < n; ++i) slot[static_cast<std::size_t>(i)] = id[static_cast<std::size_t>(i)] = i;
        std::vector<double> sums(w);
        int next = n;
        while (slot.size() > 2) {
            const int k = static_cast<int>(slot.size());
            for (const int i : slot) {
                double sum = 0.0;
                for (const int j : slot) sum += d[static_cast<std::size_t>(i) * w + static_cast<std::size_t>(j)];
                sums[static_cast<std::size_t>(i)] = sum;
            }
            double best = std::numeric_limits<double>::infinity();
            std::size_t bi = 0, bj = 1;
            for (std::size_t x = 0; x < slot.size(); ++x)
                for (std::size_t y = x + 1; y < slot.size(); ++y) {
                    const auto i = static_cast<std::size_t>(slot[x]), j = static_cast<std::size_t>(slot[y]);
                    const double q = (k - 2) * d[i * w + j] - sums[i] - sums[j];
                    if (q < best) {
                        best = q;
                        bi = x;
                        bj = y;
                    }
                }
            const auto i = static_cast<std::size_t>(slot[bi]), j = static_cast<std::size_t>(slot[bj]);
            const double dij = d[i * w + j];
            for (const int m : slot) {
                const auto mm = static_cast<std::size_t>(m);
                const double value = (d[i * w + mm] + d[j * w + mm] - dij) * 0.5;
                d[i * w + mm] = d[mm * w + i] = value;
            }
            d[i * w + i] = 0.0;
            joins.insert(joins.end(), {id[i], id[j]});
            id[i] = next++;
            slot.erase(slot.begin() + static_cast<std::ptrdiff_t>(bj));
        }
        joins.insert(joins.end(), {id[static_cast<std::size_t>(slot[0])], id[static_cast<std::size_t>(slot[1])]});
        return joins;
    };
    std::mt19937_64 random(11);
    // Every distance alike (every pair ties), a few values, any values.
    for (const int n : {3, 4, 9, 40, 300}) {
        for (const int kind : {0, 1, 2}) {
            const auto w = static_cast<std::size_t>(n);
            std::vector<double> table(w * w, 0.0);
            for (std::size_t i = 0; i < w; ++i)
                for (std::size_t j = i + 1; j < w; ++j)
                    table[i * w + j] = table[j * w + i] = kind == 0 ? 1.0
                                                          : kind == 1
                                                              ? static_cast<double>(random() % 3)
                                                              : std::ldexp(static_cast<double>(random() >> 11), -50);
            const std::vector<int> expected = plain(table, n);
            for (const int threads : {1, 2}) {
                const Topology t = joinedNeighbours(table, n, threads);
                std::vector<int> joins;
                for (int x = n; x < 2 * n - 1; ++x)
                    joins.insert(joins.end(), t.child[static_cast<std::size_t>(x)].begin(),
                                 t.child[static_cast<std::size_t>(x)].end());
                EXPECT_EQ(joins, expected) << n << " nodes, table " << kind << ", " << threads << " threads";
                EXPECT_EQ(t.root, 2 * n - 2);
            }
        }
    }
}

}  // namespace

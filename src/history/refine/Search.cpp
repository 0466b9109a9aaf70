#include "history/refine/Search.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "common/Parallel.h"
#include "history/refine/Moves.h"
#include "history/refine/NeighbourJoining.h"
#include "history/refine/Ratchet.h"
#include "history/refine/Rebuild.h"

namespace refine {

Search::Search(const DistanceMatrix& distances, const RefineSettings& settings, int n, ReconstructionProgress* progress)
    : distances_(distances),
      progress_(progress),
      settings_(settings),
      n_(n),
      threads_(std::max(1, settings.threads)),
      length_(distances, n) {
    workers_.push_back({length_, Reduction(), KnownEnds(), SideAverages()});
    if (settings_.rebuilds > 0) {
        own_ = makeBlockCriterion(settings_.criterion);
        if (!own_) throw std::invalid_argument("rebuilds need the criterion the history came from");
        own_->setThreads(threads_);
        quartets_ = makeBlockCriterion(1);
        quartets_->setThreads(threads_);
    }
}

Search::~Search() = default;

Topology Search::run(Topology t) {
    t_ = std::move(t);
    current_ = length_.of(t_);
    g_ = Unrooted(t_);
    Worker& first = workers_.front();
    BalancedScorer scorer(first.length, first.averages);
    descend(g_, t_, current_, scorer, first.reduction, n_, ends_, progress_, threads_);
    if (settings_.kicks > 0 || settings_.rebuilds > 0 || settings_.ratchet > 0) {
        view_.orient(g_);
        averages_.rebuild(view_, length_.table(), n_);
        trial_.reset(g_, n_, t_.root);
        kick();
        rebuild();
        ratchet();
    }
    return std::move(t_);
}

std::vector<Move> Search::movesOf(int v) { return balancedMoves(averages_, view_, g_, v, moveScratch_); }

// Kicks: a subtree takes its least lengthening valid move and the search
// descends from there; the result is kept when it is shorter.
void Search::kick() {
    searchEach("kicks", view_.postOrder(), settings_.kicks, [&](int v, Unrooted& tree, Topology& rooted) {
        const int p = view_.parent(v);
        if (p <= 0) return Start::kNone;
        std::vector<Move> moves = movesOf(v);
        std::stable_sort(moves.begin(), moves.end(), [](const Move& l, const Move& r) { return l.gain < r.gain; });
        for (const Move& move : moves)
            if (trial_.valid(v, p, move, reduction_) &&
                movedTree(g_, v, p, move, n_, t_.root, reduction_, tree, rooted))
                return Start::kMade;
        return Start::kSpent;
    });
}

// Rebuilds: a subtree takes its most shortening move, whether or not the
// tree stays a duplication tree; the history is made whole again (by the
// quartet votes, or the criterion it came from when many segments are left),
// the search descends from there, and the result is kept when it is shorter.
// Rebuilds begin with one from the neighbour-joining tree of the distances,
// a tree made without the order of the copies: far from any duplication tree
// the criterion may have started from.
void Search::rebuild() {
    if (settings_.rebuilds <= 0) return;
    const Rebuilders rebuilders{*own_, *quartets_};
    searchEach("rebuilds", {0}, 1, [&](int, Unrooted& tree, Topology& rooted) {
        rooted = rebuiltFrom(rootedAbove(joinedNeighbours(length_.table(), n_, threads_), 0), reduction_, rebuilders,
                             distances_);
        tree = Unrooted(rooted);
        return Start::kMade;
    });
    searchEach("rebuilds", view_.postOrder(), settings_.rebuilds, [&](int v, Unrooted& tree, Topology& rooted) {
        const int p = view_.parent(v);
        if (p <= 0) return Start::kNone;
        const std::vector<Move> moves = movesOf(v);
        if (moves.empty()) return Start::kNone;
        const Move best =
            *std::min_element(moves.begin(), moves.end(), [](const Move& l, const Move& r) { return l.gain < r.gain; });
        if (!(best.gain < -1e-12 * std::fabs(current_))) return Start::kNone;
        rooted = rebuiltTree(g_, v, p, best, n_, t_.root, reduction_, rebuilders, distances_);
        tree = Unrooted(rooted);
        return Start::kMade;
    });
}

// The ratchet: the tree descends under shaken distances, then under the
// real ones again, kRoundsAtOnce rounds from the same tree, and the shortest
// result is kept when it is shorter.
void Search::ratchet() {
    std::vector<int> rounds(static_cast<std::size_t>(std::max(0, settings_.ratchet)));
    for (std::size_t r = 0; r < rounds.size(); ++r) rounds[r] = static_cast<int>(r);
    searchEach(
        "ratchet rounds", rounds, settings_.ratchet,
        [&](int, Unrooted& tree, Topology& rooted) {
            tree = g_;
            rooted = t_;
            return Start::kMade;
        },
        kRoundsAtOnce);
}

// Ratchet rounds first descend under their round's shaken distances (ends of
// their own), then as any other start.
void Search::descendFrom(Descent& d, Worker& w, KnownEnds& known, int threads) {
    if (d.shaken >= 0) {
        BalancedLength shaken(shakenDistances(distances_, d.shaken), n_);
        double under = shaken.of(d.rooted);
        KnownEnds none;
        BalancedScorer byShaken(shaken, w.averages);
        descend(d.tree, d.rooted, under, byShaken, w.reduction, n_, none, nullptr, threads);
    }
    d.reached = w.length.of(d.rooted);
    BalancedScorer byReal(w.length, w.averages);
    descend(d.tree, d.rooted, d.reached, byReal, w.reduction, n_, known, nullptr, threads);
}

// The descents of one batch, side by side when there are threads for them,
// each with ends known before the batch; what they learn is shared after.
void Search::descendBatch(std::vector<Descent>& batch) {
    if (batch.size() <= 1 || threads_ == 1) {
        // One descent at a time, with the threads looking at its subtrees.
        for (Descent& d : batch) descendFrom(d, workers_.front(), ends_, threads_);
        return;
    }
    while (workers_.size() < std::min(batch.size(), static_cast<std::size_t>(threads_)))
        workers_.push_back({length_, Reduction(), KnownEnds(), SideAverages()});
    for (Worker& w : workers_) w.ends.startFrom(&ends_);
    runSlices(threads_, static_cast<int>(batch.size()), [&](int slice, int worker) {
        Worker& w = workers_[static_cast<std::size_t>(worker)];
        descendFrom(batch[static_cast<std::size_t>(slice)], w, w.ends, 1);
    });
    for (const Worker& w : workers_) ends_.addAll(w.ends, n_);
}

// For the subtrees in order while the budget lasts, each subtree makes a
// start from the current tree (or makes none, counted against the budget or
// not), the search descends from it, and the tree it ends at replaces the
// current one when it is shorter. With `rounds`, the items are rounds of the
// ratchet, taken in groups of that many from the same tree whatever the
// number of threads; the shortest of a group (the first on ties) is kept
// when it is shorter. Otherwise a batch is as many starts as there are
// threads, the first kept wins, and the starts after it are made again. (The
// subtrees are taken as they stand, before any change.)
void Search::searchEach(const char* stage, std::vector<int> subtrees, int budget, const MakeStart& makeStart,
                        int rounds) {
    std::vector<Descent> batch;
    std::size_t next = 0;
    const int room = rounds > 0 ? rounds : threads_;
    const int asked = budget;
    // Ratchet rounds end early once kRoundsWithoutGain of them in a row (or
    // all asked, when fewer) found nothing shorter.
    const int idleEnough = std::min(asked, kRoundsWithoutGain);
    int idle = 0;
    while (next < subtrees.size() && budget > 0 && !(rounds > 0 && idle >= idleEnough)) {
        if (progress_ != nullptr) progress_->searched(stage, asked - budget, asked);
        batch.clear();
        int spent = 0;
        std::size_t i = next;
        for (; i < subtrees.size() && spent < budget && static_cast<int>(batch.size()) < room; ++i) {
            Unrooted tree;
            Topology rooted;
            const Start made = makeStart(subtrees[i], tree, rooted);
            if (made == Start::kNone) continue;
            ++spent;
            if (made == Start::kMade)
                batch.push_back({i, spent, std::move(tree), std::move(rooted), 0.0, rounds > 0 ? subtrees[i] : -1});
        }
        descendBatch(batch);
        auto kept = std::find_if(batch.begin(), batch.end(),
                                 [&](const Descent& d) { return d.reached < current_ - 1e-12 * std::fabs(current_); });
        if (kept == batch.end() || rounds > 0) {
            budget -= spent;
            next = i;
            idle = kept == batch.end() ? idle + spent : 0;
            if (kept == batch.end()) continue;
            for (auto later = kept; later != batch.end(); ++later)
                if (later->reached < kept->reached) kept = later;
        } else {
            budget -= kept->spent;
            next = kept->at + 1;
        }
        adopt(*kept);
    }
}

// A kept descent's tree becomes the current one, its side averages with it.
void Search::adopt(Descent& kept) {
    g_ = std::move(kept.tree);
    t_ = std::move(kept.rooted);
    current_ = kept.reached;
    view_.orient(g_);
    averages_.rebuild(view_, length_.table(), n_);
    trial_.reset(g_, n_, t_.root);
}

}  // namespace refine

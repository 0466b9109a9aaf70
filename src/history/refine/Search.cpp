#include "history/refine/Search.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "common/Parallel.h"
#include "history/refine/Moves.h"
#include "history/refine/NeighbourJoining.h"
#include "history/refine/Ratchet.h"

namespace refine {

namespace {

// Starts in a batch for each thread: more than one, so that a thread that
// ends a short descent takes another start while a long one goes on; few,
// so that little is made in vain when an early start of the batch is kept.
constexpr int kStartsPerThread = 4;

}  // namespace

Search::Search(const DistanceMatrix& distances, const RefineSettings& settings, int n, ReconstructionProgress* progress)
    : distances_(distances),
      progress_(progress),
      settings_(settings),
      n_(n),
      threads_(std::max(1, settings.threads)),
      length_(distances, n) {
    workers_.push_back(std::make_unique<Worker>(length_));
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
    Worker& first = *workers_.front();
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
    searchEach("kicks", view_.postOrder(), settings_.kicks, [&](int v, Descent& start) {
        const int p = view_.parent(v);
        if (p <= 0) return Start::kNone;
        std::vector<Move> moves = movesOf(v);
        std::stable_sort(moves.begin(), moves.end(), [](const Move& l, const Move& r) { return l.gain < r.gain; });
        for (const Move& move : moves)
            if (trial_.valid(v, p, move, reduction_) &&
                movedTree(g_, v, p, move, n_, t_.root, reduction_, start.tree, start.rooted))
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
// the criterion may have started from. It leads the first batch of the
// subtrees' rebuilds and is not counted against their budget; when it is
// kept, the subtrees' rebuilds begin again from its tree.
void Search::rebuild() {
    if (settings_.rebuilds <= 0) return;
    const Build joined = [this](const Rebuilders& rebuilders, Reduction& reduction, int threads) {
        return rebuiltFrom(rootedAbove(joinedNeighbours(length_.table(), n_, threads), 0), reduction, rebuilders,
                           distances_);
    };
    const MakeStart subtree = [&](int v, Descent& start) {
        const int p = view_.parent(v);
        if (p <= 0) return Start::kNone;
        const std::vector<Move> moves = movesOf(v);
        if (moves.empty()) return Start::kNone;
        const Move best =
            *std::min_element(moves.begin(), moves.end(), [](const Move& l, const Move& r) { return l.gain < r.gain; });
        if (!(best.gain < -1e-12 * std::fabs(current_))) return Start::kNone;
        start.build = [this, v, p, best](const Rebuilders& rebuilders, Reduction& reduction, int) {
            return rebuiltTree(g_, v, p, best, n_, t_.root, reduction, rebuilders, distances_);
        };
        return Start::kMade;
    };
    if (searchEach("rebuilds", view_.postOrder(), settings_.rebuilds, subtree, 0, joined))
        searchEach("rebuilds", view_.postOrder(), settings_.rebuilds, subtree);
}

// The ratchet: the tree descends under shaken distances, then under the
// real ones again, kRoundsAtOnce rounds from the same tree, and the shortest
// result is kept when it is shorter.
void Search::ratchet() {
    std::vector<int> rounds(static_cast<std::size_t>(std::max(0, settings_.ratchet)));
    for (std::size_t r = 0; r < rounds.size(); ++r) rounds[r] = static_cast<int>(r);
    searchEach(
        "ratchet rounds", rounds, settings_.ratchet,
        [&](int, Descent& start) {
            start.tree = g_;
            start.rooted = t_;
            return Start::kMade;
        },
        kRoundsAtOnce);
}

// A start that is made where it is descended from is made first. Ratchet
// rounds first descend under their round's shaken distances (ends of their
// own), then as any other start.
void Search::descendFrom(Descent& d, Worker& w, const Rebuilders* rebuilders, KnownEnds& known, int threads,
                         Abandon abandon) {
    if (d.build) {
        d.rooted = d.build(*rebuilders, w.reduction, threads);
        d.tree = Unrooted(d.rooted);
    }
    if (d.shaken >= 0) {
        BalancedLength shaken(shakenDistances(distances_, d.shaken), n_);
        double under = shaken.of(d.rooted);
        KnownEnds none;
        BalancedScorer byShaken(shaken, w.averages);
        descend(d.tree, d.rooted, under, byShaken, w.reduction, n_, none, nullptr, threads);
    }
    d.reached = w.length.of(d.rooted);
    BalancedScorer byReal(w.length, w.averages);
    d.abandoned = !descend(d.tree, d.rooted, d.reached, byReal, w.reduction, n_, known, nullptr, threads, abandon);
    if (d.abandoned) d.reached = std::numeric_limits<double>::infinity();
}

// The descents of one batch, side by side when there are threads for them,
// starts handed out in order as threads come free. They share the ends they
// find as they go. Unless the batch must be descended `whole`, once a start
// is kept the starts after it are not begun, and those under way stop.
void Search::descendBatch(std::vector<Descent>& batch, bool whole) {
    if (batch.size() <= 1 || threads_ == 1) {
        // One descent at a time, with the threads looking at its subtrees.
        for (Descent& d : batch) {
            if (!own_) {
                descendFrom(d, *workers_.front(), nullptr, ends_, threads_);
                continue;
            }
            const Rebuilders rebuilders{*own_, *quartets_};
            descendFrom(d, *workers_.front(), &rebuilders, ends_, threads_);
        }
        return;
    }
    const std::size_t needed = std::min(batch.size(), static_cast<std::size_t>(threads_));
    while (workers_.size() < needed) workers_.push_back(std::make_unique<Worker>(length_));
    if (own_)
        for (std::unique_ptr<Worker>& w : workers_)
            if (!w->own) {
                w->own = makeBlockCriterion(settings_.criterion);
                w->quartets = makeBlockCriterion(1);
            }
    batchEnds_.startFrom(&ends_);
    std::atomic<std::size_t> keptAt{batch.size()};
    std::mutex keptLock;
    runSlices(threads_, static_cast<int>(batch.size()), [&](int slice, int worker) {
        Worker& w = *workers_[static_cast<std::size_t>(worker)];
        Descent& d = batch[static_cast<std::size_t>(slice)];
        const std::size_t at = static_cast<std::size_t>(slice);
        if (!whole && keptAt.load() < at) {
            d.abandoned = true;
            d.reached = std::numeric_limits<double>::infinity();
            return;
        }
        const Abandon abandon = whole ? Abandon{} : Abandon{&keptAt, at};
        if (w.own) {
            const Rebuilders rebuilders{*w.own, *w.quartets};
            descendFrom(d, w, &rebuilders, batchEnds_, 1, abandon);
        } else {
            descendFrom(d, w, nullptr, batchEnds_, 1, abandon);
        }
        if (whole || d.abandoned || !(d.reached < current_ - 1e-12 * std::fabs(current_))) return;
        const std::lock_guard<std::mutex> hold(keptLock);
        if (at < keptAt.load()) keptAt.store(at);
    });
    ends_.addAll(batchEnds_, n_);
}

// For the subtrees in order while the budget lasts, each subtree makes a
// start from the current tree (or makes none, counted against the budget or
// not), the search descends from it, and the tree it ends at replaces the
// current one when it is shorter. With `rounds`, the items are rounds of the
// ratchet, taken in groups of that many from the same tree whatever the
// number of threads; the shortest of a group (the first on ties) is kept
// when it is shorter. Otherwise a batch holds up to kStartsPerThread starts
// for each thread (one with one thread), the first kept wins, and the starts
// after it are made again. A `lead` start comes before the subtrees' in the
// first batch, outside the budget; when it is kept, the search ends there
// and says so. (The subtrees are taken as they stand, before any change.)
bool Search::searchEach(const char* stage, std::vector<int> subtrees, int budget, const MakeStart& makeStart,
                        int rounds, const Build& lead) {
    std::vector<Descent> batch;
    std::size_t next = 0;
    const int room = rounds > 0 ? rounds : threads_ == 1 ? 1 : kStartsPerThread * threads_;
    const int asked = budget;
    // Ratchet rounds end early once kRoundsWithoutGain of them in a row (or
    // all asked, when fewer) found nothing shorter.
    const int idleEnough = std::min(asked, kRoundsWithoutGain);
    int idle = 0;
    bool leading = static_cast<bool>(lead);
    while ((next < subtrees.size() && budget > 0 && !(rounds > 0 && idle >= idleEnough)) || leading) {
        if (progress_ != nullptr) progress_->searched(stage, asked - budget, asked);
        batch.clear();
        const bool led = leading;
        if (led) batch.push_back({0, 0, Unrooted(), Topology(), 0.0, -1, lead});
        leading = false;
        int spent = 0;
        std::size_t i = next;
        for (; i < subtrees.size() && spent < budget && static_cast<int>(batch.size()) < room; ++i) {
            Descent start{i, 0, Unrooted(), Topology(), 0.0, rounds > 0 ? subtrees[i] : -1, nullptr};
            const Start made = makeStart(subtrees[i], start);
            if (made == Start::kNone) continue;
            ++spent;
            start.spent = spent;
            if (made == Start::kMade) batch.push_back(std::move(start));
        }
        descendBatch(batch, rounds > 0);
        auto kept = std::find_if(batch.begin(), batch.end(),
                                 [&](const Descent& d) { return d.reached < current_ - 1e-12 * std::fabs(current_); });
        if (kept == batch.end() || rounds > 0) {
            budget -= spent;
            next = i;
            idle = kept == batch.end() ? idle + spent : 0;
            if (kept == batch.end()) continue;
            for (auto later = kept; later != batch.end(); ++later)
                if (later->reached < kept->reached) kept = later;
        } else if (led && kept == batch.begin()) {
            adopt(*kept);
            return true;
        } else {
            budget -= kept->spent;
            next = kept->at + 1;
        }
        adopt(*kept);
    }
    return false;
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

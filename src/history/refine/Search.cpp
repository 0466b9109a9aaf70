#include "history/refine/Search.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
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

// The score of a descent that was abandoned: never kept.
constexpr double kAbandoned = std::numeric_limits<double>::infinity();

// A descent under way, counted out of `running` however it ends: threads
// lent to the descents stop lending once none is.
struct CountedOut {
    std::atomic<int>& running;
    ~CountedOut() { --running; }
};

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
// the criterion may have started from. It comes before the subtrees'
// rebuilds, side by side with the first of them, and is not counted against
// their budget; when it is kept, the subtrees' rebuilds begin again from its
// tree.
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
void Search::descendFrom(Descent& d, Worker& w, BlockCriterion* own, BlockCriterion* quartets, KnownEnds& known,
                         int threads, StreamPlace place) {
    if (d.build) {
        d.rooted = d.build(Rebuilders{*own, *quartets}, w.reduction, threads);
        d.tree = Unrooted(d.rooted);
    }
    if (d.shaken >= 0) {
        BalancedLength shaken(shakenDistances(distances_, d.shaken), n_);
        double under = shaken.of(d.rooted);
        KnownEnds none;
        BalancedScorer byShaken(shaken, w.averages);
        descend(d.tree, d.rooted, under, byShaken, w.reduction, n_, none, nullptr, threads,
                StreamPlace{nullptr, 0, 0.0, place.help});
    }
    d.reached = w.length.of(d.rooted);
    BalancedScorer byReal(w.length, w.averages);
    if (!descend(d.tree, d.rooted, d.reached, byReal, w.reduction, n_, known, nullptr, threads, place))
        d.reached = kAbandoned;
}

// The descents of one batch: one after another with the threads looking at
// each one's subtrees, or side by side when there are threads for them, each
// with the ends known before the batch and those the others find as they go;
// a thread left without a descent lends itself to the looks of those still
// under way.
void Search::descendBatch(std::deque<Descent>& batch) {
    if (batch.size() <= 1 || threads_ == 1) {
        for (Descent& d : batch) descendFrom(d, *workers_.front(), own_.get(), quartets_.get(), ends_, threads_);
        return;
    }
    prepareWorkers(static_cast<std::size_t>(threads_));
    batchEnds_.startFrom(&ends_);
    LookHelp help(threads_);
    std::atomic<std::size_t> next{0};
    std::atomic<int> running{0};
    const std::function<bool()> noneRunning = [&] { return running.load() == 0; };
    runSlices(threads_, threads_, [&](int, int worker) {
        Worker& w = *workers_[static_cast<std::size_t>(worker)];
        for (;;) {
            // Counted in before the descent is taken, so that no thread stops
            // lending while one is about to begin.
            ++running;
            const std::size_t at = next++;
            if (at >= batch.size()) {
                if (--running == 0) return;
                help.lend(worker, noneRunning);
                return;
            }
            const CountedOut done{running};
            descendFrom(batch[at], w, w.own.get(), w.quartets.get(), batchEnds_, 1,
                        StreamPlace{nullptr, 0, 0.0, &help});
        }
    });
    ends_.addAll(batchEnds_);
}

// Starts made in order (by makeNext, one thread at a time) and handed out as
// threads come free, after those already in `starts`, until makeNext has no
// more or a start is known to be kept (see StreamPlace): then no start after
// the kept one is begun, and those under way stop, while those before it run
// to their ends, since one of them may be kept first. A thread left without
// a start lends itself to the looks of the descents still under way. What
// `starts` holds at the end is what was made.
void Search::descendStream(std::deque<Descent>& starts, const std::function<bool(Descent&)>& makeNext) {
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    prepareWorkers(static_cast<std::size_t>(threads_));
    batchEnds_.startFrom(&ends_);
    std::atomic<std::size_t> keptAt{kNone};
    LookHelp help(threads_);
    std::atomic<int> running{0};
    const std::function<bool()> noneRunning = [&] { return running.load() == 0; };
    std::mutex lock;
    std::size_t handed = 0;
    bool exhausted = false;
    runSlices(threads_, threads_, [&](int, int worker) {
        Worker& w = *workers_[static_cast<std::size_t>(worker)];
        for (;;) {
            std::size_t at = 0;
            Descent* d = nullptr;
            {
                const std::lock_guard<std::mutex> hold(lock);
                if (handed == starts.size() && !exhausted && keptAt.load() == kNone) {
                    Descent made;
                    if (makeNext(made))
                        starts.push_back(std::move(made));
                    else
                        exhausted = true;
                }
                if (handed < starts.size()) {
                    at = handed++;
                    d = &starts[at];  // stays where it is while more are added
                    ++running;
                }
            }
            if (d == nullptr) {
                if (noneRunning()) return;
                help.lend(worker, noneRunning);
                continue;
            }
            // Counted out however the descent ends, once what it found is
            // known to the others.
            const CountedOut done{running};
            if (keptAt.load() < at) {
                d->reached = kAbandoned;
                continue;
            }
            try {
                descendFrom(*d, w, w.own.get(), w.quartets.get(), batchEnds_, 1,
                            StreamPlace{&keptAt, at, keepBelow(), &help});
            } catch (...) {
                keptAt.store(0);  // the others stop too
                throw;
            }
            if (shorter(d->reached)) lowerTo(keptAt, at);
        }
    });
    ends_.addAll(batchEnds_);
}

// Workers for `count` threads, each with rebuilders of its own when the
// search rebuilds.
void Search::prepareWorkers(std::size_t count) {
    while (workers_.size() < count) workers_.push_back(std::make_unique<Worker>(length_));
    if (own_)
        for (std::unique_ptr<Worker>& w : workers_)
            if (!w->own) {
                w->own = makeBlockCriterion(settings_.criterion);
                w->quartets = makeBlockCriterion(1);
            }
}

// For the subtrees in order while the budget lasts, each subtree makes a
// start from the current tree (or makes none, counted against the budget or
// not), the search descends from it, and the tree it ends at replaces the
// current one when it is shorter; the starts after the kept one are made
// again from the new tree. With one thread that is one start at a time; with
// more, starts are made and descended as threads come free (descendStream).
// With `rounds`, the items are rounds of the ratchet, taken in groups of
// that many from the same tree whatever the number of threads; the shortest
// of a group (the first on ties) is kept when it is shorter. A `lead` start
// comes before the subtrees' first one, outside the budget; when it is kept,
// the search ends there and says so. (The subtrees are taken as they stand,
// before any change.)
bool Search::searchEach(const char* stage, std::vector<int> subtrees, int budget, const MakeStart& makeStart,
                        int rounds, const Build& lead) {
    std::deque<Descent> batch;
    std::size_t next = 0;
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
        // The next start from the current tree, or false when the subtrees
        // or the budget have run out.
        const auto makeNext = [&](Descent& out) {
            while (i < subtrees.size() && spent < budget) {
                Descent start{i, 0, Unrooted(), Topology(), 0.0, rounds > 0 ? subtrees[i] : -1, nullptr};
                const Start made = makeStart(subtrees[i++], start);
                if (made == Start::kNone) continue;
                start.spent = ++spent;
                if (made != Start::kMade) continue;
                out = std::move(start);
                return true;
            }
            return false;
        };
        if (rounds > 0 || threads_ == 1) {
            const std::size_t room = rounds > 0 ? static_cast<std::size_t>(rounds) : 1;
            for (Descent start; batch.size() < room && makeNext(start);) batch.push_back(std::move(start));
            descendBatch(batch);
        } else {
            descendStream(batch, makeNext);
        }
        auto kept = std::find_if(batch.begin(), batch.end(), [&](const Descent& d) { return shorter(d.reached); });
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

// Whether a descent that reached `score` is kept: shorter than the current
// tree by more than a relative 1e-12.
bool Search::shorter(double score) const { return score < keepBelow(); }
double Search::keepBelow() const { return current_ - 1e-12 * std::fabs(current_); }

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

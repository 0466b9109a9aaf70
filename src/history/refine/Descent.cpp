#include "history/refine/Descent.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>
#include <utility>

#include "common/Parallel.h"
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

bool sameScore(double known, double score) { return std::fabs(known - score) <= kSameScore * std::fabs(known); }

// The tree hung from copy 0, written the same way for the same tree: a copy
// as its number, any other node as kOpen, its two subtrees (the one holding
// the least copy first) and kClose. Two trees have the same shape exactly
// when they are the same unrooted tree: the subtrees seen from copy 0 are
// the sides of the edges, and the order of each node's subtrees is fixed by
// the copies in them.
constexpr int kOpen = -1;
constexpr int kClose = -2;

std::vector<int> shapeSeenFromFirst(const Unrooted& g, int n) {
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
    std::vector<int> least(nodes, n);
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const auto x = static_cast<std::size_t>(*it);
        if (*it < n) least[x] = *it;
        if (*it != 0 && parent[x] >= 0) {
            int& above = least[static_cast<std::size_t>(parent[x])];
            above = std::min(above, least[x]);
        }
    }
    std::vector<int> shape;
    shape.reserve(2 * nodes);
    stack.clear();
    for (const int y : g.next[0])
        if (y > 0) stack.push_back(y);
    while (!stack.empty()) {
        const int x = stack.back();
        stack.pop_back();
        if (x == kClose || x < n) {
            shape.push_back(x);
            continue;
        }
        shape.push_back(kOpen);
        stack.push_back(kClose);
        int below[3];
        int count = 0;
        for (const int y : g.next[static_cast<std::size_t>(x)])
            if (y > 0 && y != parent[static_cast<std::size_t>(x)]) below[count++] = y;
        const auto leastOf = [&](int y) { return least[static_cast<std::size_t>(y)]; };
        // The subtree of the least copy is taken first, so pushed last.
        for (int i = 1; i < count; ++i)
            for (int k = i; k > 0 && leastOf(below[k - 1]) < leastOf(below[k]); --k) std::swap(below[k - 1], below[k]);
        stack.insert(stack.end(), below, below + count);
    }
    return shape;
}

}  // namespace

bool KnownEnds::has(const Unrooted& g, double score, int n) const {
    std::vector<int> shape;
    return has(g, score, n, shape);
}

// `shape` is g's, or empty until some known end has the score.
bool KnownEnds::has(const Unrooted& g, double score, int n, std::vector<int>& shape) const {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        for (const End& end : ends_) {
            if (!sameScore(end.score, score)) continue;
            if (shape.empty()) shape = shapeSeenFromFirst(g, n);
            if (end.shape == shape) return true;
        }
    }
    return shared_ != nullptr && shared_->has(g, score, n, shape);
}

void KnownEnds::add(const Unrooted& g, double score, int n) {
    std::vector<int> shape;
    if (has(g, score, n, shape)) return;
    if (shape.empty()) shape = shapeSeenFromFirst(g, n);
    const std::lock_guard<std::mutex> hold(lock_);
    ends_.push_back({score, std::move(shape)});
}

bool KnownEnds::knows(double score, const std::vector<int>& shape) const {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        for (const End& end : ends_)
            if (sameScore(end.score, score) && end.shape == shape) return true;
    }
    return shared_ != nullptr && shared_->knows(score, shape);
}

void KnownEnds::addAll(const KnownEnds& other) {
    for (const End& end : other.ends_) {
        if (knows(end.score, end.shape)) continue;
        const std::lock_guard<std::mutex> hold(lock_);
        ends_.push_back(end);
    }
}

namespace {

// What looking at a subtree found: its improving moves, the best first (ties
// in the order met), and the first of them that the trial finds valid (-1:
// none). A look reads the tree, its view and the scorer only, so looks at
// different subtrees run side by side, each with a trial of its own.
struct Look {
    int v = -1;
    std::vector<Move> better;
    int valid = -1;
    bool looked = false;  // false: left for a later round
};

// Subtrees each thread may look at in one round. A round stops handing out
// subtrees after the first that found a valid move (the looks after it would
// be made again on the moved tree), so little is looked at in vain however
// many the round holds; more of them make fewer rounds to hand out and wait
// for, which is what the threads lose most to in a sweep where few subtrees
// find a move.
constexpr std::size_t kLooksPerThread = 32;

void look(const Unrooted& g, const FirstCopyView& view, const MoveScorer& scorer, double bound, LookScratch& scratch,
          Look& out) {
    const int v = out.v;
    const int p = view.parent(v);
    out.better = scorer.movesOf(g, view, v, bound, scratch.moves);
    std::stable_sort(out.better.begin(), out.better.end(),
                     [](const Move& l, const Move& r) { return l.gain < r.gain; });
    out.valid = -1;
    for (std::size_t i = 0; i < out.better.size(); ++i)
        if (scratch.trial.valid(v, p, out.better[i], scratch.reduction)) {
            out.valid = static_cast<int>(i);
            return;
        }
}

// Descents one after another in a run, so that a tree's number is its own:
// a lent thread's trial, made ready for one descent's tree, is not taken for
// another's.
std::atomic<std::int64_t> descents{0};

}  // namespace

bool LookHelp::share(int count, const std::function<void(int, LookScratch&)>& work, LookScratch& mine) {
    if (waiting_.load() == 0 || !sharing_.try_lock()) return false;
    Round round;
    round.work = &work;
    round.count = count;
    round_.store(&round);
    take(round, mine);
    // No lent thread takes a slice of it from now on; those that took one
    // finish it.
    round_.store(nullptr);
    while (inside_.load() != 0) std::this_thread::yield();
    sharing_.unlock();
    if (round.failure) std::rethrow_exception(round.failure);
    return true;
}

void LookHelp::take(Round& round, LookScratch& scratch) {
    try {
        for (int slice = round.next++; slice < round.count; slice = round.next++) (*round.work)(slice, scratch);
    } catch (...) {
        const std::lock_guard<std::mutex> hold(round.failureLock);
        if (!round.failure) round.failure = std::current_exception();
        round.next = round.count;
    }
}

void LookHelp::lend(int worker, const std::function<bool()>& done) {
    LookScratch& mine = scratch_[static_cast<std::size_t>(worker)];
    ++waiting_;
    while (!done()) {
        Round* round = round_.load();
        if (round == nullptr) {
            std::this_thread::yield();
            continue;
        }
        // Counted in before the round is looked at again: the descent that
        // shares it waits for the threads counted in once it is taken down.
        ++inside_;
        if (round_.load() == round) take(*round, mine);
        --inside_;
    }
    --waiting_;
}

void StreamPlace::scored(double score) {
    // The score may be worked out from gains, within about 1e-13 of the
    // length a move; 1e-8 leaves room for many thousands of moves.
    if (keptAt != nullptr && score < keepBelow - 1e-8 * std::fabs(keepBelow)) lowerTo(*keptAt, self);
}

bool descend(Unrooted& g, Topology& t, double& current, MoveScorer& scorer, Reduction& reduction, int n,
             KnownEnds& ends, ReconstructionProgress* progress, int threads, StreamPlace place) {
    if (ends.has(g, current, n)) return true;
    place.scored(current);
    threads = std::max(1, threads);
    // The tree after `taken` moves of this descent, numbered for the trials.
    const std::int64_t descent = descents++;
    int taken = 0;
    const auto treeNumber = [&] { return (descent << 32) + taken; };
    // A subtree that found no move is not looked at again until a move has
    // changed the tree: it would find none again.
    std::vector<int> foundNoneAt(g.next.size(), -1);
    bool improved = true;
    // Made again after every move taken, so a sweep starts from the tree's own.
    FirstCopyView view(g);
    scorer.reset(g, view);
    // The first thread's trial also tries the moves after a look's.
    std::vector<LookScratch> scratch(static_cast<std::size_t>(threads));
    MoveTrial& trial = scratch.front().trial;
    std::vector<Look> looks;
    std::vector<std::size_t> at;  // where each look's subtree is in the sweep
    // The nodes above the moved subtree's parent before the last move, and
    // that parent.
    std::vector<int> above;
    int movedParent = -1;
    // Whether `current` is the exact score of t, not worked out from gains;
    // it is made exact before it is compared with an exact score or left.
    bool exact = true;
    const auto makeExact = [&] {
        if (!exact) current = scorer.scoreOf(t);
        exact = true;
    };
    // Tries the improving moves of the subtree below v from the `from`th, the
    // first valid one known to be there; true when one was taken.
    const auto tryMoves = [&](int v, const std::vector<Move>& better, std::size_t from) {
        const int p = view.parent(v);
        Unrooted moved = g;
        Topology rooted;
        for (std::size_t i = from; i < better.size(); ++i) {
            const Move& move = better[i];
            if (i != from && !trial.valid(v, p, move, reduction)) continue;
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
            movedParent = p;
            g = std::move(moved);
            t = std::move(rooted);
            current = next;
            exact = !sure;
            ++taken;
            return true;
        }
        return false;
    };
    int sweep = 0;
    while (improved) {
        improved = false;
        ++sweep;
        const std::vector<int> order = view.postOrder();
        std::size_t k = 0;
        while (k < order.size()) {
            if (place.abandoned()) return false;
            // The next subtrees to look at, from the kth of the sweep: one at
            // a time on one thread with none lent to it, else a round for
            // the threads (which stops at the first valid move).
            const int lent = threads == 1 && place.help != nullptr ? place.help->waiting() : 0;
            const std::size_t room =
                threads == 1 && lent == 0 ? 1 : kLooksPerThread * static_cast<std::size_t>(std::max(threads, 1 + lent));
            looks.clear();
            at.clear();
            for (std::size_t j = k; j < order.size() && looks.size() < room; ++j) {
                const int v = order[j];
                const int p = view.parent(v);
                if (p <= 0 || foundNoneAt[static_cast<std::size_t>(v)] == taken) continue;
                looks.push_back({});
                looks.back().v = v;
                at.push_back(j);
            }
            if (looks.empty()) {
                if (progress != nullptr)
                    for (; k < order.size(); ++k)
                        if (k % kSubtreesPerReport == 0) progress->descending(sweep, taken);
                break;
            }
            const double bound = -1e-12 * std::fabs(current);
            // The first thread's trial is made ready here, since the moves
            // are tried with it after the round; the others' by their
            // threads, side by side.
            const std::int64_t number = treeNumber();
            if (scratch.front().readyFor != number) {
                trial.reset(g, n, t.root);
                scratch.front().readyFor = number;
            }
            // One look per slice, handed out in the sweep's order as threads
            // come free (a look that tries many moves costs many times one
            // that tries none), until a look finds a valid move: the slices
            // after it are left.
            std::atomic<std::size_t> firstValid{looks.size()};
            const std::function<void(int, LookScratch&)> lookAt = [&](int slice, LookScratch& mine) {
                const auto index = static_cast<std::size_t>(slice);
                if (index > firstValid.load(std::memory_order_relaxed)) return;
                if (mine.readyFor != number) {
                    mine.tree = g;
                    mine.trial.reset(mine.tree, n, t.root);
                    mine.readyFor = number;
                }
                Look& out = looks[index];
                look(g, view, scorer, bound, mine, out);
                out.looked = true;
                if (out.valid >= 0) lowerTo(firstValid, index);
            };
            const int count = static_cast<int>(looks.size());
            if (threads > 1) {
                runSlices(threads, count,
                          [&](int slice, int worker) { lookAt(slice, scratch[static_cast<std::size_t>(worker)]); });
            } else if (lent == 0 || !place.help->share(count, lookAt, scratch.front())) {
                for (int slice = 0; slice < count; ++slice) lookAt(slice, scratch.front());
            }
            // The looks in the order of the sweep, as one after another. The
            // slices handed out go in ascending order and only those after a
            // valid look are left, so every look before the first valid one
            // was made; a look left (the move before it was not taken after
            // all) begins the next round, k where the sweep has got to.
            bool moved = false;
            std::size_t i = 0;
            for (; i < looks.size() && !moved && looks[i].looked; ++i) {
                for (; k <= at[i]; ++k)
                    // Often enough that a long sweep is seen to go on.
                    if (progress != nullptr && k % kSubtreesPerReport == 0) progress->descending(sweep, taken);
                const Look& seen = looks[i];
                foundNoneAt[static_cast<std::size_t>(seen.v)] = taken;
                if (seen.valid < 0) continue;
                moved = tryMoves(seen.v, seen.better, static_cast<std::size_t>(seen.valid));
            }
            if (!moved) {
                if (i == looks.size()) k = at.back() + 1;
                continue;
            }
            improved = true;
            place.scored(current);
            if (ends.has(g, current, n)) {
                makeExact();
                return true;
            }
            view.orient(g);
            scorer.moved(g, view, movedParent, above);
        }
    }
    makeExact();
    ends.add(g, current, n);
    return true;
}

}  // namespace refine

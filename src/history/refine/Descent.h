#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

#include "history/ReconstructionProgress.h"
#include "history/refine/MoveScorer.h"
#include "history/refine/MoveTrial.h"
#include "history/refine/Recognition.h"
#include "history/refine/Topology.h"
#include "history/refine/Unrooted.h"

namespace refine {

// The trees that descents have ended at, so that no move improves them: a
// descent that meets one again would end there too, and so stops at once.
// Trees of the same score (to 1e-9 of it) are compared in full, by shapes
// of their own made in time linear in the tree. Descents
// running side by side may ask and add at once.
class KnownEnds {
public:
    bool has(const Unrooted& g, double score, int n) const;
    void add(const Unrooted& g, double score, int n);
    // Adds the ends this other one holds of its own.
    void addAll(const KnownEnds& other);
    // From now on only `shared` and the ends added after: the ends known
    // before a batch of descents, which each descent of the batch reads
    // without copying them, and which must not change until the batch ends.
    void startFrom(const KnownEnds* shared) {
        ends_.clear();
        shared_ = shared;
    }

private:
    // A tree's score and its shape, written so that two trees have the same
    // shape exactly when they are the same unrooted tree.
    struct End {
        double score;
        std::vector<int> shape;
    };
    // g's shape is made into `shape` (when empty) once a known end has the
    // score.
    bool has(const Unrooted& g, double score, int n, std::vector<int>& shape) const;
    bool knows(double score, const std::vector<int>& shape) const;

    std::vector<End> ends_;
    const KnownEnds* shared_ = nullptr;
    mutable std::mutex lock_;
};

// A trial and a reduction for one thread of looks, made ready for one tree
// of one descent (from a copy of the tree of its own: rooting a tree uses
// the tree's scratch).
struct LookScratch {
    MoveTrial trial;
    Reduction reduction;
    MoveScratch moves;
    Unrooted tree;
    std::int64_t readyFor = -1;
};

// Threads of a stream of descents that have nothing of their own to do,
// lent to the rounds of looks of the descents still under way. One round at
// a time is shared; a descent that finds the threads lent to another round,
// or none waiting, makes its round alone. A round is made of the same looks,
// whoever makes them.
class LookHelp {
public:
    explicit LookHelp(int threads) : scratch_(static_cast<std::size_t>(std::max(1, threads))) {}

    // Threads waiting for a round now.
    int waiting() const { return waiting_.load(); }
    // Runs work(slice, scratch) for slices 0 .. count-1, handed out in
    // ascending order, on this thread (with `mine`) and the threads that
    // come to help; returns when all have returned, false at once (nothing
    // run) when no thread can help. The first exception is thrown again here.
    bool share(int count, const std::function<void(int, LookScratch&)>& work, LookScratch& mine);
    // Lends the thread of `worker` to the rounds shared until done() is true.
    void lend(int worker, const std::function<bool()>& done);

private:
    struct Round {
        const std::function<void(int, LookScratch&)>* work;
        int count;
        std::atomic<int> next{0};
        std::mutex failureLock;
        std::exception_ptr failure;
    };
    void take(Round& round, LookScratch& scratch);

    std::vector<LookScratch> scratch_;  // a lent thread's, by worker
    std::mutex sharing_;                // held by the descent sharing a round
    std::atomic<Round*> round_{nullptr};
    std::atomic<int> inside_{0};  // lent threads that may be taking slices
    std::atomic<int> waiting_{0};
};

// Where a descent stands in a stream of descents (see Search): which start
// it is, the first start known to be kept (it is stopped once a start before
// it is), what its score must be below to be kept, and the threads it may
// borrow. Asked between rounds of looks.
struct StreamPlace {
    std::atomic<std::size_t>* keptAt = nullptr;
    std::size_t self = 0;
    double keepBelow = 0.0;
    LookHelp* help = nullptr;

    bool abandoned() const { return keptAt != nullptr && keptAt->load() < self; }
    // A descent whose score is below keepBelow by more than any rounding of
    // its gains is kept at its end, since its score only falls, unless a
    // start before it is kept first: the starts after it need not go on.
    void scored(double score);
};

// Sweeps of moves, each taking the first valid improving move of every
// subtree in turn, until a sweep takes none or the tree is one of `ends`;
// the tree it ends at joins them.
//
// A sweep meets the subtrees children before parents, seen from the first
// copy. A subtree's moves that improve the score by more than a relative
// 1e-12 are tried from the best (ties in the order met), and the first that
// can be rooted as a duplication tree and whose exact score is better is
// taken: g and t become the moved tree (t rooted where rootAsDuplicationTree
// roots it) and `current` its exact score. (A gain of more than 1e-9 of the
// length needs no exact score to tell: only smaller ones are checked.)
// `progress`, when given, hears the sweeps and the moves as they go.
// With threads (or threads that `place` lends), the subtrees next in the
// sweep are looked at side by side (their moves and the first valid one),
// and the looks are then taken in the sweep's order: the same moves as one
// thread takes. A descent that `place` stops returns false, its tree half
// descended and not added to the ends.
bool descend(Unrooted& g, Topology& t, double& current, MoveScorer& scorer, Reduction& reduction, int n,
             KnownEnds& ends, ReconstructionProgress* progress = nullptr, int threads = 1, StreamPlace place = {});

}  // namespace refine

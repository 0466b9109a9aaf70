#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

#include "history/ReconstructionProgress.h"
#include "history/refine/MoveScorer.h"
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

// What tells a descent of a batch that its result no longer matters: a start
// before it in the batch was kept. It is asked between rounds of looks.
struct Abandon {
    const std::atomic<std::size_t>* keptAt = nullptr;
    std::size_t self = 0;
    bool now() const { return keptAt != nullptr && keptAt->load(std::memory_order_relaxed) < self; }
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
// With threads, the subtrees next in the sweep are looked at side by side
// (their moves and the first valid one), and the looks are then taken in
// the sweep's order: the same moves as one thread takes. A descent that
// `abandon` stops returns false, its tree half descended and not added to
// the ends.
bool descend(Unrooted& g, Topology& t, double& current, MoveScorer& scorer, Reduction& reduction, int n,
             KnownEnds& ends, ReconstructionProgress* progress = nullptr, int threads = 1, Abandon abandon = {});

}  // namespace refine

#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "history/BlockCriterion.h"
#include "history/ReconstructionProgress.h"
#include "history/refine/BalancedLength.h"
#include "history/refine/BalancedScorer.h"
#include "history/refine/Descent.h"
#include "history/refine/FirstCopyView.h"
#include "history/refine/MoveTrial.h"
#include "history/refine/Rebuild.h"
#include "history/refine/Recognition.h"
#include "history/refine/Settings.h"
#include "history/refine/SideAverages.h"
#include "history/refine/Topology.h"
#include "history/refine/Unrooted.h"
#include "sequences/DistanceMatrix.h"

namespace refine {

// The search from a duplication tree under the balanced length: a descent,
// then kicks, rebuilds and the ratchet as the settings ask, each a series of
// starts from the current tree that the search descends from, the result
// replacing the current tree when it is shorter.
//
// With threads, starts are made in order and descended as threads come free,
// each from the same current tree; the first in order that is kept replaces
// it, the descents after it are abandoned (as soon as it is known to be
// kept, before its descent ends), and the subtrees after it make their
// starts again from the new tree: the trees are those of one descent after
// another, for any number of threads. Threads left without a start lend
// themselves to the looks of the descents still under way. (Which ends the
// descents know depends on timing, and a descent that meets a known end
// stops there, where it would end anyway.) Ratchet rounds run in groups of kRoundsAtOnce from
// the same tree whatever the number of threads, and the shortest of a group
// is kept.
class Search {
public:
    Search(const DistanceMatrix& distances, const RefineSettings& settings, int n,
           ReconstructionProgress* progress = nullptr);
    ~Search();

    // The tree the search ends at, from t.
    Topology run(Topology t);

private:
    // What a subtree's start made: nothing, nothing but it counts against
    // the budget, or a tree to descend from.
    enum class Start { kNone, kSpent, kMade };
    // Makes a start's tree where it is descended from, with that thread's
    // rebuilders and reduction, and threads for the criteria.
    using Build = std::function<Topology(const Rebuilders& rebuilders, Reduction& reduction, int threads)>;
    struct Descent {
        std::size_t at;
        int spent;  // of the budget, up to and including this start
        Unrooted tree;
        Topology rooted;
        double reached;
        int shaken;   // the round of shaken distances descended first, or -1
        Build build;  // when set, makes `rooted` (and `tree`) first
    };
    // What one thread descends with; the table of side averages is kept from
    // descent to descent.
    struct Worker {
        explicit Worker(const BalancedLength& l) : length(l) {}
        BalancedLength length;
        Reduction reduction;
        SideAverages averages;
        std::unique_ptr<BlockCriterion> own, quartets;
    };
    using MakeStart = std::function<Start(int subtree, Descent& start)>;

    // Descends from d's start, its subtrees looked at on `threads` threads;
    // `own` and `quartets` make a rebuild's tree, when the search rebuilds.
    void descendFrom(Descent& d, Worker& w, BlockCriterion* own, BlockCriterion* quartets, KnownEnds& known,
                     int threads, StreamPlace place = {});
    // The starts of `stage`; see Search.cpp. True when `lead` was kept.
    bool searchEach(const char* stage, std::vector<int> subtrees, int budget, const MakeStart& makeStart,
                    int rounds = 0, const Build& lead = nullptr);
    void descendBatch(std::deque<Descent>& batch);
    void descendStream(std::deque<Descent>& starts, const std::function<bool(Descent&)>& makeNext);
    void prepareWorkers(std::size_t count);
    bool shorter(double score) const;
    // What a descent's score must be below to be kept.
    double keepBelow() const;
    void adopt(Descent& kept);
    std::vector<Move> movesOf(int v);

    void kick();
    void rebuild();
    void ratchet();

    const DistanceMatrix& distances_;
    ReconstructionProgress* progress_;
    const RefineSettings settings_;
    const int n_;
    const int threads_;
    BalancedLength length_;
    std::vector<std::unique_ptr<Worker>> workers_;
    Reduction reduction_;
    KnownEnds ends_;
    // The ends that the descents of a batch or stream share as they find
    // them.
    KnownEnds batchEnds_;
    // The current tree, its score and its side averages.
    Unrooted g_;
    Topology t_;
    double current_ = 0.0;
    FirstCopyView view_;
    SideAverages averages_;
    MoveScratch moveScratch_;
    // The cheap validity tests of moves on the current tree.
    MoveTrial trial_;
    std::unique_ptr<BlockCriterion> own_, quartets_;
};

}  // namespace refine

#pragma once

#include <vector>

#include "history/refine/BalancedLength.h"
#include "history/refine/FirstCopyView.h"
#include "history/refine/MoveScorer.h"
#include "history/refine/MoveTrial.h"
#include "history/refine/Recognition.h"
#include "history/refine/SideAverages.h"
#include "history/refine/Topology.h"
#include "history/refine/Unrooted.h"
#include "likelihood/ParameterFit.h"
#include "likelihood/SiteLikelihood.h"
#include "sequences/DistanceMatrix.h"

namespace ml {

// The search for the duplication tree of greatest likelihood, from a
// duplication tree, by the moves of the balanced-length search (a subtree
// and its parent put on another edge, kept only when the tree stays a
// duplication tree).
//
// Each sweep meets every subtree once, children before parents seen from
// the first copy. The subtree is pruned, and each of its valid places is
// scored quickly: the edge it goes to split in halves, the subtree's edge
// as it was. The two best by that are scored lazily: the three edges around
// the new node optimised by Newton's method, one after the other, on
// vectors of the pruned tree; the best place that raises the log-likelihood
// by more than 1e-3 is taken (the first of equal quick scores in the order
// tried). Places are tried in the order
// of their balanced-length gain; with a shortlist of k, only the first k
// valid ones. Between sweeps every edge is optimised and then the model's
// parameters; sweeps end when one takes no move or gains less than 0.01.
class LikelihoodSearch {
public:
    LikelihoodSearch(SiteLikelihood& likelihood, const DistanceMatrix& distances, int n, int shortlist = 0);

    // Searches from the duplication tree `start`, with the length above
    // every node by its node number (the two below the root are one edge
    // unrooted: their sum is what counts). Without `search`, only the
    // lengths and the model are optimised, on the tree as it is.
    void run(const refine::Topology& start, const std::vector<double>& startAbove, bool search = true);

    // The tree found, unrooted and hung from copy 0, its lengths by node
    // number in that view, and a rooting as a duplication tree.
    const refine::Unrooted& unrooted() const { return g_; }
    const refine::FirstCopyView& view() const { return view_; }
    const std::vector<double>& above() const { return above_; }
    const refine::Topology& rooted() const { return t_; }
    double logLikelihood() const { return current_; }
    int movesTaken() const { return moves_; }

private:
    void polish(int passes, const FitSteps& steps);
    bool sweep();
    bool tryPlaces(int v);
    // The pruned tree, while the subtree below v is out.
    int parentOutside(int y) const { return y == s_ ? q_ : view_.parent(y); }
    int siblingOutside(int y) const;
    unsigned int matrixOutside(int y) const;
    double lengthOutside(int y) const;
    void makeUpOutside(int y);
    void makeDownOf(int x);
    void reachDown(int x);
    void restoreDown();
    struct Place {
        double logL;
        double toParent, toChild, toSubtree;
    };
    Place scorePlace(int y, int v);
    double quickScore(int y, int v);

    SiteLikelihood& likelihood_;
    int n_;
    int shortlist_;
    refine::BalancedLength length_;
    refine::SideAverages averages_;
    refine::MoveScratch moveScratch_;
    refine::Reduction reduction_;
    refine::MoveTrial trial_;
    refine::Unrooted g_;
    refine::Topology t_;
    refine::FirstCopyView view_;
    std::vector<double> above_;
    double current_ = 0.0;
    int moves_ = 0;
    // The subtree out: v's parent p, p's parent q, v's sibling s. upMade_
    // marks by stamp the up vectors made for the pruned tree, onPath_ q and
    // its ancestors, pathStep_ how far each is above q; the down vectors are
    // made for the pruned tree from q up to prunedTop_.
    int p_ = -1, q_ = -1, s_ = -1;
    std::vector<int> upMade_, onPath_, pathStep_;
    int prunedTop_ = -1;
    int stamp_ = 0;
};

}  // namespace ml

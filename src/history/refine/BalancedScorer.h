#pragma once

#include <vector>

#include "history/refine/BalancedLength.h"
#include "history/refine/MoveScorer.h"
#include "history/refine/SideAverages.h"

namespace refine {

// The balanced minimum evolution length as a search's score: moves are
// scored from the table of side averages of the current tree, trees by
// their exact length. Both are borrowed, so that a scorer is cheap to make
// and the table's storage is kept from search to search.
class BalancedScorer : public MoveScorer {
public:
    BalancedScorer(BalancedLength& length, SideAverages& averages) : length_(length), averages_(averages) {}

    double scoreOf(const Topology& t) override { return length_.of(t); }
    void reset(const Unrooted&, const FirstCopyView& view) override {
        averages_.rebuild(view, length_.table(), length_.count());
    }
    void moved(const Unrooted&, const FirstCopyView& view, int p, const std::vector<int>& above) override {
        averages_.update(view, length_.table(), p, above);
    }
    std::vector<Move> movesOf(const Unrooted& g, const FirstCopyView& view, int v, double below,
                              MoveScratch& scratch) const override;

private:
    BalancedLength& length_;
    SideAverages& averages_;
};

// Every move of the subtree below v to an edge of the rest of the tree, with
// the change of the balanced length it makes, from the side averages A of
// the tree; in the order met.
std::vector<Move> balancedMoves(const SideAverages& A, const FirstCopyView& view, const Unrooted& g, int v,
                                MoveScratch& scratch);
std::vector<Move> balancedMoves(const SideAverages& A, const FirstCopyView& view, const Unrooted& g, int v);
// Only those whose change is below `below`, in the same order.
std::vector<Move> balancedMoves(const SideAverages& A, const FirstCopyView& view, const Unrooted& g, int v,
                                double below, MoveScratch& scratch);

}  // namespace refine

#include "likelihood/LikelihoodSearch.h"

#include <algorithm>

#include "history/refine/BalancedScorer.h"
#include "history/refine/Moves.h"
#include "likelihood/ParameterFit.h"

namespace ml {

namespace {

// Scratch matrices of the likelihood: the edge the subtree left (its two
// halves joined) and the three edges around the place being scored.
constexpr int kJoined = 0, kToParent = 1, kToChild = 2, kToSubtree = 3;
constexpr double kTakeGain = 1e-3;
constexpr double kRoundGain = 0.01;
constexpr int kMostRounds = 32;
// The three lengths around a place being scored need not be exact: the
// place taken has every length fitted again between sweeps.
constexpr double kPlaceTolerance = 1e-3;
// Places scored in full per subtree, the best by the quick score: on the
// quick accuracy grid two find the same trees as all, one a little worse.
constexpr std::size_t kFullScores = 2;

}  // namespace

LikelihoodSearch::LikelihoodSearch(SiteLikelihood& likelihood, const DistanceMatrix& distances, int n, int shortlist)
    : likelihood_(likelihood), n_(n), shortlist_(shortlist), length_(distances, n) {}

void LikelihoodSearch::run(const refine::Topology& start, const std::vector<double>& startAbove, bool search) {
    t_ = start;
    g_ = refine::Unrooted(t_);
    view_.orient(g_);
    // The edge above x in the view is the rooted tree's edge above x or
    // above its view parent, or the root's two edges as one.
    above_.assign(g_.next.size(), 0.0);
    const auto rooted = [&](int x) { return std::max(startAbove[static_cast<std::size_t>(x)], 1e-3); };
    for (const int x : view_.postOrder()) {
        const int p = view_.parent(x);
        const int tp = t_.parent[static_cast<std::size_t>(x)];
        double& length = above_[static_cast<std::size_t>(x)];
        if (tp == p)
            length = rooted(x);
        else if (t_.parent[static_cast<std::size_t>(p)] == x)
            length = rooted(p);
        else
            length = rooted(x) + rooted(p);  // both below the root
    }
    upMade_.assign(g_.next.size(), 0);
    onPath_.assign(g_.next.size(), 0);
    pathStep_.assign(g_.next.size(), 0);
    current_ = likelihood_.evaluate(view_, above_);
    // The parameters over their whole range first, near where they are
    // after that; loosely while the tree still changes.
    polish(3, FitSteps{1e-2, 0.0});
    for (int round = 0; search && round < kMostRounds; ++round) {
        const double before = current_;
        const bool moved = sweep();
        polish(2, FitSteps{1e-2, 1.0});
        if (!moved || current_ - before < kRoundGain) break;
    }
    // The lengths and the parameters of the tree found, to convergence.
    for (int round = 0; round < kMostRounds; ++round) {
        const double before = current_;
        polish(2, FitSteps{1e-3, 1.0});
        if (current_ - before < 1e-3) break;
    }
}

// Every edge, then the model, then every edge again.
void LikelihoodSearch::polish(int passes, const FitSteps& steps) {
    current_ = likelihood_.optimiseLengths(view_, above_, passes);
    if (!hasFreeParameters(likelihood_.model())) return;
    fitModelParameters(likelihood_, view_, above_, current_, steps);
    current_ = likelihood_.optimiseLengths(view_, above_, 1);
}

bool LikelihoodSearch::sweep() {
    bool moved = false;
    averages_.rebuild(view_, length_.table(), n_);
    trial_.reset(g_, n_, t_.root);
    const std::vector<int> order = view_.postOrder();
    for (const int v : order) {
        if (view_.parent(v) <= 0) continue;
        if (tryPlaces(v)) moved = true;
    }
    return moved;
}

int LikelihoodSearch::siblingOutside(int y) const {
    const int a = parentOutside(y);
    const auto& pair = view_.children(a);
    if (a == q_) {
        // q's children, p being out: s and q's other child.
        const int other = pair[0] == p_ ? pair[1] : pair[0];
        return y == s_ ? other : s_;
    }
    return pair[0] == y ? pair[1] : pair[0];
}

unsigned int LikelihoodSearch::matrixOutside(int y) const {
    return y == s_ ? likelihood_.scratchMatrix(kJoined) : likelihood_.edgeMatrix(y);
}

double LikelihoodSearch::lengthOutside(int y) const {
    const auto at = [&](int x) { return above_[static_cast<std::size_t>(x)]; };
    return y == s_ ? at(s_) + at(p_) : at(y);
}

// up(y) of the pruned tree, made with those of its ancestors that are not
// made yet.
void LikelihoodSearch::makeUpOutside(int y) {
    std::vector<int> path;
    for (int x = y; parentOutside(x) > 0 && upMade_[static_cast<std::size_t>(x)] != stamp_; x = parentOutside(x))
        path.push_back(x);
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
        const int x = *it, a = parentOutside(x), sibling = siblingOutside(x);
        reachDown(sibling);
        likelihood_.combine(likelihood_.up(x, a), likelihood_.up(a, parentOutside(a)), matrixOutside(a),
                            likelihood_.down(sibling), matrixOutside(sibling));
        upMade_[static_cast<std::size_t>(x)] = stamp_;
    }
}

// down(x) made from x's children as the view has them.
void LikelihoodSearch::makeDownOf(int x) {
    const auto& [l, r] = view_.children(x);
    likelihood_.combine(likelihood_.down(x), likelihood_.down(l), likelihood_.edgeMatrix(l), likelihood_.down(r),
                        likelihood_.edgeMatrix(r));
}

// The down vectors of q's ancestors still hold the subtree until a place
// needs one of them without it (most places lie near the subtree, so most
// of the path to copy 0 is never needed): down(x) for q's ancestor x then
// made for the pruned tree, with those between q and x.
void LikelihoodSearch::reachDown(int x) {
    if (onPath_[static_cast<std::size_t>(x)] != stamp_) return;
    while (pathStep_[static_cast<std::size_t>(prunedTop_)] < pathStep_[static_cast<std::size_t>(x)]) {
        prunedTop_ = view_.parent(prunedTop_);
        makeDownOf(prunedTop_);
    }
}

// The down vectors made for the pruned tree, from q up to the highest
// reached, made again with the subtree in its place.
void LikelihoodSearch::restoreDown() {
    if (q_ <= 0) return;
    for (int x = q_;; x = view_.parent(x)) {
        makeDownOf(x);
        if (x == prunedTop_) break;
    }
}

double LikelihoodSearch::quickScore(int y, int v) {
    SiteLikelihood& L = likelihood_;
    const unsigned int toParent = L.scratchMatrix(kToParent), toChild = L.scratchMatrix(kToChild);
    L.setMatrix(toParent, lengthOutside(y) / 2);
    L.setMatrix(toChild, lengthOutside(y) / 2);
    L.combine(L.scratch(0), L.up(y, parentOutside(y)), toParent, L.down(y), toChild);
    return L.edgeLogLikelihood(L.scratch(0), L.down(v), L.edgeMatrix(v));
}

LikelihoodSearch::Place LikelihoodSearch::scorePlace(int y, int v) {
    SiteLikelihood& L = likelihood_;
    const SiteLikelihood::Vector outside = L.up(y, parentOutside(y)), below = L.down(y), subtree = L.down(v),
                                 node = L.scratch(0);
    const unsigned int toParent = L.scratchMatrix(kToParent), toChild = L.scratchMatrix(kToChild),
                       toSubtree = L.scratchMatrix(kToSubtree);
    Place place{0.0, lengthOutside(y) / 2, lengthOutside(y) / 2, above_[static_cast<std::size_t>(v)]};
    L.setMatrix(toParent, place.toParent);
    L.setMatrix(toChild, place.toChild);
    L.setMatrix(toSubtree, place.toSubtree);
    L.combine(node, outside, toParent, below, toChild);
    place.toSubtree = L.optimiseEdge(node, subtree, toSubtree, place.toSubtree, kPlaceTolerance);
    L.combine(node, below, toChild, subtree, toSubtree);
    place.toParent = L.optimiseEdge(node, outside, toParent, place.toParent, kPlaceTolerance);
    L.combine(node, outside, toParent, subtree, toSubtree);
    place.toChild = L.optimiseEdge(node, below, toChild, place.toChild, kPlaceTolerance);
    place.logL = L.edgeLogLikelihood(node, below, toChild);
    return place;
}

bool LikelihoodSearch::tryPlaces(int v) {
    p_ = view_.parent(v);
    q_ = view_.parent(p_);
    const auto& pair = view_.children(p_);
    s_ = pair[0] == v ? pair[1] : pair[0];
    std::vector<refine::Move> moves = refine::balancedMoves(averages_, view_, g_, v, moveScratch_);
    std::stable_sort(moves.begin(), moves.end(),
                     [](const refine::Move& l, const refine::Move& r) { return l.gain < r.gain; });
    // The pruned tree: s takes p's place below q.
    likelihood_.setMatrix(likelihood_.scratchMatrix(kJoined), lengthOutside(s_));
    if (q_ > 0) {
        const auto& above = view_.children(q_);
        const int other = above[0] == p_ ? above[1] : above[0];
        likelihood_.combine(likelihood_.down(q_), likelihood_.down(s_), matrixOutside(s_), likelihood_.down(other),
                            likelihood_.edgeMatrix(other));
    }
    ++stamp_;
    prunedTop_ = q_;
    for (int x = q_, step = 0; x > 0; x = view_.parent(x), ++step) {
        onPath_[static_cast<std::size_t>(x)] = stamp_;
        pathStep_[static_cast<std::size_t>(x)] = step;
    }
    // Every valid place scored quickly, the edge split in halves and the
    // subtree's own length kept; the best few scored in full.
    struct Quick {
        double logL;
        std::size_t move;
        int y;
    };
    std::vector<Quick> quick;
    int tried = 0;
    for (std::size_t k = 0; k < moves.size(); ++k) {
        if (shortlist_ > 0 && tried >= shortlist_) break;
        if (!trial_.valid(v, p_, moves[k], reduction_)) continue;
        ++tried;
        const int y = parentOutside(moves[k].to) == moves[k].from ? moves[k].to : moves[k].from;
        makeUpOutside(y);
        reachDown(y);
        quick.push_back({quickScore(y, v), k, y});
    }
    const std::size_t full = std::min(quick.size(), kFullScores);
    std::partial_sort(
        quick.begin(), quick.begin() + static_cast<std::ptrdiff_t>(full), quick.end(),
        [](const Quick& l, const Quick& r) { return l.logL > r.logL || (l.logL == r.logL && l.move < r.move); });
    double best = current_ + kTakeGain;
    const Quick* taken = nullptr;
    Place chosen{};
    for (std::size_t k = 0; k < full; ++k) {
        const Place place = scorePlace(quick[k].y, v);
        if (place.logL > best) {
            best = place.logL;
            taken = &quick[k];
            chosen = place;
        }
    }
    if (taken == nullptr) {
        restoreDown();
        return false;
    }
    const refine::Move& move = moves[taken->move];
    const int y = taken->y;
    refine::Unrooted moved;
    refine::Topology rooted;
    if (!refine::movedTree(g_, v, p_, move, n_, t_.root, reduction_, moved, rooted)) {
        restoreDown();
        return false;
    }
    above_[static_cast<std::size_t>(s_)] = lengthOutside(s_);
    above_[static_cast<std::size_t>(p_)] = chosen.toParent;
    above_[static_cast<std::size_t>(y)] = chosen.toChild;
    above_[static_cast<std::size_t>(v)] = chosen.toSubtree;
    g_ = std::move(moved);
    t_ = std::move(rooted);
    view_.orient(g_);
    trial_.reset(g_, n_, t_.root);
    averages_.rebuild(view_, length_.table(), n_);
    current_ = likelihood_.evaluate(view_, above_);
    ++moves_;
    return true;
}

}  // namespace ml

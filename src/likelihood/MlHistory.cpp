#include "likelihood/MlHistory.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <random>

#include "history/refine/BalancedLength.h"
#include "history/refine/BalancedScorer.h"
#include "history/refine/ClockRoot.h"
#include "history/refine/MoveTrial.h"
#include "history/refine/Moves.h"
#include "history/refine/Recognition.h"
#include "history/refine/Replay.h"
#include "history/refine/SideAverages.h"
#include "likelihood/LikelihoodSearch.h"
#include "likelihood/SiteLikelihood.h"

namespace {

// A node of a rooted tree is named by its clade: the least copy below it
// and how many copies are below it (two clades of the same least copy are
// nested, so their sizes differ).
std::vector<long long> cladeKeys(const refine::Topology& t) {
    std::vector<int> least(t.parent.size(), 0), size(t.parent.size(), 0);
    std::vector<long long> keys(t.parent.size(), -1);
    for (const int x : t.postOrder()) {
        const auto ux = static_cast<std::size_t>(x);
        if (t.isLeaf(x)) {
            least[ux] = x;
            size[ux] = 1;
        } else {
            const auto [l, r] = t.child[ux];
            least[ux] = std::min(least[static_cast<std::size_t>(l)], least[static_cast<std::size_t>(r)]);
            size[ux] = size[static_cast<std::size_t>(l)] + size[static_cast<std::size_t>(r)];
        }
        keys[ux] = static_cast<long long>(least[ux]) * (t.n + 1) + size[ux];
    }
    return keys;
}

// The length of the unrooted edge between neighbours a and b.
double edgeLength(const refine::FirstCopyView& view, const std::vector<double>& above, int a, int b) {
    return above[static_cast<std::size_t>(view.parent(a) == b ? a : b)];
}

// Distances from c down to every copy below it in t.
std::vector<double> depthsBelow(const refine::Topology& t, int c, const refine::FirstCopyView& view,
                                const std::vector<double>& above) {
    std::vector<double> depths;
    std::vector<std::pair<int, double>> stack = {{c, 0.0}};
    while (!stack.empty()) {
        const auto [x, depth] = stack.back();
        stack.pop_back();
        if (t.isLeaf(x)) {
            depths.push_back(depth);
            continue;
        }
        for (const int y : t.child[static_cast<std::size_t>(x)])
            stack.push_back({y, depth + edgeLength(view, above, x, y)});
    }
    return depths;
}

double mean(const std::vector<double>& values) {
    double sum = 0.0;
    for (const double v : values) sum += v;
    return sum / static_cast<double>(values.size());
}

// Where the root stands on the edge between its children c1 and c2: the
// distance from c1 at which the mean root-to-copy distance is the same on
// both sides, kept within the edge; and the variance of those distances.
struct RootSplit {
    double aboveFirst;
    double variance;
};

RootSplit rootSplit(const refine::Topology& t, const refine::FirstCopyView& view, const std::vector<double>& above) {
    const auto [c1, c2] = t.child[static_cast<std::size_t>(t.root)];
    const double length = edgeLength(view, above, c1, c2);
    const std::vector<double> one = depthsBelow(t, c1, view, above);
    const std::vector<double> two = depthsBelow(t, c2, view, above);
    const double split = std::clamp((mean(two) + length - mean(one)) / 2, 0.0, length);
    std::vector<double> depths;
    for (const double d : one) depths.push_back(d + split);
    for (const double d : two) depths.push_back(d + (length - split));
    return {split, refine::varianceOf(depths)};
}

bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '*'; }

// Which sites of the segment at each node have a letter in some copy below.
std::vector<std::vector<char>> lettersBelow(const refine::Topology& t, const std::vector<std::string>& sequences) {
    const std::size_t length = sequences[0].size();
    std::vector<std::vector<char>> below(t.parent.size());
    for (const int x : t.postOrder()) {
        auto& mine = below[static_cast<std::size_t>(x)];
        mine.assign(length, 0);
        if (t.isLeaf(x)) {
            for (std::size_t s = 0; s < length; ++s) mine[s] = isLetter(sequences[static_cast<std::size_t>(x)][s]);
            continue;
        }
        for (const int c : t.child[static_cast<std::size_t>(x)])
            for (std::size_t s = 0; s < length; ++s) mine[s] = mine[s] || below[static_cast<std::size_t>(c)][s];
    }
    return below;
}

// Up to `moves` random valid moves of t (each a random subtree to a random
// one of its valid places); false when none could be made.
bool jumped(refine::Topology& t, int n, int moves, const refine::BalancedLength& length, std::mt19937_64& random) {
    refine::Unrooted g(t);
    refine::Reduction reduction;
    refine::SideAverages averages;
    refine::MoveTrial trial;
    int made = 0;
    for (int tries = 0; tries < 4 * moves && made < moves; ++tries) {
        const refine::FirstCopyView view(g);
        const int v = 1 + static_cast<int>(random() % static_cast<std::uint64_t>(view.nodeCount() - 1));
        const int p = view.parent(v);
        if (p <= 0) continue;
        averages.rebuild(view, length.table(), n);
        trial.reset(g, n, t.root);
        std::vector<refine::Move> places = refine::balancedMoves(averages, view, g, v);
        for (std::size_t i = places.size(); i > 1; --i)
            std::swap(places[i - 1], places[static_cast<std::size_t>(random() % i)]);
        for (const refine::Move& move : places) {
            refine::Unrooted moved;
            refine::Topology rooted;
            if (!trial.valid(v, p, move, reduction) ||
                !refine::movedTree(g, v, p, move, n, t.root, reduction, moved, rooted))
                continue;
            g = std::move(moved);
            t = std::move(rooted);
            ++made;
            break;
        }
    }
    return made > 0;
}

// The rounds of `settings.perturb` from the search `best` (see
// maximumLikelihoodHistory); returns the most likely search, its vectors
// and the model made again for its own tree.
std::unique_ptr<ml::LikelihoodSearch> perturbedSearches(std::unique_ptr<ml::LikelihoodSearch> best,
                                                        SiteLikelihood& likelihood, const DistanceMatrix& distances,
                                                        int n, const MlSettings& settings) {
    const refine::BalancedLength length(distances, n);
    std::mt19937_64 random(settings.seed);
    const int moves = std::max(4, n / 6);
    SubstitutionModel bestModel = likelihood.model();
    bool lastIsBest = true;
    for (int round = 0; round < settings.perturb; ++round) {
        refine::Topology t = best->rooted();
        if (!jumped(t, n, moves, length, random)) continue;
        const DuplicationTree start = refine::historyOf(t, distances);
        likelihood.setModel(bestModel);
        auto next = std::make_unique<ml::LikelihoodSearch>(likelihood, distances, n, settings.shortlist);
        next->run(refine::topologyOf(start), fitEdgeLengths(start, distances).above);
        lastIsBest = next->logLikelihood() > best->logLikelihood() + 1e-3;
        if (!lastIsBest) continue;
        best = std::move(next);
        bestModel = likelihood.model();
    }
    if (lastIsBest) return best;
    // The library's vectors and the model are the last search's: the best
    // tree is optimised again on its own.
    likelihood.setModel(bestModel);
    const DuplicationTree kept = refine::historyOf(best->rooted(), distances);
    auto again = std::make_unique<ml::LikelihoodSearch>(likelihood, distances, n, settings.shortlist);
    again->run(refine::topologyOf(kept), fitEdgeLengths(kept, distances).above, false);
    return again;
}

}  // namespace

MlOutcome maximumLikelihoodHistory(DuplicationTree& history, const std::vector<std::string>& sequences, bool protein,
                                   const DistanceMatrix& distances, const MlSettings& settings) {
    const int n = history.leafCount;
    MlOutcome outcome;
    SiteLikelihood likelihood(sequences, startingModel(settings.model, protein, sequences), settings.threads);
    auto best = std::make_unique<ml::LikelihoodSearch>(likelihood, distances, n, settings.shortlist);
    best->run(refine::topologyOf(history), fitEdgeLengths(history, distances).above);
    if (settings.perturb > 0 && n >= 4) best = perturbedSearches(std::move(best), likelihood, distances, n, settings);
    const ml::LikelihoodSearch& search = *best;
    const refine::FirstCopyView& view = search.view();
    const std::vector<double>& above = search.above();
    const refine::Topology u = refine::leastVarianceRoot(
        search.rooted(), [&](const refine::Topology& t) { return rootSplit(t, view, above).variance; });
    const double aboveFirst = rootSplit(u, view, above).aboveFirst;
    outcome.logLikelihood = search.logLikelihood();
    outcome.model = likelihood.model();
    outcome.modelText = outcome.model.description();
    outcome.moves = search.movesTaken();

    history = refine::historyOf(u, distances);
    const refine::Topology made = refine::topologyOf(history);
    // Node numbers of u by clade, for the history's own numbering.
    const std::vector<long long> keysOfU = cladeKeys(u), keysOfMade = cladeKeys(made);
    std::vector<int> inU(made.parent.size(), -1);
    {
        std::vector<std::pair<long long, int>> sorted;
        for (std::size_t x = 0; x < keysOfU.size(); ++x)
            if (keysOfU[x] >= 0) sorted.push_back({keysOfU[x], static_cast<int>(x)});
        std::sort(sorted.begin(), sorted.end());
        for (std::size_t x = 0; x < keysOfMade.size(); ++x) {
            const auto it = std::lower_bound(sorted.begin(), sorted.end(), std::make_pair(keysOfMade[x], -1));
            inU[x] = it->second;
        }
    }
    const int c1 = u.child[static_cast<std::size_t>(u.root)][0], c2 = u.child[static_cast<std::size_t>(u.root)][1];
    const double rootEdge = edgeLength(view, above, c1, c2);
    const auto rootedLength = [&](int x) {
        const int p = u.parent[static_cast<std::size_t>(x)];
        if (p < 0) return 0.0;
        if (p == u.root) return x == c1 ? aboveFirst : rootEdge - aboveFirst;
        return edgeLength(view, above, x, p);
    };
    outcome.lengths.above.assign(made.parent.size(), 0.0);
    for (std::size_t x = 0; x < made.parent.size(); ++x) outcome.lengths.above[x] = rootedLength(inU[x]);

    if (!settings.ancestors) return outcome;
    likelihood.makeUp(view);
    const std::vector<std::vector<char>> below = lettersBelow(u, sequences);
    const char* letters = stateLetters(protein);
    const std::vector<int>& patternOfSite = likelihood.patternOfSite();
    for (int k = 1; k < n; ++k) {
        const int x = inU[static_cast<std::size_t>(nodeNumber(-k, n))];
        std::vector<int> states;
        if (x == u.root) {
            // The root stands on the edge between c1 and c2; the lower of the
            // two in the view from copy 0 names that edge.
            const int lower = view.parent(c1) == c2 ? c1 : c2;
            states = likelihood.likeliestStates(view, above, lower, rootedLength(lower));
        } else {
            states = likelihood.likeliestStates(view, above, x, 0.0);
        }
        std::string sequence(patternOfSite.size(), '-');
        const auto& hasLetter = below[static_cast<std::size_t>(x)];
        for (std::size_t s = 0; s < sequence.size(); ++s)
            if (hasLetter[s]) sequence[s] = letters[states[static_cast<std::size_t>(patternOfSite[s])]];
        outcome.ancestors.push_back(std::move(sequence));
    }
    return outcome;
}

double optimisedLogLikelihood(const DuplicationTree& history, const std::vector<std::string>& sequences, bool protein,
                              const DistanceMatrix& distances, const ModelChoice& model) {
    SiteLikelihood likelihood(sequences, startingModel(model, protein, sequences));
    ml::LikelihoodSearch search(likelihood, distances, history.leafCount);
    search.run(refine::topologyOf(history), fitEdgeLengths(history, distances).above, false);
    return search.logLikelihood();
}

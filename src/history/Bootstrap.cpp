#include "history/Bootstrap.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <random>
#include <unordered_map>

#include "common/FailedRun.h"
#include "common/Parallel.h"
#include "common/myException.h"
#include "history/Refinement.h"

namespace {

// The clusters (sets of copies below each ancestral segment) of one history,
// found again in other trees exactly and in linear time: the copies are
// numbered in the order a walk of this history meets them, so that each of
// its clusters is a run [lo, hi] of those numbers. Another tree's cluster is
// one of them exactly when its numbers form a run, and that run is one.
class ClusterIndex {
public:
    explicit ClusterIndex(const DuplicationTree& history) : n_(history.leafCount) {
        position_.assign(static_cast<std::size_t>(n_), 0);
        int next = 0;
        BinaryTree::walk(
            history.root.get(), [&](const TreeNode& leaf) { position_[static_cast<std::size_t>(leaf.label)] = next++; },
            [](const TreeNode&) {}, [](const TreeNode&) {}, [](const TreeNode&) {});
        forEachCluster(history, [&](int label, int lo, int hi) { ancestorOfRun_[key(lo, hi)] = -label; });
    }

    // For every ancestral segment -k of `tree`: the number of the history's
    // ancestral segment over the same copies, or 0. Indexed by k - 1.
    void match(const DuplicationTree& tree, std::vector<int>& matched) const {
        matched.assign(static_cast<std::size_t>(std::max(tree.leafCount - 1, 0)), 0);
        forEachCluster(tree, [&](int label, int lo, int hi) {
            const auto found = ancestorOfRun_.find(key(lo, hi));
            if (found != ancestorOfRun_.end()) matched[static_cast<std::size_t>(-label - 1)] = found->second;
        });
    }

private:
    std::uint64_t key(int lo, int hi) const {
        return static_cast<std::uint64_t>(lo) * static_cast<std::uint64_t>(n_) + static_cast<std::uint64_t>(hi);
    }

    // Calls visit(label, lo, hi) for every ancestral segment whose copies
    // are exactly the positions lo .. hi.
    template <typename Visit>
    void forEachCluster(const DuplicationTree& tree, Visit visit) const {
        struct Span {
            int lo, hi, size;
        };
        std::vector<Span> stack;
        BinaryTree::walk(
            tree.root.get(),
            [&](const TreeNode& leaf) {
                const int p = position_[static_cast<std::size_t>(leaf.label)];
                stack.push_back({p, p, 1});
            },
            [](const TreeNode&) {}, [](const TreeNode&) {},
            [&](const TreeNode& inner) {
                const Span right = stack.back();
                stack.pop_back();
                Span& left = stack.back();
                left = {std::min(left.lo, right.lo), std::max(left.hi, right.hi), left.size + right.size};
                if (left.hi - left.lo + 1 == left.size) visit(inner.label, left.lo, left.hi);
            });
    }

    int n_;
    std::vector<int> position_;
    std::unordered_map<std::uint64_t, int> ancestorOfRun_;
};

// The random stream of replicate r: its seed mixes the run's seed with r
// (the finaliser of splitmix64), so no two replicates share a stream.
std::mt19937_64 replicateStream(std::uint64_t seed, int replicate) {
    std::uint64_t z = seed + 0x9e3779b97f4a7c15ULL * (static_cast<std::uint64_t>(replicate) + 1);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return std::mt19937_64(z ^ (z >> 31));
}

// What one thread adds up.
struct Tally {
    int leftOut = 0;
    std::vector<int> segment;
    std::vector<int> block;
};

}  // namespace

namespace {

// What each worker of a bootstrap keeps: its own copy of the alignment to
// resample, its own criterion and tree, and its own counts.
struct BootstrapWorker {
    bool ready = false;
    SequenceSet replicate;
    std::unique_ptr<BlockCriterion> chooser;
    DuplicationTree tree;
    std::vector<int> columns, matched, segments;
    Tally tally;

    // Made ready for its first replicate.
    void prepare(const SequenceSet& sequences, const CriterionEntry& criterion, const HistorySupport& support) {
        tally.segment.assign(support.segmentCount.size(), 0);
        tally.block.assign(support.blockCount.size(), 0);
        replicate.isProtein = sequences.isProtein;
        replicate.distanceOptions = sequences.distanceOptions;
        replicate.count = sequences.count;
        replicate.length = sequences.length;
        replicate.sequences = sequences.sequences;
        chooser = criterion.make();
        columns.resize(static_cast<std::size_t>(sequences.length));
        ready = true;
    }
};

}  // namespace

namespace {

// Which ancestral segments have only identical copies below them (see
// HistorySupport::identicalBelow): both children's copies identical among
// themselves, and to each other's.
std::vector<char> identicalSegments(const DuplicationTree& history, const SequenceSet& sequences) {
    const int n = history.leafCount;
    std::vector<char> identical(static_cast<std::size_t>(std::max(n - 1, 0)), 0);
    std::vector<int> anyCopy(static_cast<std::size_t>(std::max(2 * n - 1, 0)), -1);  // by node number
    std::vector<char> same(anyCopy.size(), 1);
    BinaryTree::walk(
        history.root.get(), [&](const TreeNode& leaf) { anyCopy[static_cast<std::size_t>(leaf.label)] = leaf.label; },
        [](const TreeNode&) {}, [](const TreeNode&) {},
        [&](const TreeNode& inner) {
            const auto at = static_cast<std::size_t>(nodeNumber(inner.label, n));
            const auto left = static_cast<std::size_t>(nodeNumber(inner.left->label, n));
            const auto right = static_cast<std::size_t>(nodeNumber(inner.right->label, n));
            anyCopy[at] = anyCopy[left];
            same[at] = same[left] && same[right] &&
                       sequences.sequences[static_cast<std::size_t>(anyCopy[left])] ==
                           sequences.sequences[static_cast<std::size_t>(anyCopy[right])];
            identical[static_cast<std::size_t>(-inner.label - 1)] = same[at];
        });
    return identical;
}

}  // namespace

HistorySupport bootstrapSupport(const SequenceSet& sequences, const DuplicationTree& history,
                                const CriterionEntry& criterion, const BootstrapSettings& settings,
                                ReconstructionProgress* progress) {
    HistorySupport support;
    support.replicates = settings.replicates;
    const int n = history.leafCount;
    support.segmentCount.assign(static_cast<std::size_t>(std::max(n - 1, 0)), 0);
    support.blockCount.assign(history.blocks.size(), 0);
    if (settings.replicates <= 0 || n < 1) return support;
    if (static_cast<int>(sequences.sequences.size()) == n)
        support.identicalBelow = identicalSegments(history, sequences);

    const ClusterIndex clusters(history);
    // Each block as the list of its segments' numbers, in order.
    std::map<std::vector<int>, std::size_t> blockOfSegments;
    for (std::size_t b = 0; b < history.blocks.size(); ++b) {
        std::vector<int> segments;
        for (const int label : history.blocks[b]) segments.push_back(-label);
        blockOfSegments.emplace(std::move(segments), b);
    }

    const int threads = std::max(1, std::min(settings.threads, settings.replicates));
    std::vector<BootstrapWorker> workers(static_cast<std::size_t>(threads));
    // Replicates are refined as the history was, rebuilt by its criterion.
    RefineSettings refining = settings.refining;
    refining.criterion = criterion.number;
    auto oneReplicate = [&](int r, int w) {
        BootstrapWorker& me = workers[static_cast<std::size_t>(w)];
        if (!me.ready) me.prepare(sequences, criterion, support);
        std::mt19937_64 random = replicateStream(settings.seed, r);
        const auto L = static_cast<std::uint64_t>(sequences.length);
        for (int& column : me.columns) column = static_cast<int>(random() % L);
        for (std::size_t i = 0; i < sequences.sequences.size(); ++i)
            for (std::size_t c = 0; c < me.columns.size(); ++c)
                me.replicate.sequences[i][c] = sequences.sequences[i][static_cast<std::size_t>(me.columns[c])];
        try {
            me.replicate.computeDistances();
        } catch (const myException&) {
            ++me.tally.leftOut;
            return;
        } catch (const FailedRun&) {  // two copies kept no column without a gap
            ++me.tally.leftOut;
            return;
        }
        me.tree.reconstruct(*me.replicate.distances, *me.chooser);
        if (settings.refine) refineHistory(me.tree, *me.replicate.distances, refining);
        if (settings.research) settings.research(me.tree, me.replicate);
        clusters.match(me.tree, me.matched);
        for (const int k : me.matched)
            if (k > 0) ++me.tally.segment[static_cast<std::size_t>(k - 1)];
        for (const DuplicationBlock& block : me.tree.blocks) {
            me.segments.clear();
            for (const int label : block) me.segments.push_back(me.matched[static_cast<std::size_t>(-label - 1)]);
            if (std::find(me.segments.begin(), me.segments.end(), 0) != me.segments.end()) continue;
            const auto found = blockOfSegments.find(me.segments);
            if (found != blockOfSegments.end()) ++me.tally.block[found->second];
        }
    };
    // Only the calling thread tells the progress line, of all replicates done.
    std::atomic<int> done{0};
    runSlices(threads, settings.replicates, [&](int r, int w) {
        oneReplicate(r, w);
        const int finished = ++done;
        if (w == 0 && progress != nullptr) progress->replicated(finished, settings.replicates);
    });

    // Whole counts: the sum is the same whichever thread ran which replicate.
    for (const BootstrapWorker& worker : workers) {
        if (!worker.ready) continue;
        const Tally& tally = worker.tally;
        support.leftOut += tally.leftOut;
        for (std::size_t k = 0; k < tally.segment.size(); ++k) support.segmentCount[k] += tally.segment[k];
        for (std::size_t b = 0; b < tally.block.size(); ++b) support.blockCount[b] += tally.block[b];
    }
    return support;
}

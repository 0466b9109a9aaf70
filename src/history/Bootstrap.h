#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "common/DefaultSeed.h"
#include "history/BlockCriterion.h"
#include "history/DuplicationTree.h"
#include "history/Refinement.h"
#include "sequences/SequenceSet.h"

// How a history's support is measured: replicates that each resample the
// alignment columns with replacement, recompute the distances for the same
// molecule kind and rebuild with the same criterion.
struct BootstrapSettings {
    static constexpr std::uint64_t kDefaultSeed = kDefaultBootstrapSeed;

    int replicates = 100;
    std::uint64_t seed = kDefaultSeed;
    int threads = 1;
    bool refine = false;        // refine every replicate's history, as the history was,
    RefineSettings refining{};  // with these settings
    // When set, every replicate's history is searched again by it last, on
    // the replicate's own alignment and distances, as the history was (the
    // likelihood search). Called from several threads at once.
    std::function<void(DuplicationTree&, const SequenceSet&)> research{};
};

// Counts of the replicates that agree with each part of a history.
//
// An ancestral segment is supported by a replicate whose tree has an
// ancestral segment over exactly the same set of copies. A block is supported
// by a replicate whose history has a block of as many ancestral segments,
// each over the same set of copies as the block's segment in the same place
// of the row. A replicate in which some distance is undefined is left out.
struct HistorySupport {
    int replicates = 0;             // run
    int leftOut = 0;                // with an undefined distance
    std::vector<int> segmentCount;  // entry k-1 for ancestral segment vk
    std::vector<int> blockCount;    // entry b for the history's block b

    int used() const { return replicates - leftOut; }
    // A count as a whole percentage of the replicates used, rounded to
    // nearest (halves up).
    int percent(int count) const {
        return used() > 0 ? static_cast<int>((200LL * count + used()) / (2LL * used())) : 0;
    }
    int segmentPercent(int label) const { return percent(segmentCount[static_cast<std::size_t>(-label - 1)]); }
    int blockPercent(std::size_t block) const { return percent(blockCount[block]); }

    // Segments whose copies below are all identical: the tie rules, not the
    // data, made their shape, and every replicate makes it again, so their
    // support tells nothing and is shown as unresolved. Entry k-1 for vk.
    std::vector<char> identicalBelow;
    bool identical(int label) const {
        const auto k = static_cast<std::size_t>(-label - 1);
        return k < identicalBelow.size() && identicalBelow[k] != 0;
    }
    // A block all of whose segments are so.
    bool identicalBlock(const std::vector<int>& block) const {
        for (const int label : block)
            if (!identical(label)) return false;
        return !block.empty();
    }
};

// The support of `history`, rebuilt from `sequences` with `criterion`.
// Replicate r draws its columns from a stream seeded with (seed, r) alone,
// and counts are whole numbers, so the result is the same for every number
// of threads.
// `progress`, when given, hears how many replicates are done.
HistorySupport bootstrapSupport(const SequenceSet& sequences, const DuplicationTree& history,
                                const CriterionEntry& criterion, const BootstrapSettings& settings,
                                ReconstructionProgress* progress = nullptr);

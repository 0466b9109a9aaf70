#include "history/BlockCriterion.h"

#include "history/LeastMeanScoreCriterion.h"
#include "history/MutualNeighbourCriterion.h"
#include "history/QuartetVoteCriterion.h"

namespace {

template <typename Criterion>
std::unique_ptr<BlockCriterion> make() {
    return std::make_unique<Criterion>();
}

std::uint64_t rowScratchOnly(int) { return 0; }

}  // namespace

const std::vector<CriterionEntry>& blockCriteria() {
    static const std::vector<CriterionEntry> table = {
        {1, "quartet votes (four-point comparisons)", &make<QuartetVoteCriterion>, &QuartetVoteMatrix::bytesFor},
        {2, "mutual nearest neighbours", &make<MutualNeighbourCriterion>, &rowScratchOnly},
        {3, "least mean pair score", &make<LeastMeanScoreCriterion>, &rowScratchOnly},
    };
    return table;
}

std::unique_ptr<BlockCriterion> makeBlockCriterion(int number) {
    for (const CriterionEntry& entry : blockCriteria())
        if (entry.number == number) return entry.make();
    return nullptr;
}

#pragma once

#include <cstddef>
#include <vector>

#include "history/BlockCriterion.h"
#include "history/DuplicationTree.h"
#include "history/refine/Topology.h"
#include "sequences/DistanceMatrix.h"

namespace refine {

// A criterion that names merges given beforehand: the engine then builds
// the tree, its labels and its blocks exactly as for a reconstruction. When
// the merges end before one segment is left, `then` chooses the rest of the
// history, beginning on the table the merges left.
class ReplayedMerges : public BlockCriterion {
public:
    explicit ReplayedMerges(std::vector<CandidateBlock> merges, BlockCriterion* then = nullptr)
        : merges_(std::move(merges)), then_(then) {}
    void begin(const WorkingDistanceTable& table, ReconstructionProgress*) override;
    CandidateBlock chooseBlock(const WorkingDistanceTable& table) override;
    void merging(const WorkingDistanceTable& table, CandidateBlock block) override;
    void merged(const WorkingDistanceTable& table, CandidateBlock block) override;
    // Only the criterion that takes over reads them, from its beginning on.
    bool readsRowSums() const override;
    bool readsGappedRows() const override { return then_ == nullptr || then_->readsGappedRows(); }

private:
    std::vector<CandidateBlock> merges_;
    BlockCriterion* then_;
    std::size_t next_ = 0;
    bool handedOver_ = false;
};

// The tree rebuilt through the engine from a topology that is a duplication
// tree.
DuplicationTree historyOf(const Topology& t, const DistanceMatrix& distances);

}  // namespace refine

#include "history/refine/Replay.h"

#include "history/refine/Recognition.h"

namespace refine {

void ReplayedMerges::begin(const WorkingDistanceTable& table, ReconstructionProgress*) {
    next_ = 0;
    handedOver_ = merges_.empty() && then_ != nullptr;
    if (handedOver_) then_->begin(table, nullptr);
}

CandidateBlock ReplayedMerges::chooseBlock(const WorkingDistanceTable& table) {
    return handedOver_ ? then_->chooseBlock(table) : merges_[next_++];
}

void ReplayedMerges::merging(const WorkingDistanceTable& table, CandidateBlock block) {
    if (handedOver_) then_->merging(table, block);
}

void ReplayedMerges::merged(const WorkingDistanceTable& table, CandidateBlock block) {
    if (handedOver_) {
        then_->merged(table, block);
    } else if (next_ == merges_.size() && then_ != nullptr) {
        then_->begin(table, nullptr);
        handedOver_ = true;
    }
}

bool ReplayedMerges::readsRowSums() const {
    // The merge about to be made is the last given when next_ has reached
    // the end: the next criterion begins on the table it leaves.
    return then_ != nullptr && (handedOver_ || next_ == merges_.size()) && then_->readsRowSums();
}

DuplicationTree historyOf(const Topology& t, const DistanceMatrix& distances) {
    std::vector<CandidateBlock> merges;
    recognise(t, &merges);
    ReplayedMerges replay(std::move(merges));
    DuplicationTree tree;
    tree.reconstruct(distances, replay);
    return tree;
}

}  // namespace refine

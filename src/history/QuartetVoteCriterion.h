#pragma once

#include <cstdint>
#include <vector>

#include "history/BlockCriterion.h"
#include "history/QuartetVoteMatrix.h"

// Block-selection criterion 1: votes from four-point comparisons of quartets,
// counted once over the input and then kept in step with every merge. The
// candidate block with the largest mean vote count over its corresponding
// pairs is chosen.
class QuartetVoteCriterion : public BlockCriterion {
public:
    // Makes the vote matrix and counts every quartet of the n segments.
    void begin(const WorkingDistanceTable& table, ReconstructionProgress* progress) override;
    // The block with the largest mean vote count over its pairs.
    CandidateBlock chooseBlock(const WorkingDistanceTable& table) override;
    // Keeps the distances of the block's copies, which the withdrawal of the
    // votes of every quartet that touches them needs after the merge.
    void merging(const WorkingDistanceTable& table, CandidateBlock block) override;
    // Moves the votes along with the compacted row, withdraws those of the
    // quartets that touched the block, then adds the votes of every quartet
    // that touches the new segments.
    void merged(const WorkingDistanceTable& table, CandidateBlock block) override;
    // The votes come from the distances alone.
    bool readsRowSums() const override { return false; }

    const QuartetVoteMatrix& votes() const { return votes_; }
    // Below this many quartets a count runs on one thread, where sharing it
    // among threads and gathering their votes would cost more than they save.
    void setLeastSharedWork(double quartets) { leastSharedWork_ = quartets; }

private:
    class Reclassification;

    // After the merge: withdraws the votes that the quartets touching the
    // block's copies gave to pairs outside the block, and adds the votes of
    // every quartet that touches the new segments, with the work shared among
    // the threads when it is large enough to pay.
    void reclassifyAroundBlock(const WorkingDistanceTable& table, CandidateBlock block);
    // Adds the votes that the workers other than the first counted apart.
    void gatherVotes(int workers, int k);

    QuartetVoteMatrix votes_;
    std::vector<QuartetVoteMatrix> apart_;  // workers 1, 2, ... count here
    // The block's 2 * size copies, before the merge: their distances to the
    // segments outside it (a row each, at the positions after the merge) and
    // among themselves.
    std::vector<double> kept_;
    std::vector<double> within_;
    double leastSharedWork_ = 2e6;
};

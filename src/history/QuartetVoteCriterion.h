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
    // Also withdraws the votes of every quartet that touches the chosen block.
    CandidateBlock chooseBlock(const WorkingDistanceTable& table) override;
    // Moves the votes along with the compacted row, then adds the votes of
    // every quartet that touches the new segments.
    void merged(const WorkingDistanceTable& table, CandidateBlock block) override;

    // A quartet of positions a, b, c, d is split into the two pairs whose
    // distances have the strictly least sum; each of those pairs gets `delta`
    // votes. A tie for the least sum casts no vote.
    void classifyQuartet(const WorkingDistanceTable& table, int a, int b, int c, int d, std::int32_t delta);

    const QuartetVoteMatrix& votes() const { return votes_; }
    // Below this many quartets a count runs on one thread, where starting
    // threads and gathering their votes would cost more than they save.
    void setLeastSharedWork(double quartets) { leastSharedWork_ = quartets; }
    // Starts with an empty matrix of n x n, without counting.
    void resetVotes(int n) { votes_ = QuartetVoteMatrix(n); }

private:
    // Classifies every quartet that touches positions lo .. hi-1, with the
    // work shared among the threads when it is large enough to pay.
    void classifyTouching(const WorkingDistanceTable& table, int lo, int hi, std::int32_t delta);
    // Adds the votes that the workers other than the first counted apart.
    void gatherVotes(int workers, int k);

    QuartetVoteMatrix votes_;
    std::vector<QuartetVoteMatrix> apart_;  // workers 1, 2, ... count here
    double leastSharedWork_ = 2e6;
};

// The share of the quartets a < b < c < d of n positions whose first
// position lies before `a`: how far the initial count has come when it
// starts on position a (1 when there is no quartet at all).
double quartetShareBefore(int n, int a);

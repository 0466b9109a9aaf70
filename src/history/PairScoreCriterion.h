#pragma once

#include "history/BlockCriterion.h"
#include "history/PairScores.h"

// The opening that the two pair-score criteria share: with two segments the
// only candidate is (0, 1); otherwise the pair scores of the current table go
// to `chooseByScores`.
class PairScoreCriterion : public BlockCriterion {
public:
    void begin(const WorkingDistanceTable&, ReconstructionProgress*) override {}
    CandidateBlock chooseBlock(const WorkingDistanceTable& table) final {
        const int k = table.size();
        if (k <= 2) return {};
        return chooseByScores(PairScores(table), k);
    }
    void merged(const WorkingDistanceTable&, CandidateBlock) override {}

protected:
    // The block for k >= 3 segments.
    virtual CandidateBlock chooseByScores(const PairScores& scores, int k) = 0;
};

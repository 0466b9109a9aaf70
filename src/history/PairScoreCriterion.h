#pragma once

#include "history/BlockCriterion.h"
#include "history/PairScores.h"

// The opening that the two pair-score criteria share: with two segments the
// only candidate is (0, 1); otherwise the pair scores of the current table go
// to `chooseByScores`. When every distance is zero, so is every score, and
// the first candidate, (0, 1), is the choice of both criteria without a scan.
class PairScoreCriterion : public BlockCriterion {
public:
    void begin(const WorkingDistanceTable&, ReconstructionProgress*) override {}
    CandidateBlock chooseBlock(const WorkingDistanceTable& table) final {
        const int k = table.size();
        if (k <= 2 || table.allZero()) return {};
        return chooseByScores(PairScores(table), k);
    }
    void merged(const WorkingDistanceTable&, CandidateBlock) override {}
    bool readsGappedRows() const override { return true; }

protected:
    // The block for k >= 3 segments.
    virtual CandidateBlock chooseByScores(const PairScores& scores, int k) = 0;
};

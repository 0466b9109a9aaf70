#pragma once

#include <vector>

#include "history/BlockCriterion.h"
#include "history/PairScores.h"

// The opening that the two pair-score criteria share: with two segments the
// only candidate is (0, 1); otherwise the pair scores of the current table go
// to `chooseByScores`, with `row_` as long as the table for scratch.
class PairScoreCriterion : public BlockCriterion {
public:
    void begin(const WorkingDistanceTable& table, ReconstructionProgress*) override {
        row_.assign(static_cast<std::size_t>(table.size()), 0.0);
    }
    CandidateBlock chooseBlock(const WorkingDistanceTable& table) final {
        const int k = table.size();
        if (k <= 2) return {};
        if (row_.size() < static_cast<std::size_t>(k)) row_.resize(static_cast<std::size_t>(k));
        return chooseByScores(PairScores(table), k);
    }
    void merged(const WorkingDistanceTable&, CandidateBlock) override {}

protected:
    // The block for k >= 3 segments.
    virtual CandidateBlock chooseByScores(const PairScores& scores, int k) = 0;

    std::vector<double> row_;
};

#pragma once

#include "history/BlockScan.h"
#include "history/PairScoreCriterion.h"

// Block-selection criterion 3: the candidate block whose corresponding pairs
// have the least mean pair score.
class LeastMeanScoreCriterion : public PairScoreCriterion {
protected:
    CandidateBlock chooseByScores(const PairScores& scores, int k) override;

private:
    BlockScanScratch scan_;
};

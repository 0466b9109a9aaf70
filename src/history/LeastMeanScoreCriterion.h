#pragma once

#include <vector>

#include "history/BlockScan.h"
#include "history/PairScoreCriterion.h"

// Block-selection criterion 3: the candidate block whose corresponding pairs
// have the least mean pair score. With threads, the sizes are shared out in
// contiguous ranges, each worker scanning its own with scratch of its own.
class LeastMeanScoreCriterion : public PairScoreCriterion {
protected:
    CandidateBlock chooseByScores(const PairScores& scores, int k) override;

private:
    struct Worker {
        BlockScanScratch scan;
    };
    std::vector<Worker> workers_;
    // How fast each range of sizes scanned its candidates at the last steps,
    // relative to the others: where the ranges meet follows it.
    std::vector<double> pace_;
};

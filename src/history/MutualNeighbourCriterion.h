#pragma once

#include <vector>

#include "history/PairScoreCriterion.h"

// Block-selection criterion 2: pairs whose two segments are each other's
// lowest-scoring partner are marked, and the candidate block with the largest
// share of marked corresponding pairs is chosen.
class MutualNeighbourCriterion : public PairScoreCriterion {
public:
    struct ScoredPair {
        int p;
        int q;
        double score;
    };

protected:
    CandidateBlock chooseByScores(const PairScores& scores, int k) override;
    // The first candidate with the strictly largest share of the marks kept
    // by size, sizes up to `half`.
    CandidateBlock bestOfMarks(int half) const;

private:
    // Scratch of one step, kept for the next.
    std::vector<double> minima_;
    std::vector<double> rowLeast_;
    std::vector<double> adjacent_;
    std::vector<ScoredPair> reaching_;
    struct Worker {
        std::vector<double> row;
        std::vector<double> columnMinima;
    };
    std::vector<Worker> workers_;
    std::vector<std::vector<ScoredPair>> reachingOfSlice_;
    std::vector<std::vector<int>> marksOfSize_;
};

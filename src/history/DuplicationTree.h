#pragma once

#include <string>
#include <vector>

#include "history/BinaryTree.h"
#include "history/BlockCriterion.h"
#include "history/ReconstructionProgress.h"
#include "history/WorkingDistanceTable.h"
#include "sequences/DistanceMatrix.h"

// One duplication event that copied a run of two or more adjacent segments:
// the labels of the ancestral nodes it made, in chromosome order.
using DuplicationBlock = std::vector<int>;

// A block as the report writes it: "(v2, v3)".
std::string blockName(const DuplicationBlock& block);

// A reconstructed duplication history: the tree and its duplication blocks.
// This is what the writers read and what later analyses of a history take.
class DuplicationTree : public BinaryTree {
public:
    DuplicationTree() = default;
    DuplicationTree(DuplicationTree&&) = default;
    DuplicationTree& operator=(DuplicationTree&&) = default;
    ~DuplicationTree() override = default;

    // Back to empty: no tree, no blocks.
    void clearHistory();

    // Rebuilds the history of the segments whose distances are given, with
    // the numbered block-selection criterion (see blockCriteria()). Throws
    // std::invalid_argument for a number that names none.
    void reconstruct(const DistanceMatrix& distances, int criterion, ReconstructionProgress* progress = nullptr);

    // The same with a criterion object, which is begun afresh.
    void reconstruct(const DistanceMatrix& distances, BlockCriterion& criterion,
                     ReconstructionProgress* progress = nullptr);
    // The same from distances that nothing reads afterwards: their memory is
    // given back while the working table takes them in, so that the peak is
    // the table's alone. The matrix is left without its rows.
    void reconstruct(DistanceMatrix&& distances, BlockCriterion& criterion, ReconstructionProgress* progress = nullptr);

    std::vector<DuplicationBlock> blocks;

private:
    void reconstructFrom(WorkingDistanceTable& table, BlockCriterion& criterion, ReconstructionProgress* progress);
};

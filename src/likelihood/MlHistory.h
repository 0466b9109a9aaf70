#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "history/DuplicationTree.h"
#include "history/EdgeLengths.h"
#include "likelihood/SubstitutionModel.h"
#include "sequences/DistanceMatrix.h"

// What --ml asks for.
struct MlSettings {
    ModelChoice model;
    // Places scored per subtree, the first by balanced-length gain; 0: all.
    int shortlist = 0;
    bool ancestors = false;  // reconstruct the ancestral segments
    // Threads sharing the alignment's patterns (the history found is the
    // same for any number).
    int threads = 1;
    // Rounds in which the best history so far takes a few random valid
    // moves and is searched again (kept when more likely), and their seed.
    int perturb = 0;
    std::uint64_t seed = 0;
};

// What the search found besides the tree.
struct MlOutcome {
    EdgeLengths lengths;  // by node number of the history
    double logLikelihood = 0.0;
    SubstitutionModel model;
    std::string modelText;  // "GTR+G4, alpha 0.532"
    int moves = 0;          // moves the search took
    // With `ancestors`: the sequence of segment v k at entry k - 1.
    std::vector<std::string> ancestors;
};

// Replaces `history` (a duplication tree over `sequences`, in chromosome
// order) by the duplication tree of greatest likelihood that the search
// finds from it, with its blocks read off as a reconstruction would make
// them (the distances serve that replay and the order of the places tried).
//
// The root: a reversible model does not see it, so it stands where the
// tree is a duplication tree and the ML lengths are most clock-like, as for
// the balanced length: the least variance of the root-to-copy distances,
// with the root on its edge where the mean distance is the same on both
// sides (kept within the edge), the first such place from the first copy's
// side on ties.
//
// With `perturb`, each round copies the best history found so far, moves
// max(4, n / 6) random subtrees each to a random valid place (valid places
// as the search's moves are, taken in an order drawn from `seed`), and
// searches the likelihood again from there, with the balanced-length fit
// of the edge lengths; a result more likely by more than 1e-3 becomes the
// best. The best is optimised once more on its own tree at the end. The
// search gets stuck where the likelihood is flat over many trees (few
// sites, little divergence); jumps of several moves at once leave such a
// basin where single moves do not.
//
// The ancestral segments: at every site the state of greatest marginal
// probability (the first in the model's order of states on ties), a gap
// where none of the copies below the segment has a letter there.
//
// Throws std::invalid_argument when the model's molecule is not the
// alignment's.
MlOutcome maximumLikelihoodHistory(DuplicationTree& history, const std::vector<std::string>& sequences, bool protein,
                                   const DistanceMatrix& distances, const MlSettings& settings);

// The log-likelihood of `history` as it stands, its lengths and the model's
// parameters optimised (what the search's result is measured against).
double optimisedLogLikelihood(const DuplicationTree& history, const std::vector<std::string>& sequences, bool protein,
                              const DistanceMatrix& distances, const ModelChoice& model);

#pragma once

#include <string>
#include <vector>

#include "likelihood/ModelChoice.h"

// A model of substitution for the likelihood on the sites: its exchange
// rates, its state frequencies and, with +G, four gamma rate categories of
// equal weight (each the mean rate of its quarter of the distribution).
//
// DNA (states A C G T, rates in the order AC AG AT CG CT GT):
//   JC  equal rates, equal frequencies;
//   K2P one transition/transversion ratio (AG and CT against the rest),
//       equal frequencies;
//   HKY the same ratio, the frequencies of the alignment;
//   GTR five free rates (GT is 1), the frequencies of the alignment.
// Protein (states A R N D C Q E G H I L K M F P S T W Y V): LG, WAG and JTT,
// each with its own rates and frequencies.
struct SubstitutionModel {
    using Kind = ModelKind;
    Kind kind = Kind::JC;
    bool gamma = false;
    double alpha = 1.0;               // gamma shape, read only with +G
    std::vector<double> rates;        // 6 (DNA) or 190 (protein) exchange rates
    std::vector<double> frequencies;  // 4 or 20

    bool protein() const { return kind == Kind::LG || kind == Kind::WAG || kind == Kind::JTT; }
    int states() const { return protein() ? 20 : 4; }
    int categories() const { return gamma ? 4 : 1; }
    // "GTR+G4", "JC".
    std::string name() const;
    // "GTR+G4, alpha 0.532": the name and the fitted shape.
    std::string description() const;
};

// The model to start from on these sequences (their frequencies for HKY and
// GTR, counted over the letters that name one state). Throws
// std::invalid_argument when the model's kind of molecule is not the
// alignment's.
SubstitutionModel startingModel(const ModelChoice& choice, bool protein, const std::vector<std::string>& sequences);

// The letters of the states in the library's order ("ACGT" or the twenty
// amino acids).
const char* stateLetters(bool protein);

#include "likelihood/SubstitutionModel.h"

#include <libpll/pll.h>

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace {

// Frequencies of the states over the letters that name exactly one state,
// equal when there are none; a state never seen gets a small share so that
// every frequency stays positive.
std::vector<double> countedFrequencies(const std::vector<std::string>& sequences, bool protein) {
    const char* letters = stateLetters(protein);
    const std::size_t states = protein ? 20 : 4;
    std::vector<double> counts(states, 0.0);
    double total = 0.0;
    for (const std::string& sequence : sequences)
        for (const char c : sequence) {
            const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            for (std::size_t s = 0; s < states; ++s)
                if (letters[s] == u || (!protein && u == 'U' && s == 3)) {
                    counts[s] += 1.0;
                    total += 1.0;
                }
        }
    std::vector<double> frequencies(states, 1.0 / static_cast<double>(states));
    if (total == 0.0) return frequencies;
    double sum = 0.0;
    for (std::size_t s = 0; s < states; ++s) sum += frequencies[s] = std::max(counts[s] / total, 1e-4);
    for (double& f : frequencies) f /= sum;
    return frequencies;
}

}  // namespace

const char* stateLetters(bool protein) { return protein ? "ARNDCQEGHILKMFPSTWYV" : "ACGT"; }

std::string SubstitutionModel::name() const { return std::string(modelName(kind)) + (gamma ? "+G4" : ""); }

std::string SubstitutionModel::description() const {
    if (!gamma) return name();
    char shape[64];
    std::snprintf(shape, sizeof shape, "%.3f", alpha);
    return name() + ", alpha " + shape;
}

SubstitutionModel startingModel(const ModelChoice& choice, bool protein, const std::vector<std::string>& sequences) {
    SubstitutionModel model;
    model.kind =
        choice.automatic ? (protein ? SubstitutionModel::Kind::LG : SubstitutionModel::Kind::GTR) : choice.kind;
    model.gamma = choice.gamma;
    if (model.protein() != protein)
        throw std::invalid_argument("--ml " + model.name() + " is a model of " + (model.protein() ? "protein" : "DNA") +
                                    ", and the alignment is " + (protein ? "protein" : "DNA"));
    using Kind = SubstitutionModel::Kind;
    if (protein) {
        const double* rates = model.kind == Kind::LG    ? pll_aa_rates_lg
                              : model.kind == Kind::WAG ? pll_aa_rates_wag
                                                        : pll_aa_rates_jtt;
        const double* frequencies = model.kind == Kind::LG    ? pll_aa_freqs_lg
                                    : model.kind == Kind::WAG ? pll_aa_freqs_wag
                                                              : pll_aa_freqs_jtt;
        model.rates.assign(rates, rates + 190);
        model.frequencies.assign(frequencies, frequencies + 20);
        return model;
    }
    model.rates.assign(6, 1.0);
    if (model.kind == Kind::K2P || model.kind == Kind::HKY) model.rates[1] = model.rates[4] = 2.0;
    if (model.kind == Kind::HKY || model.kind == Kind::GTR)
        model.frequencies = countedFrequencies(sequences, false);
    else
        model.frequencies.assign(4, 0.25);
    return model;
}

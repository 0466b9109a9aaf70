#pragma once

#include <string>

// The models of substitution the likelihood knows (see SubstitutionModel).
enum class ModelKind { JC, K2P, HKY, GTR, LG, WAG, JTT };

// What --ml asks for: a model's name, or auto (GTR+G for DNA, LG+G for
// protein), resolved once the molecule kind is known.
struct ModelChoice {
    bool automatic = true;
    ModelKind kind = ModelKind::GTR;
    bool gamma = true;
};

// Reads "auto", or JC, K2P, HKY, GTR, LG, WAG or JTT with an optional "+G"
// or "+G4", in either case; the reason it is refused, or nothing.
std::string parseModelChoice(const std::string& word, ModelChoice& choice);

// The model's name as written: "GTR", "LG".
const char* modelName(ModelKind kind);

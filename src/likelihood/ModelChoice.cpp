#include "likelihood/ModelChoice.h"

#include <cctype>

namespace {

struct Named {
    const char* name;
    ModelKind kind;
};
const Named kModels[] = {{"JC", ModelKind::JC},   {"K2P", ModelKind::K2P}, {"HKY", ModelKind::HKY},
                         {"GTR", ModelKind::GTR}, {"LG", ModelKind::LG},   {"WAG", ModelKind::WAG},
                         {"JTT", ModelKind::JTT}};

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

const char* modelName(ModelKind kind) {
    for (const Named& named : kModels)
        if (named.kind == kind) return named.name;
    return "";
}

std::string parseModelChoice(const std::string& word, ModelChoice& choice) {
    std::string text = upper(word);
    if (text == "AUTO") {
        choice = ModelChoice{};
        return "";
    }
    bool gamma = false;
    for (const char* suffix : {"+G4", "+G"}) {
        const std::string tail(suffix);
        if (text.size() > tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0) {
            text.resize(text.size() - tail.size());
            gamma = true;
            break;
        }
    }
    for (const Named& named : kModels)
        if (text == named.name) {
            choice.automatic = false;
            choice.kind = named.kind;
            choice.gamma = gamma;
            return "";
        }
    return "'" + word + "' is not a model: give JC, K2P, HKY, GTR, LG, WAG or JTT, each with +G or not, or auto";
}

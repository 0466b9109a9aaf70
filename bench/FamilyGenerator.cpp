#include "FamilyGenerator.h"

#include <algorithm>
#include <random>

std::vector<std::string> generateFamily(int n, int length, unsigned long seed, bool protein) {
    const std::string alphabet = protein ? "ACDEFGHIKLMNPQRSTVWY" : "ACGT";
    std::mt19937_64 random(seed);
    auto letter = [&] { return alphabet[random() % alphabet.size()]; };
    const long L = length;

    std::vector<std::string> copies(1, std::string(static_cast<std::size_t>(L), 'A'));
    for (char& c : copies[0]) c = letter();
    const double perEvent = 0.4 / (2.0 * static_cast<double>(n));
    std::geometric_distribution<long> gap(perEvent);
    while (static_cast<int>(copies.size()) < n) {
        const long k = static_cast<long>(copies.size());
        const long most = std::min<long>(std::min<long>(3, k), n - k);
        const long size = 1 + static_cast<long>(random() % static_cast<unsigned long>(most));
        const long start = static_cast<long>(random() % static_cast<unsigned long>(k - size + 1));
        const std::vector<std::string> block(copies.begin() + start, copies.begin() + start + size);
        copies.insert(copies.begin() + start + size, block.begin(), block.end());
        // Substitutions on every copy since the last event, spaced geometrically.
        for (std::string& copy : copies)
            for (long site = gap(random); site < L; site += 1 + gap(random))
                copy[static_cast<std::size_t>(site)] = letter();
    }
    return copies;
}

std::string nativeText(const std::vector<std::string>& copies) {
    const std::size_t length = copies.empty() ? 0 : copies[0].size();
    std::string out = std::to_string(copies.size()) + " " + std::to_string(length) + "\n";
    for (std::size_t i = 0; i < copies.size(); ++i) out += std::to_string(i) + " " + copies[i] + "\n";
    return out;
}

std::string fastaText(const std::vector<std::string>& copies) {
    std::string out;
    for (std::size_t i = 0; i < copies.size(); ++i) out += ">s" + std::to_string(i) + "\n" + copies[i] + "\n";
    return out;
}

std::string stockholmText(const std::vector<std::string>& copies) {
    std::string out = "# STOCKHOLM 1.0\n";
    for (std::size_t i = 0; i < copies.size(); ++i) out += "s" + std::to_string(i) + " " + copies[i] + "\n";
    return out + "//\n";
}

#include "sequences/Letters.h"

#include <array>

LetterCensus letterCensus(const std::vector<std::string>& sequences) {
    std::array<std::uint64_t, 256> seen{};
    for (const std::string& text : sequences)
        for (const char c : text) ++seen[static_cast<unsigned char>(c)];
    LetterCensus census;
    for (int upper = 'A'; upper <= 'Z'; ++upper) {
        const int lower = upper - 'A' + 'a';
        const std::uint64_t both = seen[static_cast<std::size_t>(upper)] + seen[static_cast<std::size_t>(lower)];
        census.letters += both;
        census.lowerCase += seen[static_cast<std::size_t>(lower)];
        if (seen[static_cast<std::size_t>(upper)] > 0 && seen[static_cast<std::size_t>(lower)] > 0)
            census.bothCases = true;
        for (const char nucleotide : {'A', 'C', 'G', 'T', 'U', 'N'})
            if (upper == nucleotide) census.nucleotides += both;
    }
    return census;
}

void foldToUpperCase(std::vector<std::string>& sequences) {
    for (std::string& text : sequences)
        for (char& c : text)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the letters of an alignment are, for the warnings that catch a wrong
// molecule kind or soft-masked copies before they give a wrong tree.
struct LetterCensus {
    std::uint64_t letters = 0;      // alphabetic characters
    std::uint64_t nucleotides = 0;  // of them A, C, G, T, U or N, in either case
    std::uint64_t lowerCase = 0;    // of them in lower case
    bool bothCases = false;         // some letter stands in upper and in lower case

    // The share of the letters that are nucleotide letters (0 without any).
    double nucleotideShare() const {
        return letters > 0 ? static_cast<double>(nucleotides) / static_cast<double>(letters) : 0.0;
    }
};

LetterCensus letterCensus(const std::vector<std::string>& sequences);

// Every letter in upper case, so that case no longer tells copies apart.
void foldToUpperCase(std::vector<std::string>& sequences);

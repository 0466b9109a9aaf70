// Generates a tandem repeat family by simulated tandem duplication, for
// benchmarks: one ancestral sequence is duplicated, one block of adjacent
// copies at a time, until n copies lie side by side; every copy picks up
// point substitutions along the way. Output: the native sequence file.
//
//   make_family N L SEED [dna|protein] > family.txt
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cout << "usage: make_family N L SEED [dna|protein]" << std::endl;
        return 1;
    }
    const long n = std::strtol(argv[1], nullptr, 10);
    const long L = std::strtol(argv[2], nullptr, 10);
    const unsigned long seed = std::strtoul(argv[3], nullptr, 10);
    const bool protein = argc > 4 && std::string(argv[4]) == "protein";
    if (n < 1 || L < 1) {
        std::cout << "N and L must be at least 1" << std::endl;
        return 1;
    }
    const std::string alphabet = protein ? "ACDEFGHIKLMNPQRSTVWY" : "ACGT";
    std::mt19937_64 random(seed);
    auto letter = [&] { return alphabet[random() % alphabet.size()]; };

    std::vector<std::string> copies(1, std::string(static_cast<std::size_t>(L), 'A'));
    for (char& c : copies[0]) c = letter();
    // About 0.4 substitutions per site from the root to any copy in all.
    const double perEvent = 0.4 / (2.0 * static_cast<double>(n));
    std::geometric_distribution<long> gap(perEvent);
    while (static_cast<long>(copies.size()) < n) {
        const long k = static_cast<long>(copies.size());
        const long most = std::min<long>({3, k, n - k});
        const long size = 1 + static_cast<long>(random() % static_cast<unsigned long>(most));
        const long start = static_cast<long>(random() % static_cast<unsigned long>(k - size + 1));
        const std::vector<std::string> block(copies.begin() + start, copies.begin() + start + size);
        copies.insert(copies.begin() + start + size, block.begin(), block.end());
        // Substitutions on every copy since the last event, spaced geometrically.
        for (std::string& copy : copies)
            for (long site = gap(random); site < L; site += 1 + gap(random))
                copy[static_cast<std::size_t>(site)] = letter();
    }
    std::string out = std::to_string(n) + " " + std::to_string(L) + "\n";
    for (long i = 0; i < n; ++i) out += std::to_string(i) + " " + copies[static_cast<std::size_t>(i)] + "\n";
    std::cout << out << std::flush;
    return 0;
}

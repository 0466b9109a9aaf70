// Writes a simulated tandem repeat family for benchmarks and comparisons:
//
//   make_family N L SEED [dna|protein] [native|fasta|stockholm] > family
#include <cstdlib>
#include <iostream>
#include <string>

#include "HistorySimulator.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cout << "usage: make_family N L SEED [dna|protein] [native|fasta|stockholm]" << std::endl;
        return 1;
    }
    const long n = std::strtol(argv[1], nullptr, 10);
    const long L = std::strtol(argv[2], nullptr, 10);
    const unsigned long seed = std::strtoul(argv[3], nullptr, 10);
    const bool protein = argc > 4 && std::string(argv[4]) == "protein";
    const std::string format = argc > 5 ? argv[5] : "native";
    if (n < 1 || L < 1 || n > 1000000 || L > 100000000) {
        std::cout << "N and L must be positive" << std::endl;
        return 1;
    }
    const auto copies = generateFamily(static_cast<int>(n), static_cast<int>(L), seed, protein);
    if (format == "fasta")
        std::cout << fastaText(copies) << std::flush;
    else if (format == "stockholm")
        std::cout << stockholmText(copies) << std::flush;
    else
        std::cout << nativeText(copies) << std::flush;
    return 0;
}

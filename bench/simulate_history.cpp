// Writes one simulated tandem duplication history: PREFIX.fa (the copies),
// PREFIX.nwk (the true history as Newick, ancestral segments named v1, v2, ...
// as a reconstruction would name them, with the true edge lengths) and
// PREFIX.blocks (each true block, then the copies below each of its segments).
//
//   simulate_history [--copies N] [--length L] [--divergence D] [--single P]
//                    [--largest-block B] [--rate-spread R] [--protein] [--seed S] PREFIX
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "HistoryScore.h"
#include "HistorySimulator.h"
#include "output/NewickWriter.h"

int main(int argc, char** argv) {
    SimulationSettings settings;
    std::string prefix;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool value = i + 1 < argc;
        if (word == "--copies" && value)
            settings.copies = std::atoi(argv[++i]);
        else if (word == "--length" && value)
            settings.length = std::atoi(argv[++i]);
        else if (word == "--divergence" && value)
            settings.divergence = std::atof(argv[++i]);
        else if (word == "--single" && value)
            settings.singleShare = std::atof(argv[++i]);
        else if (word == "--largest-block" && value)
            settings.largestBlock = std::atoi(argv[++i]);
        else if (word == "--rate-spread" && value)
            settings.rateSpread = std::atof(argv[++i]);
        else if (word == "--seed" && value)
            settings.seed = std::strtoull(argv[++i], nullptr, 10);
        else if (word == "--protein")
            settings.protein = true;
        else if (prefix.empty() && word[0] != '-')
            prefix = word;
        else
            prefix.clear(), i = argc;
    }
    if (prefix.empty() || settings.copies < 1 || settings.length < 1) {
        std::cout << "usage: simulate_history [--copies N] [--length L] [--divergence D] [--single P]\n"
                     "                        [--largest-block B] [--rate-spread R] [--protein] [--seed S] PREFIX"
                  << std::endl;
        return 1;
    }
    const SimulatedHistory history = simulateHistory(settings);
    std::vector<std::string> names;
    for (int i = 0; i < settings.copies; ++i) names.push_back("s" + std::to_string(i));
    std::ofstream(prefix + ".fa") << fastaText(history.copies);
    std::ofstream(prefix + ".nwk") << newickText(history.truth, names, {&history.lengths, nullptr, false}) << "\n";
    std::ofstream blocks(prefix + ".blocks");
    const std::vector<Cluster> below = copiesBelow(history.truth);
    for (const DuplicationBlock& block : history.truth.blocks) {
        blocks << blockName(block);
        for (const int label : block) {
            std::string copies;
            for (const int copy : below[static_cast<std::size_t>(-label)])
                copies += (copies.empty() ? "" : ",") + names[static_cast<std::size_t>(copy)];
            blocks << "\t{" << copies << "}";
        }
        blocks << "\n";
    }
    std::cout << prefix << ".fa, " << prefix << ".nwk, " << prefix << ".blocks: " << settings.copies << " copies, "
              << history.truth.blocks.size() << " blocks" << std::endl;
    return 0;
}

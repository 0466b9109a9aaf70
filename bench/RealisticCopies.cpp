#include "RealisticCopies.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "output/NewickWriter.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The records of a FASTA text by their name (the first word), in upper case.
std::map<std::string, std::string> fastaRecords(const std::string& text) {
    std::map<std::string, std::string> records;
    std::istringstream in(text);
    std::string line, name;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '>') {
            std::istringstream words(line.substr(1));
            words >> name;
            records[name];
            continue;
        }
        for (const char c : line)
            if (c != ' ' && c != '\t') records[name] += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return records;
}

// Every length written in plain decimals: INDELible takes no exponents.
std::string plainLengths(const std::string& newick) {
    static const std::regex length(":([-+0-9.eE]+)");
    std::string out;
    std::size_t at = 0;
    for (auto it = std::sregex_iterator(newick.begin(), newick.end(), length); it != std::sregex_iterator(); ++it) {
        char text[64];
        std::snprintf(text, sizeof text, ":%.12f", std::stod((*it)[1].str()));
        out += newick.substr(at, static_cast<std::size_t>(it->position()) - at) + text;
        at = static_cast<std::size_t>(it->position() + it->length());
    }
    return out + newick.substr(at);
}

bool runQuietly(const std::string& command, double* seconds = nullptr) {
    const Clock::time_point start = Clock::now();
    const int status = std::system(("(" + command + ") >/dev/null 2>&1").c_str());
    if (seconds != nullptr) *seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return status == 0;
}

}  // namespace

const std::string& scratchFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/tandemtree-accuracy-XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp");
    }();
    return folder;
}

bool haveRealisticTools() {
    return std::system("command -v indelible >/dev/null 2>&1 && command -v mafft >/dev/null 2>&1") == 0;
}

bool haveIqtree() { return std::system("command -v iqtree2 >/dev/null 2>&1") == 0; }

std::vector<std::string> realisticCopies(const SimulatedHistory& history, const RealisticSettings& settings,
                                         double& seconds) {
    const int n = history.truth.leafCount;
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) names.push_back("s" + std::to_string(i));
    // The true tree with its lengths, ancestral labels left out.
    NewickDetails details;
    details.lengths = &history.lengths;
    const std::string tree =
        plainLengths(std::regex_replace(newickText(history.truth, names, details), std::regex("\\)v[0-9]+"), ")"));
    const std::string folder = scratchFolder() + "/indelible";
    runQuietly("rm -rf " + folder + " && mkdir -p " + folder);
    // Exchange rates and frequencies of the kind fitted to real repeats:
    // transitions faster, AT a little richer.
    std::ofstream(folder + "/control.txt")
        << "[TYPE] NUCLEOTIDE 1\n"
           "[SETTINGS]\n  [output] FASTA\n  [randomseed] "
        << settings.seed % 2000000000 + 1
        << "\n  [printrates] FALSE\n"
           "[MODEL] m\n  [submodel] GTR 1.0 0.3 0.4 0.3 1.0\n"
           "  [statefreq] 0.3 0.2 0.2 0.3\n"
           "  [rates] 0 "
        << settings.alpha
        << " 0\n"
           "  [indelmodel] POW 1.8 20\n  [indelrate] "
        << settings.indelRate / 2 << "\n[TREE] t " << tree << "\n[PARTITIONS] p [t m " << history.copies[0].size()
        << "]\n[EVOLVE] p 1 copies\n";
    if (!runQuietly("cd " + folder + " && indelible")) return {};
    if (!runQuietly("mafft --auto --quiet --thread 1 " + folder + "/copies.fas > " + folder + "/aligned.fa", &seconds))
        return {};
    const std::map<std::string, std::string> aligned = fastaRecords(fileText(folder + "/aligned.fa"));
    std::vector<std::string> copies;
    for (const std::string& name : names) {
        const auto found = aligned.find(name);
        if (found == aligned.end() || found->second.empty()) return {};
        copies.push_back(found->second);
    }
    for (const std::string& copy : copies)
        if (copy.size() != copies[0].size()) return {};
    return copies;
}

bool iqtreeSplits(const std::vector<std::string>& copies, bool protein, std::set<Cluster>& splits, double& seconds) {
    const std::string folder = scratchFolder();
    // No output of an earlier run may stand in for this one's.
    runQuietly("rm -f " + folder + "/iq.*");
    std::ofstream(folder + "/iqtree-input.fa") << fastaText(copies);
    const std::string command = "iqtree2 -s " + folder + "/iqtree-input.fa -m " + (protein ? "LG+G" : "GTR+G") +
                                " -nt 1 -seed 1 -quiet -redo -pre " + folder + "/iq";
    if (!runQuietly(command, &seconds)) return false;
    const std::string tree = fileText(folder + "/iq.treefile");
    if (tree.empty()) return false;
    splits = splitsOf(clustersOfNewick(tree), static_cast<int>(copies.size()));
    return true;
}

// How well each criterion recovers simulated tandem duplication histories,
// beside neighbour joining (clearcut -N, from Debian's packages, when it is
// installed). Runs a grid of cells deterministically from a seed, prints a
// table of means per cell and method, and writes one TSV row per history and
// method.
//
//   tandemtree_accuracy [--quick] [--replicates R] [--seed S] [--kicks K] [--rebuilds R] [--ratchet R] [--size N]
//   [--ml MODEL] [--shortlist K] [--perturb N] [--realistic] [--iqtree] [--tsv FILE]
//
// With --ml, each refined history (clock root) is also searched by maximum
// likelihood under MODEL; the column ml_gain is then its log-likelihood less
// that of the true tree with its lengths and the model optimised.
//
// --realistic runs the second grid instead: the copies evolve along each true
// history under GTR with gamma rates (shape 0.5 or 1) and with insertions and
// deletions (INDELible), and every method sees their MAFFT alignment.
// --iqtree adds IQ-TREE's unconstrained maximum-likelihood tree (GTR+G, LG+G
// for protein) as a baseline on the unrooted split distance.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "HistoryScore.h"
#include "HistorySimulator.h"
#include "RealisticCopies.h"
#include "common/DefaultSeed.h"
#include "common/myException.h"
#include "history/Refinement.h"
#ifdef TANDEMTREE_HAVE_PLL
#include "likelihood/MlHistory.h"
#endif
#include "sequences/SequenceSet.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Cell {
    int n;
    int length;
    double divergence;
    bool protein;
    double alpha = 0.0;  // > 0: evolved with indels under GTR+G of this shape, aligned by MAFFT
};

std::string kindOf(const Cell& cell) {
    if (cell.alpha <= 0) return cell.protein ? "protein" : "dna";
    char text[32];
    std::snprintf(text, sizeof text, "indel-a%g", cell.alpha);
    return text;
}

struct Sums {
    int histories = 0;
    double exact = 0, rootedRF = 0, clusterShare = 0, unrootedRF = 0, seconds = 0;
    int trueBlocks = 0, foundBlocks = 0, matchedBlocks = 0;
    void add(const HistoryScore& s, double time) {
        ++histories;
        exact += s.exact;
        rootedRF += s.rootedRF;
        clusterShare += s.clusterShare;
        unrootedRF += s.unrootedRF;
        seconds += time;
        trueBlocks += s.trueBlocks;
        foundBlocks += s.foundBlocks;
        matchedBlocks += s.matchedBlocks;
    }
};

// Methods 0-2: the criteria; 3: neighbour joining; 4-6: each criterion
// refined; 7-9: refined, keeping the root the search ended with.
const char* const kMethods[] = {
    "criterion 1", "criterion 2",         "criterion 3",         "NJ (clearcut -N)",    "1 + refine", "2 + refine",
    "3 + refine",  "1 + refine, no root", "2 + refine, no root", "3 + refine, no root", "1 + ML",     "2 + ML",
    "3 + ML",      "IQ-TREE ML"};
constexpr int kMethodCount = 14;
constexpr int kFirstMl = 10;
constexpr int kNeighbourJoining = 3;
constexpr int kIqtree = 13;

bool haveClearcut() { return std::system("command -v clearcut >/dev/null 2>&1") == 0; }

// The unrooted splits of clearcut's neighbour-joining tree.
bool neighbourJoining(const std::vector<std::string>& copies, bool protein, std::set<Cluster>& splits,
                      double& seconds) {
    const std::string& folder = scratchFolder();
    const std::string in = folder + "/copies.fa";
    const std::string out = folder + "/nj.tree";
    std::ofstream(in) << fastaText(copies);
    const std::string command = "clearcut -q -r -N -a " + std::string(protein ? "-P" : "-D") + " -j --in=" + in +
                                " --out=" + out + " >/dev/null 2>&1";
    const Clock::time_point start = Clock::now();
    const int status = std::system(command.c_str());
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (status != 0) return false;
    std::ifstream tree(out);
    std::stringstream text;
    text << tree.rdbuf();
    splits = splitsOf(clustersOfNewick(text.str()), static_cast<int>(copies.size()));
    return true;
}

std::string ratio(int part, int whole) {
    if (whole == 0) return "   -";
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(part) / whole);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    int replicates = 40;
    int kicks = 0;  // of every refinement
    int rebuilds = 0;
    int ratchet = 0;
    std::uint64_t seed = 2026;
    int onlySize = 0;                      // 0: every size of the grid
    std::string tsvPath = "accuracy.tsv";  // in the working folder
    std::string mlModel;                   // empty: no likelihood search
    bool realistic = false;
    bool iqtree = false;
    int shortlist = 0;  // of the likelihood search
    int perturb = 0;    // its rounds of random jumps
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--replicates") == 0 && i + 1 < argc) {
            replicates = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--kicks") == 0 && i + 1 < argc) {
            kicks = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--rebuilds") == 0 && i + 1 < argc) {
            rebuilds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--ratchet") == 0 && i + 1 < argc) {
            ratchet = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            onlySize = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--ml") == 0 && i + 1 < argc) {
            mlModel = argv[++i];
        } else if (std::strcmp(argv[i], "--shortlist") == 0 && i + 1 < argc) {
            shortlist = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--perturb") == 0 && i + 1 < argc) {
            perturb = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--realistic") == 0) {
            realistic = true;
        } else if (std::strcmp(argv[i], "--iqtree") == 0) {
            iqtree = true;
        } else if (std::strcmp(argv[i], "--tsv") == 0 && i + 1 < argc) {
            tsvPath = argv[++i];
        } else {
            std::printf(
                "usage: tandemtree_accuracy [--quick] [--replicates R] [--seed S] [--kicks K] [--rebuilds R] "
                "[--ratchet R] [--size N] [--ml MODEL] [--shortlist K] [--perturb N] [--realistic] [--iqtree] "
                "[--tsv FILE]\n");
            return 1;
        }
    }
#ifndef TANDEMTREE_HAVE_PLL
    (void)shortlist;  // the likelihood search is not built
    (void)perturb;
#endif
    std::vector<Cell> cells;
    const std::vector<int> sizes = quick ? std::vector<int>{12, 48} : std::vector<int>{12, 24, 48, 96};
    const std::vector<int> lengths = quick ? std::vector<int>{300} : std::vector<int>{300, 1000};
    if (!realistic) {
        for (const int n : sizes)
            for (const int L : lengths)
                for (const double d : {0.03, 0.1, 0.3}) cells.push_back({n, L, d, false});
        cells.push_back({24, 300, 0.3, true});
    } else {
        for (const int n : sizes)
            for (const int L : lengths)
                for (const double d : {0.1, 0.3})
                    for (const double alpha : quick ? std::vector<double>{0.5} : std::vector<double>{0.5, 1.0})
                        cells.push_back({n, L, d, false, alpha});
        if (!haveRealisticTools()) {
            std::printf("--realistic needs indelible and mafft (tools/prerequisites.sh bench)\n");
            return 1;
        }
    }
    if (iqtree && !haveIqtree()) {
        std::printf("--iqtree needs iqtree2 (tools/prerequisites.sh test)\n");
        return 1;
    }
    if (quick) replicates = std::min(replicates, 10);

    const bool nj = haveClearcut();
    std::ofstream tsv(tsvPath);
    tsv << "n\tlength\tdivergence\tkind\treplicate\tmethod\texact\trooted_rf\tcluster_share\ttrue_blocks\t"
           "found_blocks\tmatched_blocks\tunrooted_rf\tseconds\tlength_ratio\tml_gain\talignment_seconds\n";
    std::printf("%-4s %-5s %-5s %-7s %-20s %6s %6s %7s %7s %7s %8s\n", "n", "L", "div", "kind", "method", "exact", "RF",
                "recall", "precis", "uRF", "seconds");
    std::fflush(stdout);
    int undefined = 0;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        const Cell& cell = cells[c];
        if (onlySize != 0 && cell.n != onlySize) continue;  // the other cells keep their seeds
        Sums sums[kMethodCount];
        for (int r = 0; r < replicates; ++r) {
            SimulationSettings settings;
            settings.copies = cell.n;
            settings.length = cell.length;
            settings.divergence = cell.divergence;
            settings.protein = cell.protein;
            settings.seed = seed * 1000003u + c * 1009u + static_cast<std::uint64_t>(r);
            SimulatedHistory history = simulateHistory(settings);
            double aligning = std::nan("");
            if (cell.alpha > 0) {
                RealisticSettings realism;
                realism.alpha = cell.alpha;
                realism.seed = settings.seed;
                history.copies = realisticCopies(history, realism, aligning);
                if (history.copies.empty()) {
                    ++undefined;
                    continue;
                }
            }
            SequenceSet set;
            set.isProtein = cell.protein;
            set.count = cell.n;
            set.length = static_cast<int>(history.copies[0].size());
            set.sequences = history.copies;
            try {
                set.computeDistances();
            } catch (const myException&) {
                ++undefined;
                continue;
            }
            // The balanced length of each tree over the true tree's: below 1, the
            // objective of the refinement prefers a wrong tree to the truth.
            const double trueLength = balancedLength(history.truth, *set.distances);
            auto row = [&](int method, const HistoryScore& s, double seconds, double length = std::nan(""),
                           double mlGain = std::nan("")) {
                sums[method].add(s, seconds);
                tsv << cell.n << '\t' << cell.length << '\t' << cell.divergence << '\t' << kindOf(cell) << '\t' << r
                    << '\t' << kMethods[method] << '\t' << s.exact << '\t' << s.rootedRF << '\t' << s.clusterShare
                    << '\t' << s.trueBlocks << '\t' << s.foundBlocks << '\t' << s.matchedBlocks << '\t' << s.unrootedRF
                    << '\t' << seconds << '\t' << length / trueLength << '\t' << mlGain << '\t' << aligning << '\n';
            };
            for (int criterion = 1; criterion <= 3; ++criterion) {
                Clock::time_point start = Clock::now();
                DuplicationTree found;
                found.reconstruct(*set.distances, criterion);
                const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
                row(criterion - 1, scoreHistory(history.truth, found), seconds, balancedLength(found, *set.distances));
                for (const bool clockRoot : {true, false}) {
                    DuplicationTree refined;
                    start = Clock::now();
                    refined.reconstruct(*set.distances, criterion);
                    RefineSettings settings;
                    settings.clockRoot = clockRoot;
                    settings.kicks = kicks;
                    settings.rebuilds = rebuilds;
                    settings.ratchet = ratchet;
                    settings.criterion = criterion;
                    refineHistory(refined, *set.distances, settings);
                    const double refining = std::chrono::duration<double>(Clock::now() - start).count();
                    row(criterion + (clockRoot ? 3 : 6), scoreHistory(history.truth, refined), refining,
                        balancedLength(refined, *set.distances));
#ifdef TANDEMTREE_HAVE_PLL
                    if (!clockRoot || mlModel.empty()) continue;
                    MlSettings ml;
                    parseModelChoice(mlModel, ml.model);
                    ml.shortlist = shortlist;
                    ml.perturb = perturb;
                    ml.seed = kDefaultBootstrapSeed;
                    start = Clock::now();
                    MlOutcome outcome;
                    try {
                        outcome = maximumLikelihoodHistory(refined, set.sequences, cell.protein, *set.distances, ml);
                    } catch (const std::invalid_argument&) {
                        continue;  // a model of the other molecule (--ml JC on a protein cell): no ML row
                    }
                    const double searching = refining + std::chrono::duration<double>(Clock::now() - start).count();
                    const double truth =
                        optimisedLogLikelihood(history.truth, set.sequences, cell.protein, *set.distances, ml.model);
                    row(kFirstMl + criterion - 1, scoreHistory(history.truth, refined), searching,
                        balancedLength(refined, *set.distances), outcome.logLikelihood - truth);
#endif
                }
            }
            // The baselines, scored on the unrooted split distance alone.
            const auto unrootedRow = [&](int method, const std::set<Cluster>& splits, double seconds) {
                HistoryScore s;
                s.trueBlocks = static_cast<int>(history.truth.blocks.size());
                s.unrootedRF = normalisedDistance(splitsOf(clustersOf(history.truth), cell.n), splits);
                s.rootedRF = std::nan("");
                s.clusterShare = std::nan("");
                row(method, s, seconds);
            };
            std::set<Cluster> splits;
            double seconds = 0;
            if (nj && neighbourJoining(history.copies, cell.protein, splits, seconds))
                unrootedRow(kNeighbourJoining, splits, seconds);
            if (iqtree && iqtreeSplits(history.copies, cell.protein, splits, seconds))
                unrootedRow(kIqtree, splits, seconds);
        }
        for (int m = 0; m < kMethodCount; ++m) {
            const Sums& s = sums[m];
            if (s.histories == 0) continue;
            const double h = s.histories;
            if (m == kNeighbourJoining || m == kIqtree)
                std::printf("%-4d %-5d %-5.2f %-7s %-20s %6s %6s %7s %7s %7.3f %8.4f\n", cell.n, cell.length,
                            cell.divergence, kindOf(cell).c_str(), kMethods[m], "-", "-", "-", "-", s.unrootedRF / h,
                            s.seconds / h);
            else
                std::printf("%-4d %-5d %-5.2f %-7s %-20s %6.2f %6.3f %7s %7s %7.3f %8.4f\n", cell.n, cell.length,
                            cell.divergence, kindOf(cell).c_str(), kMethods[m], s.exact / h, s.rootedRF / h,
                            ratio(s.matchedBlocks, s.trueBlocks).c_str(), ratio(s.matchedBlocks, s.foundBlocks).c_str(),
                            s.unrootedRF / h, s.seconds / h);
        }
        std::fflush(stdout);
    }
    if (undefined > 0)
        std::printf("%d histories left out: a distance was undefined (or the simulation or alignment failed)\n",
                    undefined);
    if (!nj) std::printf("clearcut is not installed: no neighbour-joining baseline\n");
    std::printf("per-history rows: %s\n", tsvPath.c_str());
    return 0;
}

// Stage times and peak memory of the whole pipeline on simulated tandem
// families, one line per case. Each case runs in a child process of its own,
// so that its peak resident memory is its own.
//
//   tandemtree_bench [--quick] [--reference] [--sizes N,N,...] [--criteria C,C,...] [--length L]
//
// --reference adds the plain implementation (the one the tests check the
// fast code against) beside each case, for n up to 1000 (criteria 2, 3) or
// 150 (criterion 1).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "HistorySimulator.h"
#include "history/DuplicationTree.h"
#include "reference/ReferenceHistory.h"
#include "sequences/SequenceSet.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The copies of a case: a simulated family, copies all identical, or
// copies that differ from one sequence at three sites each (young arrays,
// with ties everywhere).
enum class Copies { family, identical, nearIdentical };

struct Case {
    int n;
    int length;
    int criterion;
    bool reference;
    Copies copies = Copies::family;
};

std::vector<std::string> copiesOf(const Case& c) {
    std::vector<std::string> copies = generateFamily(c.n, c.length, 1000u + static_cast<unsigned>(c.n), false);
    if (c.copies == Copies::family) return copies;
    std::mt19937_64 random(77);
    for (std::string& copy : copies) {
        copy = copies.front();
        if (c.copies == Copies::nearIdentical)
            for (int k = 0; k < 3; ++k) copy[random() % copy.size()] = "ACGT"[random() % 4];
    }
    return copies;
}

const char* nameOf(Copies copies) {
    return copies == Copies::family ? "family" : copies == Copies::identical ? "identical" : "near-identical";
}

// Mismatch counting and the corrections written as plainly as possible.
DistanceMatrix plainDistances(const SequenceSet& set) {
    DistanceMatrix matrix(set.count);
    for (int i = 0; i < set.count; ++i)
        for (int j = i + 1; j < set.count; ++j) {
            long m = 0;
            for (int k = 0; k < set.length; ++k) m += set.sequences[i][k] != set.sequences[j][k];
            const double ratio = (4.0 * static_cast<double>(m)) / static_cast<double>(3 * set.length);
            matrix.set(i, j, std::log(1.0 - ratio) * -0.75);
        }
    return matrix;
}

void runCase(const Case& c) {
    const std::string text = nativeText(copiesOf(c));
    Clock::time_point t = Clock::now();
    SequenceSet set;
    set.isProtein = false;
    std::istringstream in(text);
    set.readSequences(in);
    const double read = secondsSince(t);
    t = Clock::now();
    set.computeDistances();
    const double distances = secondsSince(t);
    double reconstruction = 0.0;
    if (c.criterion > 0) {
        t = Clock::now();
        DuplicationTree tree;
        tree.reconstruct(*set.distances, c.criterion);
        reconstruction = secondsSince(t);
    }
    std::printf("n=%d L=%d criterion=%d %s: read %.3f s, distances %.3f s, reconstruction %.3f s, peak %ld MiB", c.n,
                c.length, c.criterion, nameOf(c.copies), read, distances, reconstruction, peakKilobytes() / 1024);
    if (c.reference) {
        t = Clock::now();
        const DistanceMatrix plain = plainDistances(set);
        const double plainDistanceTime = secondsSince(t);
        double plainReconstruction = 0.0;
        if (c.criterion > 0) {
            t = Clock::now();
            referenceReconstruct(plain, c.criterion);
            plainReconstruction = secondsSince(t);
        }
        std::printf(" | plain: distances %.3f s, reconstruction %.3f s", plainDistanceTime, plainReconstruction);
    }
    std::printf("\n");
    std::fflush(stdout);
}

std::vector<int> listOf(const char* text) {
    std::vector<int> values;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) values.push_back(std::atoi(item.c_str()));
    return values;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    bool reference = false;
    int length = 500;
    std::vector<int> sizes;
    std::vector<int> criteria;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else if (std::strcmp(argv[i], "--reference") == 0)
            reference = true;
        else if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc)
            sizes = listOf(argv[++i]);
        else if (std::strcmp(argv[i], "--criteria") == 0 && i + 1 < argc)
            criteria = listOf(argv[++i]);
        else if (std::strcmp(argv[i], "--length") == 0 && i + 1 < argc)
            length = std::atoi(argv[++i]);
        else {
            std::printf(
                "usage: tandemtree_bench [--quick] [--reference] [--sizes N,...] [--criteria C,...] "
                "[--length L]\n");
            return 1;
        }
    }
    std::vector<Case> cases;
    if (!sizes.empty() || !criteria.empty()) {
        if (sizes.empty()) sizes = {500};
        if (criteria.empty()) criteria = {3};
        for (int criterion : criteria)
            for (int n : sizes) cases.push_back({n, length, criterion, reference});
    } else {
        // Distances alone, then criteria 3 and 2 for growing n, then criterion 1.
        cases.push_back({2000, 1000, 0, reference});
        const std::vector<int> large =
            quick ? std::vector<int>{250, 500, 1000} : std::vector<int>{250, 500, 1000, 2000, 4000};
        const std::vector<int> small =
            quick ? std::vector<int>{50, 100, 150} : std::vector<int>{50, 100, 150, 200, 250, 300};
        for (int criterion : {3, 2})
            for (int n : large) cases.push_back({n, length, criterion, reference && n <= 1000});
        for (int n : small) cases.push_back({n, length, 1, reference && n <= 150});
        // Ties everywhere cost about what a family of the same size costs.
        for (int criterion : {3, 2})
            for (const Copies copies : {Copies::identical, Copies::nearIdentical})
                cases.push_back({quick ? 1000 : 2000, length, criterion, false, copies});
    }
    for (const Case& c : cases) {
        const pid_t child = fork();
        if (child == 0) {
            runCase(c);
            std::_Exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            std::printf("n=%d criterion=%d: failed\n", c.n, c.criterion);
    }
    return 0;
}

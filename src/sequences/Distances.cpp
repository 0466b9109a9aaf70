// Corrected distances between every pair of sequences: Jukes-Cantor by
// default, or another model, with or without the columns that hold gaps.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/FailedRun.h"
#include "common/Parallel.h"
#include "common/VectorClones.h"
#include "common/myException.h"
#include "sequences/SequenceSet.h"

namespace {

constexpr std::size_t kLanes = 64;

// Number of positions at which two texts differ, bytes compared as they
// stand; `length` is a multiple of 64. Differences are tallied in byte-wide
// counters, one per lane of a 64-byte block, which are emptied into the total
// before they can overflow; the compiler turns the block loop into vector
// compares.
TANDEMTREE_VECTOR_CLONES std::int64_t countBlockMismatches(const unsigned char* __restrict a,
                                                           const unsigned char* __restrict b, std::size_t length) {
    constexpr std::size_t kBlocksPerTally = 255;
    std::int64_t mismatches = 0;
    std::size_t k = 0;
    while (k < length) {
        unsigned char tally[kLanes] = {};
        const std::size_t blocks = std::min((length - k) / kLanes, kBlocksPerTally);
        for (std::size_t block = 0; block < blocks; ++block, k += kLanes)
            for (std::size_t lane = 0; lane < kLanes; ++lane)
                tally[lane] = static_cast<unsigned char>(tally[lane] + (a[k + lane] != b[k + lane]));
        for (std::size_t lane = 0; lane < kLanes; ++lane) mismatches += tally[lane];
    }
    return mismatches;
}

std::int64_t countMismatches(const unsigned char* a, const unsigned char* b, std::size_t length) {
    const std::size_t whole = length - length % kLanes;
    std::int64_t mismatches = countBlockMismatches(a, b, whole);
    for (std::size_t k = whole; k < length; ++k) mismatches += a[k] != b[k];
    return mismatches;
}

const unsigned char* textOf(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }

// The corrected distance of two sequences of length L that differ at m
// positions, or kUndefinedDistance.
double correctedDistance(std::int64_t m, int length, bool isProtein) {
    // Each step below is one double operation, in the order that fixes the
    // rounding of the published formulas.
    const double p = static_cast<double>(m) / static_cast<double>(length);
    if (!isProtein) {
        if (p >= 0.75) return kUndefinedDistance;
        const double ratio =
            (4.0 * static_cast<double>(m)) / static_cast<double>(3 * static_cast<std::int64_t>(length));
        return std::log(1.0 - ratio) * -0.75;
    }
    if (p >= 0.95) return kUndefinedDistance;
    const double scaled = static_cast<double>(length) * 0.95;
    return std::log(1.0 - static_cast<double>(m) / scaled) * -0.95;
}

// A distance that no model gives: past its bound, or not a number.
bool isUndefined(double d) { return d == kUndefinedDistance || std::isnan(d); }

bool isGap(unsigned char c) { return c == '-' || c == '.'; }

// What --gaps pairwise leaves out of a pair's comparison: gaps, and the
// letters that stand for any residue (N for DNA, X for protein, either case,
// and '?'), which tell nothing of a difference.
bool isMissing(unsigned char c, bool isProtein) {
    if (isGap(c) || c == '?') return true;
    return isProtein ? c == 'X' || c == 'x' : c == 'N' || c == 'n';
}

// 1 for a purine (A, G), 2 for a pyrimidine (C, T, U), either case; 0 else.
int baseClass(unsigned char c) {
    switch (c) {
    case 'A':
    case 'a':
    case 'G':
    case 'g': return 1;
    case 'C':
    case 'c':
    case 'T':
    case 't':
    case 'U':
    case 'u': return 2;
    default: return 0;
    }
}

// What two sequences have in common over the columns compared.
struct PairCounts {
    std::int64_t compared = 0;
    std::int64_t differences = 0;
    std::int64_t transitions = 0;  // differences within the purines or within the pyrimidines
};

PairCounts countPair(const std::string& a, const std::string& b, bool pairwiseGaps, bool isProtein) {
    PairCounts counts;
    const std::size_t L = std::min(a.size(), b.size());
    for (std::size_t k = 0; k < L; ++k) {
        const auto x = static_cast<unsigned char>(a[k]), y = static_cast<unsigned char>(b[k]);
        if (pairwiseGaps && (isMissing(x, isProtein) || isMissing(y, isProtein))) continue;
        ++counts.compared;
        if (x == y) continue;
        ++counts.differences;
        const int kind = baseClass(x);
        if (kind != 0 && kind == baseClass(y)) ++counts.transitions;
    }
    return counts;
}

// The columns of every sequence as three byte rows: the character, its base
// class, and whether the column is compared at all (not a gap or an
// ambiguity code, when those are left out pairwise), so that a pair is
// counted with vector compares.
struct CodedColumns {
    std::size_t length = 0;
    std::vector<unsigned char> text, kind, kept;

    CodedColumns(const std::vector<std::string>& sequences, std::size_t L, bool pairwiseGaps, bool isProtein)
        : length(L), text(sequences.size() * L), kind(sequences.size() * L), kept(sequences.size() * L) {
        for (std::size_t i = 0; i < sequences.size(); ++i)
            for (std::size_t c = 0; c < L; ++c) {
                const auto x = static_cast<unsigned char>(sequences[i][c]);
                text[i * L + c] = x;
                kind[i * L + c] = static_cast<unsigned char>(baseClass(x));
                kept[i * L + c] = !(pairwiseGaps && isMissing(x, isProtein));
            }
    }
};

// The counts of sequences i and j from their coded columns; the same as
// countPair gives. Every count fits 32 bits, as L does.
TANDEMTREE_VECTOR_CLONES PairCounts countCoded(const CodedColumns& coded, std::size_t i, std::size_t j) {
    const std::size_t L = coded.length;
    const unsigned char* __restrict ta = &coded.text[i * L];
    const unsigned char* __restrict tb = &coded.text[j * L];
    const unsigned char* __restrict ka = &coded.kind[i * L];
    const unsigned char* __restrict kb = &coded.kind[j * L];
    const unsigned char* __restrict pa = &coded.kept[i * L];
    const unsigned char* __restrict pb = &coded.kept[j * L];
    std::uint32_t compared = 0, differences = 0, transitions = 0;
    for (std::size_t c = 0; c < L; ++c) {
        const std::uint32_t both = pa[c] & pb[c];
        const std::uint32_t differ = both & static_cast<std::uint32_t>(ta[c] != tb[c]);
        compared += both;
        differences += differ;
        transitions += differ & static_cast<std::uint32_t>(ka[c] == kb[c]) & static_cast<std::uint32_t>(ka[c] != 0);
    }
    return {compared, differences, transitions};
}

// The distance of one pair under `model`, or kUndefinedDistance.
double modelDistance(const PairCounts& counts, DistanceModel model, bool isProtein) {
    const double L = static_cast<double>(counts.compared);
    const double p = static_cast<double>(counts.differences) / L;
    switch (model) {
    case DistanceModel::jukesCantor:
        if (counts.compared > INT32_MAX) return kUndefinedDistance;
        return correctedDistance(counts.differences, static_cast<int>(counts.compared), isProtein);
    case DistanceModel::uncorrected: return p;
    case DistanceModel::kimuraTwoParameter: {
        const double P = static_cast<double>(counts.transitions) / L;
        const double Q = static_cast<double>(counts.differences - counts.transitions) / L;
        const double a = 1.0 - 2.0 * P - Q;
        const double b = 1.0 - 2.0 * Q;
        if (a <= 0.0 || b <= 0.0) return kUndefinedDistance;
        return -0.5 * std::log(a) - 0.25 * std::log(b);
    }
    case DistanceModel::kimuraProtein: {
        const double a = 1.0 - p - 0.2 * p * p;
        if (a <= 0.0) return kUndefinedDistance;
        return -std::log(a);
    }
    }
    return kUndefinedDistance;
}

std::string noColumnsMessage(int i, int j) {
    return "Copies " + std::to_string(i) + " and " + std::to_string(j) +
           " have no column where neither has a gap: no distance between them";
}

}  // namespace

double SequenceSet::pairDistance(int i, int j) const {
    if (!distanceOptions.isDefault()) {
        const PairCounts counts =
            countPair(sequences[static_cast<std::size_t>(i)], sequences[static_cast<std::size_t>(j)],
                      distanceOptions.pairwiseGaps, isProtein);
        if (counts.compared == 0) throw FailedRun(noColumnsMessage(std::min(i, j), std::max(i, j)));
        return modelDistance(counts, distanceOptions.model, isProtein);
    }
    const std::size_t L = length > 0 ? static_cast<std::size_t>(length) : 0;
    return correctedDistance(countMismatches(textOf(sequences[static_cast<std::size_t>(i)]),
                                             textOf(sequences[static_cast<std::size_t>(j)]), L),
                             length, isProtein);
}

namespace {

// The distances by a model other than the default or with gaps left out per
// pair: each pair counted from the coded columns; the first pair in row
// order without a column to compare is the one reported.
void computeModelDistances(SequenceSet& set, int threads) {
    const int count = set.count;
    set.distances = std::make_unique<DistanceMatrix>(count);
    const CodedColumns coded(set.sequences, set.length > 0 ? static_cast<std::size_t>(set.length) : 0,
                             set.distanceOptions.pairwiseGaps, set.isProtein);
    std::vector<int> blocked(static_cast<std::size_t>(count), -1);
    std::atomic<bool> undefined{false};
    runSlices(std::max(1, threads), count, [&](int i, int) {
        double* values = set.distances->valuesOfRow(i);  // pair (i, j) at j - i - 1
        for (int j = i + 1; j < count; ++j) {
            const PairCounts counts = countCoded(coded, static_cast<std::size_t>(i), static_cast<std::size_t>(j));
            if (counts.compared == 0) {
                blocked[static_cast<std::size_t>(i)] = j;
                return;
            }
            double& value = values[j - i - 1];
            value = modelDistance(counts, set.distanceOptions.model, set.isProtein);
            if (isUndefined(value)) undefined = true;
        }
    });
    for (int i = 0; i < count; ++i)
        if (blocked[static_cast<std::size_t>(i)] >= 0)
            throw FailedRun(noColumnsMessage(i, blocked[static_cast<std::size_t>(i)]));
    if (undefined) throw myException(kUndefinedDistanceMessage);
}

// All texts side by side, each padded with zeros to whole 64-byte blocks:
// padding matches padding, so the counts are those of the texts.
std::vector<unsigned char> packedTexts(const SequenceSet& set, std::size_t L, std::size_t stride) {
    std::vector<unsigned char> packed(stride * static_cast<std::size_t>(set.count), 0);
    for (std::size_t i = 0; i < static_cast<std::size_t>(set.count); ++i)
        std::copy(set.sequences[i].begin(), set.sequences[i].begin() + static_cast<std::ptrdiff_t>(L),
                  packed.begin() + static_cast<std::ptrdiff_t>(i * stride));
    return packed;
}

// The distances of the default: Jukes-Cantor from the count of mismatching
// columns. Every pair with the same number of mismatches has the same
// distance. When the counts fit the codes, each pair keeps its count as its
// code, the distance of every count worked out once beforehand; else each
// worker works each one out once, when first needed. Rows are the slices;
// each pair's value has a place of its own.
void computeMismatchDistances(SequenceSet& set, int threads) {
    const int count = set.count, length = set.length;
    const bool isProtein = set.isProtein;
    const std::size_t L = length > 0 ? static_cast<std::size_t>(length) : 0;
    const std::size_t stride = (L + kLanes - 1) / kLanes * kLanes;
    const std::vector<unsigned char> packed = packedTexts(set, L, stride);
    const bool coded = L + 1 <= DistanceMatrix::kMostCodes;
    std::vector<double> byCount;
    if (coded) {
        byCount.resize(L + 1);
        for (std::size_t m = 0; m <= L; ++m)
            byCount[m] = correctedDistance(static_cast<std::int64_t>(m), length, isProtein);
        set.distances = std::make_unique<DistanceMatrix>(count, byCount);
    } else {
        set.distances = std::make_unique<DistanceMatrix>(count);
    }
    struct Cache {
        std::vector<double> byMismatches;
        std::vector<char> known;
    };
    const int workers = std::max(1, threads);
    std::vector<Cache> caches(static_cast<std::size_t>(workers));
    std::atomic<bool> undefined{false};
    runSlices(workers, count, [&](int i, int worker) {
        if (undefined) return;
        Cache& cache = caches[static_cast<std::size_t>(worker)];
        const unsigned char* a = &packed[static_cast<std::size_t>(i) * stride];
        // Pair (i, j) of this row at place j - i - 1 of these.
        DistanceMatrix::Code* codes = coded ? set.distances->codesOfRow(i) : nullptr;
        double* values = coded ? nullptr : set.distances->valuesOfRow(i);
        for (int j = i + 1; j < count; ++j) {
            const std::int64_t m = countBlockMismatches(a, &packed[static_cast<std::size_t>(j) * stride], stride);
            const std::size_t slot = static_cast<std::size_t>(m);
            double value;
            if (coded) {
                codes[j - i - 1] = static_cast<DistanceMatrix::Code>(slot);
                value = byCount[slot];
            } else {
                if (slot >= cache.known.size()) {
                    cache.known.resize(slot + 1, 0);
                    cache.byMismatches.resize(slot + 1);
                }
                if (!cache.known[slot]) {
                    cache.byMismatches[slot] = correctedDistance(m, length, isProtein);
                    cache.known[slot] = 1;
                }
                value = values[j - i - 1] = cache.byMismatches[slot];
            }
            if (isUndefined(value)) {
                undefined = true;
                return;
            }
        }
    });
    if (undefined) throw myException(kUndefinedDistanceMessage);
}

}  // namespace

void SequenceSet::computeDistances(int threads) {
    distances.reset();
    if (!distanceOptions.isDefault())
        computeModelDistances(*this, threads);
    else
        computeMismatchDistances(*this, threads);
}

std::string SequenceSet::undefinedPairText() const {
    const std::size_t L = length > 0 ? static_cast<std::size_t>(length) : 0;
    for (int i = 0; i < count; ++i)
        for (int j = i + 1; j < count; ++j) {
            const std::string& a = sequences[static_cast<std::size_t>(i)];
            const std::string& b = sequences[static_cast<std::size_t>(j)];
            std::int64_t differ = 0, compared = static_cast<std::int64_t>(L);
            double distance = 0.0;
            if (distanceOptions.isDefault()) {
                differ = countMismatches(textOf(a), textOf(b), L);
                distance = correctedDistance(differ, length, isProtein);
            } else {
                const PairCounts counts = countPair(a, b, distanceOptions.pairwiseGaps, isProtein);
                if (counts.compared == 0) continue;
                differ = counts.differences;
                compared = counts.compared;
                distance = modelDistance(counts, distanceOptions.model, isProtein);
            }
            if (!isUndefined(distance)) continue;
            auto named = [&](int k) {
                const auto at = static_cast<std::size_t>(k);
                return at < names.size() && !names[at].empty() ? "'" + names[at] + "'" : std::string();
            };
            const std::string both = named(i).empty() ? "" : " (" + named(i) + " and " + named(j) + ")";
            char share[32];
            std::snprintf(share, sizeof share, "%.1f%%",
                          100.0 * static_cast<double>(differ) / static_cast<double>(compared));
            return "Copies " + std::to_string(i) + " and " + std::to_string(j) + both + " differ at " + share +
                   " of the " + std::to_string(compared) + " sites compared";
        }
    return "";
}

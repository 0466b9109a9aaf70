#pragma once

#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "sequences/DistanceMatrix.h"

// How a distance is made from two aligned sequences.
enum class DistanceModel {
    jukesCantor,     // the default: Jukes-Cantor for DNA, its 0.95 form for protein
    kimuraTwoParameter,  // DNA: transitions and transversions apart
    uncorrected,     // the share of compared columns that differ
    kimuraProtein,   // protein: Kimura's empirical correction
};

struct DistanceOptions {
    DistanceModel model = DistanceModel::jukesCantor;
    // Leave out, for each pair, the columns where either copy has a gap
    // ('-' or '.'); by default every column counts as it stands.
    bool pairwiseGaps = false;

    bool isDefault() const { return model == DistanceModel::jukesCantor && !pairwiseGaps; }
};

// The aligned sequences of one run, their molecule kind and, once computed,
// the distances between every pair of them.
class SequenceSet {
public:
    SequenceSet() = default;
    SequenceSet(const SequenceSet&) = delete;
    SequenceSet& operator=(const SequenceSet&) = delete;
    SequenceSet(SequenceSet&&) = default;
    SequenceSet& operator=(SequenceSet&&) = default;
    virtual ~SequenceSet() = default;

    // Reads a sequence file (see SequenceFileReader) from an open stream,
    // replacing whatever the set held. Throws SequenceFileError on a file
    // outside the format; the set is then left empty.
    void readSequences(std::istream& in);

    // Releases the sequences and the distances; count and length stay.
    void clear();

    // Corrected distance between sequences i and j, or kUndefinedDistance.
    double pairDistance(int i, int j) const;

    // Fills `distances` for every pair, the rows shared out among `threads`
    // threads (the values are the same for any number); throws myException
    // when a pair is undefined, FailedRun when a pair has no column to
    // compare.
    void computeDistances(int threads = 1);

    bool isProtein = true;
    DistanceOptions distanceOptions;
    std::unique_ptr<DistanceMatrix> distances;
    int count = 0;
    int length = -1;
    std::vector<std::string> sequences;
    // Segment names from a FASTA file, entry k naming segment k; empty for
    // the native format, whose segments are known by number.
    std::vector<std::string> names;
};

#pragma once

#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "sequences/DistanceMatrix.h"
#include "sequences/DistanceOptions.h"

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
    // After computeDistances found a distance undefined: which pair it was,
    // the first in row order, and how much of it differs, as one line
    // ("Copies 3 and 17 ('a' and 'b') differ at 78.5% of the 135 sites
    // compared"); empty when every distance is defined.
    std::string undefinedPairText() const;
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
    // What follows each name on its FASTA header line (coordinates, often).
    std::vector<std::string> descriptions;
};

#include "sequences/SequenceSet.h"

#include <utility>

#include "sequences/SequenceFileReader.h"

void SequenceSet::clear() {
    distances.reset();
    sequences.clear();
}

void SequenceSet::readSequences(std::istream& in) {
    clear();
    SequenceFile file = readSequenceFile(in);
    count = file.count;
    length = file.length;
    sequences = std::move(file.sequences);
}

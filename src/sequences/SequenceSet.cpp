#include "sequences/SequenceSet.h"

#include <new>
#include <utility>

#include "sequences/SequenceFileReader.h"

void SequenceSet::clear() {
    distances.reset();
    sequences.clear();
    names.clear();
    descriptions.clear();
}

void SequenceSet::readSequences(std::istream& in) {
    clear();
    SequenceFile file;
    try {
        readSequenceFile(in, file);
    } catch (const std::bad_alloc&) {
        count = file.count;  // for the report of what did not fit
        throw;
    }
    count = file.count;
    length = file.length;
    sequences = std::move(file.sequences);
    names = std::move(file.names);
    descriptions = std::move(file.descriptions);
}

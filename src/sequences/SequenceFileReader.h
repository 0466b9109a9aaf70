#pragma once

#include <istream>

#include "sequences/SequenceFile.h"

// Reads a sequence file. A file whose first non-blank character is '>' is a
// FASTA alignment (see FastaReader.h). Any other is in the native format:
// whitespace-separated tokens n, L, then n records of an index (0 to n-1,
// each once, any order) and a sequence word of exactly L characters. Line
// structure carries no meaning, and nothing after the n-th record is read.
// Throws SequenceFileError for anything outside the format.
// `file` is filled as the reading goes: its count is known as soon as it has
// been read, also when a later step fails.
void readSequenceFile(std::istream& in, SequenceFile& file);

// Refuses, every so many records, a file whose records already need more
// memory for their distances than the machine has: a file of a billion
// records fails at once instead of after filling the memory.
void checkRoomFor(long long records, long line);

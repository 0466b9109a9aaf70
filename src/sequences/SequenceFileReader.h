#pragma once

#include <exception>
#include <istream>
#include <string>
#include <vector>

// A sequence file that does not follow the format. Its text is one line that
// starts with "Invalid sequence file: " and says what is wrong and where.
class SequenceFileError : public std::exception {
public:
    explicit SequenceFileError(const std::string& detail) : message("Invalid sequence file: " + detail) {}
    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

// What a sequence file holds: n sequences of length L, entry k being segment
// k, and for FASTA input the records' names (empty for the native format).
struct SequenceFile {
    int count = 0;
    int length = -1;
    std::vector<std::string> sequences;
    std::vector<std::string> names;
};

// Reads a sequence file. A file whose first non-blank character is '>' is a
// FASTA alignment (see FastaReader.h). Any other is in the native format:
// whitespace-separated tokens n, L, then n records of an index (0 to n-1,
// each once, any order) and a sequence word of exactly L characters. Line
// structure carries no meaning, and nothing after the n-th record is read.
// Throws SequenceFileError for anything outside the format.
// `file` is filled as the reading goes: its count is known as soon as it has
// been read, also when a later step fails.
void readSequenceFile(std::istream& in, SequenceFile& file);

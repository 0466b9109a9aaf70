#pragma once

#include <exception>
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
    std::vector<std::string> descriptions;  // the rest of each FASTA header line
};

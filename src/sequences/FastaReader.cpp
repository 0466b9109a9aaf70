#include "sequences/FastaReader.h"

#include <climits>

namespace {

std::string recordAt(long record, const std::string& name, long line) {
    return "record " + std::to_string(record) + " " + quoted(name) + " (line " + std::to_string(line) + ")";
}

}  // namespace

void readFasta(TextSource& source, SequenceFile& file) {
    file.sequences.clear();
    file.names.clear();
    std::vector<long> lines;
    int c = source.peek();
    while (c == '>') {
        lines.push_back(source.line());
        source.take();
        const std::string header = source.restOfLine();
        std::size_t from = 0;
        while (from < header.size() && isBlank(header[from])) ++from;
        std::size_t to = from;
        while (to < header.size() && !isBlank(header[to])) ++to;
        file.names.push_back(header.substr(from, to - from));

        // Sequence lines: everything up to a line that starts with '>'.
        std::string text;
        c = source.peek();
        while (c != TextSource::kEnd && c != '>') {
            for (const char ch : source.restOfLine())
                if (!isBlank(ch)) text.push_back(ch);
            c = source.peek();
        }
        file.sequences.push_back(std::move(text));
        if (file.sequences.size() > static_cast<std::size_t>(INT_MAX))
            throw SequenceFileError("more than " + std::to_string(INT_MAX) + " records");
    }

    const std::size_t length = file.sequences.front().size();
    for (std::size_t r = 0; r < file.sequences.size(); ++r) {
        const std::size_t size = file.sequences[r].size();
        if (r == 0 && size == 0)
            throw SequenceFileError(recordAt(1, file.names[0], lines[0]) + ": the sequence is empty");
        if (size != length)
            throw SequenceFileError(recordAt(static_cast<long>(r) + 1, file.names[r], lines[r]) +
                                    ": the sequence has " + std::to_string(size) + " characters, expected " +
                                    std::to_string(length));
    }
    if (length > static_cast<std::size_t>(INT_MAX))
        throw SequenceFileError(recordAt(1, file.names[0], lines[0]) + ": the sequence is too long");
    file.count = static_cast<int>(file.sequences.size());
    file.length = static_cast<int>(length);
}

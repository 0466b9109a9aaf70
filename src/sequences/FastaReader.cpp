#include "sequences/FastaReader.h"

#include <climits>
#include <unordered_map>

#include "sequences/SequenceFileReader.h"

namespace {

std::string recordAt(long record, const std::string& name, long line) {
    return "record " + std::to_string(record) + " " + quoted(name) + " (line " + std::to_string(line) + ")";
}

// The longest header line taken: a name and a description, never a line of
// gigabytes.
constexpr std::size_t kLongestHeader = 1 << 20;

// The sequence lines of one record, everything up to a line that starts with
// '>', white space left out; refused as soon as it is longer than `most`.
std::string sequenceOf(TextSource& source, std::size_t most, long record, const std::string& name, long line) {
    // Past `most`, characters are counted, not kept, for a while: a record a
    // few characters too long gets its exact count in the message.
    const std::size_t counted = most == std::string::npos ? most : most + (1 << 20);
    std::string text;
    std::size_t size = 0;
    int c = source.peek();
    while (c != TextSource::kEnd && c != '>') {
        while (c != TextSource::kEnd && c != '\n') {
            if (!isBlank(c)) {
                if (size == counted)
                    throw SequenceFileError(recordAt(record, name, line) + ": the sequence has more than " +
                                            std::to_string(counted) + " characters, expected " + std::to_string(most));
                if (size < most) text.push_back(static_cast<char>(c));
                ++size;
            }
            source.take();
            c = source.peek();
        }
        if (c == '\n') source.take();
        c = source.peek();
    }
    if (size > most)
        throw SequenceFileError(recordAt(record, name, line) + ": the sequence has " + std::to_string(size) +
                                " characters, expected " + std::to_string(most));
    return text;
}

}  // namespace

void readFasta(TextSource& source, SequenceFile& file) {
    file.sequences.clear();
    file.names.clear();
    file.descriptions.clear();
    std::vector<long> lines;
    int c = source.peek();
    while (c == '>') {
        const long record = static_cast<long>(file.sequences.size()) + 1;
        checkRoomFor(record, source.line());
        lines.push_back(source.line());
        source.take();
        bool cut = false;
        const std::string header = source.restOfLine(kLongestHeader, &cut);
        if (cut)
            throw SequenceFileError("record " + std::to_string(record) + " (line " + std::to_string(lines.back()) +
                                    "): the header line is longer than " + std::to_string(kLongestHeader) +
                                    " characters");
        std::size_t from = 0;
        while (from < header.size() && isBlank(header[from])) ++from;
        std::size_t to = from;
        while (to < header.size() && !isBlank(header[to])) ++to;
        file.names.push_back(header.substr(from, to - from));
        while (to < header.size() && isBlank(header[to])) ++to;
        file.descriptions.push_back(header.substr(to));

        // Every record after the first is as long as the first.
        const std::size_t most = file.sequences.empty() ? std::string::npos : file.sequences.front().size();
        file.sequences.push_back(sequenceOf(source, most, record, file.names.back(), lines.back()));
        if (file.sequences.front().empty())
            throw SequenceFileError(recordAt(1, file.names[0], lines[0]) + ": the sequence is empty");
        c = source.peek();
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
    // Names label the leaves, and a tree with two leaves of one name cannot
    // be read back: each name once (an empty one stands for the number).
    std::unordered_map<std::string, std::size_t> recordOfName;
    for (std::size_t r = 0; r < file.names.size(); ++r) {
        if (file.names[r].empty()) continue;
        const auto [first, added] = recordOfName.emplace(file.names[r], r);
        if (!added)
            throw SequenceFileError(recordAt(static_cast<long>(r) + 1, file.names[r], lines[r]) +
                                    ": the name was already given to record " + std::to_string(first->second + 1) +
                                    " (line " + std::to_string(lines[first->second]) + ")");
    }
    file.count = static_cast<int>(file.sequences.size());
    file.length = static_cast<int>(length);
}

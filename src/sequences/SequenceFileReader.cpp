#include "sequences/SequenceFileReader.h"

#include <climits>
#include <optional>

#include "common/DecimalNumber.h"
#include "common/FailedRun.h"
#include "common/MemoryBudget.h"
#include "sequences/DistanceMatrix.h"
#include "sequences/FastaReader.h"
#include "sequences/GzipInput.h"
#include "sequences/TextSource.h"

namespace {

// Decimal integer: optional sign, then digits only.
enum class Number { ok, notNumber, tooLarge };

// Characters of a sequence word counted past the length before it is
// refused: enough for the message to give the exact count of a word a few
// characters off, never a word of gigabytes.
constexpr std::size_t kCountedBeyondLength = 1 << 20;

Number parseInteger(const std::string& text, long long& value) {
    const DecimalNumber number = DecimalNumber::read(text, 0);
    if (number.digits == 0 || number.end != text.size()) return Number::notNumber;
    if (!number.fitsInt()) return Number::tooLarge;
    value = number.value();
    return Number::ok;
}

std::string at(long line) { return "line " + std::to_string(line); }

std::string recordAt(long record, long line) {
    return "record " + std::to_string(record) + " (line " + std::to_string(line) + ")";
}

// A number of the file's header (count or length), or the message that says
// why the word is none.
long long headerNumber(const Token& token, const std::string& what) {
    long long value = 0;
    switch (token.cut ? Number::notNumber : parseInteger(token.text, value)) {
    case Number::notNumber:
        throw SequenceFileError(at(token.line) + ": found " + quoted(token.text) + ", expected " + what);
    case Number::tooLarge:
        throw SequenceFileError(at(token.line) + ": " + what + " " + quoted(token.text) + " is too large");
    case Number::ok: break;
    }
    return value;
}

}  // namespace

void checkRoomFor(long long records, long line) {
    // Every 65536 records: reading /proc/meminfo costs little that seldom.
    if (records % 65536 != 0) return;
    if (DistanceMatrix::bytesFor(static_cast<int>(std::min<long long>(records, INT_MAX))) > availableMemory())
        throw FailedRun("Not enough memory for the distances of " + std::to_string(records) +
                        " or more sequences (the sequence file, line " + std::to_string(line) + ")");
}

namespace {

struct Record {
    int index;
    long line;
};

// The native format: n, L, then n records of an index and a sequence.
void readNative(TextSource& tokens, SequenceFile& file) {
    std::optional<Token> token = tokens.nextWord(kLongestNumberWord);
    if (!token) throw SequenceFileError("the file is empty, expected the number of sequences");
    const long long n = headerNumber(*token, "the number of sequences");
    if (n < 0)
        throw SequenceFileError(at(token->line) + ": the number of sequences is " + std::to_string(n) +
                                ", expected 0 or more");
    file.count = static_cast<int>(n);

    token = tokens.nextWord(kLongestNumberWord);
    long long L = -1;
    if (n == 0) {
        // No record follows, so the length matters to nobody: take it if it is there.
        if (token && !token->cut && parseInteger(token->text, L) == Number::ok) file.length = static_cast<int>(L);
        return;
    }
    if (!token) throw SequenceFileError("the file ends after the number of sequences, expected the sequence length");
    L = headerNumber(*token, "the sequence length");
    if (L < 1)
        throw SequenceFileError(at(token->line) + ": the sequence length is " + std::to_string(L) +
                                ", expected 1 or more");
    file.length = static_cast<int>(L);

    // Records are kept in file order first; slots are assigned once all n are
    // there, so a file that claims far more records than it holds fails before
    // anything proportional to its claim is allocated.
    const std::string range = "a number from 0 to " + std::to_string(n - 1);
    std::vector<Record> records;
    std::vector<std::string> texts;
    for (long long r = 1; r <= n; ++r) {
        checkRoomFor(r, tokens.line());
        token = tokens.nextWord(kLongestNumberWord);
        if (!token)
            throw SequenceFileError("the file ends after " + std::to_string(r - 1) + " of " + std::to_string(n) +
                                    " records (line " + std::to_string(tokens.lastLine()) + ")");
        long long index = 0;
        if (token->cut || parseInteger(token->text, index) != Number::ok)
            throw SequenceFileError(recordAt(r, token->line) + ": found " + quoted(token->text) +
                                    ", expected the index, " + range);
        if (index < 0 || index >= n)
            throw SequenceFileError(recordAt(r, token->line) + ": the index is " + std::to_string(index) +
                                    ", expected " + range);
        const long indexLine = token->line;
        token = tokens.nextWord(static_cast<std::size_t>(L) + kCountedBeyondLength);
        if (!token)
            throw SequenceFileError("the file ends after the index of " + recordAt(r, indexLine) +
                                    ", expected its sequence");
        if (token->cut)
            throw SequenceFileError(recordAt(r, token->line) + ": the sequence has more than " +
                                    std::to_string(static_cast<std::size_t>(L) + kCountedBeyondLength) +
                                    " characters, expected " + std::to_string(L));
        if (token->text.size() != static_cast<std::size_t>(L))
            throw SequenceFileError(recordAt(r, token->line) + ": the sequence has " +
                                    std::to_string(token->text.size()) + " characters, expected " + std::to_string(L));
        records.push_back({static_cast<int>(index), indexLine});
        texts.push_back(std::move(token->text));
    }

    std::vector<long> recordOfSlot(static_cast<std::size_t>(n), 0);
    for (std::size_t r = 0; r < records.size(); ++r) {
        long& owner = recordOfSlot[static_cast<std::size_t>(records[r].index)];
        if (owner != 0)
            throw SequenceFileError(recordAt(static_cast<long>(r) + 1, records[r].line) + ": the index " +
                                    std::to_string(records[r].index) + " was already given by " +
                                    recordAt(owner, records[static_cast<std::size_t>(owner) - 1].line));
        owner = static_cast<long>(r) + 1;
    }
    file.sequences.resize(static_cast<std::size_t>(n));
    for (std::size_t r = 0; r < records.size(); ++r)
        file.sequences[static_cast<std::size_t>(records[r].index)] = std::move(texts[r]);
}

}  // namespace

void readSequenceFile(std::istream& in, SequenceFile& file) {
    try {
        TextSource source(in);
        if (source.skipBlanks() == '>') {
            readFasta(source, file);
            return;
        }
        readNative(source, file);
    } catch (const GzipError& error) {
        throw SequenceFileError(error.what());
    }
}

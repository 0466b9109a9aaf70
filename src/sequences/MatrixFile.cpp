#include "sequences/MatrixFile.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>

#include "common/DecimalNumber.h"
#include "common/FailedRun.h"
#include "common/MemoryBudget.h"
#include "sequences/GzipInput.h"
#include "sequences/TextSource.h"

namespace {

enum class Layout { square, lower, lowerWithDiagonal };

// The largest distance a matrix may hold: the sums of the criteria, the
// averages and the lengths then stay far from overflow.
constexpr double kLargestDistance = 1e150;

// The longest word taken: a row name and its description, never a word of
// gigabytes.
constexpr std::size_t kLongestMatrixWord = 1 << 20;

std::string rowName(std::size_t row, const std::string& name) {
    return "row " + std::to_string(row + 1) + " " + quoted(name);
}

// The shortest text that reads back as the value.
std::string shortest(double value) {
    char buffer[32];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
        if (std::strtod(buffer, nullptr) == value) break;
    }
    return buffer;
}

// What a word reads as: no number, a number that is not finite, or one that is.
enum class Reading { none, notFinite, finite };

// Whether a word is a plain decimal number: a sign, digits with a point
// among or after them, and an exponent; no hexadecimal, no infinity.
bool isPlainDecimal(const std::string& text) {
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t from = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - from;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return false;
    }
    return i == text.size();
}

Reading readNumber(const std::string& text, double& value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    value = std::strtod(begin, &end);
    // The whole word, and no character past an embedded NUL.
    if (end == begin || end != begin + text.size()) return Reading::none;
    if (!std::isfinite(value)) return Reading::notFinite;
    return isPlainDecimal(text) ? Reading::finite : Reading::none;
}

// Values of row r in each layout.
std::size_t valuesInRow(Layout layout, std::size_t r, std::size_t n) {
    switch (layout) {
    case Layout::square: return n;
    case Layout::lower: return r;
    case Layout::lowerWithDiagonal: return r + 1;
    }
    return n;
}

// The words after the count, held small, for a matrix has n^2 of them: a word
// that reads as a finite number is held as its double; the text is held only
// for the other words and for those that stand where some layout puts a row
// name, the double then being a NaN that carries the text's index. Lines are
// held where they change.
class MatrixWords {
public:
    explicit MatrixWords(std::size_t n) : n_(n) {}

    void add(Token&& word) {
        const std::size_t w = value_.size() + 1;  // words counted from 1 after the count
        if (lines_.empty() || lines_.back().second != word.line) lines_.push_back({value_.size(), word.line});
        bool name = false;
        for (Layout layout : {Layout::square, Layout::lower, Layout::lowerWithDiagonal}) {
            Next& next = next_[static_cast<int>(layout)];
            if (w != next.at) continue;
            name = true;
            next.at = w + 1 + valuesInRow(layout, next.row++, n_);
        }
        double value = 0.0;
        if (!name && readNumber(word.text, value) == Reading::finite) {
            value_.push_back(value);
            return;
        }
        const std::uint64_t bits = kTextMark | static_cast<std::uint64_t>(texts_.size());
        std::memcpy(&value, &bits, sizeof value);
        value_.push_back(value);
        texts_.push_back(std::move(word.text));
    }

    std::size_t size() const { return value_.size(); }
    // Word w (from 0): what it reads as, with its number, and its text.
    Reading number(std::size_t w, double& value) const {
        const std::string* text = heldText(w);
        if (text == nullptr) {
            value = value_[w];
            return Reading::finite;
        }
        return readNumber(*text, value);
    }
    std::string text(std::size_t w) const {
        const std::string* text = heldText(w);
        return text != nullptr ? *text : shortest(value_[w]);
    }
    long line(std::size_t w) const {
        auto it = std::upper_bound(lines_.begin(), lines_.end(), std::pair<std::size_t, long>{w, LONG_MAX});
        return std::prev(it)->second;
    }

private:
    // A quiet NaN with the top bit of its payload set; the rest is the index.
    static constexpr std::uint64_t kTextMark = 0x7ffc000000000000ULL;

    const std::string* heldText(std::size_t w) const {
        if (!std::isnan(value_[w])) return nullptr;
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value_[w], sizeof bits);
        return &texts_[static_cast<std::size_t>(bits & ~kTextMark)];
    }

    struct Next {
        std::size_t at = 1;
        std::size_t row = 0;
    };
    std::size_t n_;
    std::vector<double> value_;
    std::vector<std::string> texts_;
    std::vector<std::pair<std::size_t, long>> lines_;  // first word of each line, and its line
    Next next_[3];
};

// Checks that word w is a distance, else throws the message that says why.
void checkDistance(const MatrixWords& words, std::size_t w, std::size_t row, std::size_t column,
                   const std::string& name) {
    auto where = [&] {
        return rowName(row, name) + ", column " + std::to_string(column + 1) + " (line " +
               std::to_string(words.line(w)) + ")";
    };
    double value = 0.0;
    switch (words.number(w, value)) {
    case Reading::none: throw MatrixFileError(where() + ": found " + quoted(words.text(w)) + ", expected a distance");
    case Reading::notFinite:
        throw MatrixFileError(where() + ": the distance " + quoted(words.text(w)) + " is not finite");
    case Reading::finite: break;
    }
    if (value < 0) throw MatrixFileError(where() + ": the distance " + quoted(words.text(w)) + " is negative");
    // Sums of many such distances must stay finite.
    if (value > kLargestDistance)
        throw MatrixFileError(where() + ": the distance " + quoted(words.text(w)) +
                              " is too large (the largest taken is 1e150)");
}

// The layout from how many words follow the count; when none fits, the
// first row tells (a square row has its values on the name's line) and the
// reading says where the file goes wrong.
Layout layoutOf(const MatrixWords& words, std::size_t n) {
    const std::size_t after = words.size();
    if (after == n * (n + 1)) return Layout::square;
    if (after == n + n * (n - 1) / 2 && n > 0) return Layout::lower;
    if (after == n + n * (n + 1) / 2) return Layout::lowerWithDiagonal;
    if (after >= 2 && words.line(1) != words.line(0)) return Layout::lower;
    return Layout::square;
}

// Every distance of the rows, checked, into the file's matrix: row r's
// values start at word rowStart[r].
void fillDistances(const MatrixWords& words, Layout layout, const std::vector<std::size_t>& rowStart,
                   MatrixFile& file) {
    const std::size_t n = rowStart.size();
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < valuesInRow(layout, r, n); ++c)
            checkDistance(words, rowStart[r] + c, r, c, file.names[r]);
    auto at = [&](std::size_t r, std::size_t c) {
        double value = 0.0;
        words.number(rowStart[r] + c, value);
        return value;
    };
    file.distances = std::make_unique<DistanceMatrix>(static_cast<int>(n));
    for (std::size_t r = 0; r < n; ++r) {
        if (layout != Layout::lower && at(r, r) != 0.0)
            throw MatrixFileError(rowName(r, file.names[r]) + ", column " + std::to_string(r + 1) +
                                  ": the diagonal holds " + shortest(at(r, r)) + ", expected 0");
        for (std::size_t c = 0; c < r; ++c) {
            if (layout == Layout::square && at(r, c) != at(c, r))
                throw MatrixFileError(rowName(r, file.names[r]) + ", column " + std::to_string(c + 1) + ": " +
                                      shortest(at(r, c)) + " differs from row " + std::to_string(c + 1) + ", column " +
                                      std::to_string(r + 1) + ": " + shortest(at(c, r)) +
                                      " (the matrix must be symmetric)");
            file.distances->set(static_cast<int>(c), static_cast<int>(r), at(r, c));
        }
    }
}

}  // namespace

MatrixFile readMatrixFile(std::istream& in) {
    std::size_t n = 0;
    std::optional<MatrixWords> words;
    try {
        TextSource source(in);
        std::optional<Token> first = source.nextWord(kLongestNumberWord);
        if (!first) throw MatrixFileError("the file is empty, expected the number of rows");
        const DecimalNumber count = DecimalNumber::read(first->text, 0);
        if (first->cut || count.digits == 0 || count.end != first->text.size() || count.negative)
            throw MatrixFileError("line " + std::to_string(first->line) + ": found " + quoted(first->text) +
                                  ", expected the number of rows");
        if (!count.fitsInt() || count.value() > 1000000)
            throw MatrixFileError("line " + std::to_string(first->line) + ": " + quoted(first->text) +
                                  " rows is too many");
        n = static_cast<std::size_t>(count.value());
        // The words of n rows take about three times the memory of their
        // distances while they are read.
        if (DistanceMatrix::bytesFor(static_cast<int>(n)) > availableMemory() / 3)
            throw FailedRun("Not enough memory for the distances of " + std::to_string(n) + " sequences");
        words.emplace(n);
        // No layout holds more than n (n + 1) words, and no word of a valid
        // matrix (a name, a distance) is longer than kLongestMatrixWord: the
        // file is refused as soon as it has one or the other.
        for (std::optional<Token> word = source.nextWord(kLongestMatrixWord); word;
             word = source.nextWord(kLongestMatrixWord)) {
            if (word->cut)
                throw MatrixFileError("line " + std::to_string(word->line) + ": a word is longer than " +
                                      std::to_string(kLongestMatrixWord) + " characters");
            if (words->size() == n * (n + 1))
                throw MatrixFileError("line " + std::to_string(word->line) + ": found " + quoted(word->text) +
                                      " after the last of the " + std::to_string(n) + " rows");
            words->add(std::move(*word));
        }
    } catch (const GzipError& error) {
        throw MatrixFileError(error.what());
    }

    const std::size_t after = words->size();
    const Layout layout = layoutOf(*words, n);

    // Every row checked for its name and its count of distances first, so
    // that a count far beyond the rows costs nothing before it fails.
    MatrixFile file;
    std::vector<std::size_t> rowStart;
    std::size_t w = 0;
    for (std::size_t r = 0; r < n; ++r) {
        if (w >= after)
            throw MatrixFileError("the file ends after " + std::to_string(r) + " of " + std::to_string(n) +
                                  " rows, expected the name of row " + std::to_string(r + 1));
        file.names.push_back(words->text(w++));
        rowStart.push_back(w);
        const std::size_t wanted = valuesInRow(layout, r, n);
        if (after - w < wanted)
            throw MatrixFileError("the file ends in " + rowName(r, file.names[r]) + " after " +
                                  std::to_string(after - w) + " of its " + std::to_string(wanted) + " distances");
        w += wanted;
    }
    if (w < after)
        throw MatrixFileError("line " + std::to_string(words->line(w)) + ": found " + quoted(words->text(w)) +
                              " after the last of the " + std::to_string(n) + " rows");

    fillDistances(*words, layout, rowStart, file);
    return file;
}

void writeMatrixFile(std::ostream& out, const DistanceMatrix& distances, const std::vector<std::string>& names) {
    const int n = distances.count();
    out << n << '\n';
    char buffer[32];
    for (int i = 0; i < n; ++i) {
        std::string name = static_cast<std::size_t>(i) < names.size() && !names[static_cast<std::size_t>(i)].empty()
                               ? names[static_cast<std::size_t>(i)]
                               : std::to_string(i);
        for (char& c : name)
            if (isBlank(static_cast<unsigned char>(c))) c = '_';
        out << name;
        for (int j = 0; j < n; ++j) {
            const double value = i == j ? 0.0 : distances.at(i, j);
            std::snprintf(buffer, sizeof buffer, "%.17g", value == 0.0 ? 0.0 : value);  // never "-0"
            out << ' ' << buffer;
        }
        out << '\n';
    }
    out << std::flush;
}

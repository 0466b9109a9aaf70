#include "sequences/MatrixFile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "common/DecimalNumber.h"
#include "sequences/GzipInput.h"
#include "sequences/TextSource.h"

namespace {

enum class Layout { square, lower, lowerWithDiagonal };

std::string rowName(std::size_t row, const std::string& name) {
    return "row " + std::to_string(row + 1) + " " + quoted(name);
}

// The distance a word gives, or the message that says why it gives none.
double distanceOf(const Token& word, std::size_t row, std::size_t column, const std::string& name) {
    const std::string where = rowName(row, name) + ", column " + std::to_string(column + 1) + " (line " +
                              std::to_string(word.line) + ")";
    const char* begin = word.text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0')
        throw MatrixFileError(where + ": found " + quoted(word.text) + ", expected a distance");
    if (!std::isfinite(value))
        throw MatrixFileError(where + ": the distance " + quoted(word.text) + " is not finite");
    if (value < 0) throw MatrixFileError(where + ": the distance " + quoted(word.text) + " is negative");
    return value;
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

}  // namespace

MatrixFile readMatrixFile(std::istream& in) {
    std::vector<Token> words;
    try {
        const std::unique_ptr<GzipInput> unzipped = unzippedIfGzip(in);
        TextSource source(unzipped ? unzipped.get() : in.rdbuf());
        std::optional<Token> first = source.nextWord();
        if (!first) throw MatrixFileError("the file is empty, expected the number of rows");
        const DecimalNumber count = DecimalNumber::read(first->text, 0);
        if (count.digits == 0 || count.end != first->text.size() || count.negative)
            throw MatrixFileError("line " + std::to_string(first->line) + ": found " + quoted(first->text) +
                                  ", expected the number of rows");
        if (!count.fitsInt() || count.value() > 1000000)
            throw MatrixFileError("line " + std::to_string(first->line) + ": " + quoted(first->text) +
                                  " rows is too many");
        words.push_back(*first);
        for (std::optional<Token> word = source.nextWord(); word; word = source.nextWord())
            words.push_back(std::move(*word));
    } catch (const GzipError& error) {
        throw MatrixFileError(error.what());
    }

    const std::size_t n = static_cast<std::size_t>(DecimalNumber::read(words[0].text, 0).value());
    const std::size_t after = words.size() - 1;
    // The layout from how many words follow the count; when none fits, the
    // first row tells (a square row has its values on the name's line) and
    // the reading below says where the file goes wrong.
    Layout layout = Layout::square;
    if (after == n * (n + 1)) {
        layout = Layout::square;
    } else if (after == n + n * (n - 1) / 2 && n > 0) {
        layout = Layout::lower;
    } else if (after == n + n * (n + 1) / 2) {
        layout = Layout::lowerWithDiagonal;
    } else if (after >= 2 && words[2].line != words[1].line) {
        layout = Layout::lower;
    }

    // The values as read, row after row: no more of them than the file holds
    // words, so a count far beyond the rows costs nothing before it fails.
    MatrixFile file;
    std::vector<double> values;
    std::vector<std::size_t> rowStart;
    std::size_t w = 1;
    for (std::size_t r = 0; r < n; ++r) {
        if (w >= words.size())
            throw MatrixFileError("the file ends after " + std::to_string(r) + " of " + std::to_string(n) +
                                  " rows, expected the name of row " + std::to_string(r + 1));
        file.names.push_back(words[w++].text);
        rowStart.push_back(values.size());
        const std::size_t wanted = valuesInRow(layout, r, n);
        for (std::size_t c = 0; c < wanted; ++c) {
            if (w >= words.size())
                throw MatrixFileError("the file ends in " + rowName(r, file.names[r]) + " after " +
                                      std::to_string(c) + " of its " + std::to_string(wanted) + " distances");
            values.push_back(distanceOf(words[w++], r, c, file.names[r]));
        }
    }
    if (w < words.size())
        throw MatrixFileError("line " + std::to_string(words[w].line) + ": found " + quoted(words[w].text) +
                              " after the last of the " + std::to_string(n) + " rows");

    auto at = [&](std::size_t r, std::size_t c) { return values[rowStart[r] + c]; };
    // The shortest text that reads back as the value.
    auto text = [](double value) {
        char buffer[32];
        for (int digits = 1; digits <= 17; ++digits) {
            std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
            if (std::strtod(buffer, nullptr) == value) break;
        }
        return std::string(buffer);
    };
    file.distances = std::make_unique<DistanceMatrix>(static_cast<int>(n));
    for (std::size_t r = 0; r < n; ++r) {
        if (layout != Layout::lower && at(r, r) != 0.0)
            throw MatrixFileError(rowName(r, file.names[r]) + ", column " + std::to_string(r + 1) +
                                  ": the diagonal holds " + text(at(r, r)) + ", expected 0");
        for (std::size_t c = 0; c < r; ++c) {
            if (layout == Layout::square && at(r, c) != at(c, r))
                throw MatrixFileError(rowName(r, file.names[r]) + ", column " + std::to_string(c + 1) + ": " +
                                      text(at(r, c)) + " differs from row " + std::to_string(c + 1) + ", column " +
                                      std::to_string(r + 1) + ": " + text(at(c, r)) +
                                      " (the matrix must be symmetric)");
            file.distances->set(static_cast<int>(c), static_cast<int>(r), at(r, c));
        }
    }
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
            std::snprintf(buffer, sizeof buffer, "%.17g", i == j ? 0.0 : distances.at(i, j));
            out << ' ' << buffer;
        }
        out << '\n';
    }
    out << std::flush;
}

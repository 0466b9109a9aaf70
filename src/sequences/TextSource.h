#pragma once

#include <istream>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>

// White space of the sequence formats: blank, tab, line feed, carriage
// return, vertical tab, form feed.
inline bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

struct Token {
    std::string text;
    long line = 0;
    // The word went on past the characters kept, which are then all of
    // `text`; the rest of it was not taken.
    bool cut = false;
};

// The most characters of a word that is a number (a count, a length, an
// index, a distance) kept before the word is refused: no valid number needs
// more, and a word of gigabytes is never held whole.
constexpr std::size_t kLongestNumberWord = 4096;

// Characters of a stream, read one at a time, with the number of the line
// they stand on, for messages. A stream that holds gzip data is read through
// zlib: the characters are those it unpacks (the reads then throw GzipError
// on corrupt or truncated data).
class TextSource {
public:
    static constexpr int kEnd = std::char_traits<char>::eof();

    explicit TextSource(std::istream& in);

    // The next character, not taken (kEnd at the end of the input).
    int peek() { return buf_ == nullptr ? kEnd : buf_->sgetc(); }
    // Takes the next character.
    void take() {
        if (buf_->sbumpc() == '\n') ++line_;
    }
    // Skips white space; returns the character after it, not taken.
    int skipBlanks() {
        int c = peek();
        while (c != kEnd && isBlank(c)) {
            take();
            c = peek();
        }
        return c;
    }
    // The next whitespace-delimited word, or nothing at the end of the input.
    // Of a word longer than `keep` characters, `keep` are taken and the token
    // is marked cut.
    std::optional<Token> nextWord(std::size_t keep = std::string::npos) {
        int c = skipBlanks();
        if (c == kEnd) return std::nullopt;
        Token token;
        token.line = line_;
        lastLine_ = line_;
        while (c != kEnd && !isBlank(c)) {
            if (token.text.size() == keep) {
                token.cut = true;
                break;
            }
            token.text.push_back(static_cast<char>(c));
            take();
            c = peek();
        }
        return token;
    }
    // The rest of the current line, without its line end, which is taken; or,
    // of a line longer than `keep` characters, `keep` of them when `cut` is
    // given (which is then set).
    std::string restOfLine(std::size_t keep = std::string::npos, bool* cut = nullptr) {
        std::string text;
        int c = peek();
        while (c != kEnd && c != '\n') {
            if (text.size() == keep && cut != nullptr) {
                *cut = true;
                return text;
            }
            text.push_back(static_cast<char>(c));
            take();
            c = peek();
        }
        if (c == '\n') take();
        return text;
    }

    long line() const { return line_; }
    // Line of the last word read (1 before any).
    long lastLine() const { return lastLine_; }

private:
    std::unique_ptr<std::streambuf> unzipped_;
    std::streambuf* buf_;
    long line_ = 1;
    long lastLine_ = 1;
};

// A word as it may be quoted in a one-line message: cut short, with bytes
// that are not printable shown as '?'.
std::string quoted(const std::string& text);

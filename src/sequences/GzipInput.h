#pragma once

#include <zlib.h>

#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

// Gzip data that cannot be read back: corrupt, or ended before its end. Its
// text says what is wrong, for a reader to put in its own one-line message.
class GzipError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The text held by gzip data, read through from another stream buffer as it
// is asked for. Members that follow one another are read as one text, as
// gzip itself reads them. Throws GzipError from the reads.
class GzipInput : public std::streambuf {
public:
    explicit GzipInput(std::streambuf& compressed);
    ~GzipInput() override;
    GzipInput(const GzipInput&) = delete;
    GzipInput& operator=(const GzipInput&) = delete;

    // Whether the next bytes of `source` start gzip data (its first byte,
    // which no text this tool reads starts with); nothing is taken.
    static bool startsGzip(std::streambuf& source);

protected:
    int_type underflow() override;

private:
    // Skips zero bytes after a member; true when nothing else is left.
    bool onlyZerosLeft();
    std::streambuf& compressed_;
    z_stream stream_{};
    std::vector<char> in_;
    std::vector<char> out_;
    bool ended_ = false;
};

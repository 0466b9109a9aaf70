#include "sequences/GzipInput.h"

namespace {

constexpr std::size_t kChunk = 1 << 16;

}  // namespace

GzipInput::GzipInput(std::streambuf& compressed) : compressed_(compressed), in_(kChunk), out_(kChunk) {
    // 15 + 32: the largest window, and a gzip or zlib header told apart by
    // zlib itself.
    if (inflateInit2(&stream_, 15 + 32) != Z_OK) throw GzipError("zlib could not start");
    setg(out_.data(), out_.data(), out_.data());
}

GzipInput::~GzipInput() { inflateEnd(&stream_); }

bool GzipInput::startsGzip(std::streambuf& source) { return source.sgetc() == 0x1f; }

bool GzipInput::onlyZerosLeft() {
    for (;;) {
        while (stream_.avail_in > 0 && *stream_.next_in == 0) {
            ++stream_.next_in;
            --stream_.avail_in;
        }
        if (stream_.avail_in > 0) return false;
        const std::streamsize got = compressed_.sgetn(in_.data(), static_cast<std::streamsize>(in_.size()));
        if (got <= 0) return true;
        stream_.next_in = reinterpret_cast<Bytef*>(in_.data());
        stream_.avail_in = static_cast<uInt>(got);
    }
}

GzipInput::int_type GzipInput::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    while (!ended_) {
        if (stream_.avail_in == 0) {
            const std::streamsize got = compressed_.sgetn(in_.data(), static_cast<std::streamsize>(in_.size()));
            if (got <= 0) throw GzipError("the gzip data ends before its end (a truncated file?)");
            stream_.next_in = reinterpret_cast<Bytef*>(in_.data());
            stream_.avail_in = static_cast<uInt>(got);
        }
        stream_.next_out = reinterpret_cast<Bytef*>(out_.data());
        stream_.avail_out = static_cast<uInt>(out_.size());
        const int status = inflate(&stream_, Z_NO_FLUSH);
        const std::size_t made = out_.size() - stream_.avail_out;
        if (status == Z_STREAM_END) {
            // Another member may follow; the data ends where the input does,
            // or where only zero bytes are left (the padding that tape and
            // some archivers add, which gzip itself takes).
            if (onlyZerosLeft())
                ended_ = true;
            else
                inflateReset(&stream_);
        } else if (status == Z_NEED_DICT || status == Z_DATA_ERROR || status == Z_MEM_ERROR ||
                   status == Z_STREAM_ERROR) {
            throw GzipError(std::string("the gzip data is corrupt (") +
                            (stream_.msg != nullptr ? stream_.msg : "zlib could not read it") + ")");
        }
        if (made > 0) {
            setg(out_.data(), out_.data(), out_.data() + made);
            return traits_type::to_int_type(*gptr());
        }
    }
    return traits_type::eof();
}

#include "sequences/TextSource.h"

#include "sequences/GzipInput.h"

TextSource::TextSource(std::istream& in) : buf_(in.rdbuf()) {
    if (buf_ != nullptr && GzipInput::startsGzip(*buf_)) {
        unzipped_ = std::make_unique<GzipInput>(*buf_);
        buf_ = unzipped_.get();
    }
    // A UTF-8 byte-order mark, as some editors write, is no part of the
    // text. No valid input starts with its first byte.
    if (buf_ != nullptr && buf_->sgetc() == 0xEF) {
        buf_->sbumpc();
        if (buf_->sgetc() == 0xBB) {
            buf_->sbumpc();
            if (buf_->sgetc() == 0xBF) buf_->sbumpc();
        }
    }
}

std::string quoted(const std::string& text) {
    constexpr std::size_t kShown = 24;
    std::string shown;
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        shown.push_back(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?');
    }
    if (text.size() > kShown) shown += "...";
    return "'" + shown + "'";
}

#include "common/OutputLines.h"

#include <cerrno>
#include <cstring>

void checkWritten(std::ostream& out) {
    if (out) return;
    // The reason of the write that failed, read before anything else can
    // change it.
    const int error = errno;
    throw OutputFailed(error != 0 ? std::strerror(error) : "the stream failed");
}

void writeLine(std::ostream& out, const std::string& text) {
    errno = 0;
    out << text << '\n' << std::flush;
    checkWritten(out);
}

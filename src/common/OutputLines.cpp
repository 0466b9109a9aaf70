#include "common/OutputLines.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

void checkWritten(std::ostream& out) {
    if (out) return;
    // The reason of the write that failed, read before anything else can
    // change it.
    const int error = errno;
    throw OutputFailed(error != 0 ? std::strerror(error) : "the stream failed");
}

void writeText(std::ostream& out, const std::string& text) {
    errno = 0;
    out << text << std::flush;
    checkWritten(out);
}

void writeLine(std::ostream& out, const std::string& text) { writeText(out, text + '\n'); }

void logStageTime(const std::string& stage, std::chrono::steady_clock::time_point started) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    std::cerr << "tandemtree: " << stage << ": " << text << std::endl;
}

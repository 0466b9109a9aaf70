#pragma once

#include <chrono>
#include <ostream>
#include <stdexcept>
#include <string>

// Standard output could not take what was written (a full disk, a closed
// descriptor, a reader that went away): the run stops, and the reason goes
// to standard error with exit code 1, never a success.
class OutputFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws OutputFailed, with the system's reason, when `out` has failed.
void checkWritten(std::ostream& out);

// Writes text (a prompt, the help) and flushes it; throws OutputFailed when it
// did not go out.
void writeText(std::ostream& out, const std::string& text);

// The same for one line, its line end added.
void writeLine(std::ostream& out, const std::string& text);

// With --verbose: how long a stage took since `started`, as one line on
// standard error ("tandemtree: STAGE: 0.123 s").
void logStageTime(const std::string& stage, std::chrono::steady_clock::time_point started);

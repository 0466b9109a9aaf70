#pragma once

#include <chrono>
#include <ostream>
#include <string>

// One line on a terminal that tells how far a long reconstruction has come:
// the criterion, the ancestral segments made out of all there will be, the
// time spent (and, for the quartet criterion, the initial vote count). It
// appears only once a reconstruction has run for half a second, is rewritten
// at most ten times a second, and is erased when the reconstruction ends,
// leaving the terminal as it was. With no terminal it does nothing.
class ProgressLine {
public:
    explicit ProgressLine(std::ostream* terminal) : terminal_(terminal) {}
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() { finish(); }

    void start(int criterion, int ancestors);
    void counting(double fraction);  // of the initial quartet vote count
    void merged(int ancestorsMade);
    void finish();

private:
    using Clock = std::chrono::steady_clock;
    void show(const std::string& what);

    std::ostream* terminal_;
    Clock::time_point started_{};
    Clock::time_point lastShown_{};
    int criterion_ = 0;
    int ancestors_ = 0;
    bool running_ = false;
    bool shown_ = false;
};

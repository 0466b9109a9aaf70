#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <utility>

#include "history/ReconstructionProgress.h"

// One line on a terminal that tells how far a long reconstruction has come:
// the criterion, the ancestral segments made out of all there will be, the
// time spent (and, for the quartet criterion, the initial vote count); or,
// for a refinement, the starts of its searches done. It
// appears only once a reconstruction has run for half a second, is rewritten
// at most ten times a second, and is erased when the reconstruction ends,
// leaving the terminal as it was. With no terminal it does nothing.
class ProgressLine : public ReconstructionProgress {
public:
    using Clock = std::chrono::steady_clock;

    // `now` tells the time; a test hands in a clock of its own.
    explicit ProgressLine(std::ostream* terminal, std::function<Clock::time_point()> now = &Clock::now)
        : terminal_(terminal), now_(std::move(now)) {}
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() override { finish(); }

    // A reconstruction with `criterion` begins, which will make `ancestors`.
    void start(int criterion, int ancestors);
    // The refinement, or the bootstrap, of the history of `criterion` begins.
    void startSearch(int criterion) { start(criterion, 0); }
    void counting(double fraction) override;
    void merged(int ancestorsMade) override;
    void searched(const char* stage, int done, int of) override;
    void descending(int sweep, int moves) override;
    // With the time left, from the pace of the replicates so far.
    void replicated(int done, int of) override;
    // The reconstruction has ended: the line, if shown, is erased.
    void finish();

private:
    void show(const std::string& what);

    std::ostream* terminal_;
    std::function<Clock::time_point()> now_;
    Clock::time_point started_{};
    Clock::time_point lastShown_{};
    int criterion_ = 0;
    int ancestors_ = 0;
    bool running_ = false;
    bool shown_ = false;
};

#include "driver/ProgressLine.h"

#include <cstdio>

namespace {

// Terminal controls: save and restore the cursor, clear to the end of the line.
const char* const kSaveCursor = "\0337";
const char* const kRestoreCursor = "\0338";
const char* const kClearLine = "\033[K";

}  // namespace

void ProgressLine::start(int criterion, int ancestors) {
    finish();
    if (terminal_ == nullptr) return;
    criterion_ = criterion;
    ancestors_ = ancestors;
    started_ = now_();
    running_ = true;
}

void ProgressLine::counting(double fraction) {
    if (!running_) return;
    char text[64];
    std::snprintf(text, sizeof text, "counting quartet votes %.0f%%", 100.0 * fraction);
    show(text);
}

void ProgressLine::merged(int ancestorsMade) {
    if (!running_) return;
    show(std::to_string(ancestorsMade) + "/" + std::to_string(ancestors_) + " ancestral segments");
}

void ProgressLine::searched(const char* stage, int done, int of) {
    if (!running_) return;
    show(std::string("refining, ") + stage + " " + std::to_string(done) + "/" + std::to_string(of));
}

void ProgressLine::descending(int sweep, int moves) {
    if (!running_) return;
    show("refining, sweep " + std::to_string(sweep) + ", " + std::to_string(moves) + " moves");
}

void ProgressLine::replicated(int done, int of) {
    if (!running_ || done <= 0) return;
    const double seconds = std::chrono::duration<double>(now_() - started_).count();
    char left[48];
    std::snprintf(left, sizeof left, ", about %.0f s left", seconds / done * (of - done));
    show("bootstrap " + std::to_string(done) + "/" + std::to_string(of) + " replicates" + left);
}

void ProgressLine::show(const std::string& what) {
    const Clock::time_point now = now_();
    if (now - started_ < std::chrono::milliseconds(500)) return;
    if (shown_ && now - lastShown_ < std::chrono::milliseconds(100)) return;
    lastShown_ = now;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.1f s", seconds);
    if (!shown_) *terminal_ << kSaveCursor;
    *terminal_ << kRestoreCursor << "criterion " << criterion_ << ": " << what << ", " << elapsed << kClearLine
               << std::flush;
    shown_ = true;
}

void ProgressLine::finish() {
    if (shown_) *terminal_ << kRestoreCursor << kClearLine << std::flush;
    shown_ = false;
    running_ = false;
}

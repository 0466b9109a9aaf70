#pragma once

// Told how far a reconstruction has come, for a display of it. The engine
// and the criteria only report; they never wait on it.
class ReconstructionProgress {
public:
    virtual ~ReconstructionProgress() = default;
    // The share of the quartet criterion's initial vote count done, 0 to 1.
    virtual void counting(double fraction) = 0;
    // Ancestral segments made so far.
    virtual void merged(int ancestorsMade) = 0;
    // A refinement's searches: `done` of the `of` starts of `stage` (the
    // kicks, the rebuilds, the ratchet rounds) searched so far.
    virtual void searched(const char* stage, int done, int of) {
        (void)stage;
        (void)done;
        (void)of;
    }
    // A refinement's first descent: in its `sweep`th sweep (from 1), with
    // `moves` moves taken so far; told again and again within a sweep.
    virtual void descending(int sweep, int moves) {
        (void)sweep;
        (void)moves;
    }
    // A bootstrap: `done` of its `of` replicates made.
    virtual void replicated(int done, int of) {
        (void)done;
        (void)of;
    }
};

// The share of the quartets a < b < c < d of n positions whose first
// position lies before `a`: how far the quartet criterion's initial count
// has come when it starts on position a (1 when there is no quartet at all).
inline double quartetShareBefore(int n, int a) {
    // 24 times the number of quartets whose first position is x or later.
    auto fromOnward = [n](double x) { return (n - x) * (n - x - 1) * (n - x - 2) * (n - x - 3); };
    if (n < 4) return 1.0;
    return 1.0 - fromOnward(a) / fromOnward(0);
}

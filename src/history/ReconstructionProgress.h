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
};

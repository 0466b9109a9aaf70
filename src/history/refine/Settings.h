#pragma once

// How a history is refined (see Refinement.h for what each search does).
struct RefineSettings {
    bool clockRoot = true;  // false: keep the root the search ended with
    int kicks = 0;
    int rebuilds = 0;
    int ratchet = 0;
    // The criterion the history came from (1 to 3): a rebuild that leaves
    // more segments than the quartet votes take in good time makes the
    // history whole by it. Rebuilds need it; 0 names none.
    int criterion = 0;
    // Threads that the descents of kicks, rebuilds and ratchet rounds (and a
    // rebuild's quartet votes), or the looks of a descent that runs alone,
    // may run on; the trees are the same for any number.
    int threads = 1;
};

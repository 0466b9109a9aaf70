#pragma once

#include "sequences/DistanceMatrix.h"

namespace refine {

// The distances of one round of the ratchet: each pair's multiplied by its
// own factor, drawn evenly from 1 - kShake to 1 + kShake by a generator
// seeded with the round alone, so that a round shakes the same way on any
// machine and whichever thread runs it.
constexpr double kShake = 0.5;
// Rounds of the ratchet that start from the same tree, so that they can run
// side by side; the shortest of them is kept.
constexpr int kRoundsAtOnce = 4;
// The ratchet ends once this many rounds in a row (or all asked, when fewer)
// found nothing shorter.
constexpr int kRoundsWithoutGain = 16;

DistanceMatrix shakenDistances(const DistanceMatrix& distances, int round);

}  // namespace refine

#pragma once

#include <cstdint>

// The seed of the bootstrap replicates when none is given: the same seed
// gives the same support on every run.
constexpr std::uint64_t kDefaultBootstrapSeed = 20261209;

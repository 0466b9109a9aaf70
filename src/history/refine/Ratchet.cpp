#include "history/refine/Ratchet.h"

#include <cstdint>

namespace refine {

DistanceMatrix shakenDistances(const DistanceMatrix& distances, int round) {
    const int n = distances.count();
    DistanceMatrix shaken(n);
    std::uint64_t state = 0x9e3779b97f4a7c15u * static_cast<std::uint64_t>(round + 1);
    auto next = [&state] {  // splitmix64
        std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    };
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            const double unit = static_cast<double>(next() >> 11) * 0x1p-53;  // [0, 1)
            shaken.set(i, j, distances.at(i, j) * (1.0 + kShake * (2.0 * unit - 1.0)));
        }
    return shaken;
}

}  // namespace refine

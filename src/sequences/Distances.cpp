// Jukes-Cantor corrected distances between every pair of sequences.
#include <cmath>
#include <cstdint>

#include "driver/myException.h"
#include "sequences/SequenceSet.h"

namespace {

// Number of positions at which two texts of `length` bytes differ, bytes
// compared as they stand.
std::int64_t countMismatches(const unsigned char* a, const unsigned char* b, std::size_t length) {
    std::int64_t mismatches = 0;
    for (std::size_t k = 0; k < length; ++k) mismatches += a[k] != b[k];
    return mismatches;
}

}  // namespace

double SequenceSet::pairDistance(int i, int j) const {
    const std::size_t L = length > 0 ? static_cast<std::size_t>(length) : 0;
    const std::int64_t m =
        countMismatches(reinterpret_cast<const unsigned char*>(sequences[static_cast<std::size_t>(i)].data()),
                        reinterpret_cast<const unsigned char*>(sequences[static_cast<std::size_t>(j)].data()), L);
    // Each step below is one double operation, in the order that fixes the
    // rounding of the published formulas.
    const double p = static_cast<double>(m) / static_cast<double>(length);
    if (!isProtein) {
        if (p >= 0.75) return kUndefinedDistance;
        const double ratio = (4.0 * static_cast<double>(m)) / static_cast<double>(3 * static_cast<std::int64_t>(length));
        return std::log(1.0 - ratio) * -0.75;
    }
    if (p >= 0.95) return kUndefinedDistance;
    const double scaled = static_cast<double>(length) * 0.95;
    return std::log(1.0 - static_cast<double>(m) / scaled) * -0.95;
}

void SequenceSet::computeDistances() {
    distances = std::make_unique<DistanceMatrix>(count);
    std::vector<double>& values = distances->values();
    std::size_t k = 0;
    for (int i = 0; i < count; ++i) {
        for (int j = i + 1; j < count; ++j) {
            values[k] = pairDistance(i, j);
            if (values[k] == kUndefinedDistance || std::isnan(values[k]))
                throw myException(kUndefinedDistanceMessage);
            ++k;
        }
    }
}

#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

// Marks a distance that the correction for multiple substitutions cannot give.
constexpr double kUndefinedDistance = std::numeric_limits<double>::max();

// Corrected distances between every pair of n segments: the strict upper
// triangle of the n x n table, row by row. Pair (i, j), i < j, is stored at
// i(n-1) + j - i(i+1)/2 - 1.
class DistanceMatrix {
public:
    DistanceMatrix() = default;
    explicit DistanceMatrix(int count) : count_(count), values_(pairCount(count), 0.0) {}

    static std::size_t pairCount(int count) {
        return count < 2 ? 0 : static_cast<std::size_t>(count) * (count - 1) / 2;
    }
    static std::uint64_t bytesFor(int count) { return pairCount(count) * sizeof(double); }
    static std::size_t indexOf(int i, int j, int count) {
        if (i > j) std::swap(i, j);
        const std::size_t si = static_cast<std::size_t>(i);
        return si * (count - 1) + j - si * (si + 1) / 2 - 1;
    }

    int count() const { return count_; }
    double at(int i, int j) const { return values_[indexOf(i, j, count_)]; }
    void set(int i, int j, double d) { values_[indexOf(i, j, count_)] = d; }
    const std::vector<double>& values() const { return values_; }
    std::vector<double>& values() { return values_; }

private:
    int count_ = 0;
    std::vector<double> values_;
};

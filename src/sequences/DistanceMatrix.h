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
//
// Distances made from an alignment take few values (one per number of
// differing columns), so they may be held coded: each pair keeps a 16-bit
// code and a table gives the code's distance, a quarter of the memory of the
// distances themselves and the very same doubles.
class DistanceMatrix {
public:
    using Code = std::uint16_t;
    static constexpr std::size_t kMostCodes = std::size_t{1} << 16;

    DistanceMatrix() = default;
    // Every distance 0.0, held as doubles.
    explicit DistanceMatrix(int count) : count_(count), values_(pairCount(count), 0.0) {}
    // Every pair coded 0, code c standing for valueOfCode[c] (at most
    // kMostCodes of them).
    DistanceMatrix(int count, std::vector<double> valueOfCode)
        : count_(count), codes_(pairCount(count), 0), valueOfCode_(std::move(valueOfCode)), coded_(true) {}

    static std::size_t pairCount(int count) {
        return count < 2 ? 0 : static_cast<std::size_t>(count) * (count - 1) / 2;
    }
    // Bytes of the distances held as doubles (coded ones take fewer).
    static std::uint64_t bytesFor(int count) { return pairCount(count) * sizeof(double); }
    static std::size_t indexOf(int i, int j, int count) {
        if (i > j) std::swap(i, j);
        const std::size_t si = static_cast<std::size_t>(i);
        return si * (count - 1) + j - si * (si + 1) / 2 - 1;
    }

    int count() const { return count_; }
    bool coded() const { return coded_; }
    double at(int i, int j) const { return valueAt(indexOf(i, j, count_)); }
    // The distance of the pair stored at `index`.
    double valueAt(std::size_t index) const { return coded_ ? valueOfCode_[codes_[index]] : values_[index]; }
    // Held as doubles only.
    void set(int i, int j, double d) { values_[indexOf(i, j, count_)] = d; }
    double* doubles() { return values_.data(); }
    // Held coded only.
    Code* codes() { return codes_.data(); }
    // Every pair's distance, in storage order.
    std::vector<double> values() const {
        if (!coded_) return values_;
        std::vector<double> all(codes_.size());
        for (std::size_t k = 0; k < codes_.size(); ++k) all[k] = valueOfCode_[codes_[k]];
        return all;
    }

private:
    int count_ = 0;
    std::vector<double> values_;
    std::vector<Code> codes_;
    std::vector<double> valueOfCode_;
    bool coded_ = false;
};

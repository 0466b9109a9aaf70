#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

// Marks a distance that the correction for multiple substitutions cannot give.
constexpr double kUndefinedDistance = std::numeric_limits<double>::max();

// Corrected distances between every pair of n segments: the strict upper
// triangle of the n x n table, row by row. Pair (i, j), i < j, is at place
// i(n-1) + j - i(i+1)/2 - 1 of that order.
//
// Distances made from an alignment take few values (one per number of
// differing columns), so they may be held coded: each pair keeps a 16-bit
// code and a table gives the code's distance, a quarter of the memory of the
// distances themselves and the very same doubles.
//
// The rows are stored kRowsPerBlock to a block, so that a reader that needs
// each row once can give the memory back as it goes (releaseRowsBefore).
class DistanceMatrix {
public:
    using Code = std::uint16_t;
    static constexpr std::size_t kMostCodes = std::size_t{1} << 16;
    static constexpr int kRowsPerBlock = 64;

    DistanceMatrix() = default;
    // Every distance 0.0, held as doubles.
    explicit DistanceMatrix(int count) : count_(count) { allocate(valueBlocks_, 0.0); }
    // Every pair coded 0, code c standing for valueOfCode[c] (at most
    // kMostCodes of them).
    DistanceMatrix(int count, std::vector<double> valueOfCode)
        : count_(count), valueOfCode_(std::move(valueOfCode)), coded_(true) {
        allocate(codeBlocks_, Code{0});
    }

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
    double at(int i, int j) const {
        if (i > j) std::swap(i, j);
        const std::size_t place = placeInBlock(i) + static_cast<std::size_t>(j - i - 1);
        const std::size_t block = static_cast<std::size_t>(i / kRowsPerBlock);
        return coded_ ? valueOfCode_[codeBlocks_[block][place]] : valueBlocks_[block][place];
    }
    // Held as doubles only.
    void set(int i, int j, double d) {
        if (i > j) std::swap(i, j);
        valuesOfRow(i)[j - i - 1] = d;
    }
    // The pairs (i, i+1), (i, i+2), ... (i, n-1) of row i, side by side.
    double* valuesOfRow(int i) { return rowOf(valueBlocks_, i); }
    const double* valuesOfRow(int i) const { return rowOf(valueBlocks_, i); }
    Code* codesOfRow(int i) { return rowOf(codeBlocks_, i); }
    const Code* codesOfRow(int i) const { return rowOf(codeBlocks_, i); }
    const std::vector<double>& valueOfCode() const { return valueOfCode_; }
    // Gives back the memory of the blocks whose rows all lie before `row`;
    // those rows must not be read again.
    void releaseRowsBefore(int row) {
        for (int b = 0; (b + 1) * kRowsPerBlock <= row && b < blockCount(); ++b) {
            if (coded_)
                std::vector<Code>().swap(codeBlocks_[static_cast<std::size_t>(b)]);
            else
                std::vector<double>().swap(valueBlocks_[static_cast<std::size_t>(b)]);
        }
    }
    // Every pair's distance, in storage order.
    std::vector<double> values() const {
        std::vector<double> all;
        all.reserve(pairCount(count_));
        for (int i = 0; i + 1 < count_; ++i)
            for (int j = i + 1; j < count_; ++j) all.push_back(at(i, j));
        return all;
    }

private:
    int blockCount() const { return (count_ + kRowsPerBlock - 1) / kRowsPerBlock; }
    // The pairs of rows first .. end-1 (each row i has n-1-i).
    std::size_t pairsOfRows(int first, int end) const {
        const auto rows = static_cast<std::size_t>(end - first);
        return rows * (2 * static_cast<std::size_t>(count_) - static_cast<std::size_t>(first + end) - 1) / 2;
    }
    // Where row i starts in its block.
    std::size_t placeInBlock(int i) const { return pairsOfRows(i / kRowsPerBlock * kRowsPerBlock, i); }
    template <typename T>
    void allocate(std::vector<std::vector<T>>& blocks, T value) {
        blocks.resize(static_cast<std::size_t>(blockCount()));
        for (int b = 0; b < blockCount(); ++b)
            blocks[static_cast<std::size_t>(b)].assign(
                pairsOfRows(b * kRowsPerBlock, std::min(count_, (b + 1) * kRowsPerBlock)), value);
    }
    template <typename T>
    T* rowOf(std::vector<std::vector<T>>& blocks, int i) {
        return blocks[static_cast<std::size_t>(i / kRowsPerBlock)].data() + placeInBlock(i);
    }
    template <typename T>
    const T* rowOf(const std::vector<std::vector<T>>& blocks, int i) const {
        return blocks[static_cast<std::size_t>(i / kRowsPerBlock)].data() + placeInBlock(i);
    }

    int count_ = 0;
    std::vector<std::vector<double>> valueBlocks_;
    std::vector<std::vector<Code>> codeBlocks_;
    std::vector<double> valueOfCode_;
    bool coded_ = false;
};

#pragma once

#include <cstdint>
#include <vector>

// Votes of the quartet criterion: an n x n table of counts indexed by
// positions in the current row of segments (only the leading k x k is in
// use). V(p, q) = V(q, p) is the number of quartets that vote for the pair
// {p, q}. Each vote is recorded in one of the pair's two cells, whichever the
// counting reaches contiguously; a count is the sum of both cells.
class QuartetVoteMatrix {
public:
    QuartetVoteMatrix() = default;
    explicit QuartetVoteMatrix(int n) : n_(static_cast<std::size_t>(n)), cells_(n_ * n_, 0) {}
    static std::uint64_t bytesFor(int n) { return static_cast<std::uint64_t>(n) * n * sizeof(std::int32_t); }
    int dimension() const { return static_cast<int>(n_); }
    // V(p, q).
    std::int32_t at(int p, int q) const { return cells_[index(p, q)] + cells_[index(q, p)]; }
    // Adds `delta` votes to the pair {x, y}.
    void add(int x, int y, std::int32_t delta) { cells_[index(x, y)] += delta; }
    // Row x of the cells, for adding votes to {x, y} along y.
    std::int32_t* row(int x) { return &cells_[index(x, 0)]; }
    // Removes `count` rows and columns from the leading k x k block, as the
    // row of segments loses the right copies of a merged block.
    void removeRowsAndColumns(int k, int from, int count);
    // Empties the rows and columns from .. from+count-1 of the leading k x k.
    void clearRowsAndColumns(int k, int from, int count);

private:
    std::size_t index(int p, int q) const { return static_cast<std::size_t>(p) * n_ + static_cast<std::size_t>(q); }
    std::size_t n_ = 0;
    std::vector<std::int32_t> cells_;
};

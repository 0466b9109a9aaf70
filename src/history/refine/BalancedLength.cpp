#include "history/refine/BalancedLength.h"

#include <cmath>

namespace refine {

BalancedLength::BalancedLength(const DistanceMatrix& distances, int n)
    : n_(static_cast<std::size_t>(n)), weight_(2 * n_ + 2, 0.0) {
    auto table = std::make_shared<std::vector<double>>(n_ * n_, 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            (*table)[static_cast<std::size_t>(i) * n_ + static_cast<std::size_t>(j)] =
                (*table)[static_cast<std::size_t>(j) * n_ + static_cast<std::size_t>(i)] = distances.at(i, j);
    table_ = std::move(table);
    for (std::size_t t = 0; t < weight_.size(); ++t) weight_[t] = std::ldexp(1.0, 1 - static_cast<int>(t));
}

double BalancedLength::of(const Topology& t) {
    below_.assign(t.parent.size(), {});
    double length = 0.0;
    for (const int x : t.postOrder()) {
        auto& mine = below_[static_cast<std::size_t>(x)];
        if (t.isLeaf(x)) {
            mine.push_back({x, 0});
            continue;
        }
        auto& left = below_[static_cast<std::size_t>(t.child[static_cast<std::size_t>(x)][0])];
        auto& right = below_[static_cast<std::size_t>(t.child[static_cast<std::size_t>(x)][1])];
        // Through the root the two edges below it are one edge.
        const int through = x == t.root ? 1 : 2;
        for (const auto& [a, da] : left) {
            const double* row = &(*table_)[static_cast<std::size_t>(a) * n_];
            for (const auto& [b, db] : right)
                length += weight_[static_cast<std::size_t>(da + db + through)] * row[static_cast<std::size_t>(b)];
        }
        mine = std::move(left);
        mine.insert(mine.end(), right.begin(), right.end());
        right.clear();
        for (auto& entry : mine) ++entry.second;
    }
    return length;
}

}  // namespace refine

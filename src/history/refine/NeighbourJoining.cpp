#include "history/refine/NeighbourJoining.h"

#include <cstddef>
#include <limits>

namespace refine {

Topology joinedNeighbours(const std::vector<double>& table, int n) {
    Topology t;
    t.n = n;
    const std::size_t nodes = static_cast<std::size_t>(2 * n - 1);
    t.parent.assign(nodes, -1);
    t.child.assign(nodes, {-1, -1});
    std::vector<double> d(table);
    const std::size_t w = static_cast<std::size_t>(n);
    std::vector<int> slot(w);  // active slots, in order
    std::vector<int> id(w);
    for (int i = 0; i < n; ++i) slot[static_cast<std::size_t>(i)] = id[static_cast<std::size_t>(i)] = i;
    std::vector<double> sums(w);
    int next = n;
    auto join = [&](int a, int b) {
        t.child[static_cast<std::size_t>(next)] = {a, b};
        t.parent[static_cast<std::size_t>(a)] = t.parent[static_cast<std::size_t>(b)] = next;
        return next++;
    };
    while (slot.size() > 2) {
        const int k = static_cast<int>(slot.size());
        for (const int i : slot) {
            double sum = 0.0;
            for (const int j : slot) sum += d[static_cast<std::size_t>(i) * w + static_cast<std::size_t>(j)];
            sums[static_cast<std::size_t>(i)] = sum;
        }
        double best = std::numeric_limits<double>::infinity();
        std::size_t bi = 0, bj = 1;
        for (std::size_t x = 0; x < slot.size(); ++x)
            for (std::size_t y = x + 1; y < slot.size(); ++y) {
                const std::size_t i = static_cast<std::size_t>(slot[x]), j = static_cast<std::size_t>(slot[y]);
                const double q = (k - 2) * d[i * w + j] - sums[i] - sums[j];
                if (q < best) {
                    best = q;
                    bi = x;
                    bj = y;
                }
            }
        const std::size_t i = static_cast<std::size_t>(slot[bi]), j = static_cast<std::size_t>(slot[bj]);
        const double dij = d[i * w + j];
        for (const int m : slot) {
            const std::size_t mm = static_cast<std::size_t>(m);
            const double value = (d[i * w + mm] + d[j * w + mm] - dij) * 0.5;
            d[i * w + mm] = d[mm * w + i] = value;
        }
        d[i * w + i] = 0.0;
        id[i] = join(id[i], id[j]);
        slot.erase(slot.begin() + static_cast<std::ptrdiff_t>(bj));
    }
    t.root = join(id[static_cast<std::size_t>(slot[0])], id[static_cast<std::size_t>(slot[1])]);
    return t;
}

}  // namespace refine

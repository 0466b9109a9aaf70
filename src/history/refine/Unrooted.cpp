#include "history/refine/Unrooted.h"

namespace refine {

Unrooted::Unrooted(const Topology& t) : next(t.parent.size(), {-1, -1, -1}) {
    for (std::size_t x = 0; x < t.parent.size(); ++x) {
        const int p = t.parent[x];
        if (p < 0) continue;
        if (p != t.root)
            link(static_cast<int>(x), p);
        else if (t.child[static_cast<std::size_t>(p)][0] == static_cast<int>(x))
            link(static_cast<int>(x), t.child[static_cast<std::size_t>(p)][1]);
    }
}

void Unrooted::move(int v, int p, int x, int z) {
    std::array<int, 2> others{};
    int count = 0;
    for (const int y : next[static_cast<std::size_t>(p)])
        if (y != v) others[static_cast<std::size_t>(count++)] = y;
    relink(others[0], p, others[1]);
    relink(others[1], p, others[0]);
    relink(x, z, p);
    relink(z, x, p);
    next[static_cast<std::size_t>(p)] = {v, x, z};
}

void Unrooted::rootOn(int a, int b, int n, int root, Topology& t) const {
    t.n = n;
    t.root = root;
    t.parent.assign(next.size(), -1);
    t.child.assign(next.size(), {-1, -1});
    t.child[static_cast<std::size_t>(root)] = {a, b};
    std::vector<std::pair<int, int>>& stack = stack_;  // node, its parent
    stack.assign({{a, root}, {b, root}});
    while (!stack.empty()) {
        const auto [y, above] = stack.back();
        stack.pop_back();
        t.parent[static_cast<std::size_t>(y)] = above;
        std::array<int, 2> below = {-1, -1};
        int count = 0;
        for (const int z : next[static_cast<std::size_t>(y)]) {
            if (z < 0 || z == above || (above == root && (z == a || z == b))) continue;
            below[static_cast<std::size_t>(count++)] = z;
            stack.push_back({z, y});
        }
        t.child[static_cast<std::size_t>(y)] = below;
    }
}

Topology rootedAbove(const Topology& t, int x) {
    const int p = t.parent[static_cast<std::size_t>(x)];
    if (p == t.root) return t;  // the root's own edge
    return Unrooted(t).rootedOn(x, p, t.n, t.root);
}

}  // namespace refine

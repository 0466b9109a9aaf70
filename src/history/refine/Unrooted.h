#pragma once

#include <array>
#include <utility>
#include <vector>

#include "history/refine/Topology.h"

namespace refine {

// The tree seen unrooted: every node but the root, the root's two children
// joined by one edge. Each node lists up to three neighbours (-1: none).
struct Unrooted {
    std::vector<std::array<int, 3>> next;

    Unrooted() = default;
    explicit Unrooted(const Topology& t);

    void link(int a, int b) {
        add(a, b);
        add(b, a);
    }
    void add(int a, int b) {
        for (int& slot : next[static_cast<std::size_t>(a)])
            if (slot < 0) {
                slot = b;
                return;
            }
    }
    void relink(int a, int from, int to) {
        for (int& slot : next[static_cast<std::size_t>(a)])
            if (slot == from) {
                slot = to;
                return;
            }
    }
    // The subtree at v seen from its neighbour p leaves, p with it, and the
    // two are put back on the edge between x and z.
    void move(int v, int p, int x, int z);
    // The tree rooted on the edge between the neighbours a and b, the root
    // numbered `root`.
    Topology rootedOn(int a, int b, int n, int root) const {
        Topology t;
        rootOn(a, b, n, root, t);
        return t;
    }
    // The same into t, whose storage is reused.
    void rootOn(int a, int b, int n, int root, Topology& t) const;

private:
    mutable std::vector<std::pair<int, int>> stack_;
};

// The same unrooted tree rooted on the edge between node x and its
// neighbour towards the old root (x not the root). The root's node number is
// kept for the new root.
Topology rootedAbove(const Topology& t, int x);

}  // namespace refine

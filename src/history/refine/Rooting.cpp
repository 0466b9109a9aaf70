#include "history/refine/Rooting.h"

#include "history/refine/Unrooted.h"

namespace refine {

std::vector<int> rootPath(const Topology& t) {
    std::vector<int> up, down;
    for (int x = 0; x != t.root; x = t.parent[static_cast<std::size_t>(x)]) up.push_back(x);
    for (int x = t.n - 1; x != t.root; x = t.parent[static_cast<std::size_t>(x)]) down.push_back(x);
    while (!up.empty() && !down.empty() && up.back() == down.back()) {
        up.pop_back();
        down.pop_back();
    }
    std::vector<int> path = up;
    path.insert(path.end(), down.rbegin(), down.rend());
    return path;
}

void walkRoot(const Topology& t, Reduction& reduction, const std::function<bool(int, std::size_t)>& visit,
              const EarlierReduction* earlier) {
    Reduction::Walk& scratch = reduction.walk;
    std::vector<char>& onPath = scratch.onPath;
    std::vector<int>& offPath = scratch.offPath;
    onPath.assign(t.parent.size(), 0);
    for (int x = t.n - 1; x >= 0; x = t.parent[static_cast<std::size_t>(x)]) onPath[static_cast<std::size_t>(x)] = 1;
    for (int x = 0; x >= 0; x = t.parent[static_cast<std::size_t>(x)]) onPath[static_cast<std::size_t>(x)] = 1;
    if (earlier != nullptr) {
        // Neither the path's nodes nor the changed ones are made again.
        std::vector<char>& skip = scratch.skip;
        skip = onPath;
        for (const int x : earlier->changed) skip[static_cast<std::size_t>(x)] = 1;
        reduction.replay(earlier->events, t.n, t.parent.size(), skip, scratch.replayed);
        reduction.run(t, &onPath, &scratch.replayed, &offPath);
    } else {
        reduction.run(t, &onPath, nullptr, &offPath);
    }
    reduction.run(t, nullptr, &offPath, nullptr, &onPath);
    if (visit(-1, reduction.left())) return;
    // The root walks along the path one edge at a time, which changes the
    // parents of three nodes only.
    const std::vector<int> path = rootPath(t);
    Topology& walking = scratch.walking;
    walking = t;
    const int r = t.root;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const int c = path[i];
        const int b = t.parent[static_cast<std::size_t>(c)];
        if (b == r) continue;  // the root's own edge, tried above
        // The root stands on the edge (a, b) and moves to (b, c): b's other
        // child stays below it, a goes below it too.
        const auto& rootChildren = walking.child[static_cast<std::size_t>(r)];
        const int a = rootChildren[0] == b ? rootChildren[1] : rootChildren[0];
        auto& below = walking.child[static_cast<std::size_t>(b)];
        (below[0] == c ? below[0] : below[1]) = a;
        walking.parent[static_cast<std::size_t>(a)] = b;
        walking.child[static_cast<std::size_t>(r)] = {b, c};
        walking.parent[static_cast<std::size_t>(b)] = r;
        walking.parent[static_cast<std::size_t>(c)] = r;
        reduction.run(walking, nullptr, &offPath, nullptr, &onPath);
        if (visit(c, reduction.left())) return;
    }
}

bool rootAsDuplicationTree(Topology& t, Reduction& reduction, const EarlierReduction* earlier) {
    constexpr int kNowhere = -2;  // -1 is the root where it stands
    int valid = kNowhere;
    walkRoot(
        t, reduction,
        [&](int c, std::size_t left) {
            if (left == 1) valid = c;
            return left == 1;
        },
        earlier);
    if (valid >= 0) t = rootedAbove(t, valid);
    return valid != kNowhere;
}

}  // namespace refine

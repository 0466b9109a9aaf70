#include "history/refine/MoveTrial.h"

#include <algorithm>

#include "history/refine/Rooting.h"

namespace refine {

namespace {
bool nested(int la, int ha, int lb, int hb) { return (la < lb && ha > hb) || (lb < la && hb > ha); }
}  // namespace

void MoveTrial::reset(const Unrooted& g, int n, int root) {
    g.rootOn(0, g.next[0][0], n, root, first_);
    probeIsFirst_ = false;
    const std::size_t nodes = first_.parent.size();
    lo_.assign(nodes, 0);
    hi_.assign(nodes, 0);
    for (const int x : first_.postOrder()) {
        const auto ux = static_cast<std::size_t>(x);
        if (first_.isLeaf(x)) {
            lo_[ux] = hi_[ux] = x;
        } else {
            const auto a = static_cast<std::size_t>(first_.child[ux][0]);
            const auto b = static_cast<std::size_t>(first_.child[ux][1]);
            lo_[ux] = std::min(lo_[a], lo_[b]);
            hi_[ux] = std::max(hi_[a], hi_[b]);
        }
    }
    // The reduction of the tree as it stands, replayed for every move tried:
    // a move changes the children of three nodes only.
    events_.clear();
    recorder_.record(&events_);
    recorder_.run(first_, nullptr, nullptr, nullptr);
    recorder_.record(nullptr);
    if (mark_.size() < nodes) {
        mark_.assign(nodes, 0);
        onPath_.assign(nodes, 0);
        newLo_.resize(nodes);
        newHi_.resize(nodes);
        stamp_ = 0;
    }
}

int MoveTrial::probe(int v, int p, const Move& move) {
    Topology& t = probe_;
    // The last probe changed a few nodes only, unless it was rooted afresh:
    // those are set back instead of copying the whole tree again.
    if (probeIsFirst_) {
        for (const int y : touched_) {
            t.parent[static_cast<std::size_t>(y)] = first_.parent[static_cast<std::size_t>(y)];
            t.child[static_cast<std::size_t>(y)] = first_.child[static_cast<std::size_t>(y)];
        }
    } else {
        t = first_;
        probeIsFirst_ = true;
    }
    const int above = t.parent[static_cast<std::size_t>(p)];
    const auto& pair = t.child[static_cast<std::size_t>(p)];
    const int other = pair[0] == v ? pair[1] : pair[0];
    t.replaceChild(above, p, other);
    const int x = move.from, z = move.to;
    int down = z;
    if (t.parent[static_cast<std::size_t>(x)] == z)
        down = x;
    else if (t.parent[static_cast<std::size_t>(z)] != x)
        down = x == 0 ? z : x;  // the first copy's edge: below the root
    const int up = t.parent[static_cast<std::size_t>(down)];
    touched_.assign({above, other, up, p, down});
    changed_.assign({above, up, p});
    t.replaceChild(up, down, p);
    t.child[static_cast<std::size_t>(p)] = {v, down};
    t.parent[static_cast<std::size_t>(down)] = p;
    return above;
}

bool MoveTrial::valid(int v, int p, const Move& move, Reduction& reduction) {
    const int above = probe(v, p, move);
    if (ruledOut(above, p)) return false;
    // Rooting it as a duplication tree may root it elsewhere.
    probeIsFirst_ = false;
    const EarlierReduction earlier{events_, changed_};
    return rootAsDuplicationTree(probe_, reduction, &earlier);
}

bool MoveTrial::ruledOutBySpans(int v, int p, const Move& move) { return ruledOut(probe(v, p, move), p); }

// A node's new span from its children's; whether they are nested at a node
// off the path between the end copies.
bool MoveTrial::remake(int y) {
    const Topology& t = probe_;
    const auto uy = static_cast<std::size_t>(y);
    int la, ha, lb, hb;
    spanOf(t.child[uy][0], la, ha);
    spanOf(t.child[uy][1], lb, hb);
    newLo_[uy] = std::min(la, lb);
    newHi_[uy] = std::max(ha, hb);
    mark_[uy] = -stamp_;
    return onPath_[uy] != stamp_ && (nested(la, ha, lb, hb) || !firstCopyingPossible(y));
}

// Whether u's children x (the left one) and y, side by side when u was
// copied, can have been copied in some order: x first without y (x's copies
// and then y in the row), y first without x, or both in one block (x's left
// copy, y's left copy, x's right one, y's right one).
bool MoveTrial::firstCopyingPossible(int u) const {
    const Topology& t = probe_;
    const auto span = [&](int z) {
        std::pair<int, int> s;
        spanOf(z, s.first, s.second);
        return s;
    };
    const auto before = [](const std::pair<int, int>& a, const std::pair<int, int>& b) {
        return a.first < b.first && a.second < b.second;
    };
    const auto ordered = [&](int z, std::pair<int, int>& l, std::pair<int, int>& r) {
        const auto& c = t.child[static_cast<std::size_t>(z)];
        l = span(c[0]);
        r = span(c[1]);
        if (r.first < l.first) std::swap(l, r);
    };
    auto x = t.child[static_cast<std::size_t>(u)][0], y = t.child[static_cast<std::size_t>(u)][1];
    std::pair<int, int> sx = span(x), sy = span(y);
    if (sy.first < sx.first) {
        std::swap(x, y);
        std::swap(sx, sy);
    }
    const bool xLeaf = t.isLeaf(x), yLeaf = t.isLeaf(y);
    if (xLeaf && yLeaf) return true;
    std::pair<int, int> x1, x2, y1, y2;
    if (!xLeaf) {
        ordered(x, x1, x2);
        if (before(x2, sy)) return true;
    }
    if (!yLeaf) {
        ordered(y, y1, y2);
        if (before(sx, y1)) return true;
    }
    return !xLeaf && !yLeaf && before(x1, y1) && before(y1, x2) && before(x2, y2);
}

// Whether the spans rule the moved tree out: a node off the path between the
// end copies whose children's spans the move changed has them nested, or
// every root on that path leaves a node with nested children's spans. Spans
// change on the way up from `lost` (S left it) and from p (S came) until the
// two ways meet; above that node nothing changes.
bool MoveTrial::ruledOut(int lost, int p) {
    const Topology& t = probe_;
    ++stamp_;
    // The path from the last copy up to (not including) the root.
    path_.clear();
    for (int x = t.n - 1; x != t.root; x = t.parent[static_cast<std::size_t>(x)]) {
        onPath_[static_cast<std::size_t>(x)] = stamp_;
        path_.push_back(x);
    }
    onPath_[static_cast<std::size_t>(t.root)] = stamp_;
    for (int x = lost; x >= 0; x = t.parent[static_cast<std::size_t>(x)]) mark_[static_cast<std::size_t>(x)] = stamp_;
    int meet = p;
    while (mark_[static_cast<std::size_t>(meet)] != stamp_) meet = t.parent[static_cast<std::size_t>(meet)];
    // New spans are kept under the stamp's negative; each node below the
    // meeting node has one child on its own way up and one unchanged.
    for (int y = p; y != meet; y = t.parent[static_cast<std::size_t>(y)])
        if (remake(y)) return true;
    for (int y = lost; y != meet; y = t.parent[static_cast<std::size_t>(y)])
        if (remake(y)) return true;
    if (remake(meet)) return true;
    const int aboveMeet = t.parent[static_cast<std::size_t>(meet)];
    if (aboveMeet >= 0 && onPath_[static_cast<std::size_t>(aboveMeet)] != stamp_ && !firstCopyingPossible(aboveMeet))
        return true;
    return noRootOnPath();
}

// Whether every root on the path between the end copies leaves a node of the
// path (or the root) with nested children's spans. The path runs from the
// last copy w_0 up through w_1 .. w_m to the root, whose other child is the
// first copy; h_j, w_j's child off the path, spans the same copies wherever
// the root stands. With the root on the edge above w_i, w_j (j <= i) has
// w_(j-1) and h_j below it, w_j (j > i) has h_j and w_(j+1) (w_(m+1) the
// first copy), and the root w_i and w_(i+1). path_ holds w_0 .. w_m.
bool MoveTrial::noRootOnPath() {
    const Topology& t = probe_;
    const std::size_t m = path_.size() - 1;
    side_.resize(m + 1);  // side_[j]: the span of h_j
    for (std::size_t j = 1; j <= m; ++j) {
        const auto w = static_cast<std::size_t>(path_[j]);
        const int h = t.child[w][0] == path_[j - 1] ? t.child[w][1] : t.child[w][0];
        spanOf(h, side_[j].first, side_[j].second);
    }
    // highAbove_[j]: the highest copy under w_j with the root below it.
    highAbove_.assign(m + 2, 0);
    for (std::size_t j = m; j >= 1; --j) highAbove_[j] = std::max(highAbove_[j + 1], side_[j].second);
    // sound_[i]: whether w_(i+1) .. w_m are sound with the root above w_i.
    sound_.assign(m + 1, 1);
    for (std::size_t j = m; j >= 1; --j)
        sound_[j - 1] = sound_[j] && !nested(side_[j].first, side_[j].second, 0, highAbove_[j + 1]);
    int low = t.n - 1;  // the lowest copy under w_i with the root above it
    bool soundBelow = true;
    for (std::size_t i = 0; i <= m; ++i) {
        if (i > 0) {
            soundBelow = soundBelow && !nested(low, t.n - 1, side_[i].first, side_[i].second);
            low = std::min(low, side_[i].first);
        }
        if (!soundBelow) return true;
        if (sound_[i] && !nested(low, t.n - 1, 0, highAbove_[i + 1])) return false;
    }
    return true;
}

}  // namespace refine

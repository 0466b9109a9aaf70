#include "history/Refinement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "history/EdgeLengths.h"

namespace {

// How far from its place a subtree may move in one step, in edges, and the
// radius of the ball around it that holds every place it may go.
constexpr int kRadius = 3;
constexpr int kZone = kRadius + 3;

// A rooted binary tree over the copies 0 .. n-1 with unordered children:
// nodes 0 .. n-1 are the copies, the rest ancestral segments.
struct Topology {
    int n = 0;
    int root = -1;
    std::vector<int> parent;
    std::vector<std::array<int, 2>> child;  // {-1, -1} for a copy

    bool isLeaf(int x) const { return child[static_cast<std::size_t>(x)][0] < 0; }
    int sibling(int x) const {
        const auto& pair = child[static_cast<std::size_t>(parent[static_cast<std::size_t>(x)])];
        return pair[0] == x ? pair[1] : pair[0];
    }
    void replaceChild(int p, int from, int to) {
        auto& pair = child[static_cast<std::size_t>(p)];
        (pair[0] == from ? pair[0] : pair[1]) = to;
        parent[static_cast<std::size_t>(to)] = p;
    }
    // Node `to` takes the place of node `from` below from's parent, or as
    // the root.
    void takePlace(int from, int to) {
        const int above = parent[static_cast<std::size_t>(from)];
        if (above >= 0) {
            replaceChild(above, from, to);
        } else {
            root = to;
            parent[static_cast<std::size_t>(to)] = -1;
        }
    }
    // Children before parents.
    std::vector<int> postOrder() const {
        std::vector<int> order, stack = {root};
        while (!stack.empty()) {
            const int x = stack.back();
            stack.pop_back();
            order.push_back(x);
            if (!isLeaf(x))
                for (const int c : child[static_cast<std::size_t>(x)]) stack.push_back(c);
        }
        std::reverse(order.begin(), order.end());
        return order;
    }
};

Topology topologyOf(const BinaryTree& tree) {
    Topology t;
    t.n = tree.leafCount;
    const std::size_t nodes = static_cast<std::size_t>(std::max(2 * t.n - 1, 0));
    t.parent.assign(nodes, -1);
    t.child.assign(nodes, {-1, -1});
    auto id = [&](const TreeNode& node) { return nodeNumber(node.label, t.n); };
    BinaryTree::walk(
        tree.root.get(), [](const TreeNode&) {}, [](const TreeNode&) {}, [](const TreeNode&) {},
        [&](const TreeNode& inner) {
            const int x = id(inner);
            t.child[static_cast<std::size_t>(x)] = {id(*inner.left), id(*inner.right)};
            t.parent[static_cast<std::size_t>(id(*inner.left))] = x;
            t.parent[static_cast<std::size_t>(id(*inner.right))] = x;
        });
    if (tree.root) t.root = id(*tree.root);
    return t;
}

// The recognition test: reduces the row of copies by visible duplication
// events, the first one in the row each time, and gives the merges in the
// order made, or false when the tree is no duplication tree.
bool recognise(const Topology& t, std::vector<CandidateBlock>* merges) {
    if (t.n < 1) return true;
    std::vector<int> row(static_cast<std::size_t>(t.n));
    for (int i = 0; i < t.n; ++i) row[static_cast<std::size_t>(i)] = i;
    std::vector<int> position(t.parent.size(), -1);
    for (int i = 0; i < t.n; ++i) position[static_cast<std::size_t>(i)] = i;
    while (row.size() > 1) {
        const int k = static_cast<int>(row.size());
        bool merged = false;
        for (int i = 0; i < k && !merged; ++i) {
            const int x = row[static_cast<std::size_t>(i)];
            if (t.parent[static_cast<std::size_t>(x)] < 0) continue;
            const int j = position[static_cast<std::size_t>(t.sibling(x))];
            if (j <= i) continue;  // not in the row yet, or met from its own side
            const int s = j - i;
            if (i + 2 * s > k) continue;
            bool run = true;
            for (int c = 1; c < s && run; ++c) {
                const int a = row[static_cast<std::size_t>(i + c)];
                const int b = row[static_cast<std::size_t>(i + s + c)];
                run = t.parent[static_cast<std::size_t>(a)] >= 0 &&
                      t.parent[static_cast<std::size_t>(a)] == t.parent[static_cast<std::size_t>(b)];
            }
            if (!run) continue;
            for (int c = 0; c < s; ++c) {
                int& slot = row[static_cast<std::size_t>(i + c)];
                position[static_cast<std::size_t>(slot)] = -1;
                position[static_cast<std::size_t>(row[static_cast<std::size_t>(i + s + c)])] = -1;
                slot = t.parent[static_cast<std::size_t>(slot)];
            }
            row.erase(row.begin() + i + s, row.begin() + i + 2 * s);
            for (int p = i; p < static_cast<int>(row.size()); ++p)
                position[static_cast<std::size_t>(row[static_cast<std::size_t>(p)])] = p;
            if (merges != nullptr) merges->push_back({i, s});
            merged = true;
        }
        if (!merged) return false;
    }
    return true;
}

// A criterion that names merges given beforehand: the engine then builds
// the tree, its labels and its blocks exactly as for a reconstruction.
class ReplayedMerges : public BlockCriterion {
public:
    explicit ReplayedMerges(std::vector<CandidateBlock> merges) : merges_(std::move(merges)) {}
    void begin(const WorkingDistanceTable&, ReconstructionProgress*) override { next_ = 0; }
    CandidateBlock chooseBlock(const WorkingDistanceTable&) override { return merges_[next_++]; }
    void merged(const WorkingDistanceTable&, CandidateBlock) override {}

private:
    std::vector<CandidateBlock> merges_;
    std::size_t next_ = 0;
};

// The balanced length, from the distances as a full n x n table: the pairs
// are met at their last common ancestor, with their depths below it.
class BalancedLength {
public:
    BalancedLength(const DistanceMatrix& distances, int n)
        : n_(static_cast<std::size_t>(n)), table_(n_ * n_, 0.0), weight_(2 * n_ + 2, 0.0) {
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                table_[static_cast<std::size_t>(i) * n_ + static_cast<std::size_t>(j)] =
                    table_[static_cast<std::size_t>(j) * n_ + static_cast<std::size_t>(i)] = distances.at(i, j);
        for (std::size_t t = 0; t < weight_.size(); ++t) weight_[t] = std::ldexp(1.0, 1 - static_cast<int>(t));
    }

    const std::vector<double>& table() const { return table_; }

    double of(const Topology& t) {
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
                const double* row = &table_[static_cast<std::size_t>(a) * n_];
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

private:
    std::size_t n_;
    std::vector<double> table_;
    std::vector<double> weight_;
    std::vector<std::vector<std::pair<int, int>>> below_;
};

// The tree rebuilt through the engine from a topology that is a duplication
// tree.
DuplicationTree historyOf(const Topology& t, const DistanceMatrix& distances) {
    std::vector<CandidateBlock> merges;
    recognise(t, &merges);
    ReplayedMerges replay(std::move(merges));
    DuplicationTree tree;
    tree.reconstruct(distances, replay);
    return tree;
}

// Variance of the root-to-copy distances under the fitted lengths.
double rootToCopyVariance(const DuplicationTree& tree, const DistanceMatrix& distances) {
    const EdgeLengths lengths = fitEdgeLengths(tree, distances);
    std::vector<double> depths;
    struct Visit {
        const TreeNode* node;
        double depth;
    };
    std::vector<Visit> stack = {{tree.root.get(), 0.0}};
    while (!stack.empty()) {
        const Visit visit = stack.back();
        stack.pop_back();
        if (visit.node->label >= 0) {
            depths.push_back(visit.depth);
            continue;
        }
        for (const TreeNode* c : {visit.node->left.get(), visit.node->right.get()})
            stack.push_back({c, visit.depth + lengths.of(*c, tree.leafCount)});
    }
    double mean = 0.0;
    for (const double d : depths) mean += d;
    mean /= static_cast<double>(depths.size());
    double variance = 0.0;
    for (const double d : depths) variance += (d - mean) * (d - mean);
    return variance / static_cast<double>(depths.size());
}

// The tree seen unrooted: every node but the root, the root's two children
// joined by one edge.
struct Unrooted {
    std::vector<std::array<int, 3>> next;

    explicit Unrooted(const Topology& t) : next(t.parent.size(), {-1, -1, -1}) {
        for (std::size_t x = 0; x < t.parent.size(); ++x) {
            const int p = t.parent[x];
            if (p < 0) continue;
            if (p != t.root)
                link(static_cast<int>(x), p);
            else if (t.child[static_cast<std::size_t>(p)][0] == static_cast<int>(x))
                link(static_cast<int>(x), t.child[static_cast<std::size_t>(p)][1]);
        }
    }
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
};

// The same unrooted tree rooted on the edge between node x and its
// neighbour towards the old root (x not the root). The root's node number is
// kept for the new root.
Topology rootedAbove(const Topology& t, int x) {
    const int r = t.root;
    const int p = t.parent[static_cast<std::size_t>(x)];
    if (p == r) return t;  // the root's own edge
    const Unrooted g(t);
    Topology rooted = t;
    rooted.child[static_cast<std::size_t>(r)] = {x, p};
    rooted.parent[static_cast<std::size_t>(r)] = -1;
    std::vector<std::pair<int, int>> stack = {{x, r}, {p, r}};  // node, its new parent
    while (!stack.empty()) {
        const auto [y, above] = stack.back();
        stack.pop_back();
        rooted.parent[static_cast<std::size_t>(y)] = above;
        std::array<int, 2> below = {-1, -1};
        int count = 0;
        for (const int z : g.next[static_cast<std::size_t>(y)]) {
            if (z < 0 || z == above || (above == r && (z == x || z == p))) continue;
            below[static_cast<std::size_t>(count++)] = z;
            stack.push_back({z, y});
        }
        rooted.child[static_cast<std::size_t>(y)] = below;
    }
    return rooted;
}

// The nodes above whose edge a root can stand for the tree to be a
// duplication tree: those on the path from the first copy to the last (the
// edge above the meeting point is the root's own and is not among them).
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

// Roots the unrooted tree of t where it is a duplication tree: where it is
// now if it is one there, else at the first position along the root path.
bool rootAsDuplicationTree(Topology& t) {
    if (recognise(t, nullptr)) return true;
    for (const int x : rootPath(t)) {
        Topology rooted = rootedAbove(t, x);
        if (recognise(rooted, nullptr)) {
            t = std::move(rooted);
            return true;
        }
    }
    return false;
}

// Prune and regraft: the subtree below s leaves its place (its parent p goes
// with it, and p's other child takes p's place) and is put back on the edge
// above x, p standing between x and x's parent (p becomes the root when x
// was the root).
void regraft(Topology& tree, int s, int x) {
    const int p = tree.parent[static_cast<std::size_t>(s)];
    tree.takePlace(p, tree.sibling(s));
    tree.takePlace(x, p);
    tree.child[static_cast<std::size_t>(p)] = {x, s};
    tree.parent[static_cast<std::size_t>(x)] = p;
    tree.parent[static_cast<std::size_t>(s)] = p;
}

// Where s may go in one move: every node within kRadius edges of the place
// that s leaves (its sibling and its grandparent), met breadth first, not
// entering s's own subtree. The sibling itself is where s already is.
std::vector<int> nearby(const Topology& t, int s) {
    const int p = t.parent[static_cast<std::size_t>(s)];
    std::vector<int> found;
    std::vector<std::pair<int, int>> frontier;  // node, distance
    std::vector<int> seen = {s, p};
    auto visit = [&](int y, int distance) {
        if (y < 0 || std::find(seen.begin(), seen.end(), y) != seen.end()) return;
        seen.push_back(y);
        found.push_back(y);
        frontier.push_back({y, distance});
    };
    visit(t.sibling(s), 0);
    visit(t.parent[static_cast<std::size_t>(p)], 0);
    for (std::size_t i = 0; i < frontier.size(); ++i) {
        const auto [y, distance] = frontier[i];
        if (distance >= kRadius) continue;
        if (!t.isLeaf(y))
            for (const int c : t.child[static_cast<std::size_t>(y)]) visit(c, distance + 1);
        visit(t.parent[static_cast<std::size_t>(y)], distance + 1);
    }
    found.erase(found.begin());
    return found;
}

// How much moving the subtree below s changes the balanced length, for
// every place it may go, without summing over all pairs for each place.
//
// Around s's parent p lies a ball Z of the unrooted tree, large enough to
// hold every place s may go. Everything else hangs off Z in units: s's
// subtree, each subtree beyond the edge of Z, and each copy inside Z. A pair
// of copies in one unit keeps its path; a pair in units i and j has the path
// from each copy to its unit's attachment in Z and the path D(i, j) between
// the attachments, so its weight is 2^(1 - D(i, j)) times 2^-(the two offsets).
// With M(i, j), the sum over such pairs of d times 2^-(the offsets), a move
// changes the length by the sum over unit pairs of 2 M(i, j) (2^-D' - 2^-D).
class MoveGains {
public:
    MoveGains(const Topology& t, int s, const std::vector<double>& table, int n)
        : t_(t), s_(s), p_(t.parent[static_cast<std::size_t>(s)]) {
        const Unrooted g(t);
        const std::size_t nodes = t.parent.size();
        inZone_.assign(nodes, 0);
        // The ball, not entering s's side.
        std::vector<int> distance(nodes, -1);
        std::vector<int> zone = {p_};
        distance[static_cast<std::size_t>(p_)] = 0;
        for (std::size_t i = 0; i < zone.size(); ++i) {
            const int z = zone[i];
            if (distance[static_cast<std::size_t>(z)] >= kZone) continue;
            for (const int w : g.next[static_cast<std::size_t>(z)]) {
                if (w < 0 || w == s_ || distance[static_cast<std::size_t>(w)] >= 0) continue;
                distance[static_cast<std::size_t>(w)] = distance[static_cast<std::size_t>(z)] + 1;
                zone.push_back(w);
            }
        }
        for (const int z : zone) inZone_[static_cast<std::size_t>(z)] = 1;
        // The units and the copies of each, with 2^-offset.
        addUnit(g, p_, s_);
        for (const int z : zone) {
            if (t.isLeaf(z)) units_.push_back({z, {{z, 1.0}}});
            for (const int w : g.next[static_cast<std::size_t>(z)])
                if (w >= 0 && !inZone_[static_cast<std::size_t>(w)] && !(z == p_ && w == s_)) addUnit(g, z, w);
        }
        // M(i, j) through the sums of each unit to every copy.
        const std::size_t m = units_.size();
        const auto N = static_cast<std::size_t>(n);
        M_.assign(m * m, 0.0);
        std::vector<double> toCopy(N);
        for (std::size_t i = 0; i < m; ++i) {
            std::fill(toCopy.begin(), toCopy.end(), 0.0);
            for (const auto& [a, wa] : units_[i].copies) {
                const double* row = &table[static_cast<std::size_t>(a) * N];
                for (std::size_t b = 0; b < N; ++b) toCopy[b] += wa * row[b];
            }
            for (std::size_t j = i + 1; j < m; ++j) {
                double sum = 0.0;
                for (const auto& [b, wb] : units_[j].copies) sum += wb * toCopy[static_cast<std::size_t>(b)];
                M_[i * m + j] = sum;
            }
        }
        before_ = attachmentDistances(g);
    }

    // The change of the length when s goes to the edge above x; a very large
    // value when the move leaves the ball (it is then not considered).
    double change(int x) const {
        Topology moved = t_;
        regraft(moved, s_, x);
        const std::vector<int> after = attachmentDistances(Unrooted(moved));
        const std::size_t m = units_.size();
        double sum = 0.0;
        for (std::size_t i = 0; i < m; ++i)
            for (std::size_t j = i + 1; j < m; ++j) {
                const int d0 = before_[i * m + j];
                const int d1 = after[i * m + j];
                if (d1 < 0) return std::numeric_limits<double>::max();
                if (d0 != d1) sum += 2.0 * M_[i * m + j] * (std::ldexp(1.0, -d1) - std::ldexp(1.0, -d0));
            }
        return sum;
    }

private:
    struct Unit {
        int attachment;
        std::vector<std::pair<int, double>> copies;  // copy, 2^-(edges to the attachment)
    };

    // The unit beyond the edge from z to w: the copies on w's side.
    void addUnit(const Unrooted& g, int z, int w) {
        Unit unit{z, {}};
        std::vector<std::array<int, 3>> stack = {{w, z, 1}};  // node, came from, edges from z
        while (!stack.empty()) {
            const auto [y, from, depth] = stack.back();
            stack.pop_back();
            if (t_.isLeaf(y)) unit.copies.push_back({y, std::ldexp(1.0, -depth)});
            for (const int next : g.next[static_cast<std::size_t>(y)])
                if (next >= 0 && next != from) stack.push_back({next, y, depth + 1});
        }
        units_.push_back(std::move(unit));
    }

    // Edges between the attachments of every two units, inside the ball
    // (-1 where the ball does not join them).
    std::vector<int> attachmentDistances(const Unrooted& g) const {
        const std::size_t m = units_.size();
        std::vector<int> result(m * m, -1);
        std::vector<int> distance(t_.parent.size(), -1);
        std::vector<int> reached;
        for (std::size_t i = 0; i < m; ++i) {
            for (const int y : reached) distance[static_cast<std::size_t>(y)] = -1;
            reached = {units_[i].attachment};
            distance[static_cast<std::size_t>(units_[i].attachment)] = 0;
            for (std::size_t k = 0; k < reached.size(); ++k) {
                const int y = reached[k];
                for (const int w : g.next[static_cast<std::size_t>(y)]) {
                    if (w < 0 || !inZone_[static_cast<std::size_t>(w)] || distance[static_cast<std::size_t>(w)] >= 0)
                        continue;
                    distance[static_cast<std::size_t>(w)] = distance[static_cast<std::size_t>(y)] + 1;
                    reached.push_back(w);
                }
            }
            for (std::size_t j = i + 1; j < m; ++j)
                result[i * m + j] = distance[static_cast<std::size_t>(units_[j].attachment)];
        }
        return result;
    }

    const Topology& t_;
    int s_;
    int p_;
    std::vector<char> inZone_;
    std::vector<Unit> units_;
    std::vector<double> M_;
    std::vector<int> before_;
};

}  // namespace

bool isDuplicationTree(const BinaryTree& tree) { return recognise(topologyOf(tree), nullptr); }

double balancedLength(const BinaryTree& tree, const DistanceMatrix& distances) {
    BalancedLength length(distances, tree.leafCount);
    return length.of(topologyOf(tree));
}

void refineHistory(DuplicationTree& history, const DistanceMatrix& distances, const RefineSettings& settings) {
    const int n = history.leafCount;
    if (n < 4 || !history.root) return;
    Topology t = topologyOf(history);
    BalancedLength length(distances, n);
    double current = length.of(t);

    bool improved = true;
    while (improved) {
        improved = false;
        for (const int s : t.postOrder()) {
            const int p = t.parent[static_cast<std::size_t>(s)];
            if (p < 0 || p == t.root) continue;
            MoveGains gains(t, s, length.table(), n);
            // Candidates that shorten the tree, the most first (ties in
            // the order met); the first that is a duplication tree is taken.
            std::vector<std::pair<double, int>> shorter;
            for (const int x : nearby(t, s)) {
                if (x == t.root) continue;
                const double gain = gains.change(x);
                if (gain < -1e-12 * std::fabs(current)) shorter.push_back({gain, x});
            }
            std::stable_sort(shorter.begin(), shorter.end(),
                             [](const auto& l, const auto& r) { return l.first < r.first; });
            for (const auto& candidate : shorter) {
                Topology moved = t;
                regraft(moved, s, candidate.second);
                if (!rootAsDuplicationTree(moved)) continue;
                const double exact = length.of(moved);
                if (!(exact < current)) continue;
                t = std::move(moved);
                current = exact;
                improved = true;
                break;
            }
        }
    }

    if (settings.clockRoot) {
        // The valid roots lie on the path between the first and the last copy.
        const std::vector<int> path = rootPath(t);
        double best = 0.0;
        bool found = false;
        Topology chosen = t;
        for (const int x : path) {
            const Topology candidate = rootedAbove(t, x);
            if (!recognise(candidate, nullptr)) continue;
            const double variance = rootToCopyVariance(historyOf(candidate, distances), distances);
            if (!found || variance < best) {
                best = variance;
                chosen = candidate;
                found = true;
            }
        }
        t = chosen;
    }
    history = historyOf(t, distances);
}

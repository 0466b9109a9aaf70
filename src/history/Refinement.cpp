#include "history/Refinement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>

#include "common/Parallel.h"
#include "history/EdgeLengths.h"

namespace {

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

// The same test as recognise, for a yes or no alone, in about linear time:
// the row is a linked list, every element is a candidate start once, and
// after a merge only the events that hold a new segment's pair are
// candidates again. Since any visible event may be merged first, the order
// of the merges does not change the answer, and so the reduction may also
// start from a row already partly reduced, and may be kept from making the
// nodes marked in `barred` (it then stops where those are needed).
class Reduction {
public:
    // Workspace of the walk of the root (walkRoot), kept from tree to tree.
    struct Walk {
        std::vector<char> onPath;
        std::vector<int> offPath;
        Topology walking;
    } walk;

    // Reduces t from `row` (or the copies 0 .. n-1), never making the nodes
    // marked in `barred`; leaves what is left in `end` when asked. The
    // workspace is kept for the next tree: only what a run touched is reset.
    //
    // With `only`, the row is one in which no event is visible but those
    // that make a node marked there (as a row that a reduction barred from
    // those nodes left, whose other events it merged): the first candidates
    // are then the pairs of row elements below marked nodes alone.
    bool run(const Topology& t, const std::vector<char>* barred, const std::vector<int>* row,
             std::vector<int>* end, const std::vector<char>* only = nullptr) {
        t_ = &t;
        // The parent through which each node may merge: none when barred.
        if (barred == nullptr) {
            up_ = t.parent.data();
        } else {
            allowedParent_.resize(t.parent.size());
            for (std::size_t x = 0; x < t.parent.size(); ++x) {
                const int parent = t.parent[x];
                allowedParent_[x] = parent >= 0 && !(*barred)[static_cast<std::size_t>(parent)] ? parent : -1;
            }
            up_ = allowedParent_.data();
        }
        const std::size_t nodes = t.parent.size();
        if (label_.size() < nodes) {
            label_.assign(nodes, -1);
            next_.resize(nodes);
            prev_.resize(nodes);
        }
        start_.clear();
        if (row != nullptr) {
            start_ = *row;
        } else {
            for (int i = 0; i < t.n; ++i) start_.push_back(i);
        }
        if (start_.empty()) {
            size_ = 0;
            return true;
        }
        // Every label alive: each Fenwick cell counts the labels it covers.
        alive_.resize(start_.size() + 1);
        for (std::size_t i = 0; i < alive_.size(); ++i) alive_[i] = static_cast<int>(i & (~i + 1));
        for (std::size_t p = 0; p < start_.size(); ++p) {
            const int x = start_[p];
            label_[static_cast<std::size_t>(x)] = static_cast<int>(p);
            prev_[static_cast<std::size_t>(x)] = p > 0 ? start_[p - 1] : -1;
            next_[static_cast<std::size_t>(x)] = p + 1 < start_.size() ? start_[p + 1] : -1;
        }
        touched_ = start_;
        first_ = start_.front();
        size_ = static_cast<int>(start_.size());
        // At most one candidate per row element and one per node made.
        if (work_.size() < start_.size() + nodes) work_.resize(start_.size() + nodes);
        top_ = 0;
        if (only == nullptr) {
            for (auto it = start_.rbegin(); it != start_.rend(); ++it) push(*it, Candidate::kStart);
        } else {
            // Each pair of row elements below a marked node, as the pair of
            // an event that would hold it.
            for (std::size_t p = start_.size(); p-- > 0;) {
                const int x = start_[p];
                const int parent = t.parent[static_cast<std::size_t>(x)];
                if (parent < 0 || !(*only)[static_cast<std::size_t>(parent)]) continue;
                const int w = t.sibling(x);
                if (inRow(w) && label_[static_cast<std::size_t>(w)] > static_cast<int>(p)) push(x, Candidate::kPair);
            }
        }
        while (top_ > 0 && size_ > 1) {
            const auto [x, kind] = work_[--top_];
            if (label_[static_cast<std::size_t>(x)] < 0) continue;  // merged away meanwhile
            if (kind == Candidate::kPair)
                tryEventWith(x);
            else
                tryEventAt(x);
        }
        if (end != nullptr) {
            end->clear();
            for (int x = first_; x >= 0; x = next_[static_cast<std::size_t>(x)]) end->push_back(x);
        }
        for (const int x : touched_) label_[static_cast<std::size_t>(x)] = -1;
        return size_ == 1;
    }

    // How many segments the last run left.
    std::size_t left() const { return static_cast<std::size_t>(size_); }

private:
    bool mergeable(int a, int b) const {
        const int parent = up_[static_cast<std::size_t>(a)];
        return parent >= 0 && parent == up_[static_cast<std::size_t>(b)];
    }
    // Alive labels, counted with a Fenwick tree, for positions in the row.
    void mark(int label, int change) {
        for (std::size_t i = static_cast<std::size_t>(label) + 1; i < alive_.size(); i += i & (~i + 1))
            alive_[i] += change;
    }
    int position(int x) const {
        int count = 0;
        for (std::size_t i = static_cast<std::size_t>(label_[static_cast<std::size_t>(x)]); i > 0; i -= i & (~i + 1))
            count += alive_[i];
        return count;
    }
    int sibling(int x) const { return t_->parent[static_cast<std::size_t>(x)] < 0 ? -1 : t_->sibling(x); }
    bool inRow(int x) const { return x >= 0 && label_[static_cast<std::size_t>(x)] >= 0; }

    // Merges the event that starts at x, if one is visible there.
    void tryEventAt(int x) {
        const int y = sibling(x);
        if (!inRow(y) || label_[static_cast<std::size_t>(y)] < label_[static_cast<std::size_t>(x)]) return;
        int s = 0;
        for (int l = x, r = y;; l = next_[static_cast<std::size_t>(l)], r = next_[static_cast<std::size_t>(r)], ++s) {
            if (l == y) break;
            if (r < 0 || !mergeable(l, r)) return;
        }
        mergeEvent(x, y, s);
    }

    // Merges an event that holds x and its sibling as one of its pairs, if
    // one is visible. Such an event has as many pairs as the two lie apart,
    // and its pairs are a run of sibling pairs that far apart: the run is
    // followed from the pair to the left, then to the right, until it is
    // long enough, and the event starting where it begins is merged.
    void tryEventWith(int x) {
        int left = x, right = sibling(x);
        if (!inRow(right) || !mergeable(left, right)) return;
        if (label_[static_cast<std::size_t>(right)] < label_[static_cast<std::size_t>(left)]) std::swap(left, right);
        const int span = position(right) - position(left);
        int l = left, r = right, pairs = 1;
        while (pairs < span) {
            const int pl = prev_[static_cast<std::size_t>(l)];
            const int pr = prev_[static_cast<std::size_t>(r)];
            if (pl < 0 || !mergeable(pl, pr)) break;
            l = pl;
            r = pr;
            ++pairs;
        }
        for (int a = left, b = right; pairs < span; ++pairs) {
            a = next_[static_cast<std::size_t>(a)];
            b = next_[static_cast<std::size_t>(b)];
            if (b < 0 || !mergeable(a, b)) return;
        }
        mergeEvent(l, r, span);
    }

    // Merges the event of s pairs whose first pair is (x, y): the left
    // elements become their parents, the right ones go. Only an event that
    // holds a new segment can have become visible by it, and such an event
    // holds the segment's pair: each new segment whose sibling is in the row
    // is a candidate again.
    void mergeEvent(int x, int y, int s) {
        made_.clear();
        int l = x, r = y;
        for (int c = 0; c < s; ++c) {
            const int nextLeft = next_[static_cast<std::size_t>(l)];
            const int nextRight = next_[static_cast<std::size_t>(r)];
            const int u = t_->parent[static_cast<std::size_t>(l)];
            replace(l, u);
            remove(r);
            made_.push_back(u);
            touched_.push_back(u);
            l = nextLeft == r ? nextRight : nextLeft;
            r = nextRight;
        }
        for (const int u : made_)
            if (inRow(sibling(u))) push(u, Candidate::kPair);
    }
    void replace(int from, int to) {
        const auto f = static_cast<std::size_t>(from), t = static_cast<std::size_t>(to);
        label_[t] = label_[f];
        prev_[t] = prev_[f];
        next_[t] = next_[f];
        if (prev_[t] >= 0) next_[static_cast<std::size_t>(prev_[t])] = to; else first_ = to;
        if (next_[t] >= 0) prev_[static_cast<std::size_t>(next_[t])] = to;
        label_[f] = -1;
    }
    void remove(int x) {
        const auto i = static_cast<std::size_t>(x);
        if (prev_[i] >= 0) next_[static_cast<std::size_t>(prev_[i])] = next_[i]; else first_ = next_[i];
        if (next_[i] >= 0) prev_[static_cast<std::size_t>(next_[i])] = prev_[i];
        mark(label_[i], -1);
        label_[i] = -1;
        --size_;
    }

    const Topology* t_ = nullptr;
    const int* up_ = nullptr;  // the parent array, or allowedParent_
    std::vector<int> allowedParent_;
    std::vector<int> next_, prev_, label_;  // label -1: not in the row
    std::vector<int> alive_;
    std::vector<int> start_, made_, touched_;
    // A candidate: the start of an event, or a segment whose event with its
    // sibling is looked for.
    enum class Candidate { kStart, kPair };
    // A stack of candidates, work_[0 .. top_), sized beforehand.
    std::vector<std::pair<int, Candidate>> work_;
    std::size_t top_ = 0;
    void push(int x, Candidate kind) { work_[top_++] = {x, kind}; }
    int first_ = -1;
    int size_ = 0;
};

bool reducible(const Topology& t) {
    Reduction reduction;
    return reduction.run(t, nullptr, nullptr, nullptr);
}

// A criterion that names merges given beforehand: the engine then builds
// the tree, its labels and its blocks exactly as for a reconstruction. When
// the merges end before one segment is left, `then` chooses the rest of the
// history, beginning on the table the merges left.
class ReplayedMerges : public BlockCriterion {
public:
    explicit ReplayedMerges(std::vector<CandidateBlock> merges, BlockCriterion* then = nullptr)
        : merges_(std::move(merges)), then_(then) {}
    void begin(const WorkingDistanceTable& table, ReconstructionProgress*) override {
        next_ = 0;
        handedOver_ = merges_.empty() && then_ != nullptr;
        if (handedOver_) then_->begin(table, nullptr);
    }
    CandidateBlock chooseBlock(const WorkingDistanceTable& table) override {
        return handedOver_ ? then_->chooseBlock(table) : merges_[next_++];
    }
    void merged(const WorkingDistanceTable& table, CandidateBlock block) override {
        if (handedOver_) {
            then_->merged(table, block);
        } else if (next_ == merges_.size() && then_ != nullptr) {
            then_->begin(table, nullptr);
            handedOver_ = true;
        }
    }

private:
    std::vector<CandidateBlock> merges_;
    BlockCriterion* then_;
    std::size_t next_ = 0;
    bool handedOver_ = false;
};

// The balanced length, from the distances as a full n x n table: the pairs
// are met at their last common ancestor, with their depths below it.
class BalancedLength {
public:
    // Copies share the table and have scratch of their own, so that each
    // thread can measure trees with its own copy.
    BalancedLength(const DistanceMatrix& distances, int n) : n_(static_cast<std::size_t>(n)), weight_(2 * n_ + 2, 0.0) {
        auto table = std::make_shared<std::vector<double>>(n_ * n_, 0.0);
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                (*table)[static_cast<std::size_t>(i) * n_ + static_cast<std::size_t>(j)] =
                    (*table)[static_cast<std::size_t>(j) * n_ + static_cast<std::size_t>(i)] = distances.at(i, j);
        table_ = std::move(table);
        for (std::size_t t = 0; t < weight_.size(); ++t) weight_[t] = std::ldexp(1.0, 1 - static_cast<int>(t));
    }

    const std::vector<double>& table() const { return *table_; }

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

private:
    std::size_t n_;
    std::shared_ptr<const std::vector<double>> table_;
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

    Unrooted() = default;
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
    void relink(int a, int from, int to) {
        for (int& slot : next[static_cast<std::size_t>(a)])
            if (slot == from) {
                slot = to;
                return;
            }
    }
    // The subtree at v seen from its neighbour p leaves, p with it, and the
    // two are put back on the edge between x and z.
    void move(int v, int p, int x, int z) {
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
    // The tree rooted on the edge between the neighbours a and b, the root
    // numbered `root`.
    Topology rootedOn(int a, int b, int n, int root) const {
        Topology t;
        rootOn(a, b, n, root, t);
        return t;
    }
    // The same into t, whose storage is reused.
    void rootOn(int a, int b, int n, int root, Topology& t) const {
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

private:
    mutable std::vector<std::pair<int, int>> stack_;
};

// The same unrooted tree rooted on the edge between node x and its
// neighbour towards the old root (x not the root). The root's node number is
// kept for the new root.
Topology rootedAbove(const Topology& t, int x) {
    const int p = t.parent[static_cast<std::size_t>(x)];
    if (p == t.root) return t;  // the root's own edge
    return Unrooted(t).rootedOn(x, p, t.n, t.root);
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

// Reduces the tree rooted at each place along its root path in turn, from
// where it is rooted now: `visit(c, left)` hears the node c above whose edge
// the root stands (-1 for where it stands now) and how many segments the
// reduction leaves there, and returns true to stop the walk.
//
// Every valid root lies on the path from the first copy to the last, and a
// node off that path has the same parent wherever on it the root stands: the
// events among such nodes are merged once, and each rooting only finishes
// the reduction from there.
template <typename Visit>
void walkRoot(const Topology& t, Reduction& reduction, Visit visit) {
    Reduction::Walk& scratch = reduction.walk;
    std::vector<char>& onPath = scratch.onPath;
    std::vector<int>& offPath = scratch.offPath;
    onPath.assign(t.parent.size(), 0);
    for (int x = t.n - 1; x >= 0; x = t.parent[static_cast<std::size_t>(x)]) onPath[static_cast<std::size_t>(x)] = 1;
    for (int x = 0; x >= 0; x = t.parent[static_cast<std::size_t>(x)]) onPath[static_cast<std::size_t>(x)] = 1;
    reduction.run(t, &onPath, nullptr, &offPath);
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

// Roots the unrooted tree of t where it is a duplication tree: where it is
// now if it is one there, else at the first position along the root path.
bool rootAsDuplicationTree(Topology& t, Reduction& reduction) {
    constexpr int kNowhere = -2;  // -1 is the root where it stands
    int valid = kNowhere;
    walkRoot(t, reduction, [&](int c, std::size_t left) {
        if (left == 1) valid = c;
        return left == 1;
    });
    if (valid >= 0) t = rootedAbove(t, valid);
    return valid != kNowhere;
}

// The unrooted tree seen from copy 0: every other node hangs below it, so
// that each side of an edge is either the subtree below a node, down(x), or
// everything outside it, up(x), seen from x's parent. A side is named by one
// node either way: down(x) by x, up(x) by x too; which one is meant follows
// from the pair it is met in, for two disjoint sides are either two subtrees
// below nodes unrelated to each other or up(x) and a subtree below x.
//
// The table holds, for every two disjoint sides X and Y, the balanced average
// A(X, Y): the sum over copies a in X and b in Y of d(a, b) 2^-(edges from a
// to X's top) 2^-(edges from b to Y's top).
class SideAverages {
public:
    SideAverages(const Unrooted& g, const std::vector<double>& table, int n)
        : nodes_(g.next.size()), n_(static_cast<std::size_t>(n)), average_(nodes_ * nodes_) {
        rebuild(g, table);
    }
    // The table of another tree over the same nodes, in the same storage.
    void rebuild(const Unrooted& g, const std::vector<double>& table) {
        std::fill(average_.begin(), average_.end(), 0.0);
        orient(g);
        fill(table);
    }

    double operator()(int x, int y) const {
        return average_[static_cast<std::size_t>(x) * nodes_ + static_cast<std::size_t>(y)];
    }
    int parent(int x) const { return parent_[static_cast<std::size_t>(x)]; }
    // The nodes below copy 0, children before parents.
    const std::vector<int>& postOrder() const { return postOrder_; }
    // The name of the side at y seen from its neighbour x.
    int side(int x, int y) const { return parent(x) == y ? x : y; }

private:
    void orient(const Unrooted& g) {
        parent_.assign(nodes_, -1);
        first_.assign(nodes_, 0);
        last_.assign(nodes_, 0);
        std::vector<int> preOrder;
        std::vector<int> stack = {0};
        parent_[0] = -1;
        while (!stack.empty()) {
            const int x = stack.back();
            stack.pop_back();
            first_[static_cast<std::size_t>(x)] = static_cast<int>(preOrder.size());
            preOrder.push_back(x);
            for (const int y : g.next[static_cast<std::size_t>(x)])
                if (y >= 0 && y != parent_[static_cast<std::size_t>(x)]) {
                    parent_[static_cast<std::size_t>(y)] = x;
                    stack.push_back(y);
                }
        }
        children_.assign(nodes_, {-1, -1});
        for (const int x : preOrder) {
            const int p = parent_[static_cast<std::size_t>(x)];
            if (p > 0) {
                auto& pair = children_[static_cast<std::size_t>(p)];
                (pair[0] < 0 ? pair[0] : pair[1]) = x;
            }
        }
        // Where each subtree ends in the preorder, children first.
        postOrder_.clear();
        for (auto it = preOrder.rbegin(); it != preOrder.rend(); ++it) {
            const int x = *it;
            int end = first_[static_cast<std::size_t>(x)] + 1;
            for (const int c : children_[static_cast<std::size_t>(x)])
                if (c >= 0) end = std::max(end, last_[static_cast<std::size_t>(c)]);
            last_[static_cast<std::size_t>(x)] = end;
            if (x != 0) postOrder_.push_back(x);
        }
        preOrder_ = std::move(preOrder);
    }

    bool related(int x, int y) const {
        const auto a = static_cast<std::size_t>(x), b = static_cast<std::size_t>(y);
        return (first_[a] <= first_[b] && first_[b] < last_[a]) || (first_[b] <= first_[a] && first_[a] < last_[b]);
    }
    bool isLeaf(int x) const { return children_[static_cast<std::size_t>(x)][0] < 0; }
    // The table, a row at a time: subtrees against single copies; two
    // subtrees below unrelated nodes, children before parents, each from the
    // two children of one of them; up(a) against the subtrees below a,
    // parents first, from up(parent) and the sibling's subtree, or the top
    // copy when a hangs from it. Every value goes into both of its cells at
    // once, so that a pair of unrelated nodes holds, in either cell, the
    // value of whichever of the two was last worked out (or of the subtree,
    // when the other is a copy): the one its final value comes from.
    void fill(const std::vector<double>& table) {
        const std::size_t N = nodes_;
        constexpr int kTop = 0;
        auto row = [&](int x) { return &average_[static_cast<std::size_t>(x) * N]; };
        // Subtrees against single copies, children before parents.
        for (const int x : postOrder_) {
            double* mine = row(x);
            const bool leaf = isLeaf(x);
            const double* left = leaf ? nullptr : row(children_[static_cast<std::size_t>(x)][0]);
            const double* right = leaf ? nullptr : row(children_[static_cast<std::size_t>(x)][1]);
            for (std::size_t l = 0; l < n_; ++l) {
                const int copy = static_cast<int>(l);
                if (copy == kTop || related(x, copy)) continue;
                const double value = leaf ? table[static_cast<std::size_t>(x) * n_ + l] : (left[l] + right[l]) / 2;
                mine[l] = value;
                row(copy)[x] = value;
            }
        }
        // Two subtrees below unrelated nodes.
        for (const int y : postOrder_) {
            if (isLeaf(y)) continue;
            double* mine = row(y);
            const auto& pair = children_[static_cast<std::size_t>(y)];
            const double* left = row(pair[0]);
            const double* right = row(pair[1]);
            for (const int x : postOrder_) {
                if (related(x, y)) continue;
                const double value = (left[x] + right[x]) / 2;
                mine[x] = value;
                row(x)[y] = value;
            }
        }
        // up(a) against the subtrees below a, parents first.
        std::vector<double> toFirst(nodes_, 0.0);
        for (const int x : postOrder_)
            toFirst[static_cast<std::size_t>(x)] =
                isLeaf(x) ? table[static_cast<std::size_t>(kTop) * n_ + static_cast<std::size_t>(x)]
                          : (toFirst[static_cast<std::size_t>(children_[static_cast<std::size_t>(x)][0])] +
                             toFirst[static_cast<std::size_t>(children_[static_cast<std::size_t>(x)][1])]) /
                                2;
        for (const int a : preOrder_) {
            if (a == kTop) continue;
            const int q = parent(a);
            const int begin = first_[static_cast<std::size_t>(a)] + 1, end = last_[static_cast<std::size_t>(a)];
            double* mine = row(a);
            const int sibling = q == kTop ? -1
                                          : (children_[static_cast<std::size_t>(q)][0] == a
                                                 ? children_[static_cast<std::size_t>(q)][1]
                                                 : children_[static_cast<std::size_t>(q)][0]);
            const double* above = q == kTop ? nullptr : row(q);
            const double* beside = q == kTop ? nullptr : row(sibling);
            for (int i = begin; i < end; ++i) {
                const int v = preOrder_[static_cast<std::size_t>(i)];
                const double value = q == kTop ? toFirst[static_cast<std::size_t>(v)] : (above[v] + beside[v]) / 2;
                mine[v] = value;
                row(v)[a] = value;
            }
        }
    }

    std::size_t nodes_;
    std::size_t n_;
    std::vector<double> average_;
    std::vector<int> parent_;
    std::vector<std::array<int, 2>> children_;
    std::vector<int> first_, last_;
    std::vector<int> preOrder_, postOrder_;
};

// A move of a pruned subtree (with its parent) onto the edge between `from`
// and `to`; `gain` is the change of the balanced length.
struct Move {
    double gain;
    int from;
    int to;
};

// Every move of the subtree below v to an edge of the rest of the tree, with
// its gain, in the order met. With S the pruned subtree, p its parent and the
// rest T', putting S on the edge (x, z) of T' gives the length
//   L(T') + (A(S, X) + A(S, Z) - A'(X, Z)) / 2
// (X and Z the two sides of the edge in T', A' the averages in T'), so only
// that half-sum matters. Walking from the edge that p leaves, each step to a
// next edge updates the half-sum from the table of T: the sides met hang away
// from p and are the same in T and T', except the side behind, which holds S
// and p in T and whose averages are corrected by 2^-k for the k edges between.
std::vector<Move> movesOf(const SideAverages& A, const Unrooted& g, int v) {
    std::vector<Move> moves;
    const int p = A.parent(v);
    if (p <= 0) return moves;
    const int q = A.parent(p);
    int a = -1;
    for (const int y : g.next[static_cast<std::size_t>(p)])
        if (y >= 0 && y != v && y != q) a = y;
    // The edge that p leaves joins a and q; its sides are down(a) and up(p).
    const double joined = A(a, p);
    struct Step {
        int behind;  // the node of T the walk came from
        int at;
        int k;
        double cross;   // A'(X, Z) of the edge just passed
        double toBack;  // A'(S, side behind the edge just passed)
    };
    // Into down(a) the side left behind is up(p), into up(p) it is down(a).
    const double here = (A(v, a) + A(p, v) - joined) / 2;
    for (const auto& [front, back] : {std::pair<int, int>{a, p}, std::pair<int, int>{q, a}}) {
        if (g.next[static_cast<std::size_t>(front)][1] < 0) continue;  // a single copy: no edge beyond
        std::vector<Step> stack = {{p, front, 0, joined, A(v, back)}};
        while (!stack.empty()) {
            const Step step = stack.back();
            stack.pop_back();
            const int x = step.at;
            const int behind = A.side(x, step.behind);
            const double w = std::ldexp(1.0, -(step.k + 1));
            std::array<int, 2> onward{};
            int count = 0;
            for (const int y : g.next[static_cast<std::size_t>(x)])
                if (y >= 0 && y != step.behind) onward[static_cast<std::size_t>(count++)] = y;
            for (int i = 0; i < 2; ++i) {
                const int z = onward[static_cast<std::size_t>(i)];
                const int y = onward[static_cast<std::size_t>(1 - i)];
                const int Y = A.side(x, y), Z = A.side(x, z);
                const double behindToY = A(behind, Y) + w * (A(back, Y) - A(v, Y));
                const double cross = step.cross + (A(Y, Z) - behindToY) / 2;
                const double toBack = (step.toBack + A(v, Y)) / 2;
                const double score = (A(v, Z) + toBack - cross) / 2;
                moves.push_back({score - here, x, z});
                if (g.next[static_cast<std::size_t>(z)][1] >= 0) stack.push_back({x, z, step.k + 1, cross, toBack});
            }
        }
    }
    return moves;
}
}  // namespace

bool isDuplicationTree(const BinaryTree& tree) { return reducible(topologyOf(tree)); }

bool isDuplicationTreeByScan(const BinaryTree& tree) { return recognise(topologyOf(tree), nullptr); }

double balancedLength(const BinaryTree& tree, const DistanceMatrix& distances) {
    BalancedLength length(distances, tree.leafCount);
    return length.of(topologyOf(tree));
}

namespace {

// The tree after moving the subtree below v (its parent p with it) as `move`
// says, rooted on the first copy's edge.
void moveAndRootOnFirst(const Unrooted& g, int v, int p, const Move& move, int n, int root, Unrooted& moved,
                        Topology& rooted) {
    moved = g;
    moved.move(v, p, move.from, move.to);
    moved.rootOn(0, moved.next[0][0], n, root, rooted);
}

// The tree before a move, rooted on the first copy's edge, from which the
// moves of a descent are tried, with the span of copies below each node (the
// least and the greatest copy number) and the scratch of the tries.
//
// A cheap test comes first. When a segment is copied, its left copy's
// descendants begin before the right copy's and end before them too: a
// tandem duplication moves every segment after the copied run to the right,
// and both the first and the last place a lineage holds follow that
// increasing map. So below every ancestral segment of a duplication tree
// the two children's spans are not nested. A node off the path from the
// first copy to the last has the same children wherever on that path the
// root stands, and every valid root stands there: one such node with nested
// children's spans rules the tree out.
class MoveTrial {
public:
    // The tree `g` now is, its root numbered `root`.
    void reset(const Unrooted& g, int n, int root) {
        g.rootOn(0, g.next[0][0], n, root, first_);
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
        if (mark_.size() < nodes) {
            mark_.assign(nodes, 0);
            onPath_.assign(nodes, 0);
            newLo_.resize(nodes);
            newHi_.resize(nodes);
            stamp_ = 0;
        }
    }

    // Whether the tree after moving the subtree below v (its parent p with
    // it) as `move` says can be rooted as a duplication tree: the same
    // answer as movedTree's (v is not the first copy's neighbour). Rooted on
    // the first copy's edge, the move changes the parents of three nodes
    // only: p's other child takes p's place, and p takes the place of the
    // lower end of the edge it goes to (the first copy's neighbour, when it
    // goes to the first copy's own edge).
    bool valid(int v, int p, const Move& move, Reduction& reduction) {
        Topology& t = probe_;
        t.n = first_.n;
        t.root = first_.root;
        t.parent = first_.parent;
        t.child = first_.child;
        const int above = t.parent[static_cast<std::size_t>(p)];
        const auto& pair = t.child[static_cast<std::size_t>(p)];
        t.replaceChild(above, p, pair[0] == v ? pair[1] : pair[0]);
        const int x = move.from, z = move.to;
        int down = z;
        if (t.parent[static_cast<std::size_t>(x)] == z)
            down = x;
        else if (t.parent[static_cast<std::size_t>(z)] != x)
            down = x == 0 ? z : x;  // the first copy's edge: below the root
        t.replaceChild(t.parent[static_cast<std::size_t>(down)], down, p);
        t.child[static_cast<std::size_t>(p)] = {v, down};
        t.parent[static_cast<std::size_t>(down)] = p;
        return !ruledOut(above, p) && rootAsDuplicationTree(t, reduction);
    }

private:
    // Whether the spans rule the moved tree out: a node off the path between
    // the end copies whose children's spans the move changed has them
    // nested, or every root on that path leaves a node with nested
    // children's spans. Spans change on the way up from `lost` (S left it)
    // and from p (S came) until the two ways meet; above that node nothing
    // changes.
    bool ruledOut(int lost, int p) {
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
        auto spanOf = [&](int y, int& l, int& h) {
            const auto uy = static_cast<std::size_t>(y);
            if (mark_[uy] == -stamp_) {
                l = newLo_[uy];
                h = newHi_[uy];
            } else {
                l = lo_[uy];
                h = hi_[uy];
            }
        };
        auto remake = [&](int y) {
            const auto uy = static_cast<std::size_t>(y);
            int la, ha, lb, hb;
            spanOf(t.child[uy][0], la, ha);
            spanOf(t.child[uy][1], lb, hb);
            newLo_[uy] = std::min(la, lb);
            newHi_[uy] = std::max(ha, hb);
            mark_[uy] = -stamp_;
            return onPath_[uy] != stamp_ && ((la < lb && ha > hb) || (lb < la && hb > ha));
        };
        for (int y = p; y != meet; y = t.parent[static_cast<std::size_t>(y)])
            if (remake(y)) return true;
        for (int y = lost; y != meet; y = t.parent[static_cast<std::size_t>(y)])
            if (remake(y)) return true;
        if (remake(meet)) return true;
        return noRootOnPath(spanOf);
    }

    // Whether every root on the path between the end copies leaves a node of
    // the path (or the root) with nested children's spans. The path runs
    // from the last copy w_0 up through w_1 .. w_m to the root, whose other
    // child is the first copy; h_j, w_j's child off the path, spans the same
    // copies wherever the root stands. With the root on the edge above w_i,
    // w_j (j <= i) has w_(j-1) and h_j below it, w_j (j > i) has h_j and
    // w_(j+1) (w_(m+1) the first copy), and the root w_i and w_(i+1).
    // path_ holds w_0 .. w_m.
    template <typename SpanOf>
    bool noRootOnPath(SpanOf spanOf) {
        const Topology& t = probe_;
        const std::size_t m = path_.size() - 1;
        auto nested = [](int la, int ha, int lb, int hb) { return (la < lb && ha > hb) || (lb < la && hb > ha); };
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

    Topology first_, probe_;
    std::vector<int> lo_, hi_;
    // Per try: mark_ is the try's stamp on the way up from where S left,
    // its negative once a node's new span is made; onPath_ the stamp on the
    // path from the last copy up.
    std::vector<int> mark_, onPath_, newLo_, newHi_;
    int stamp_ = 0;
    std::vector<int> path_, highAbove_;
    std::vector<std::pair<int, int>> side_;
    std::vector<char> sound_;
};

// The same tree rooted as a duplication tree (see rootAsDuplicationTree);
// false when no root makes it one.
bool movedTree(const Unrooted& g, int v, int p, const Move& move, int n, int root, Reduction& reduction,
               Unrooted& moved, Topology& rooted) {
    moveAndRootOnFirst(g, v, p, move, n, root, moved, rooted);
    return rootAsDuplicationTree(rooted, reduction);
}

// What makes a rebuilt history whole: the quartet votes, the criterion that
// recovers true histories best, whichever criterion the history came from,
// as long as at most kQuartetRebuildLimit segments are left (their cost grows
// as the fourth power of that number); beyond it the history's own criterion.
constexpr std::size_t kQuartetRebuildLimit = 300;
struct Rebuilders {
    BlockCriterion& own;
    BlockCriterion& quartets;
};

// A tree rooted on the first copy's edge made a duplication tree again: rooted
// where its reduction leaves the fewest segments (the first such place from
// there), the events that reduction merges kept, and the rest of the history
// chosen over the segments left (see Rebuilders).
Topology rebuiltFrom(Topology rooted, Reduction& reduction, const Rebuilders& rebuilders,
                     const DistanceMatrix& distances) {
    int fewestAt = -1;
    std::size_t fewest = static_cast<std::size_t>(rooted.n) + 1;
    walkRoot(rooted, reduction, [&](int c, std::size_t left) {
        if (left < fewest) {
            fewest = left;
            fewestAt = c;
        }
        return left == 1;
    });
    if (fewestAt >= 0) rooted = rootedAbove(rooted, fewestAt);
    std::vector<CandidateBlock> merges;
    recognise(rooted, &merges);
    ReplayedMerges replay(std::move(merges),
                          fewest <= kQuartetRebuildLimit ? &rebuilders.quartets : &rebuilders.own);
    DuplicationTree tree;
    tree.reconstruct(distances, replay);
    return topologyOf(tree);
}

// The tree after moving the subtree below v (its parent p with it) as `move`
// says, made a duplication tree again however the move left it.
Topology rebuiltTree(const Unrooted& g, int v, int p, const Move& move, int n, int root, Reduction& reduction,
                     const Rebuilders& rebuilders, const DistanceMatrix& distances) {
    Unrooted moved;
    Topology rooted;
    moveAndRootOnFirst(g, v, p, move, n, root, moved, rooted);
    return rebuiltFrom(std::move(rooted), reduction, rebuilders, distances);
}

// The neighbour-joining tree of an n x n table of distances (the pair with
// the least (k - 2) d(i, j) - r_i - r_j joined first, the first such pair on
// ties), rooted at its last join.
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

// The copies on the far side of every edge of the tree seen from copy 0,
// each list ascending, all of them in ascending order: the same for two
// trees exactly when they are the same unrooted tree.
std::vector<std::vector<int>> sidesSeenFromFirst(const Unrooted& g, int n) {
    const std::size_t nodes = g.next.size();
    std::vector<int> parent(nodes, -1), order, stack = {0};
    while (!stack.empty()) {
        const int x = stack.back();
        stack.pop_back();
        order.push_back(x);
        for (const int y : g.next[static_cast<std::size_t>(x)])
            if (y > 0 && y != parent[static_cast<std::size_t>(x)]) {
                parent[static_cast<std::size_t>(y)] = x;
                stack.push_back(y);
            }
    }
    std::vector<std::vector<int>> below(nodes), sides;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const int x = *it;
        if (x == 0) continue;
        std::vector<int>& mine = below[static_cast<std::size_t>(x)];
        if (x < n) mine.push_back(x);
        std::sort(mine.begin(), mine.end());
        sides.push_back(mine);
        std::vector<int>& above = below[static_cast<std::size_t>(parent[static_cast<std::size_t>(x)])];
        above.insert(above.end(), mine.begin(), mine.end());
    }
    std::sort(sides.begin(), sides.end());
    return sides;
}

// The trees that descents have ended at, so that no move shortens them: a
// descent that meets one again would end there too, and so stops at once.
// Trees of the same length are compared in full.
class KnownEnds {
public:
    bool has(const Unrooted& g, double length, int n) const {
        for (const auto& [known, tree] : ends_)
            if (known == length && sidesSeenFromFirst(g, n) == sidesSeenFromFirst(tree, n)) return true;
        return false;
    }
    void add(const Unrooted& g, double length, int n) {
        if (!has(g, length, n)) ends_.push_back({length, g});
    }
    void addAll(const KnownEnds& other, int n) {
        for (const auto& [length, tree] : other.ends_) add(tree, length, n);
    }

private:
    std::vector<std::pair<double, Unrooted>> ends_;
};

// Sweeps of moves, each taking the first valid shortening move of every
// subtree in turn, until a sweep takes none or the tree is one of `ends`;
// the tree it ends at joins them.
void descend(Unrooted& g, Topology& t, double& current, BalancedLength& length, Reduction& reduction, int n,
             KnownEnds& ends) {
    if (ends.has(g, current, n)) return;
    // A subtree that found no move is not looked at again until a move has
    // changed the tree: it would find none again.
    int taken = 0;
    std::vector<int> foundNoneAt(g.next.size(), -1);
    bool improved = true;
    // Rebuilt after every move taken, so a sweep starts from the tree's own.
    SideAverages averages(g, length.table(), n);
    MoveTrial trial;
    trial.reset(g, n, t.root);
    while (improved) {
        improved = false;
        const std::vector<int> order = averages.postOrder();
        for (const int v : order) {
            const int p = averages.parent(v);
            if (p <= 0 || foundNoneAt[static_cast<std::size_t>(v)] == taken) continue;
            foundNoneAt[static_cast<std::size_t>(v)] = taken;
            // Moves that shorten the tree, the most first (ties in the order
            // met); the first that can be rooted as a duplication tree is
            // taken.
            std::vector<Move> shorter;
            for (const Move& move : movesOf(averages, g, v))
                if (move.gain < -1e-12 * std::fabs(current)) shorter.push_back(move);
            std::stable_sort(shorter.begin(), shorter.end(),
                             [](const Move& l, const Move& r) { return l.gain < r.gain; });
            if (shorter.empty()) continue;
            Unrooted moved = g;
            Topology rooted;
            for (const Move& move : shorter) {
                if (!trial.valid(v, p, move, reduction)) continue;
                if (!movedTree(g, v, p, move, n, t.root, reduction, moved, rooted)) continue;
                const double exact = length.of(rooted);
                if (!(exact < current)) continue;
                g = std::move(moved);
                t = std::move(rooted);
                current = exact;
                improved = true;
                ++taken;
                if (ends.has(g, current, n)) return;
                averages.rebuild(g, length.table());
                trial.reset(g, n, t.root);
                break;
            }
        }
    }
    ends.add(g, current, n);
}

// The distances of one round of the ratchet: each pair's multiplied by its
// own factor, drawn evenly from 1 - kShake to 1 + kShake by a generator
// seeded with the round alone, so that a round shakes the same way on any
// machine and whichever thread runs it.
constexpr double kShake = 0.5;
// Rounds of the ratchet that start from the same tree, so that they can run
// side by side; the shortest of them is kept.
constexpr int kRoundsAtOnce = 4;

DistanceMatrix shakenDistances(const DistanceMatrix& distances, int round) {
    const int n = distances.count();
    DistanceMatrix shaken(n);
    std::uint64_t state = 0x9e3779b97f4a7c15u * static_cast<std::uint64_t>(round + 1);
    auto next = [&state] {  // splitmix64
        std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    };
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            const double unit = static_cast<double>(next() >> 11) * 0x1p-53;  // [0, 1)
            shaken.set(i, j, distances.at(i, j) * (1.0 + kShake * (2.0 * unit - 1.0)));
        }
    return shaken;
}

}  // namespace

void refineHistory(DuplicationTree& history, const DistanceMatrix& distances, const RefineSettings& settings,
                   BlockCriterion* criterion) {
    const int n = history.leafCount;
    if (n < 4 || !history.root) return;
    Topology t = topologyOf(history);
    BalancedLength length(distances, n);
    double current = length.of(t);

    Unrooted g(t);
    Reduction reduction;
    KnownEnds ends;
    descend(g, t, current, length, reduction, n, ends);

    // Searches from other trees than the current one: for the subtrees in
    // order while the budget lasts, each subtree makes a start from the
    // current tree (or makes none, counted against the budget or not), the
    // search descends from it, and the tree it ends at replaces the current
    // one (the side averages with it) when it is shorter. Descents run side
    // by side in batches, each from the same current tree; the first of a
    // batch that is kept replaces it, and the subtrees after it make their
    // starts again from the new tree: the trees are those of one descent
    // after another, for any number of threads.
    SideAverages averages(g, length.table(), n);
    enum class Start { kNone, kSpent, kMade };
    struct Descent {
        std::size_t at;
        int spent;  // of the budget, up to and including this start
        Unrooted tree;
        Topology rooted;
        double reached;
        int shaken;  // the round of shaken distances descended first, or -1
    };
    struct Worker {
        BalancedLength length;
        Reduction reduction;
        KnownEnds ends;
    };
    const int threads = std::max(1, settings.threads);
    std::vector<Worker> workers;
    // Ratchet rounds first descend under their round's shaken distances
    // (ends of their own), then as any other start.
    auto descendFrom = [&](Descent& d, BalancedLength& real, Reduction& own, KnownEnds& known) {
        if (d.shaken >= 0) {
            BalancedLength shaken(shakenDistances(distances, d.shaken), n);
            double under = shaken.of(d.rooted);
            KnownEnds none;
            descend(d.tree, d.rooted, under, shaken, own, n, none);
        }
        d.reached = real.of(d.rooted);
        descend(d.tree, d.rooted, d.reached, real, own, n, known);
    };
    // With `rounds`, the items are rounds of the ratchet, taken in groups of
    // that many from the same tree whatever the number of threads; the
    // shortest of a group (the first on ties) is kept when it is shorter.
    // Otherwise a batch is as many starts as there are threads, the first
    // kept wins, and the starts after it are made again. (The order of the
    // subtrees is taken as it stands, before any change.)
    auto searchEach = [&](const std::vector<int> subtrees, int budget, auto makeStart, int rounds = 0) {
        std::vector<Descent> batch;
        std::size_t next = 0;
        const int room = rounds > 0 ? rounds : threads;
        while (next < subtrees.size() && budget > 0) {
            batch.clear();
            int spent = 0;
            std::size_t i = next;
            for (; i < subtrees.size() && spent < budget && static_cast<int>(batch.size()) < room; ++i) {
                Unrooted tree;
                Topology rooted;
                const Start made = makeStart(subtrees[i], tree, rooted);
                if (made == Start::kNone) continue;
                ++spent;
                if (made == Start::kMade)
                    batch.push_back({i, spent, std::move(tree), std::move(rooted), 0.0, rounds > 0 ? subtrees[i] : -1});
            }
            if (batch.size() <= 1 || threads == 1) {
                for (Descent& d : batch) descendFrom(d, length, reduction, ends);
            } else {
                while (workers.size() < std::min(batch.size(), static_cast<std::size_t>(threads)))
                    workers.push_back({length, Reduction(), KnownEnds()});
                for (Worker& w : workers) w.ends = ends;
                runSlices(threads, static_cast<int>(batch.size()), [&](int slice, int worker) {
                    Worker& w = workers[static_cast<std::size_t>(worker)];
                    descendFrom(batch[static_cast<std::size_t>(slice)], w.length, w.reduction, w.ends);
                });
                for (const Worker& w : workers) ends.addAll(w.ends, n);
            }
            auto kept = std::find_if(batch.begin(), batch.end(), [&](const Descent& d) {
                return d.reached < current - 1e-12 * std::fabs(current);
            });
            if (kept == batch.end() || rounds > 0) {
                budget -= spent;
                next = i;
                if (kept == batch.end()) continue;
                for (auto later = kept; later != batch.end(); ++later)
                    if (later->reached < kept->reached) kept = later;
            } else {
                budget -= kept->spent;
                next = kept->at + 1;
            }
            g = std::move(kept->tree);
            t = std::move(kept->rooted);
            current = kept->reached;
            averages.rebuild(g, length.table());
        }
    };

    // Kicks: a subtree takes its least lengthening valid move and the search
    // descends from there; the result is kept when it is shorter.
    searchEach(averages.postOrder(), settings.kicks, [&](int v, Unrooted& tree, Topology& rooted) {
        const int p = averages.parent(v);
        if (p <= 0) return Start::kNone;
        std::vector<Move> moves = movesOf(averages, g, v);
        std::stable_sort(moves.begin(), moves.end(), [](const Move& l, const Move& r) { return l.gain < r.gain; });
        for (const Move& move : moves)
            if (movedTree(g, v, p, move, n, t.root, reduction, tree, rooted)) return Start::kMade;
        return Start::kSpent;
    });

    // Rebuilds: a subtree takes its most shortening move, whether or not the
    // tree stays a duplication tree; the history is made whole again (by the
    // quartet votes, or the criterion it came from when many segments are
    // left), the search descends from there, and the result is kept when it
    // is shorter.
    // Rebuilds begin with one from the neighbour-joining tree of the
    // distances, a tree made without the order of the copies: far from any
    // duplication tree the criterion may have started from.
    const std::unique_ptr<BlockCriterion> quartets = makeBlockCriterion(1);
    quartets->setThreads(threads);
    const Rebuilders rebuilders{criterion != nullptr ? *criterion : *quartets, *quartets};
    if (criterion != nullptr && settings.rebuilds > 0)
        searchEach({0}, 1, [&](int, Unrooted& tree, Topology& rooted) {
            rooted = rebuiltFrom(rootedAbove(joinedNeighbours(length.table(), n), 0), reduction, rebuilders,
                                 distances);
            tree = Unrooted(rooted);
            return Start::kMade;
        });
    if (criterion != nullptr)
        searchEach(averages.postOrder(), settings.rebuilds, [&](int v, Unrooted& tree, Topology& rooted) {
            const int p = averages.parent(v);
            if (p <= 0) return Start::kNone;
            const std::vector<Move> moves = movesOf(averages, g, v);
            if (moves.empty()) return Start::kNone;
            const Move best = *std::min_element(moves.begin(), moves.end(),
                                                [](const Move& l, const Move& r) { return l.gain < r.gain; });
            if (!(best.gain < -1e-12 * std::fabs(current))) return Start::kNone;
            rooted = rebuiltTree(g, v, p, best, n, t.root, reduction, rebuilders, distances);
            tree = Unrooted(rooted);
            return Start::kMade;
        });

    // The ratchet: the tree descends under shaken distances, then under the
    // real ones again, four rounds from the same tree, and the shortest
    // result is kept when it is shorter.
    std::vector<int> rounds(static_cast<std::size_t>(std::max(0, settings.ratchet)));
    for (std::size_t r = 0; r < rounds.size(); ++r) rounds[r] = static_cast<int>(r);
    searchEach(
        rounds, settings.ratchet,
        [&](int, Unrooted& tree, Topology& rooted) {
            tree = g;
            rooted = t;
            return Start::kMade;
        },
        kRoundsAtOnce);

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

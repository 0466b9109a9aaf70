#include "history/refine/Recognition.h"

namespace refine {

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

bool Reduction::run(const Topology& t, const std::vector<char>* barred, const std::vector<int>* row,
                    std::vector<int>* end, const std::vector<char>* only) {
    start(t, barred, row);
    if (start_.empty()) {
        size_ = 0;
        return true;
    }
    pushFirstCandidates(only);
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

// The parents the run may merge through, and the row it starts from as a
// linked list with every label alive.
void Reduction::start(const Topology& t, const std::vector<char>* barred, const std::vector<int>* row) {
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
    if (start_.empty()) return;
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
}

void Reduction::pushFirstCandidates(const std::vector<char>* only) {
    if (only == nullptr) {
        for (auto it = start_.rbegin(); it != start_.rend(); ++it) push(*it, Candidate::kStart);
        return;
    }
    // Each pair of row elements below a marked node, as the pair of an event
    // that would hold it.
    for (std::size_t p = start_.size(); p-- > 0;) {
        const int x = start_[p];
        const int parent = t_->parent[static_cast<std::size_t>(x)];
        if (parent < 0 || !(*only)[static_cast<std::size_t>(parent)]) continue;
        const int w = t_->sibling(x);
        if (inRow(w) && label_[static_cast<std::size_t>(w)] > static_cast<int>(p)) push(x, Candidate::kPair);
    }
}

// Merges the event that starts at x, if one is visible there.
void Reduction::tryEventAt(int x) {
    const int y = sibling(x);
    if (!inRow(y) || label_[static_cast<std::size_t>(y)] < label_[static_cast<std::size_t>(x)]) return;
    int s = 0;
    for (int l = x, r = y;; l = next_[static_cast<std::size_t>(l)], r = next_[static_cast<std::size_t>(r)], ++s) {
        if (l == y) break;
        if (r < 0 || !mergeable(l, r)) return;
    }
    mergeEvent(x, y, s);
}

// Merges an event that holds x and its sibling as one of its pairs, if one
// is visible. Such an event has as many pairs as the two lie apart, and its
// pairs are a run of sibling pairs that far apart: the run is followed from
// the pair to the left, then to the right, until it is long enough, and the
// event starting where it begins is merged.
void Reduction::tryEventWith(int x) {
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

// Merges the event of s pairs whose first pair is (x, y): the left elements
// become their parents, the right ones go. Only an event that holds a new
// segment can have become visible by it, and such an event holds the
// segment's pair: each new segment whose sibling is in the row is a
// candidate again.
void Reduction::mergeEvent(int x, int y, int s) {
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

void Reduction::replace(int from, int to) {
    const auto f = static_cast<std::size_t>(from), t = static_cast<std::size_t>(to);
    label_[t] = label_[f];
    prev_[t] = prev_[f];
    next_[t] = next_[f];
    if (prev_[t] >= 0)
        next_[static_cast<std::size_t>(prev_[t])] = to;
    else
        first_ = to;
    if (next_[t] >= 0) prev_[static_cast<std::size_t>(next_[t])] = to;
    label_[f] = -1;
}

void Reduction::remove(int x) {
    const auto i = static_cast<std::size_t>(x);
    if (prev_[i] >= 0)
        next_[static_cast<std::size_t>(prev_[i])] = next_[i];
    else
        first_ = next_[i];
    if (next_[i] >= 0) prev_[static_cast<std::size_t>(next_[i])] = prev_[i];
    mark(label_[i], -1);
    label_[i] = -1;
    --size_;
}

bool reducible(const Topology& t) {
    Reduction reduction;
    return reduction.run(t, nullptr, nullptr, nullptr);
}

}  // namespace refine

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
    if (events_ != nullptr) events_->push_back(s);
    int l = x, r = y;
    for (int c = 0; c < s; ++c) {
        const int nextLeft = next_[static_cast<std::size_t>(l)];
        const int nextRight = next_[static_cast<std::size_t>(r)];
        const int u = t_->parent[static_cast<std::size_t>(l)];
        if (events_ != nullptr) events_->insert(events_->end(), {l, r, u});
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

namespace {

// A row kept as links between its elements (-1 past either end, `first` the
// element at its start): `to` takes the place of `from`.
void takePlace(std::vector<int>& next, std::vector<int>& prev, int& first, int from, int to) {
    const auto f = static_cast<std::size_t>(from), t = static_cast<std::size_t>(to);
    prev[t] = prev[f];
    next[t] = next[f];
    if (prev[t] >= 0)
        next[static_cast<std::size_t>(prev[t])] = to;
    else
        first = to;
    if (next[t] >= 0) prev[static_cast<std::size_t>(next[t])] = to;
}

// x leaves such a row.
void unlink(std::vector<int>& next, std::vector<int>& prev, int& first, int x) {
    const auto i = static_cast<std::size_t>(x);
    if (prev[i] >= 0)
        next[static_cast<std::size_t>(prev[i])] = next[i];
    else
        first = next[i];
    if (next[i] >= 0) prev[static_cast<std::size_t>(next[i])] = prev[i];
}

}  // namespace

void Reduction::replace(int from, int to) {
    label_[static_cast<std::size_t>(to)] = label_[static_cast<std::size_t>(from)];
    takePlace(next_, prev_, first_, from, to);
    label_[static_cast<std::size_t>(from)] = -1;
}

void Reduction::remove(int x) {
    const auto i = static_cast<std::size_t>(x);
    unlink(next_, prev_, first_, x);
    mark(label_[i], -1);
    label_[i] = -1;
    --size_;
}

void Reduction::replay(const std::vector<int>& events, int n, std::size_t nodes, const std::vector<char>& skip,
                       std::vector<int>& row) {
    if (replayAlive_.size() < nodes) {
        replayAlive_.assign(nodes, 0);
        replayNext_.resize(nodes);
        replayPrev_.resize(nodes);
        replayStamp_ = 0;
    }
    const int stamp = ++replayStamp_;
    for (int i = 0; i < n; ++i) {
        const auto ui = static_cast<std::size_t>(i);
        replayAlive_[ui] = stamp;
        replayPrev_[ui] = i - 1;
        replayNext_[ui] = i + 1 < n ? i + 1 : -1;
    }
    int first = n > 0 ? 0 : -1;
    const auto alive = [&](int x) { return replayAlive_[static_cast<std::size_t>(x)] == stamp; };
    const auto next = [&](int x) { return replayNext_[static_cast<std::size_t>(x)]; };
    for (std::size_t i = 0; i < events.size();) {
        const int s = events[i];
        const int* pairs = &events[i + 1];  // l, r, u for each pair
        i += 1 + 3 * static_cast<std::size_t>(s);
        // Visible: l_0 .. l_(s-1) r_0 .. r_(s-1) side by side in the row.
        bool visible = true;
        for (int c = 0; c < s && visible; ++c) {
            const int l = pairs[3 * c], r = pairs[3 * c + 1], u = pairs[3 * c + 2];
            const int followsL = c + 1 < s ? pairs[3 * c + 3] : pairs[1];
            visible = !skip[static_cast<std::size_t>(u)] && alive(l) && alive(r) && next(l) == followsL &&
                      (c + 1 == s || next(r) == pairs[3 * c + 4]);
        }
        if (!visible) continue;
        for (int c = 0; c < s; ++c) {
            const int l = pairs[3 * c], r = pairs[3 * c + 1], u = pairs[3 * c + 2];
            // u takes l's place; r leaves the row.
            takePlace(replayNext_, replayPrev_, first, l, u);
            unlink(replayNext_, replayPrev_, first, r);
            replayAlive_[static_cast<std::size_t>(u)] = stamp;
            replayAlive_[static_cast<std::size_t>(l)] = 0;
            replayAlive_[static_cast<std::size_t>(r)] = 0;
        }
    }
    row.clear();
    for (int x = first; x >= 0; x = next(x)) row.push_back(x);
}

bool reducible(const Topology& t) {
    Reduction reduction;
    return reduction.run(t, nullptr, nullptr, nullptr);
}

}  // namespace refine

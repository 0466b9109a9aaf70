#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "history/BlockCriterion.h"
#include "history/refine/Topology.h"

namespace refine {

// The recognition test: reduces the row of copies by visible duplication
// events, the first one in the row each time, and gives the merges in the
// order made, or false when the tree is no duplication tree.
bool recognise(const Topology& t, std::vector<CandidateBlock>* merges);

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
        std::vector<char> skip;
        std::vector<int> replayed;
    } walk;

    // Reduces t from `row` (or the copies 0 .. n-1), never making the nodes
    // marked in `barred`; leaves what is left in `end` when asked. The
    // workspace is kept for the next tree: only what a run touched is reset.
    //
    // With `only`, the row is one in which no event is visible but those
    // that make a node marked there (as a row that a reduction barred from
    // those nodes left, whose other events it merged): the first candidates
    // are then the pairs of row elements below marked nodes alone.
    bool run(const Topology& t, const std::vector<char>* barred, const std::vector<int>* row, std::vector<int>* end,
             const std::vector<char>* only = nullptr);

    // How many segments the last run left.
    std::size_t left() const { return static_cast<std::size_t>(size_); }

    // While `events` is set, runs write there every event they merge, as its
    // number of pairs s and then s triples (left element, right element,
    // the segment made).
    void record(std::vector<int>* events) { events_ = events; }

    // Merges again, from the copies 0 .. n-1, the events that a run recorded
    // on a tree, in the order recorded, leaving out those that would make a
    // node marked in `skip` and those no longer visible; leaves the row in
    // `row`. Any tree in which every node not marked has the children it had
    // in the recorded one has every event merged here visible in turn: the
    // row is one that a reduction of that tree kept from the marked nodes
    // can reach, and a run from it ends where a run from the copies would.
    void replay(const std::vector<int>& events, int n, std::size_t nodes, const std::vector<char>& skip,
                std::vector<int>& row);

private:
    void start(const Topology& t, const std::vector<char>* barred, const std::vector<int>* row);
    void pushFirstCandidates(const std::vector<char>* only);

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

    void tryEventAt(int x);
    void tryEventWith(int x);
    void mergeEvent(int x, int y, int s);
    void replace(int from, int to);
    void remove(int x);

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
    std::vector<int>* events_ = nullptr;
    // The row of a replay, a linked list over the nodes alive in it (those
    // whose stamp is the replay's).
    std::vector<int> replayNext_, replayPrev_, replayAlive_;
    int replayStamp_ = 0;
};

// Whether t is a duplication tree, by the reduction.
bool reducible(const Topology& t);

}  // namespace refine

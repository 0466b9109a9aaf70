#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "history/ReconstructionProgress.h"
#include "history/WorkingDistanceTable.h"

// A candidate block over the k current positions: positions start .. start +
// size - 1 hold the left copy and start + size .. start + 2*size - 1 the right
// copy, so that start + c and start + size + c are the two copies of one
// ancestral segment. 1 <= size <= k/2 and start + 2*size <= k.
struct CandidateBlock {
    int start = 0;
    int size = 1;
    bool operator==(const CandidateBlock& other) const { return start == other.start && size == other.size; }
};

// A block-selection criterion: at every merge step of a reconstruction it
// names the block to merge. All criteria visit the candidates with size
// ascending and, within a size, start ascending, and keep the first best one.
//
// One object serves one reconstruction at a time and owns whatever state and
// scratch it keeps between steps; `begin` starts it afresh, so an object can
// be used for any number of reconstructions in turn.
class BlockCriterion {
public:
    virtual ~BlockCriterion() = default;

    // Before the first step, with the table of all n segments.
    virtual void begin(const WorkingDistanceTable& table, ReconstructionProgress* progress) = 0;
    // The block of this step, for a table of k >= 2 segments; the engine
    // merges exactly this block next.
    virtual CandidateBlock chooseBlock(const WorkingDistanceTable& table) = 0;
    // Just before the engine merges `block`, the table still as it was: for a
    // criterion that keeps something of the block's copies for its update.
    virtual void merging(const WorkingDistanceTable& table, CandidateBlock block) {
        (void)table;
        (void)block;
    }
    // After the engine has merged `block`: the table holds the new segments
    // and has lost the right copies.
    virtual void merged(const WorkingDistanceTable& table, CandidateBlock block) = 0;
    // Whether the table's row sums are read after the merge about to be
    // made (asked just before it): when not, the merge leaves them out, and
    // the first merge that keeps them again adds them afresh.
    virtual bool readsRowSums() const { return true; }
    // Whether the criterion reads the table only through its cells and
    // column runs, so that a merge may leave gaps in the rows.
    virtual bool readsGappedRows() const { return false; }

    // Threads the criterion may share its work among (1 by default). The
    // blocks it names are the same for any number.
    void setThreads(int threads) { threads_ = threads < 1 ? 1 : threads; }
    int threads() const { return threads_; }

protected:
    int threads_ = 1;
};

// The numbered criteria a user can choose, in the order in which the choice
// of all of them runs them.
struct CriterionEntry {
    int number;
    const char* name;  // as the help lists it
    std::unique_ptr<BlockCriterion> (*make)();
    // Bytes that its state takes for n segments beyond the working table
    // (scratch that grows with one row is not counted).
    std::uint64_t (*bytesFor)(int n);
};
const std::vector<CriterionEntry>& blockCriteria();

// The criterion numbered `number`, or none.
std::unique_ptr<BlockCriterion> makeBlockCriterion(int number);

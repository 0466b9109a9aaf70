#pragma once

#include <memory>
#include <string>
#include <vector>

#include "likelihood/SliceTeam.h"

#include "history/DuplicationTree.h"
#include "history/refine/FirstCopyView.h"
#include "likelihood/SubstitutionModel.h"

struct pll_partition;

// The likelihood of a history on the sites of an alignment, through the
// phylogenetic likelihood library (libpll). Columns that are the same are
// computed once, weighted by their count. A gap or an ambiguity code is
// missing data (an ambiguity code: any of the states it names); letters of
// either case are the same state; a letter the library does not know is a
// gap.
//
// The tree is seen unrooted, hung from copy 0 (refine::FirstCopyView), with
// the length of the edge above every node in `above` by node number; a
// reversible model does not see the root. Each node x keeps two vectors of
// conditional likelihoods: down(x), of the copies below x, and up(x), of
// the copies outside it as seen from x's parent (for the child of copy 0,
// copy 0 itself). Which are up to date is the caller's to know: every
// function says what it reads and what it leaves made.
//
// The patterns are cut into slices, as many as their number calls for
// (never as many as the threads), each a partition of its own; every
// operation runs on all slices, on up to `threads` threads, and sums of the
// slices are taken in their order, so the results are the same for any
// number of threads.
//
// Built only where the library is (TANDEMTREE_HAVE_PLL).
class SiteLikelihood {
public:
    // Jukes-Cantor with one rate.
    explicit SiteLikelihood(const std::vector<std::string>& sequences);
    // Throws std::runtime_error with the library's reason when it fails.
    SiteLikelihood(const std::vector<std::string>& sequences, const SubstitutionModel& model, int threads = 1);
    ~SiteLikelihood();
    SiteLikelihood(const SiteLikelihood&) = delete;
    SiteLikelihood& operator=(const SiteLikelihood&) = delete;

    // The log-likelihood of a rooted tree over the same copies with the edge
    // above every node given by node number (nodeNumber()); the root's
    // entry is not read.
    double logLikelihood(const DuplicationTree& tree, const std::vector<double>& edgeAbove);

    const SubstitutionModel& model() const { return model_; }
    // Takes the model's rates, frequencies and shape (the same kind).
    void setModel(const SubstitutionModel& model);

    // The log-likelihood of the tree: makes every edge's matrix and every
    // down vector.
    double evaluate(const refine::FirstCopyView& view, const std::vector<double>& above);
    // Edges optimised one at a time by Newton's method, in preorder, each
    // on the vectors of its two sides, `passes` times; every down vector is
    // made again after each pass. Reads the down vectors; gives the
    // log-likelihood after.
    double optimiseLengths(const refine::FirstCopyView& view, std::vector<double>& above, int passes);
    // Makes up(y) for every node y, in preorder. Reads the down vectors and
    // the matrices.
    void makeUp(const refine::FirstCopyView& view);

    // The most probable state at every pattern of the ancestral segment at
    // node x (not a copy), from the down and up vectors; with `at` between 0
    // and the length above x, of a segment that far above x on that edge.
    std::vector<int> likeliestStates(const refine::FirstCopyView& view, const std::vector<double>& above, int x,
                                     double at);
    // The pattern of every site of the alignment.
    const std::vector<int>& patternOfSite() const { return patternOfSite_; }
    int patternCount() const;

    // The pieces of a search on the tree with one subtree pruned.
    struct Vector {
        unsigned int clv;
        int scaler;
    };
    Vector down(int x) const;
    Vector up(int x, int parentOfX) const;
    Vector scratch(int k) const;
    unsigned int scratchMatrix(int k) const;
    unsigned int edgeMatrix(int x) const { return static_cast<unsigned int>(x); }
    // Makes `into` from two vectors, each across a matrix.
    void combine(Vector into, Vector a, unsigned int matrixA, Vector b, unsigned int matrixB);
    void setMatrix(unsigned int matrix, double length);
    // Newton's method on the length of the edge between two vectors; the
    // matrix is left made for the length found, which it returns.
    double optimiseEdge(Vector a, Vector b, unsigned int matrix, double length, double tolerance = 1e-8);
    double edgeLogLikelihood(Vector a, Vector b, unsigned int matrix);

    static constexpr double kShortest = 1e-8;
    static constexpr double kLongest = 10.0;

private:
    struct Release {
        void operator()(pll_partition* partition) const;
    };
    struct ReleaseTable {
        void operator()(double* table) const;
    };
    void create(const std::vector<std::string>& sequences, int threads);
    void setMatricesOf(const refine::FirstCopyView& view, const std::vector<double>& above);
    // The sum over the slices, in their order, of what `part` gives each.
    template <typename Part>
    double sumOfSlices(Part part);
    void makeDown(const refine::FirstCopyView& view);
    // up(y) from up(parent) and down(sibling); copy 0's child has none to make.
    void makeUpOf(const refine::FirstCopyView& view, int y);

    // A slice of the patterns, from `first` on, and its own table for the
    // derivatives of an edge's length.
    struct Slice {
        std::unique_ptr<pll_partition, Release> partition;
        std::unique_ptr<double, ReleaseTable> sumtable;
        unsigned int first = 0;
    };

    SubstitutionModel model_;
    std::vector<Slice> slices_;
    std::unique_ptr<SliceTeam> team_;
    // What each slice gave, to be summed (a second derivative in the other).
    std::vector<double> perSlice_, perSliceSecond_;
    std::vector<int> patternOfSite_;
    int tips_ = 0;
    int nodes_ = 0;  // node numbers, 2n - 1
};

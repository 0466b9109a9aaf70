#include "likelihood/SiteLikelihood.h"

#include <libpll/pll.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <memory>
#include <stdexcept>

#include "common/MemoryBudget.h"

// Numbering in the partition, N = 2n - 1 node numbers: down(x) is vector x
// (the copies' own vectors are 0 .. n-1), up(x) vector N + x, four scratch
// vectors after them; every inner vector has the scale buffer of its own
// number. The matrix of the edge above x is matrix x, five scratch matrices
// follow.
namespace {

constexpr int kScratchVectors = 4;
constexpr int kScratchMatrices = 5;
// Slices of the patterns: each of at least this many pattern states (128
// DNA patterns), at most this many slices.
constexpr unsigned int kSliceValues = 512;
constexpr unsigned int kMostSlices = 2;

// The library probes the processor into a global of its own: probed once,
// before any two threads could make partitions at the same time.
unsigned int bestArchitecture() {
    static const unsigned int best = [] {
        if (PLL_STAT(avx2_present)) return PLL_ATTRIB_ARCH_AVX2;
        if (PLL_STAT(avx_present)) return PLL_ATTRIB_ARCH_AVX;
        if (PLL_STAT(sse3_present)) return PLL_ATTRIB_ARCH_SSE;
        return PLL_ATTRIB_ARCH_CPU;
    }();
    return best;
}

const unsigned int kZeros[4] = {0, 0, 0, 0};

// The library's step that makes `into` from a and b, each across a matrix.
pll_operation_t operationOf(SiteLikelihood::Vector into, SiteLikelihood::Vector a, unsigned int matrixA,
                            SiteLikelihood::Vector b, unsigned int matrixB) {
    pll_operation_t operation{};
    operation.parent_clv_index = into.clv;
    operation.parent_scaler_index = into.scaler;
    operation.child1_clv_index = a.clv;
    operation.child1_scaler_index = a.scaler;
    operation.child1_matrix_index = matrixA;
    operation.child2_clv_index = b.clv;
    operation.child2_scaler_index = b.scaler;
    operation.child2_matrix_index = matrixB;
    return operation;
}

}  // namespace

void SiteLikelihood::Release::operator()(pll_partition* partition) const { pll_partition_destroy(partition); }
void SiteLikelihood::ReleaseTable::operator()(double* table) const { pll_aligned_free(table); }

SiteLikelihood::SiteLikelihood(const std::vector<std::string>& sequences) {
    model_.rates.assign(6, 1.0);
    model_.frequencies.assign(4, 0.25);
    create(sequences, 1);
}

SiteLikelihood::SiteLikelihood(const std::vector<std::string>& sequences, const SubstitutionModel& model, int threads)
    : model_(model) {
    create(sequences, threads);
}

SiteLikelihood::~SiteLikelihood() = default;

void SiteLikelihood::create(const std::vector<std::string>& sequences, int threads) {
    tips_ = static_cast<int>(sequences.size());
    if (tips_ < 2 || sequences[0].empty()) throw std::runtime_error("the likelihood needs two copies and one site");
    nodes_ = 2 * tips_ - 1;
    const unsigned int* map = model_.protein() ? pll_map_aa : pll_map_nt;
    // Columns that are the same share one pattern, in the order first met.
    const std::size_t length = sequences[0].size();
    std::map<std::string, int> patterns;
    std::vector<std::string> columns;
    std::vector<unsigned int> weights;
    patternOfSite_.assign(length, 0);
    std::string column(static_cast<std::size_t>(tips_), '-');
    for (std::size_t site = 0; site < length; ++site) {
        for (int t = 0; t < tips_; ++t) {
            const auto c = static_cast<unsigned char>(
                std::toupper(static_cast<unsigned char>(sequences[static_cast<std::size_t>(t)][site])));
            column[static_cast<std::size_t>(t)] = map[c] == 0 ? '-' : static_cast<char>(c);
        }
        const auto [at, added] = patterns.emplace(column, static_cast<int>(columns.size()));
        if (added) {
            columns.push_back(column);
            weights.push_back(0);
        }
        ++weights[static_cast<std::size_t>(at->second)];
        patternOfSite_[site] = at->second;
    }
    // Slices of at least kSliceValues pattern states each, at most
    // kMostSlices: set by the alignment alone.
    const auto patternCount = static_cast<unsigned int>(columns.size());
    const auto states = static_cast<unsigned int>(model_.states());
    const unsigned int sliceCount = std::clamp(patternCount * states / kSliceValues, 1u, kMostSlices);
    const auto vectors = static_cast<unsigned int>(2 * nodes_ + kScratchVectors);
    // The library does not survive running out of memory while it makes a
    // partition, so what all slices will take is asked for first (a
    // std::bad_alloc, reported as lack of memory, when it cannot be had).
    {
        const std::uint64_t padded = (states + 3) / 4 * 4, categories = model_.categories();
        const std::uint64_t inner = vectors - static_cast<unsigned int>(tips_);
        const std::uint64_t perPattern = 8 * categories * padded * (inner + 1) + 4 * vectors + vectors + 16;
        const std::uint64_t matrices = 8 * categories * padded * padded * (nodes_ + kScratchMatrices);
        std::uint64_t bytes = perPattern * patternCount + sliceCount * (matrices + (1u << 20));
        bytes += bytes / 32;
        reserveMemory(bytes);
        // A byte written through a volatile pointer keeps the compiler from
        // leaving out an allocation that is never used.
        const std::unique_ptr<char[]> probe(new char[bytes]);
        static_cast<volatile char*>(probe.get())[bytes - 1] = 0;
    }
    std::string tip;
    for (unsigned int k = 0; k < sliceCount; ++k) {
        Slice slice;
        slice.first = patternCount * k / sliceCount;
        const unsigned int sites = patternCount * (k + 1) / sliceCount - slice.first;
        slice.partition.reset(pll_partition_create(
            static_cast<unsigned int>(tips_), vectors - static_cast<unsigned int>(tips_), states, sites, 1,
            static_cast<unsigned int>(nodes_ + kScratchMatrices), static_cast<unsigned int>(model_.categories()),
            vectors, bestArchitecture() | PLL_ATTRIB_PATTERN_TIP));
        if (!slice.partition) throw std::runtime_error(std::string("the likelihood library failed: ") + pll_errmsg);
        pll_set_pattern_weights(slice.partition.get(), weights.data() + slice.first);
        tip.assign(sites, '-');
        for (int t = 0; t < tips_; ++t) {
            for (unsigned int s = 0; s < sites; ++s) tip[s] = columns[slice.first + s][static_cast<std::size_t>(t)];
            if (pll_set_tip_states(slice.partition.get(), static_cast<unsigned int>(t), map, tip.c_str()) !=
                PLL_SUCCESS)
                throw std::runtime_error("copy " + std::to_string(t) + ": " + pll_errmsg);
        }
        const pll_partition_t& p = *slice.partition;
        const std::size_t table = static_cast<std::size_t>(sites) * p.rate_cats * p.states_padded;
        slice.sumtable.reset(static_cast<double*>(pll_aligned_alloc(table * sizeof(double), p.alignment)));
        if (!slice.sumtable) throw std::bad_alloc();
        slices_.push_back(std::move(slice));
    }
    perSlice_.assign(slices_.size(), 0.0);
    perSliceSecond_.assign(slices_.size(), 0.0);
    team_ = std::make_unique<SliceTeam>(threads, static_cast<int>(slices_.size()));
    setModel(model_);
}

template <typename Part>
double SiteLikelihood::sumOfSlices(Part part) {
    team_->run([&](int k) {
        perSlice_[static_cast<std::size_t>(k)] = part(*slices_[static_cast<std::size_t>(k)].partition, k);
    });
    double sum = 0.0;
    for (const double value : perSlice_) sum += value;
    return sum;
}

void SiteLikelihood::setModel(const SubstitutionModel& model) {
    model_ = model;
    std::vector<double> rates(static_cast<std::size_t>(model_.categories()), 1.0);
    if (model_.gamma) pll_compute_gamma_cats(model_.alpha, 4, rates.data(), PLL_GAMMA_RATES_MEAN);
    const std::vector<double> weights(rates.size(), 1.0 / static_cast<double>(rates.size()));
    for (Slice& slice : slices_) {
        pll_partition_t* p = slice.partition.get();
        pll_set_subst_params(p, 0, model_.rates.data());
        pll_set_frequencies(p, 0, model_.frequencies.data());
        pll_set_category_rates(p, rates.data());
        pll_set_category_weights(p, weights.data());
    }
}

SiteLikelihood::Vector SiteLikelihood::down(int x) const {
    return {static_cast<unsigned int>(x), x < tips_ ? PLL_SCALE_BUFFER_NONE : x};
}

SiteLikelihood::Vector SiteLikelihood::up(int x, int parentOfX) const {
    if (parentOfX == 0) return {0, PLL_SCALE_BUFFER_NONE};
    return {static_cast<unsigned int>(nodes_ + x), nodes_ + x};
}

SiteLikelihood::Vector SiteLikelihood::scratch(int k) const {
    return {static_cast<unsigned int>(2 * nodes_ + k), 2 * nodes_ + k};
}

unsigned int SiteLikelihood::scratchMatrix(int k) const { return static_cast<unsigned int>(nodes_ + k); }

void SiteLikelihood::combine(Vector into, Vector a, unsigned int matrixA, Vector b, unsigned int matrixB) {
    const pll_operation_t operation = operationOf(into, a, matrixA, b, matrixB);
    team_->run(
        [&](int k) { pll_update_partials(slices_[static_cast<std::size_t>(k)].partition.get(), &operation, 1); });
}

void SiteLikelihood::setMatrix(unsigned int matrix, double length) {
    // Made once and copied to the other slices: every slice has the same
    // model.
    pll_partition_t* first = slices_[0].partition.get();
    pll_update_prob_matrices(first, kZeros, &matrix, &length, 1);
    const std::size_t size = static_cast<std::size_t>(first->rate_cats) * first->states * first->states_padded;
    for (std::size_t k = 1; k < slices_.size(); ++k)
        std::copy_n(first->pmatrix[matrix], size, slices_[k].partition->pmatrix[matrix]);
}

double SiteLikelihood::edgeLogLikelihood(Vector a, Vector b, unsigned int matrix) {
    return sumOfSlices([&](pll_partition_t& p, int) {
        return pll_compute_edge_loglikelihood(&p, a.clv, a.scaler, b.clv, b.scaler, matrix, kZeros, nullptr);
    });
}

double SiteLikelihood::optimiseEdge(Vector a, Vector b, unsigned int matrix, double length, double tolerance) {
    team_->run([&](int k) {
        Slice& slice = slices_[static_cast<std::size_t>(k)];
        pll_update_sumtable(slice.partition.get(), a.clv, b.clv, a.scaler, b.scaler, kZeros, slice.sumtable.get());
    });
    // The library gives the first and second derivatives of -log L; each
    // slice's, summed in their order.
    std::vector<double>& firsts = perSlice_;
    std::vector<double>& seconds = perSliceSecond_;
    double t = std::clamp(length, kShortest, kLongest);
    for (int step = 0; step < 40; ++step) {
        team_->run([&](int k) {
            const auto uk = static_cast<std::size_t>(k);
            pll_compute_likelihood_derivatives(slices_[uk].partition.get(), a.scaler, b.scaler, t, kZeros,
                                               slices_[uk].sumtable.get(), &firsts[uk], &seconds[uk]);
        });
        double first = 0.0, second = 0.0;
        for (std::size_t k = 0; k < slices_.size(); ++k) {
            first += firsts[k];
            second += seconds[k];
        }
        // Where -log L is not convex, step the way it falls.
        double next = second > 0.0 ? t - first / second : (first > 0.0 ? t / 4 : t * 4);
        next = std::clamp(next, std::max(kShortest, t / 16), std::min(kLongest, t * 16 + 1e-3));
        const bool settled = std::fabs(next - t) <= 1e-10 + tolerance * t;
        t = next;
        if (settled) break;
    }
    setMatrix(matrix, t);
    return t;
}

void SiteLikelihood::setMatricesOf(const refine::FirstCopyView& view, const std::vector<double>& above) {
    std::vector<unsigned int> matrices;
    std::vector<double> lengths;
    for (const int x : view.postOrder()) {
        matrices.push_back(edgeMatrix(x));
        lengths.push_back(above[static_cast<std::size_t>(x)]);
    }
    std::vector<unsigned int> params(matrices.size(), 0);
    team_->run([&](int k) {
        pll_update_prob_matrices(slices_[static_cast<std::size_t>(k)].partition.get(), params.data(), matrices.data(),
                                 lengths.data(), static_cast<unsigned int>(matrices.size()));
    });
}

void SiteLikelihood::makeDown(const refine::FirstCopyView& view) {
    std::vector<pll_operation_t> operations;
    for (const int x : view.postOrder()) {
        if (view.isLeaf(x)) continue;
        const auto& [l, r] = view.children(x);
        operations.push_back(operationOf(down(x), down(l), edgeMatrix(l), down(r), edgeMatrix(r)));
    }
    team_->run([&](int k) {
        pll_update_partials(slices_[static_cast<std::size_t>(k)].partition.get(), operations.data(),
                            static_cast<unsigned int>(operations.size()));
    });
}

double SiteLikelihood::evaluate(const refine::FirstCopyView& view, const std::vector<double>& above) {
    setMatricesOf(view, above);
    makeDown(view);
    const int r = view.preOrder()[1];
    return edgeLogLikelihood(up(r, 0), down(r), edgeMatrix(r));
}

void SiteLikelihood::makeUpOf(const refine::FirstCopyView& view, int y) {
    const int q = view.parent(y);
    if (q <= 0) return;
    const auto& pair = view.children(q);
    const int s = pair[0] == y ? pair[1] : pair[0];
    combine(up(y, q), up(q, view.parent(q)), edgeMatrix(q), down(s), edgeMatrix(s));
}

void SiteLikelihood::makeUp(const refine::FirstCopyView& view) {
    for (const int y : view.preOrder())
        if (y != 0) makeUpOf(view, y);
}

double SiteLikelihood::optimiseLengths(const refine::FirstCopyView& view, std::vector<double>& above, int passes) {
    for (int pass = 0; pass < passes; ++pass) {
        for (const int y : view.preOrder()) {
            if (y == 0) continue;
            makeUpOf(view, y);
            auto& length = above[static_cast<std::size_t>(y)];
            length = optimiseEdge(up(y, view.parent(y)), down(y), edgeMatrix(y), length);
        }
        makeDown(view);
    }
    const int r = view.preOrder()[1];
    return edgeLogLikelihood(up(r, 0), down(r), edgeMatrix(r));
}

std::vector<int> SiteLikelihood::likeliestStates(const refine::FirstCopyView& view, const std::vector<double>& above,
                                                 int x, double at) {
    const double length = above[static_cast<std::size_t>(x)];
    setMatrix(scratchMatrix(3), std::clamp(at, 0.0, length));
    setMatrix(scratchMatrix(4), length - std::clamp(at, 0.0, length));
    const Vector into = scratch(3);
    combine(into, down(x), scratchMatrix(3), up(x, view.parent(x)), scratchMatrix(4));
    std::vector<int> states(static_cast<std::size_t>(patternCount()), 0);
    team_->run([&](int k) {
        const Slice& slice = slices_[static_cast<std::size_t>(k)];
        const pll_partition_t& p = *slice.partition;
        const double* clv = p.clv[into.clv];
        for (unsigned int site = 0; site < p.sites; ++site) {
            double best = -1.0;
            for (unsigned int s = 0; s < p.states; ++s) {
                double sum = 0.0;
                for (unsigned int c = 0; c < p.rate_cats; ++c)
                    sum += p.rate_weights[c] * clv[(site * p.rate_cats + c) * p.states_padded + s];
                sum *= p.frequencies[0][s];
                if (sum > best) {
                    best = sum;
                    states[slice.first + site] = static_cast<int>(s);
                }
            }
        }
    });
    return states;
}

int SiteLikelihood::patternCount() const {
    const Slice& last = slices_.back();
    return static_cast<int>(last.first + last.partition->sites);
}

double SiteLikelihood::logLikelihood(const DuplicationTree& tree, const std::vector<double>& edgeAbove) {
    const int n = tips_;
    if (tree.leafCount != n || !tree.root) throw std::invalid_argument("the tree is not over the same copies");
    std::vector<pll_operation_t> operations;
    std::vector<unsigned int> matrices, params;
    std::vector<double> lengths;
    BinaryTree::walk(
        tree.root.get(), [](const TreeNode&) {}, [](const TreeNode&) {}, [](const TreeNode&) {},
        [&](const TreeNode& inner) {
            const int x = nodeNumber(inner.label, n);
            const int left = nodeNumber(inner.left->label, n), right = nodeNumber(inner.right->label, n);
            operations.push_back(operationOf(down(x), down(left), edgeMatrix(left), down(right), edgeMatrix(right)));
            for (const int child : {left, right}) {
                matrices.push_back(static_cast<unsigned int>(child));
                params.push_back(0);
                lengths.push_back(edgeAbove[static_cast<std::size_t>(child)]);
            }
        });
    const int root = nodeNumber(tree.root->label, n);
    return sumOfSlices([&](pll_partition_t& p, int) {
        pll_update_prob_matrices(&p, params.data(), matrices.data(), lengths.data(),
                                 static_cast<unsigned int>(matrices.size()));
        pll_update_partials(&p, operations.data(), static_cast<unsigned int>(operations.size()));
        return pll_compute_root_loglikelihood(&p, down(root).clv, down(root).scaler, kZeros, nullptr);
    });
}

#include "likelihood/SiteLikelihood.h"

#include <libpll/pll.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <stdexcept>

// Numbering in the partition, N = 2n - 1 node numbers: down(x) is vector x
// (the copies' own vectors are 0 .. n-1), up(x) vector N + x, four scratch
// vectors after them; every inner vector has the scale buffer of its own
// number. The matrix of the edge above x is matrix x, five scratch matrices
// follow.
namespace {

constexpr int kScratchVectors = 4;
constexpr int kScratchMatrices = 5;

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

}  // namespace

void SiteLikelihood::Release::operator()(pll_partition* partition) const { pll_partition_destroy(partition); }
void SiteLikelihood::ReleaseTable::operator()(double* table) const { pll_aligned_free(table); }

SiteLikelihood::SiteLikelihood(const std::vector<std::string>& sequences) {
    model_.rates.assign(6, 1.0);
    model_.frequencies.assign(4, 0.25);
    create(sequences);
}

SiteLikelihood::SiteLikelihood(const std::vector<std::string>& sequences, const SubstitutionModel& model)
    : model_(model) {
    create(sequences);
}

SiteLikelihood::~SiteLikelihood() = default;

void SiteLikelihood::create(const std::vector<std::string>& sequences) {
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
    const auto sites = static_cast<unsigned int>(columns.size());
    const auto vectors = static_cast<unsigned int>(2 * nodes_ + kScratchVectors);
    partition_.reset(pll_partition_create(
        static_cast<unsigned int>(tips_), vectors - static_cast<unsigned int>(tips_),
        static_cast<unsigned int>(model_.states()), sites, 1, static_cast<unsigned int>(nodes_ + kScratchMatrices),
        static_cast<unsigned int>(model_.categories()), vectors, bestArchitecture() | PLL_ATTRIB_PATTERN_TIP));
    if (!partition_) throw std::runtime_error(std::string("the likelihood library failed: ") + pll_errmsg);
    pll_set_pattern_weights(partition_.get(), weights.data());
    std::string tip(sites, '-');
    for (int t = 0; t < tips_; ++t) {
        for (unsigned int s = 0; s < sites; ++s) tip[s] = columns[s][static_cast<std::size_t>(t)];
        if (pll_set_tip_states(partition_.get(), static_cast<unsigned int>(t), map, tip.c_str()) != PLL_SUCCESS)
            throw std::runtime_error("copy " + std::to_string(t) + ": " + pll_errmsg);
    }
    const std::size_t table = static_cast<std::size_t>(sites) * partition_->rate_cats * partition_->states_padded;
    sumtable_.reset(static_cast<double*>(pll_aligned_alloc(table * sizeof(double), partition_->alignment)));
    if (!sumtable_) throw std::bad_alloc();
    setModel(model_);
}

void SiteLikelihood::setModel(const SubstitutionModel& model) {
    model_ = model;
    pll_set_subst_params(partition_.get(), 0, model_.rates.data());
    pll_set_frequencies(partition_.get(), 0, model_.frequencies.data());
    std::vector<double> rates(static_cast<std::size_t>(model_.categories()), 1.0);
    if (model_.gamma) pll_compute_gamma_cats(model_.alpha, 4, rates.data(), PLL_GAMMA_RATES_MEAN);
    pll_set_category_rates(partition_.get(), rates.data());
    const std::vector<double> weights(rates.size(), 1.0 / static_cast<double>(rates.size()));
    pll_set_category_weights(partition_.get(), weights.data());
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
    pll_operation_t operation{};
    operation.parent_clv_index = into.clv;
    operation.parent_scaler_index = into.scaler;
    operation.child1_clv_index = a.clv;
    operation.child1_scaler_index = a.scaler;
    operation.child1_matrix_index = matrixA;
    operation.child2_clv_index = b.clv;
    operation.child2_scaler_index = b.scaler;
    operation.child2_matrix_index = matrixB;
    pll_update_partials(partition_.get(), &operation, 1);
}

void SiteLikelihood::setMatrix(unsigned int matrix, double length) {
    pll_update_prob_matrices(partition_.get(), kZeros, &matrix, &length, 1);
}

double SiteLikelihood::edgeLogLikelihood(Vector a, Vector b, unsigned int matrix) {
    return pll_compute_edge_loglikelihood(partition_.get(), a.clv, a.scaler, b.clv, b.scaler, matrix, kZeros, nullptr);
}

double SiteLikelihood::optimiseEdge(Vector a, Vector b, unsigned int matrix, double length, double tolerance) {
    pll_update_sumtable(partition_.get(), a.clv, b.clv, a.scaler, b.scaler, kZeros, sumtable_.get());
    // The library gives the first and second derivatives of -log L.
    double t = std::clamp(length, kShortest, kLongest);
    for (int step = 0; step < 40; ++step) {
        double first = 0.0, second = 0.0;
        pll_compute_likelihood_derivatives(partition_.get(), a.scaler, b.scaler, t, kZeros, sumtable_.get(), &first,
                                           &second);
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
    pll_update_prob_matrices(partition_.get(), params.data(), matrices.data(), lengths.data(),
                             static_cast<unsigned int>(matrices.size()));
}

void SiteLikelihood::makeDown(const refine::FirstCopyView& view) {
    std::vector<pll_operation_t> operations;
    for (const int x : view.postOrder()) {
        if (view.isLeaf(x)) continue;
        const auto& [l, r] = view.children(x);
        pll_operation_t operation{};
        operation.parent_clv_index = down(x).clv;
        operation.parent_scaler_index = down(x).scaler;
        operation.child1_clv_index = down(l).clv;
        operation.child1_scaler_index = down(l).scaler;
        operation.child1_matrix_index = edgeMatrix(l);
        operation.child2_clv_index = down(r).clv;
        operation.child2_scaler_index = down(r).scaler;
        operation.child2_matrix_index = edgeMatrix(r);
        operations.push_back(operation);
    }
    pll_update_partials(partition_.get(), operations.data(), static_cast<unsigned int>(operations.size()));
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
    const pll_partition_t& p = *partition_;
    const double* clv = p.clv[into.clv];
    std::vector<int> states(p.sites, 0);
    for (unsigned int site = 0; site < p.sites; ++site) {
        double best = -1.0;
        for (unsigned int s = 0; s < p.states; ++s) {
            double sum = 0.0;
            for (unsigned int c = 0; c < p.rate_cats; ++c)
                sum += p.rate_weights[c] * clv[(site * p.rate_cats + c) * p.states_padded + s];
            sum *= p.frequencies[0][s];
            if (sum > best) {
                best = sum;
                states[site] = static_cast<int>(s);
            }
        }
    }
    return states;
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
            pll_operation_t operation{};
            operation.parent_clv_index = down(x).clv;
            operation.parent_scaler_index = down(x).scaler;
            operation.child1_clv_index = operation.child1_matrix_index = static_cast<unsigned int>(left);
            operation.child2_clv_index = operation.child2_matrix_index = static_cast<unsigned int>(right);
            operation.child1_scaler_index = down(left).scaler;
            operation.child2_scaler_index = down(right).scaler;
            operations.push_back(operation);
            for (const int child : {left, right}) {
                matrices.push_back(static_cast<unsigned int>(child));
                params.push_back(0);
                lengths.push_back(edgeAbove[static_cast<std::size_t>(child)]);
            }
        });
    pll_update_prob_matrices(partition_.get(), params.data(), matrices.data(), lengths.data(),
                             static_cast<unsigned int>(matrices.size()));
    pll_update_partials(partition_.get(), operations.data(), static_cast<unsigned int>(operations.size()));
    const int root = nodeNumber(tree.root->label, n);
    return pll_compute_root_loglikelihood(partition_.get(), down(root).clv, down(root).scaler, kZeros, nullptr);
}

#include "likelihood/SiteLikelihood.h"

#include <libpll/pll.h>

#include <stdexcept>

void SiteLikelihood::Release::operator()(pll_partition* partition) const { pll_partition_destroy(partition); }

SiteLikelihood::SiteLikelihood(const std::vector<std::string>& sequences) : tips_(static_cast<int>(sequences.size())) {
    if (tips_ < 2 || sequences[0].empty()) throw std::runtime_error("the likelihood needs two copies and one site");
    const auto tips = static_cast<unsigned int>(tips_);
    const auto sites = static_cast<unsigned int>(sequences[0].size());
    // One conditional likelihood vector per inner node, one matrix per edge
    // (above every node but the root), one scale buffer per inner node.
    partition_.reset(pll_partition_create(tips, tips - 1, 4, sites, 1, 2 * tips - 1, 1, tips - 1, PLL_ATTRIB_ARCH_CPU));
    if (!partition_) throw std::runtime_error(std::string("the likelihood library failed: ") + pll_errmsg);
    for (unsigned int t = 0; t < tips; ++t)
        if (pll_set_tip_states(partition_.get(), t, pll_map_nt, sequences[t].c_str()) != PLL_SUCCESS)
            throw std::runtime_error("copy " + std::to_string(t) + ": " + pll_errmsg);
    const double frequencies[4] = {0.25, 0.25, 0.25, 0.25};
    const double rates[6] = {1, 1, 1, 1, 1, 1};
    const double categoryRates[1] = {1.0};
    pll_set_frequencies(partition_.get(), 0, frequencies);
    pll_set_subst_params(partition_.get(), 0, rates);
    pll_set_category_rates(partition_.get(), categoryRates);
}

SiteLikelihood::~SiteLikelihood() = default;

double SiteLikelihood::logLikelihood(const DuplicationTree& tree, const std::vector<double>& edgeAbove) {
    const int n = tips_;
    if (tree.leafCount != n || !tree.root) throw std::invalid_argument("the tree is not over the same copies");
    // Inner node number x (n .. 2n-2) has its vector at x and its scaler at
    // x - n; every node's edge matrix at its own number.
    std::vector<pll_operation_t> operations;
    std::vector<unsigned int> matrices, params;
    std::vector<double> lengths;
    BinaryTree::walk(
        tree.root.get(), [](const TreeNode&) {}, [](const TreeNode&) {}, [](const TreeNode&) {},
        [&](const TreeNode& inner) {
            pll_operation_t operation{};
            operation.parent_clv_index = static_cast<unsigned int>(nodeNumber(inner.label, n));
            operation.parent_scaler_index = nodeNumber(inner.label, n) - n;
            const int left = nodeNumber(inner.left->label, n), right = nodeNumber(inner.right->label, n);
            operation.child1_clv_index = operation.child1_matrix_index = static_cast<unsigned int>(left);
            operation.child2_clv_index = operation.child2_matrix_index = static_cast<unsigned int>(right);
            operation.child1_scaler_index = left < n ? PLL_SCALE_BUFFER_NONE : left - n;
            operation.child2_scaler_index = right < n ? PLL_SCALE_BUFFER_NONE : right - n;
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
    const unsigned int frequencies[1] = {0};
    const int root = nodeNumber(tree.root->label, n);
    return pll_compute_root_loglikelihood(partition_.get(), static_cast<unsigned int>(root), root - n, frequencies,
                                          nullptr);
}

#pragma once

#include <memory>
#include <string>
#include <vector>

#include "history/DuplicationTree.h"

struct pll_partition;

// The likelihood of a rooted history on the sites of an alignment, through
// the phylogenetic likelihood library (libpll): the copies are the tips, the
// ancestral segments the inner nodes, each with the edge above it. A gap or
// an ambiguity code is missing data. DNA only for now, under Jukes-Cantor
// (equal frequencies and exchange rates), with one rate for every site.
//
// Built only where the library is (TANDEMTREE_HAVE_PLL).
class SiteLikelihood {
public:
    // Throws std::runtime_error, with the library's reason, for a character
    // the nucleotide map does not know.
    explicit SiteLikelihood(const std::vector<std::string>& sequences);
    ~SiteLikelihood();
    SiteLikelihood(const SiteLikelihood&) = delete;
    SiteLikelihood& operator=(const SiteLikelihood&) = delete;

    // The log-likelihood of `tree` (over the same copies) with the length of
    // the edge above every node given by node number (nodeNumber()); the
    // root's entry is not read.
    double logLikelihood(const DuplicationTree& tree, const std::vector<double>& edgeAbove);

private:
    struct Release {
        void operator()(pll_partition* partition) const;
    };
    std::unique_ptr<pll_partition, Release> partition_;
    int tips_;
};

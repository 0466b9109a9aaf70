// The likelihood on the sites from the library, against the sum over every
// assignment of states to the ancestral segments, worked out here.
#include <gtest/gtest.h>

#ifdef TANDEMTREE_HAVE_PLL

#include <cmath>

#include "TreeBuilding.h"
#include "likelihood/SiteLikelihood.h"

namespace {

// Jukes-Cantor: the chance that a state is `to` after time t from `from`;
// a gap at `to` is missing data, any state.
double jukesCantor(char from, char to, double t) {
    if (to == '-') return 1.0;
    const double e = std::exp(-4.0 * t / 3.0);
    return from == to ? 0.25 + 0.75 * e : 0.25 - 0.25 * e;
}

// The log-likelihood of v3(v1(0,1),v2(2,3)) summed over the states of v3, v1
// and v2 at every site; `above` by node number (4 v1, 5 v2).
double byHand(const std::vector<std::string>& copies, const std::vector<double>& above) {
    const char states[] = {'A', 'C', 'G', 'T'};
    double total = 0.0;
    for (std::size_t site = 0; site < copies[0].size(); ++site) {
        double sum = 0.0;
        for (const char root : states)
            for (const char v1 : states)
                for (const char v2 : states) {
                    double p = 0.25 * jukesCantor(root, v1, above[4]) * jukesCantor(root, v2, above[5]);
                    p *= jukesCantor(v1, copies[0][site], above[0]) * jukesCantor(v1, copies[1][site], above[1]);
                    p *= jukesCantor(v2, copies[2][site], above[2]) * jukesCantor(v2, copies[3][site], above[3]);
                    sum += p;
                }
        total += std::log(sum);
    }
    return total;
}

TEST(SiteLikelihood, FourCopiesUnderJukesCantorAsWorkedByHand) {
    DuplicationTree tree;
    tree.leafCount = 4;
    tree.root = join(-3, join(-1, leaf(0), leaf(1)), join(-2, leaf(2), leaf(3)));
    const std::vector<double> above = {0.05, 0.1, 0.15, 0.2, 0.07, 0.12, 0.0};
    // A gap is missing data.
    for (const std::vector<std::string>& copies : std::vector<std::vector<std::string>>{
             {"ACGTA", "ACGTT", "ACCTA", "TCGTA"}, {"AC-TA", "ACGTT", "-CCTA", "TCGT-"}}) {
        SiteLikelihood likelihood(copies);
        EXPECT_NEAR(likelihood.logLikelihood(tree, above), byHand(copies, above), 1e-10) << copies[0];
    }
}

}  // namespace

#else
TEST(SiteLikelihood, BuiltWithoutTheLibrary) { GTEST_SKIP() << "libpll is not installed"; }
#endif

// The rooted distance between a true history and a reconstruction, both as
// Newick lines whose leaves are named s0, s1, ... (simulate_history's PREFIX.nwk
// and tandemtree --newick): the rooted Robinson-Foulds distance and the share
// of the true clusters found, as the accuracy benchmark counts them.
//
//   tree_distance TRUE.nwk TREE.nwk
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "HistoryScore.h"

namespace {

bool firstLine(const char* path, std::string& line) {
    std::ifstream in(path);
    return static_cast<bool>(std::getline(in, line)) && !line.empty();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: tree_distance TRUE.nwk TREE.nwk\n";
        return 2;
    }
    std::string truth, tree;
    if (!firstLine(argv[1], truth) || !firstLine(argv[2], tree)) {
        std::cerr << "tree_distance: cannot read a Newick line from both files\n";
        return 1;
    }
    const std::set<Cluster> a = clustersOfNewick(truth), b = clustersOfNewick(tree);
    std::size_t shared = 0;
    for (const Cluster& c : a) shared += b.count(c);
    std::ostringstream out;
    out.precision(3);
    out << std::fixed << "rooted RF " << normalisedDistance(a, b) << ", true clusters found "
        << (a.empty() ? 1.0 : static_cast<double>(shared) / static_cast<double>(a.size())) << "\n";
    std::cout << out.str() << std::flush;
    return 0;
}

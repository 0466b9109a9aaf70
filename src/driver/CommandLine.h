#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/DefaultSeed.h"
#include "sequences/DistanceOptions.h"

// The words of the command line, options taken out. Options may stand
// anywhere; "--" ends them, so that a file whose name starts with '-' stays
// reachable. A word is an option when it starts with '-' followed by a
// character other than a digit or a blank: "-" alone is the file name of
// standard input, and "-1" stays a (refused) criterion. An option that takes
// a value has it in the next word or after '=' (--bootstrap=100).
struct CommandLine {
    std::vector<std::string> positional;  // file name, molecule kind, criterion
    bool help = false;
    bool version = false;
    bool newick = false;
    bool svg = false;
    // --bootstrap N, --seed S, --threads T (0: one per core), --support-labels.
    int bootstrap = 0;
    std::uint64_t seed = kDefaultBootstrapSeed;
    int threads = 0;
    bool supportLabels = false;
    bool refine = false;
    int kicks = 0;     // --kicks K (which also sets refine)
    int rebuilds = 0;  // --rebuilds R (which also sets refine)
    int ratchet = 0;   // --ratchet R (which also sets refine)
    // --matrix: FILE is a PHYLIP distance matrix; --write-matrix FILE;
    // --model M (jc, k2p, p, kimura) and --gaps pairwise, unchecked against
    // the molecule kind.
    bool matrix = false;
    std::string writeMatrix;
    DistanceOptions distance;
    std::string unknownOption;  // the first word that is no known option
    std::string badValue;       // why the first option with a wrong value is wrong
};

CommandLine parseCommandLine(const std::vector<std::string>& args);

// Threads when --threads is not given: one per core.
int defaultThreads();

// Usage, as `--help` prints it.
std::string helpText();

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/DefaultSeed.h"
#include "likelihood/ModelChoice.h"
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
    // --ml M (which also sets refine), --ancestors F, --shortlist K,
    // --perturb N.
    bool ml = false;
    ModelChoice mlModel;
    std::string ancestors;
    int shortlist = 0;
    int perturb = 0;
    // --matrix: FILE is a PHYLIP distance matrix; --write-matrix FILE;
    // --model M (jc, k2p, p, kimura) and --gaps pairwise, unchecked against
    // the molecule kind.
    bool matrix = false;
    std::string writeMatrix;
    // --write-newick, --write-svg, --write-blocks: files that take the Newick
    // lines, the picture and the table of blocks of the same run.
    std::string writeNewick, writeSvg, writeBlocks;
    bool ignoreCase = false;
    bool quiet = false;    // --quiet: no progress line
    bool verbose = false;  // --verbose: the settings and the time of each stage on standard error  // --ignore-case:
                           // letters of either case compare as equal
    DistanceOptions distance;
    std::string unknownOption;  // the first word that is no known option
    std::string badValue;       // why the first option with a wrong value is wrong
};

// One option: the one table that the parser, the checks of its value and
// the help read. An option is a flag, a whole number in a range, or a word.
struct OptionSpec {
    const char* name = nullptr;   // "--kicks"
    const char* alias = nullptr;  // "-h"
    const char* value = nullptr;  // the value's name in the help; none for a flag
    // A number: its range and what it counts ("a number of kicks"), for the
    // message when it is out of range; set() takes it.
    std::uint64_t lowest = 0, highest = 0;
    const char* counts = nullptr;
    void (*setNumber)(CommandLine&, std::uint64_t) = nullptr;
    // A word: setWord() takes it and says what is wrong with it, or nothing.
    std::string (*setWord)(CommandLine&, const std::string&) = nullptr;
    void (*setFlag)(CommandLine&) = nullptr;
    std::string help;  // its lines in the help, wrapped, without indent
};
const std::vector<OptionSpec>& commandLineOptions();

CommandLine parseCommandLine(const std::vector<std::string>& args);

// Why the options cannot run as given (a value or a combination), as the one
// line to write before ending with exit code 1; empty when they can.
std::string checkCommandLine(const CommandLine& line);

// Threads when --threads is not given: one per core.
int defaultThreads();

// Usage, as `--help` prints it.
std::string helpText();
